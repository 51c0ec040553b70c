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

// What one upload request sent, for its log line.
struct Sent {
    QString name;
    CloudApi::Reply reply;
};

struct LogTexts {
    QString succeeded;
    QString failed;
};

// Groups and servers go up the same way: one request per item, its outcome logged with the
// item's name, then the pacing pause. A raised stop ends the loop before the next request.
template <typename Item, typename Send>
void sendEach(const QList<Item>& items, JobStop& stop, const LogTexts& texts, Send send) {
    for (const Item& item : items) {
        if (stop.isRaised())
            return;
        const Sent sent = send(item);
        if (CloudApi::succeeded(sent.reply))
            LogSink::logLine(texts.succeeded + sent.name);
        else
            LogSink::logLine(texts.failed + sent.name + u" 云端返回："_s +
                             CloudAccount::replyForLog(sent.reply));
        if (!stop.pause(pacing()))
            return;
    }
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

void uploadGroups(const CloudAccount& account, const QString& databasePath, JobStop& stop) {
    QList<GroupRecord> groups;
    {
        LocalStore store;
        if (store.open(databasePath))
            groups = store.groups().value_or(QList<GroupRecord>());
    }
    sendEach(groups, stop, {u"-上传分组成功："_s, u"-上传分组失败："_s},
             [&account](const GroupRecord& group) {
                 return Sent{group.name, CloudApi::uploadGroup(account.account(), group)};
             });
}

void uploadServers(const CloudAccount& account, const QList<ListCells>& rows, JobStop& stop) {
    sendEach(rows, stop, {u"-上传成功："_s, u"-上传失败："_s}, [&account](const ListCells& row) {
        const ServerRecord server = serverForUpload(row);
        return Sent{server.name, CloudApi::uploadServer(account.account(), server)};
    });
}

} // namespace CloudUpload
