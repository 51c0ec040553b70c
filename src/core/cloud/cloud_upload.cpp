#include "core/cloud/cloud_upload.h"

#include "core/cloud/password_sealer.h"
#include "core/store/local_store.h"
#include "core/support/log_sink.h"

#include <atomic>

using namespace Qt::StringLiterals;

namespace CloudUpload {

namespace {

std::atomic<std::chrono::milliseconds::rep> pacingMs{kPacing.count()};

QString sealed(const QString& plain) {
    return PasswordSealer::seal(plain, PasswordSealer::kSealingKey);
}

} // namespace

std::chrono::milliseconds pacing() {
    return std::chrono::milliseconds(pacingMs.load());
}

void setPacing(std::chrono::milliseconds pause) {
    pacingMs.store(pause.count());
}

ServerRecord serverForUpload(const ListCells& row) {
    ServerRecord s;
    s.group = row[ListColumn::Group];
    s.name = row[ListColumn::Name];
    s.ip = row[ListColumn::Address];
    s.startTime = row[ListColumn::StartTime];
    s.endTime = row[ListColumn::EndTime];
    s.remark = row[ListColumn::Remark];
    s.system = row[ListColumn::System];
    s.sort = row[ListColumn::Sort];
    s.port = row[ListColumn::Port];
    s.user = row[ListColumn::User];
    s.password = sealed(row[ListColumn::Password]);
    s.panelUrl = row[ListColumn::PanelUrl];
    s.panelUser = row[ListColumn::PanelUser];
    s.panelPassword = sealed(row[ListColumn::PanelPassword]);
    s.panelKey = sealed(row[ListColumn::PanelKey]);
    return s;
}

void uploadGroups(const CloudAccount& account, const QString& databasePath, SyncStop& stop) {
    QList<GroupRecord> groups;
    {
        LocalStore store;
        if (store.open(databasePath))
            groups = store.groups().value_or(QList<GroupRecord>());
    }
    for (const GroupRecord& group : std::as_const(groups)) {
        if (stop.isRaised())
            return;
        const CloudApi::Reply reply = CloudApi::uploadGroup(account.account(), group);
        if (CloudApi::succeeded(reply))
            LogSink::logLine(u"-上传分组成功："_s + group.name);
        else
            LogSink::logLine(u"-上传分组失败："_s + group.name + u" 云端返回："_s +
                             CloudAccount::replyForLog(reply));
        if (!stop.pause(pacing()))
            return;
    }
}

void uploadServers(const CloudAccount& account, const QList<ListCells>& rows, SyncStop& stop) {
    for (const ListCells& row : rows) {
        if (stop.isRaised())
            return;
        const ServerRecord server = serverForUpload(row);
        const CloudApi::Reply reply = CloudApi::uploadServer(account.account(), server);
        if (CloudApi::succeeded(reply))
            LogSink::logLine(u"-上传成功："_s + server.name);
        else
            LogSink::logLine(u"-上传失败："_s + server.name + u" 云端返回："_s +
                             CloudAccount::replyForLog(reply));
        if (!stop.pause(pacing()))
            return;
    }
}

} // namespace CloudUpload
