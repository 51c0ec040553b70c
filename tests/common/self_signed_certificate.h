#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QStringList>

// Certificates for loopback TLS servers, made with the openssl program: a self-signed one, or a
// test authority and certificates it signed. Each writes key and certificate as PEM files.

namespace TestCertificates {

// openssl's output is shown only when it fails.
inline bool runOpenssl(const QStringList& arguments) {
    QProcess openssl;
    openssl.setProcessChannelMode(QProcess::MergedChannels);
    openssl.start(QStringLiteral("openssl"), arguments);
    const bool made = openssl.waitForFinished(30000) &&
                      openssl.exitStatus() == QProcess::NormalExit && openssl.exitCode() == 0;
    if (!made)
        qWarning("openssl %s failed: %s", qPrintable(arguments.join(QLatin1Char(' '))),
                 openssl.readAll().constData());
    return made;
}

inline QStringList newKeyArguments() {
    return {QStringLiteral("req"),      QStringLiteral("-x509"),
            QStringLiteral("-newkey"),  QStringLiteral("ec"),
            QStringLiteral("-pkeyopt"), QStringLiteral("ec_paramgen_curve:prime256v1"),
            QStringLiteral("-nodes"),   QStringLiteral("-days"),
            QStringLiteral("2")};
}

} // namespace TestCertificates

// A self-signed certificate for 127.0.0.1 and its key in `folder`, as cert.pem and key.pem;
// true when openssl made both.
inline bool writeSelfSignedCertificate(const QString& folder) {
    return TestCertificates::runOpenssl(
        TestCertificates::newKeyArguments() +
        QStringList{QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                    QStringLiteral("-keyout"), folder + QStringLiteral("/key.pem"),
                    QStringLiteral("-out"), folder + QStringLiteral("/cert.pem")});
}

// A test certificate authority in `folder`: ca.pem (what a client is told to trust, e.g. by
// SSL_CERT_FILE) and ca-key.pem.
inline bool writeCertificateAuthority(const QString& folder) {
    return TestCertificates::runOpenssl(
        TestCertificates::newKeyArguments() +
        QStringList{QStringLiteral("-subj"), QStringLiteral("/CN=Torvane test authority"),
                    QStringLiteral("-keyout"), folder + QStringLiteral("/ca-key.pem"),
                    QStringLiteral("-out"), folder + QStringLiteral("/ca.pem")});
}

// A certificate for `subjectAltName` (such as "IP:127.0.0.1" or "DNS:localhost") signed by the
// authority in `authorityFolder`, written with its key to `folder` as cert.pem and key.pem.
inline bool writeCertificateSignedBy(const QString& authorityFolder, const QString& folder,
                                     const QString& subjectAltName) {
    return TestCertificates::runOpenssl(
        TestCertificates::newKeyArguments() +
        QStringList{QStringLiteral("-CA"), authorityFolder + QStringLiteral("/ca.pem"),
                    QStringLiteral("-CAkey"), authorityFolder + QStringLiteral("/ca-key.pem"),
                    QStringLiteral("-subj"), QStringLiteral("/CN=Torvane test server"),
                    QStringLiteral("-addext"), QStringLiteral("subjectAltName=") + subjectAltName,
                    QStringLiteral("-addext"), QStringLiteral("basicConstraints=critical,CA:FALSE"),
                    QStringLiteral("-keyout"), folder + QStringLiteral("/key.pem"),
                    QStringLiteral("-out"), folder + QStringLiteral("/cert.pem")});
}

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
    const auto openssl = TestCertificates::runOpenssl;
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
