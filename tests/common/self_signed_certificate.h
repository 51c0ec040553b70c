#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// Certificates for loopback TLS servers, made with the openssl program: a self-signed one, or a
// test authority and certificates it signed. Each writes key and certificate as PEM files.

namespace TestCertificates {

inline bool runOpenssl(const QStringList& arguments) {
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), arguments);
    return openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit &&
           openssl.exitCode() == 0;
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
