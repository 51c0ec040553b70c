#pragma once

#include "core/app_context.h"
#include "core/cloud/cloud_api.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <memory>

// A throw-away home for one test program: the data folder, the tool folder's base
// (XDG_RUNTIME_DIR) and HOME all point into one temporary folder, so a test never reads or
// writes the user's own files. The home's context keeps its data in that folder and talks to
// a closed loopback port until a test names its own service, so no window ever reaches the
// real service.
class TestHome {
public:
    static inline const QString kNoService = QStringLiteral("http://127.0.0.1:1");

    TestHome() {
        const QDir root(dir_.path());
        for (const char* sub : {"data", "run", "home"})
            root.mkpath(QString::fromLatin1(sub));
        QFile::setPermissions(root.filePath(QStringLiteral("run")), QFileDevice::ReadOwner |
                                                                        QFileDevice::WriteOwner |
                                                                        QFileDevice::ExeOwner);
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root.filePath(QStringLiteral("run"))));
        qputenv("HOME", QFile::encodeName(root.filePath(QStringLiteral("home"))));
    }

    bool isValid() const { return dir_.isValid(); }
    QString dataFolder() const { return QDir(dir_.path()).filePath(QStringLiteral("data")); }
    QString databasePath() const {
        return QDir(dataFolder()).filePath(QStringLiteral("myserver.db"));
    }

    // The context windows and operations of the test run on; made on first use, on the UI
    // thread.
    AppContext& context() {
        if (!context_)
            context_ = std::make_unique<AppContext>(AppContext::Settings{dataFolder(), kNoService});
        return *context_;
    }

    // Where the test's own requests go: the context's service.
    CloudApi::Service cloud() { return {context().cloudAddress()}; }

    // The service the context's windows and the test's own requests talk to from now on.
    void setCloudAddress(const QString& address) { context().setCloudAddress(address); }

private:
    QTemporaryDir dir_;
    std::unique_ptr<AppContext> context_;
};
