#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

// A private certificate authority for HTTPS on 127.0.0.1, made with openssl in `folder`:
//   ca.pem     the authority a client is told to trust (SSL_CERT_FILE, a CA file option);
//   chain.pem  the server's certificate for IP address 127.0.0.1, then the intermediate
//              authority that signed it, as a server hands them out;
//   server-key.pem  the server certificate's private key.
// The intermediate makes a server that sends only its own certificate fail the check. True
// when every file was made.
inline bool writeTestCertificateAuthority(const QString& folder) {
    const QDir dir(folder);
    const auto path = [&dir](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    const auto openssl = [](const QStringList& arguments) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral("openssl"), arguments);
        const bool made = process.waitForFinished(30000) &&
                          process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
        if (!made)
            qWarning("openssl %s failed: %s", qPrintable(arguments.join(QLatin1Char(' '))),
                     process.readAll().constData());
        return made;
    };
    const auto writeText = [](const QString& file, const QByteArray& text) {
        QFile out(file);
        return out.open(QIODevice::WriteOnly) && out.write(text) == text.size();
    };
    const QStringList newKey{
        QStringLiteral("-newkey"), QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
        QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes")};
    // `name`.pem and its key `name`-key.pem, signed by `issuer` with `extensions`.
    const auto issue = [&](const char* name, const QString& subject, const char* issuer, int serial,
                           const QByteArray& extensions) {
        const QString base = path(name);
        return writeText(base + QStringLiteral(".ext"), extensions) &&
               openssl(QStringList{QStringLiteral("req"), QStringLiteral("-new")} + newKey +
                       QStringList{QStringLiteral("-subj"), subject, QStringLiteral("-keyout"),
                                   base + QStringLiteral("-key.pem"), QStringLiteral("-out"),
                                   base + QStringLiteral(".csr")}) &&
               openssl({QStringLiteral("x509"), QStringLiteral("-req"), QStringLiteral("-in"),
                        base + QStringLiteral(".csr"), QStringLiteral("-CA"),
                        path(issuer) + QStringLiteral(".pem"), QStringLiteral("-CAkey"),
                        path(issuer) + QStringLiteral("-key.pem"), QStringLiteral("-set_serial"),
                        QString::number(serial), QStringLiteral("-days"), QStringLiteral("2"),
                        QStringLiteral("-extfile"), base + QStringLiteral(".ext"),
                        QStringLiteral("-out"), base + QStringLiteral(".pem")});
    };
    const bool made =
        openssl(QStringList{QStringLiteral("req"), QStringLiteral("-x509")} + newKey +
                QStringList{QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                            QStringLiteral("/CN=Torvane test CA"), QStringLiteral("-keyout"),
                            path("ca-key.pem"), QStringLiteral("-out"), path("ca.pem")}) &&
        issue("intermediate", QStringLiteral("/CN=Torvane test intermediate"), "ca", 2,
              "basicConstraints=critical,CA:TRUE\nkeyUsage=critical,keyCertSign,cRLSign\n") &&
        issue("server", QStringLiteral("/CN=127.0.0.1"), "intermediate", 3,
              "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\n"
              "extendedKeyUsage=serverAuth\nsubjectAltName=IP:127.0.0.1\n");
    if (!made)
        return false;
    QFile server(path("server.pem"));
    QFile intermediate(path("intermediate.pem"));
    if (!server.open(QIODevice::ReadOnly) || !intermediate.open(QIODevice::ReadOnly))
        return false;
    return writeText(path("chain.pem"), server.readAll() + intermediate.readAll());
}
