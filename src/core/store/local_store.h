#pragma once

#include "core/store/records.h"

#include <QList>
#include <QString>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class LogSink;

class StoreConnection;
struct StoreRows;

ServerRecord serverRecordFromRow(const StoreRows& rows, qsizetype row);
// Hands every row a query of server_data finds to `take` as a record made as the row is read,
// so the rows never exist whole beside the records (each column is looked up once); false
// when the query fails.
bool forEachServerRecord(StoreConnection& connection, const QString& sql, const QStringList& values,
                         const std::function<void(ServerRecord&& record)>& take);
GroupRecord groupRecordFromRow(const StoreRows& rows, qsizetype row);

// The only access path to myserver.db: the named operations the windows, batch add and the
// cloud call. One LocalStore is one connection (a StoreConnection of its own), opened for one
// action and closed when it goes out of scope; nothing is cached between actions.
class LocalStore {
public:
    LocalStore();
    ~LocalStore();
    LocalStore(const LocalStore&) = delete;
    LocalStore& operator=(const LocalStore&) = delete;

    // Start-up: writes the template when the file is missing, reads the stored cloud account
    // and runs the column migration (whose failure on a migrated file is expected).
    static StoredAccount ensureDatabase(const QString& path);

    // Opens the connection; like SQLite's default open it creates an empty file (without
    // tables) when none exists.
    [[nodiscard]] bool open(const QString& path);
    bool isOpen() const;
    void close();

    // Adding one server from the editor: the sort key must be a number, else the insert is
    // refused and nothing is written. The new server's id, or nothing when it was not added.
    [[nodiscard]] std::optional<qint64> insertServer(const ServerRecord& server);
    // A batch line; without panel fields the four panel columns hold "0".
    [[nodiscard]] bool insertBatchServer(const ServerRecord& server, bool withPanelFields);
    // A server from the cloud. Its panel columns stay NULL unless the line carried panel
    // fields (`withPanelFields`).
    [[nodiscard]] bool insertDownloadedServer(const ServerRecord& server,
                                              bool withPanelFields = false);
    // A server from the cloud over the stored one with the same address and port (row `id`):
    // address, port and system stay, and so do the panel columns unless the line carried
    // panel fields. False when nothing was written.
    [[nodiscard]] bool overwriteDownloadedServer(const QString& id, const ServerRecord& server,
                                                 bool withPanelFields);
    // The stored server with this id (as shown in the list); nothing when there is none.
    [[nodiscard]] std::optional<ServerRecord> loadServer(const QString& id);
    // Writes every column of `server` to the row with its id; false when there is no such row.
    [[nodiscard]] bool updateServer(const ServerRecord& server);
    // False when there is no server with this id or the delete fails.
    [[nodiscard]] bool deleteServer(const QString& id);
    // The id (as text) of the first server with exactly this address and port, or empty text.
    [[nodiscard]] QString serverIdByAddress(const QString& ip, const QString& port);

    // Every group, in id order; nothing when the table cannot be read.
    [[nodiscard]] std::optional<QList<GroupRecord>> groups();
    [[nodiscard]] bool insertGroup(const QString& name, const QString& sort);
    // The id (as text) of the first group with exactly this name, or empty text.
    [[nodiscard]] QString groupIdByName(const QString& name);
    // Gives the group `group.id` its new name and sort key and moves its servers (those
    // naming `group.name`) to the new name, in one transaction: both happen or neither.
    [[nodiscard]] bool updateGroup(const GroupRecord& group, const QString& name,
                                   const QString& sort);
    // False when there is no group with this id or the delete fails.
    [[nodiscard]] bool deleteGroup(const QString& id);

    // The cloud account row (server_user, id=1). Empty texts when there is no such row.
    StoredAccount readCloudAccount();
    // Writes both columns of the account row, creating the row when it is missing.
    bool writeCloudAccount(const StoredAccount& account);
    // Log out: only the password column changes; the user name stays.
    bool writeCloudPassword(const QString& password);

    // The last error SQLite reported on this connection, for log lines.
    QString lastError() const;
    // True when the last failure was the file's lock: another connection (a second Torvane, a
    // batch) held it until the busy time-out passed.
    bool isBusy() const;

    // The connection under the named operations, for core code whose SQL is none of them:
    // the list's queries (readServers) and a slice's transaction (writeSlice); tests use it
    // to look into the file. Windows never do: its use needs store_connection.h, which no
    // file under src/ui includes (scripts/check-layers fails when one does).
    StoreConnection& connection() { return *connection_; }

private:
    bool deleteRowById(const QString& table, const QString& id);

    // Held by pointer so that this header does not hand the runner to every window.
    std::unique_ptr<StoreConnection> connection_;
};

// How one slice of a long write went (see writeSlice).
struct SliceOutcome {
    bool began = false;     // the write lock was taken
    bool committed = false; // every change of the slice is in the file
    bool busy = false;      // the lock was not had within the busy time-out
    QString failure;        // SQLite's reason when the lock or the commit failed

    // The log message of a slice that was not written; empty for one that was.
    QString failureMessage() const;
};

// The start of the log line and of the message that say another connection held the file's
// lock past the busy time-out.
inline const QString kStoreBusyText = QStringLiteral("数据库被占用");

// True when SQLite's reason `failure` is the file's lock, held by another connection.
bool isBusyFailure(const QString& failure);

// Runs `step` inside one write transaction, again and again while it returns true and
// `budget` has not passed (at least once). Batch add and the cloud download merge long lists
// this way: each slice is committed on its own, so an interruption keeps what went before,
// and the write lock is held only briefly.
SliceOutcome writeSlice(LocalStore& store, std::chrono::milliseconds budget,
                        const std::function<bool()>& step);

// The duplicate test of add, batch add and cloud download: the id (as text) of the first
// server with exactly this address and port, or empty text. Always logs "-S_ID <id>".
[[nodiscard]] QString findServerByAddress(LocalStore& store, const QString& ip, const QString& port,
                                          const LogSink& log);

// True when `text` is a number as the add-server insert takes its sort key: an integer or a
// decimal, with optional sign, exponent and surrounding blanks.
bool isSortNumber(const QString& text);
