#pragma once

#include "core/store/records.h"
#include "core/store/server_queries.h"
#include "core/store/sliced_lines.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>

// The store operations that windows start, each on a connection of its own opened on the
// calling thread. A statement waits up to the busy time-out for a lock another connection
// holds, so windows run these on the store's thread (StoreQueue), never on the UI thread, and
// tell the user from the outcome why one failed.
namespace StoreActions {

// The reason a window gives when another connection held the file's lock past the busy
// time-out.
inline const QString kBusyReason = QStringLiteral("数据库被占用，请稍后再试");

// How an operation went.
struct Outcome {
    bool done = false;
    // Another connection held the file's lock until the busy time-out passed.
    bool busy = false;
    // SQLite's reason when it failed, for log lines.
    QString error;

    // The reason for a log line: kBusyReason when busy, else SQLite's.
    QString reason() const { return busy ? kBusyReason : error; }
};

// What a window says about an operation that failed: `failed` ("添加失败") alone, or followed by
// kBusyReason when the file was busy ("添加失败：数据库被占用，请稍后再试").
QString failureText(const QString& failed, const Outcome& outcome);

// The servers `query` finds (see readServers); nothing when the file cannot be read.
std::optional<QList<ServerRecord>> readServers(const QString& path, const ServerQuery& query);
// Hands each server `query` finds to `take` as it is read, so a long read never holds its
// records whole in this form; false when the file cannot be read.
bool forEachServer(const QString& path, const ServerQuery& query,
                   const std::function<void(ServerRecord&& server)>& take);

struct Groups {
    Outcome outcome;
    QList<GroupRecord> groups; // in id order
};
Groups readGroups(const QString& path);

struct AddedServer {
    Outcome outcome;
    // A server with the same address and port is stored already; nothing was written.
    bool duplicate = false;
    qint64 id = 0;
};
// The editor's add: the duplicate test by address and port (which logs "-S_ID <id>"), then the
// insert, which refuses a sort key that is not a number.
AddedServer addServer(const QString& path, const ServerRecord& server, const LogSink& log);

struct StoredServer {
    Outcome outcome; // done when the server was read
    bool opened = false;
    std::optional<ServerRecord> server;
    QList<GroupRecord> groups;
};
// The server with this id and every group, for the modify window.
StoredServer loadServer(const QString& path, const QString& id);

Outcome updateServer(const QString& path, const ServerRecord& server);
Outcome deleteServer(const QString& path, const QString& id);
Outcome insertGroup(const QString& path, const QString& name, const QString& sort);
// Renames group `group` and moves its servers to the new name, in one transaction.
Outcome updateGroup(const QString& path, const GroupRecord& group, const QString& name,
                    const QString& sort);
Outcome deleteGroup(const QString& path, const QString& id);

// The next slice of `lines` on a connection of its own; a file that cannot be opened writes
// nothing and says so in the log.
SlicedLines::Slice writeSlice(const QString& path, SlicedLines& lines,
                              std::chrono::milliseconds budget, const LogSink& log);

} // namespace StoreActions
