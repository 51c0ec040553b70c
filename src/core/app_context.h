#pragma once

#include <QMutex>
#include <QString>

#include <memory>

class LogSink;
class StoreChanges;

// What the parts of one running Torvane share: the data folder that holds myserver.db, the
// cloud service's address, where log lines go, the public address the panel's API whitelist
// needs, and the notice that stored servers or groups changed. main() makes one from the
// environment at start-up; a test makes its own, so two tests never share a folder, a service
// or a log.
//
// Made on the UI thread. The log is shared with the work that runs elsewhere (store
// operations), which keeps its own reference to it: such work may end after the window that
// started it. The cloud address may be read from any thread.
class AppContext {
public:
    struct Settings {
        // Empty: the program's folder when it is a portable folder, else the per-user one.
        QString dataFolder;
        QString cloudAddress;
    };

    // The service Torvane ships with.
    static inline const QString kCloudAddress = QStringLiteral("https://cloud.torvane.net");

    // TORVANE_HOME and TORVANE_CLOUD_URL (self-hosting, tests), read once at start-up.
    static Settings settingsFromEnvironment();

    explicit AppContext(const Settings& settings);
    ~AppContext();
    AppContext(const AppContext&) = delete;
    AppContext& operator=(const AppContext&) = delete;

    // The data folder, created when missing.
    QString dataFolder() const;
    // dataFolder() + "/" + name.
    QString dataFile(const QString& name) const;
    // The data folder's myserver.db.
    QString databasePath() const;

    // The scheme and host of the cloud service, without a trailing slash. A request takes the
    // address once, when it starts.
    QString cloudAddress() const;
    void setCloudAddress(const QString& address);

    const std::shared_ptr<LogSink>& log() const { return log_; }
    // Reported from any thread; delivered on the UI thread.
    StoreChanges& storeChanges() const { return *storeChanges_; }

    // The caller's public address as the cloud service last saw it; empty until a fetch
    // answered.
    const QString& whitelistAddress() const { return whitelistAddress_; }
    void setWhitelistAddress(const QString& address) { whitelistAddress_ = address; }

private:
    QString dataFolder_;
    mutable QMutex cloudAddressLock_;
    QString cloudAddress_;
    std::shared_ptr<LogSink> log_;
    std::unique_ptr<StoreChanges> storeChanges_;
    QString whitelistAddress_;
};
