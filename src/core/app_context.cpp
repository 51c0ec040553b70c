#include "core/app_context.h"

#include "core/store/data_folder.h"
#include "core/store/store_changes.h"
#include "core/support/log_sink.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace {

QString withoutTrailingSlash(QString address) {
    while (address.endsWith(u'/'))
        address.chop(1);
    return address;
}

} // namespace

AppContext::Settings AppContext::settingsFromEnvironment() {
    Settings settings;
    settings.dataFolder = qEnvironmentVariable("TORVANE_HOME");
    settings.cloudAddress = qEnvironmentVariable("TORVANE_CLOUD_URL");
    if (settings.cloudAddress.isEmpty())
        settings.cloudAddress = kCloudAddress;
    return settings;
}

AppContext::AppContext(const Settings& settings)
    : dataFolder_(DataFolder::choose(settings.dataFolder)),
      cloudAddress_(withoutTrailingSlash(settings.cloudAddress)), log_(std::make_shared<LogSink>()),
      storeChanges_(std::make_unique<StoreChanges>()) {}

AppContext::~AppContext() = default;

QString AppContext::cloudAddress() const {
    QMutexLocker lock(&cloudAddressLock_);
    return cloudAddress_;
}

void AppContext::setCloudAddress(const QString& address) {
    const QString trimmed = withoutTrailingSlash(address);
    QMutexLocker lock(&cloudAddressLock_);
    cloudAddress_ = trimmed;
}

QString AppContext::dataFolder() const {
    DataFolder::make(dataFolder_);
    return dataFolder_;
}

QString AppContext::dataFile(const QString& name) const {
    return QDir(dataFolder()).filePath(name);
}

QString AppContext::databasePath() const {
    return dataFile(u"myserver.db"_s);
}
