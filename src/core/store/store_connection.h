#pragma once

#include "core/sqlite/sqlite_core.h"

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>
#include <vector>

// Rows of a query: column names once, then each row's values as text (NULL reads as empty).
struct StoreRows {
    QStringList columns;
    QList<QStringList> rows;

    qsizetype columnIndex(const QString& name) const { return columns.indexOf(name); }
    QString value(qsizetype row, const QString& column) const;
};

// One SQLite connection to one file and the generic SQL runner on it. LocalStore's named
// operations run on it; so does the core code whose statements are not among them (the list's
// queries, the template). Windows never use it: they call LocalStore.
//
// While the connection is open each statement is prepared once and reused (a batch runs the
// same two statements for every line).
//
// Text goes into and comes out of the file as GBK bytes. Every value is bound as a
// parameter, never spliced into SQL, so a value holding quotes is stored exactly and can
// never start a statement of its own.
//
// Several connections (workers, a second Torvane on the same file) share the file through
// SQLite's locks. A statement that finds the file locked waits up to the busy time-out for
// it; every write transaction takes the write lock when it begins (StoreTransaction), so two
// writers queue up instead of failing each other.
class StoreConnection {
public:
    using ColumnValues = QList<QPair<QString, QString>>;

    StoreConnection() = default;
    ~StoreConnection() { close(); }
    StoreConnection(StoreConnection&& other) noexcept = default;
    StoreConnection& operator=(StoreConnection&& other) noexcept;
    StoreConnection(const StoreConnection&) = delete;
    StoreConnection& operator=(const StoreConnection&) = delete;

    // Like SQLite's default open it creates an empty file (without tables) when none exists.
    [[nodiscard]] bool open(const QString& path);
    bool isOpen() const { return connection_.isOpen(); }
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
    // Runs one SELECT with bound values and hands each row to `take` as it is read, after
    // `columns` got the statement's column names: a long result never exists whole, only in
    // the caller's own form. False when the statement fails.
    [[nodiscard]] bool forEachRow(const QString& sql, const QStringList& values,
                                  QStringList& columns,
                                  const std::function<void(QStringList&& row)>& take);
    // The first column of the first row of one SELECT with bound values, read as an integer
    // id straight from the statement; nothing when there is no row, the value is no integer or
    // the statement fails. Cheaper than query() for a lookup run once per line of a long list.
    [[nodiscard]] std::optional<qint64> queryId(const QString& sql, const QStringList& values);
    // The lowest id among the rows of `table` for which `condition` (with "?" placeholders
    // bound to `values`) holds.
    [[nodiscard]] std::optional<qint64> findFirst(const QString& table, const QString& condition,
                                                  const QStringList& values = {});
    [[nodiscard]] QString readColumn(const QString& table, qint64 id, const QString& column);
    [[nodiscard]] bool updateColumns(const QString& table, qint64 id, const ColumnValues& values);
    [[nodiscard]] std::optional<StoreRows> allRows(const QString& table);

    // The last error SQLite reported on this connection, for log lines.
    QString lastError() const;

private:
    friend class CachedStatement;
    friend class StoreTransaction;

    // The connection's prepared statement for `sql`, prepared on first use; null when it
    // cannot be prepared.
    SqliteStatement* statement(const QString& sql);

    SqliteConnection connection_;
    // Few enough to search in turn; comparing texts of different lengths costs nothing,
    // where hashing every long INSERT text on every use did. Declared after the connection,
    // so they are finalized before it closes.
    std::vector<std::pair<QString, SqliteStatement>> statements_;
};

// A write transaction on one connection. It takes the write lock when it begins (BEGIN
// IMMEDIATE), waiting the busy time-out for another writer, so a read inside it can never be
// refused for lack of the lock later. Rolled back when it ends without commit().
class StoreTransaction {
public:
    explicit StoreTransaction(StoreConnection& connection);

    // False when the lock could not be taken in time; nothing may be written then.
    [[nodiscard]] bool isActive() const { return transaction_.isActive(); }
    // True only when every change is in the file. A failed commit is rolled back.
    [[nodiscard]] bool commit();
    // SQLite's reason when the lock or the commit failed.
    QString failure() const { return QString::fromUtf8(transaction_.failure().message); }

private:
    SqliteTransaction transaction_;
};
