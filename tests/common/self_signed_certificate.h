#pragma once

#include <QProcess>
#include <QString>

// Writes a self-signed certificate for 127.0.0.1 and its key into `folder` as cert.pem and
// key.pem; true when openssl made both.
inline bool writeSelfSignedCertificate(const QString& folder) {
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-keyout"),
                   folder + QStringLiteral("/key.pem"), QStringLiteral("-out"),
                   folder + QStringLiteral("/cert.pem")});
    return openssl.waitForFinished(30000) && openssl.exitStatus() == QProcess::NormalExit &&
           openssl.exitCode() == 0;
}
