#include "core/cloud/cloud_upload.h"

#include "core/app_context.h"
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
// item's name, then `afterEach` with the number sent so far, then the pacing pause. A raised
// stop ends the request under way and the loop; that request is neither logged nor counted.
template <typename Item, typename Send, typename AfterEach>
Tally sendEach(const QList<Item>& items, JobStop& stop, const LogSink& log, const LogTexts& texts,
               Send send, AfterEach afterEach) {
    Tally tally;
    for (const Item& item : items) {
        if (stop.isRaised())
            break;
        const Sent sent = send(item);
        if (stop.isRaised() && !sent.reply.answered())
            break;
        if (CloudApi::succeeded(sent.reply)) {
            ++tally.stored;
            log.logLine(texts.succeeded + sent.name);
        } else {
            ++tally.failed;
            log.logLine(texts.failed + sent.name + u" 云端返回："_s +
                        CloudAccount::replyForLog(sent.reply));
        }
        afterEach(tally.stored + tally.failed);
        if (!stop.pause(pacing()))
            break;
    }
    return tally;
}

} // namespace

QString confirmText(bool listFiltered, qsizetype shownRows) {
    if (!listFiltered)
        return kConfirmText;
    QString text = kConfirmText;
    return text.replace(u"把本地数据全部上传到云端"_s,
                        u"把列表中显示的 %1 台服务器（列表已筛选，未显示的服务器不上传）和全部分组"
                        u"上传到云端"_s.arg(shownRows));
}

QString finishedLine(const Tally& servers, const Tally& groups) {
    QString line = u"-上传完成：服务器 %1 个，分组 %2 个"_s.arg(servers.stored).arg(groups.stored);
    if (const int failed = servers.failed + groups.failed; failed > 0)
        line += u"，失败 %1 个"_s.arg(failed);
    return line;
}

std::chrono::milliseconds pacing() {
    return std::chrono::milliseconds(pacingMs.load());
}

void setPacing(std::chrono::milliseconds pause) {
    pacingMs.store(pause.count());
}

ServerRecord serverForUpload(const ServerRecord& server) {
    ServerRecord s = server;
    s.password = sealed(server.password);
    s.panelPassword = sealed(server.panelPassword);
    s.panelKey = sealed(server.panelKey);
    return s;
}

Tally uploadGroups(const AppContext& context, const CloudAccount& account, JobStop& stop) {
    QList<GroupRecord> groups;
    {
        LocalStore store;
        if (store.open(context.databasePath()))
            groups = store.groups().value_or(QList<GroupRecord>());
    }
    const CloudApi::Service service{context.cloudAddress()};
    return sendEach(
        groups, stop, *context.log(), {u"-上传分组成功："_s, u"-上传分组失败："_s},
        [&](const GroupRecord& group) {
            return Sent{group.name,
                        CloudApi::uploadGroup(service, account.account(), group, &stop)};
        },
        [](int) {});
}

Tally uploadServers(const AppContext& context, const CloudAccount& account,
                    const QList<ServerRecord>& servers, JobStop& stop) {
    const auto total = servers.size();
    const CloudApi::Service service{context.cloudAddress()};
    const LogSink& log = *context.log();
    return sendEach(
        servers, stop, log, {u"-上传成功："_s, u"-上传失败："_s},
        [&](const ServerRecord& listed) {
            const ServerRecord server = serverForUpload(listed);
            return Sent{server.name,
                        CloudApi::uploadServer(service, account.account(), server, &stop)};
        },
        [total, &log](int sent) {
            if (sent % kProgressEvery == 0 && sent < total)
                log.logLine(u"-正在上传 %1/%2"_s.arg(sent).arg(total));
        });
}

} // namespace CloudUpload
