#pragma once

#include "core/cloud/cloud_account.h"
#include "core/store/local_store.h"
#include "core/store/sliced_lines.h"
#include "core/support/job_stop.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

class AppContext;
class LogSink;

// "从云端下载": the cloud's groups and servers merged into the store. Missing groups are
// added; a server is added, or written over the stored one with the same address and port.
//
// The merge runs a slice of lines per write transaction, so a long download neither takes
// one commit per line nor holds the file's write lock for long, and an interruption keeps
// what was merged before it. A line's log lines are written once its slice is committed.
namespace CloudDownload {

// A server line with its secret fields unsealed.
struct DownloadedServer {
    ServerRecord server;
    // The line carried panel fields (twelve fields or more); those it lacks are empty.
    bool withPanelFields = false;
};
// Nothing for a line of fewer than ten fields. Without an eleventh field the sort key is
// "50". A secret field that does not unseal becomes empty.
std::optional<DownloadedServer> parseServerLine(const QString& line);

// One group line: added unless a group of that name is stored (by earlier lines too).
LineWrite mergeGroupLine(LocalStore& store, const QString& line);
// One server line: added, or written over the stored server with its address and port.
LineWrite mergeServerLine(LocalStore& store, const QString& line);

// The lines of a reply block merged a slice at a time.
class SlicedMerge : public SlicedLines {
public:
    // Work per write transaction, and the pause after it in which another writer of the
    // file (the window's own actions, a second Torvane) gets the write lock.
    static constexpr std::chrono::milliseconds kSlice{100};
    static constexpr std::chrono::milliseconds kGap{3};

    // `block` is the reply text: its outer and blank line breaks are dropped.
    SlicedMerge(const QString& block, WriteLine merge);
};

// Called with the servers each committed slice added, on the merging thread.
using ServersAdded = std::function<void(const QList<ServerRecord>& servers)>;

// Merges every line of `block` into the store at `databasePath`, slice after slice, until
// the end, a slice that cannot be written, or `stop`. False when the store could not be
// opened or a slice was not written.
bool mergeBlock(const QString& databasePath, const LogSink& log, const QString& block,
                SlicedLines::WriteLine merge, JobStop& stop, const ServersAdded& serversAdded = {});

// "down_class", then the merge of its group lines, reported as a change of the groups.
// False, with the failure logged and nothing changed, when the service did not answer or
// refused (CloudApi::blockAccepted). A raised `stop` also ends the request itself, quietly.
// A line with a character the store cannot keep is refused with a log line.
bool downloadGroups(const AppContext& context, const CloudAccount& account, JobStop& stop);
// "down", then the merge of its server lines, reported as a change of the servers; as
// downloadGroups.
bool downloadServers(const AppContext& context, const CloudAccount& account, JobStop& stop,
                     const ServersAdded& serversAdded = {});

} // namespace CloudDownload

// "清空云端": the cloud copy of the account is deleted; local data stays as it is.
namespace CloudClear {

inline const QString kConfirmText =
    QStringLiteral("确定要清空云端数据吗？清空后将无法从云端获取数据");

// "del_data", and one log line saying whether the service cleared the copy. A request the
// service never answered is a failure; one ended by a raised `stop` is not logged.
bool clearCloudCopy(const AppContext& context, const CloudApi::Account& account,
                    const JobStop* stop = nullptr);

} // namespace CloudClear
