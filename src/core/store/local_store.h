#pragma once

#include "core/store/records.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>

struct sqlite3;
struct sqlite3_stmt;

// Rows of a query: column names once, then each row's values as text (NULL reads as empty).
struct StoreRows {
    QStringList columns;
    QList<QStringList> rows;

    qsizetype columnIndex(const QString& name) const { return columns.indexOf(name); }
    QString value(qsizetype row, const QString& column) const;
};

ServerRecord serverRecordFromRow(const StoreRows& rows, qsizetype row);
GroupRecord groupRecordFromRow(const StoreRows& rows, qsizetype row);

// The only access path to myserver.db. One LocalStore is one connection, opened for one
// action and closed when it goes out of scope; nothing is cached between actions. Within an
// action each statement is prepared once and reused (a batch runs the same two statements
// for every line).
//
// Text goes into and comes out of the file as GBK bytes. Every value is bound as a
// parameter, never spliced into SQL, so a value holding quotes is stored exactly and can
// never start a statement of its own.
//
// Several connections (workers, a second Torvane on the same file) share the file through
// SQLite's locks. A statement that finds the file locked waits up to the busy time-out for
// it; every write transaction takes the write lock when it begins (StoreTransaction), so two
// writers queue up instead of failing each other.
class LocalStore {
public:
    using ColumnValues = QList<QPair<QString, QString>>;

    LocalStore() = default;
    ~LocalStore();
    LocalStore(LocalStore&& other) noexcept;
    LocalStore& operator=(LocalStore&& other) noexcept;
    LocalStore(const LocalStore&) = delete;
    LocalStore& operator=(const LocalStore&) = delete;

    // The data folder's myserver.db.
    static QString databasePath();

    // Start-up: writes the template when the file is missing, reads the stored cloud account
    // and runs the column migration (whose failure on a migrated file is expected).
    static StoredAccount ensureDatabase();

    // Opens the connection; like SQLite's default open it creates an empty file (without
    // tables) when none exists.
    [[nodiscard]] bool open(const QString& path = databasePath());
    bool isOpen() const { return db_ != nullptr; }
    void close();

    // Runs every ";"-separated statement in order; stops at the first failing one. True only
    // when every statement ran.
    [[nodiscard]] bool execute(const QString& sql);
    // Runs one statement with its "?" placeholders bound to `values` as GBK text.
    [[nodiscard]] bool execute(const QString& sql, const QStringList& values);
    qint64 lastInsertId() const;
    // Rows changed by the last INSERT, UPDATE or DELETE.
    int changes() const;

    // Runs one SELECT with bound values; nothing when it fails.
    [[nodiscard]] std::optional<StoreRows> query(const QString& sql,
                                                 const QStringList& values = {});
    // The lowest id among the rows of `table` for which `condition` (with "?" placeholders
    // bound to `values`) holds.
    [[nodiscard]] std::optional<qint64> findFirst(const QString& table, const QString& condition,
                                                  const QStringList& values = {});
    [[nodiscard]] QString readColumn(const QString& table, qint64 id, const QString& column);
    [[nodiscard]] bool updateColumns(const QString& table, qint64 id, const ColumnValues& values);
    [[nodiscard]] std::optional<StoreRows> allRows(const QString& table);

    // The named operations the windows, batch add and cloud download call.
    //
    // Adding one server from the editor: the sort key must be a number, else the insert is
    // refused (false) and nothing is written.
    [[nodiscard]] bool insertServer(const ServerRecord& server);
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

private:
    friend class CachedStatement;

    bool deleteRowById(const QString& table, const QString& id);
    // The connection's prepared statement for `sql`, prepared on first use; null when it
    // cannot be prepared.
    sqlite3_stmt* statement(const QString& sql);

    sqlite3* db_ = nullptr;
    // Few enough to search in turn; comparing texts of different lengths costs nothing,
    // where hashing every long INSERT text on every use did.
    QList<QPair<QString, sqlite3_stmt*>> statements_;
};

// A write transaction on one connection. It takes the write lock when it begins (BEGIN
// IMMEDIATE), waiting the busy time-out for another writer, so a read inside it can never be
// refused for lack of the lock later. Rolled back when it ends without commit().
class StoreTransaction {
public:
    explicit StoreTransaction(LocalStore& store);
    ~StoreTransaction();
    StoreTransaction(const StoreTransaction&) = delete;
    StoreTransaction& operator=(const StoreTransaction&) = delete;

    // False when the lock could not be taken in time; nothing may be written then.
    [[nodiscard]] bool isActive() const { return active_; }
    // True only when every change is in the file. A failed commit is rolled back.
    [[nodiscard]] bool commit();

private:
    LocalStore& store_;
    bool active_ = false;
};

// How one slice of a long write went (see writeSlice).
struct SliceOutcome {
    bool began = false;     // the write lock was taken
    bool committed = false; // every change of the slice is in the file
    QString failure;        // SQLite's reason when the lock or the commit failed

    // The log message of a slice that was not written; empty for one that was.
    QString failureMessage() const;
};

// Runs `step` inside one write transaction, again and again while it returns true and
// `budget` has not passed (at least once). Batch add and the cloud download merge long lists
// this way: each slice is committed on its own, so an interruption keeps what went before,
// and the write lock is held only briefly.
SliceOutcome writeSlice(LocalStore& store, std::chrono::milliseconds budget,
                        const std::function<bool()>& step);

// The duplicate test of add, batch add and cloud download: the id (as text) of the first
// server with exactly this address and port, or empty text. Always logs "-S_ID <id>".
[[nodiscard]] QString findServerByAddress(LocalStore& store, const QString& ip,
                                          const QString& port);

// True when `text` is a number as the add-server insert takes its sort key: an integer or a
// decimal, with optional sign, exponent and surrounding blanks.
bool isSortNumber(const QString& text);
