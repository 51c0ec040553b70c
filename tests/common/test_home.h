#pragma once

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

// A throw-away home for one test program: the data folder (TORVANE_HOME), the tool folder's
// base (XDG_RUNTIME_DIR) and HOME all point into one temporary folder, so a test never reads
// or writes the user's own files, and the cloud service is a loopback address.
class TestHome {
public:
    TestHome() {
        const QDir root(dir_.path());
        for (const char* sub : {"data", "run", "home"})
            root.mkpath(QString::fromLatin1(sub));
        QFile::setPermissions(root.filePath(QStringLiteral("run")), QFileDevice::ReadOwner |
                                                                        QFileDevice::WriteOwner |
                                                                        QFileDevice::ExeOwner);
        qputenv("TORVANE_HOME", QFile::encodeName(root.filePath(QStringLiteral("data"))));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root.filePath(QStringLiteral("run"))));
        qputenv("HOME", QFile::encodeName(root.filePath(QStringLiteral("home"))));
        // The start-up cloud check must never leave the machine: by default it meets a
        // loopback port where nothing listens. Tests of the cloud point this at their service.
        qputenv("TORVANE_CLOUD_URL", "http://127.0.0.1:9");
    }

    bool isValid() const { return dir_.isValid(); }
    QString dataFolder() const { return QDir(dir_.path()).filePath(QStringLiteral("data")); }

private:
    QTemporaryDir dir_;
};
