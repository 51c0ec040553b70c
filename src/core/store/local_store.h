#pragma once

#include "core/store/records.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

struct sqlite3;

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
// action and closed when it goes out of scope; nothing is cached between actions.
//
// Text goes into and comes out of the file as GBK bytes. Every value is bound as a
// parameter, never spliced into SQL, so a value holding quotes is stored exactly and can
// never start a statement of its own.
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
    bool open(const QString& path = databasePath());
    bool isOpen() const { return db_ != nullptr; }
    void close();

    // Runs every ";"-separated statement in order; stops at the first failing one. True only
    // when every statement ran.
    bool execute(const QString& sql);
    // Runs one statement with its "?" placeholders bound to `values` as GBK text.
    bool execute(const QString& sql, const QStringList& values);
    qint64 lastInsertId() const;

    // Runs one SELECT with bound values; nothing when it fails.
    std::optional<StoreRows> query(const QString& sql, const QStringList& values = {});
    // The lowest id among the rows of `table` for which `condition` (with "?" placeholders
    // bound to `values`) holds.
    std::optional<qint64> findFirst(const QString& table, const QString& condition,
                                    const QStringList& values = {});
    QString readColumn(const QString& table, qint64 id, const QString& column);
    bool updateColumns(const QString& table, qint64 id, const ColumnValues& values);
    bool deleteRow(const QString& table, qint64 id);
    std::optional<StoreRows> allRows(const QString& table);

    // The inserts and the group rename that the windows, batch add and cloud download issue.
    //
    // Adding one server from the editor: the sort key must be a number, else the insert is
    // refused (false) and nothing is written.
    bool insertServer(const ServerRecord& server);
    // A batch line; without panel fields the four panel columns hold "0".
    bool insertBatchServer(const ServerRecord& server, bool withPanelFields);
    // A server from the cloud: the panel columns stay NULL.
    bool insertDownloadedServer(const ServerRecord& server);
    bool insertGroup(const QString& name, const QString& sort);
    // Moves every server of group `oldName` to `newName`.
    bool renameGroupInServers(const QString& oldName, const QString& newName);

    // The cloud account row (server_user, id=1). Empty texts when there is no such row.
    StoredAccount readCloudAccount();
    // Writes both columns of the account row, creating the row when it is missing.
    bool writeCloudAccount(const StoredAccount& account);
    // Log out: only the password column changes; the user name stays.
    bool writeCloudPassword(const QString& password);

    // The last error SQLite reported on this connection, for log lines.
    QString lastError() const;

private:
    sqlite3* db_ = nullptr;
};

// Every group, in id order; nothing when the table cannot be read.
std::optional<QList<GroupRecord>> allGroups(LocalStore& store);

// Deletes the row of `table` whose id equals the text `id` (as shown in the lists); false
// when there is no such row or the delete fails.
bool deleteRowById(LocalStore& store, const QString& table, const QString& id);

// The duplicate test of add, batch add and cloud download: the id (as text) of the first
// server with exactly this address and port, or empty text. Always logs "-S_ID <id>".
QString findServerByAddress(LocalStore& store, const QString& ip, const QString& port);

// True when `text` is a number as the add-server insert takes its sort key: an integer or a
// decimal, with optional sign, exponent and surrounding blanks.
bool isSortNumber(const QString& text);
