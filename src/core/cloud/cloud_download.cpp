#include "core/cloud/cloud_download.h"

#include "core/app_context.h"
#include "core/cloud/password_sealer.h"
#include "core/store/line_formats.h"
#include "core/store/storable_text.h"
#include "core/store/store_changes.h"
#include "core/support/log_sink.h"

#include <QThread>

using namespace Qt::StringLiterals;

namespace CloudDownload {

namespace {

QString unsealed(const QString& sealed) {
    return PasswordSealer::unseal(sealed, PasswordSealer::kSealingKey);
}

constexpr qsizetype kMinServerFields = ServerLine::Sort; // ten: everything up to the end time

// The reply of a download request as its block of lines; nothing when the service did not
// answer or refused, which is logged unless the request was stopped on purpose.
std::optional<QString> acceptedBlock(const CloudApi::Reply& reply, const JobStop& stop,
                                     const LogSink& log) {
    if (CloudApi::blockAccepted(reply))
        return reply.text;
    if (!stop.isRaised())
        log.logLine(u"-下载失败,云端返回："_s + CloudAccount::replyForLog(reply));
    return std::nullopt;
}

} // namespace

std::optional<DownloadedServer> parseServerLine(const QString& line) {
    const QStringList f = ServerLine::fields(line);
    if (f.size() < kMinServerFields)
        return std::nullopt;
    DownloadedServer d{ServerLine::record(f), f.size() > ServerLine::PanelUrl};
    ServerRecord& s = d.server;
    s.password = unsealed(s.password);
    if (f.size() <= ServerLine::Sort)
        s.sort = u"50"_s;
    // A field the line does not carry stays empty rather than unsealing nothing.
    if (f.size() > ServerLine::PanelPassword)
        s.panelPassword = unsealed(s.panelPassword);
    if (f.size() > ServerLine::PanelKey)
        s.panelKey = unsealed(s.panelKey);
    return d;
}

LineWrite mergeGroupLine(LocalStore& store, const QString& line) {
    const QStringList f = GroupLine::fields(line);
    if (f.size() < 2)
        return {};
    const QString& name = f[0];
    LineWrite merge;
    if (const auto unstorable = StorableText::inGroup(name, f[1])) {
        merge.log << u"-%1 下载分组失败 %2"_s.arg(name, unstorable->describeForLog());
        return merge;
    }
    const QString existing = store.groupIdByName(name);
    merge.log << u"-S_ID "_s + existing;
    if (!existing.isEmpty()) {
        merge.log << u"-%1 下载分组失败 指定分组已经存在"_s.arg(name);
        return merge;
    }
    merge.wrote = store.insertGroup(name, f[1]);
    merge.log << (merge.wrote ? u"-%1 下载分组成功"_s : u"-%1 下载分组失败"_s).arg(name);
    merge.uncommittedForm = u"-%1 下载分组失败";
    merge.subject = name;
    return merge;
}

LineWrite mergeServerLine(LocalStore& store, const QString& line) {
    const auto parsed = parseServerLine(line);
    if (!parsed)
        return {};
    const ServerRecord& s = parsed->server;
    LineWrite merge;
    if (const auto unstorable = StorableText::inServer(s)) {
        merge.log << u"-%1 下载失败 %2"_s.arg(s.ip, unstorable->describeForLog());
        return merge;
    }
    const QString existing = store.serverIdByAddress(s.ip, s.port);
    merge.log << u"-S_ID "_s + existing;
    if (existing.isEmpty()) {
        merge.wrote = store.insertDownloadedServer(s, parsed->withPanelFields);
        merge.log << (merge.wrote ? u"-%1 下载成功"_s : u"-%1 下载失败"_s).arg(s.ip);
        merge.uncommittedForm = u"-%1 下载失败";
        merge.subject = s.ip;
        if (merge.wrote)
            merge.added = s;
        return merge;
    }
    merge.wrote = store.overwriteDownloadedServer(existing, s, parsed->withPanelFields);
    merge.uncommittedForm = u"-%1 下载失败 指定服务器IP已经存在";
    merge.subject = s.ip;
    merge.log << (merge.wrote ? u"-%1 本地已存在该IP，本次执行覆盖操作"_s.arg(s.ip)
                              : merge.uncommittedMessage());
    return merge;
}

SlicedMerge::SlicedMerge(const QString& block, WriteLine merge)
    : SlicedLines(splitFields(trimLineBreaks(block), u"\r\n"_s), merge) {}

bool mergeBlock(const QString& databasePath, const LogSink& log, const QString& block,
                SlicedLines::WriteLine merge, JobStop& stop, const ServersAdded& serversAdded) {
    LocalStore store;
    if (!store.open(databasePath)) {
        log.logLine(u"-连接数据库失败：%1"_s.arg(databasePath));
        return false;
    }
    SlicedMerge merger(block, merge);
    while (!merger.isDone() && !stop.isRaised()) {
        const SlicedMerge::Slice slice = merger.nextSlice(store, SlicedMerge::kSlice, log);
        if (!slice.written)
            return false;
        if (serversAdded && !slice.added.isEmpty())
            serversAdded(slice.added);
        if (!merger.isDone())
            QThread::msleep(quint64(SlicedMerge::kGap.count()));
    }
    return true;
}

// A merge that fails part-way has still committed the slices before; the change is
// reported whenever a merge ran.
bool downloadGroups(const AppContext& context, const CloudAccount& account, JobStop& stop) {
    const LogSink& log = *context.log();
    const auto block = acceptedBlock(
        CloudApi::downloadGroups({context.cloudAddress()}, account.account(), &stop), stop, log);
    if (!block)
        return false;
    const bool merged = mergeBlock(context.databasePath(), log, *block, mergeGroupLine, stop);
    context.storeChanges().report(StoreChanges::Groups);
    return merged;
}

bool downloadServers(const AppContext& context, const CloudAccount& account, JobStop& stop,
                     const ServersAdded& serversAdded) {
    const LogSink& log = *context.log();
    const auto block = acceptedBlock(
        CloudApi::downloadServers({context.cloudAddress()}, account.account(), &stop), stop, log);
    if (!block)
        return false;
    const bool merged =
        mergeBlock(context.databasePath(), log, *block, mergeServerLine, stop, serversAdded);
    context.storeChanges().report(StoreChanges::Servers);
    return merged;
}

} // namespace CloudDownload

namespace CloudClear {

bool clearCloudCopy(const AppContext& context, const CloudApi::Account& account,
                    const JobStop* stop) {
    const CloudApi::Reply reply = CloudApi::clearCloudCopy({context.cloudAddress()}, account, stop);
    const bool cleared = CloudApi::succeededUnlessFalse(reply);
    if (!cleared && stop && stop->isRaised())
        return false;
    context.log()->logLine((cleared ? u"-清空成功,云端返回："_s : u"-清空失败,云端返回："_s) +
                           CloudAccount::replyForLog(reply));
    return cleared;
}

} // namespace CloudClear
