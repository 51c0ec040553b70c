#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

struct sqlite3;
struct sqlite3_stmt;

// The SQLite layer the client's store and torvane-cloud share: one connection, its prepared
// statements and its write transactions, each owning its SQLite handle. Text goes in and comes
// out as the bytes the caller chose (the client stores GBK, the service UTF-8). Nothing here
// throws: a call that fails says so in its result, with SQLite's code and message.

// The outcome of one call: done, or SQLite's result code and its message.
struct SqliteStatus {
    int code = 0; // SQLITE_OK
    std::string message;

    bool ok() const { return code == 0; }
    explicit operator bool() const { return ok(); }
};

// How a connection waits for a lock another connection holds before its statement fails.
struct SqliteBusyWait {
    std::chrono::milliseconds timeout{0};
    // Try again every millisecond instead of SQLite's sleeps, which grow to 100 ms: another
    // writer that leaves gaps of a few milliseconds between its transactions (a batch committing
    // a slice at a time) is then met in a gap, not only after the whole time-out.
    bool pollEachMillisecond = false;
};

// What one step of a statement came to.
enum class SqliteStep { Row, Done, Failed };

class SqliteConnection;

// One prepared statement, finalized when it goes away. Values are bound in place: text must
// stay alive until the statement is reset (SqliteStatementUse).
class SqliteStatement {
public:
    SqliteStatement() = default;

    bool isValid() const { return statement_ != nullptr; }
    int parameterCount() const;
    int columnCount() const;
    // True when running it writes nothing to the file.
    bool isReadOnly() const;

    // `index` counts from 1, as "?" placeholders do.
    SqliteStatus bindText(int index, std::string_view bytes);
    SqliteStatus bindInteger(int index, std::int64_t value);

    SqliteStep step();
    // Steps to the end, discarding rows.
    SqliteStatus run();
    // Why the last step or bind failed.
    SqliteStatus failure() const;

    // Columns of the current row, counted from 0; NULL reads as empty text. The bytes stay valid
    // until the next step or reset.
    std::string_view text(int column) const;
    bool isInteger(int column) const;
    std::int64_t integer(int column) const;
    std::string_view columnName(int column) const;

    // Ready to run again, with its values unbound.
    void reset();

private:
    friend class SqliteConnection;
    explicit SqliteStatement(sqlite3_stmt* statement) : statement_(statement) {}

    struct Finalize {
        void operator()(sqlite3_stmt* statement) const;
    };
    std::unique_ptr<sqlite3_stmt, Finalize> statement_;
};

// One run of a statement kept for many runs: resets it and unbinds its values when the scope
// ends, however the run ends, so the statement holds no lock and no values afterwards.
class SqliteStatementUse {
public:
    explicit SqliteStatementUse(SqliteStatement& statement) : statement_(statement) {}
    ~SqliteStatementUse() { statement_.reset(); }
    SqliteStatementUse(const SqliteStatementUse&) = delete;
    SqliteStatementUse& operator=(const SqliteStatementUse&) = delete;

private:
    SqliteStatement& statement_;
};

// One connection to one database file, closed when it goes away. Statements prepared on it
// must go away before it does.
class SqliteConnection {
public:
    SqliteConnection() = default;
    ~SqliteConnection();
    SqliteConnection(SqliteConnection&& other) noexcept;
    SqliteConnection& operator=(SqliteConnection&& other) noexcept;
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    // Opens `path` (UTF-8) with SQLite's SQLITE_OPEN_* `flags`, closing what was open before.
    // A connection that fails to open stays closed.
    SqliteStatus open(const std::string& path, int flags, SqliteBusyWait wait);
    bool isOpen() const { return db_ != nullptr; }
    void close();

    // Runs every ";"-separated statement of `sql` (no values) in order, discarding rows; stops
    // at the first that fails.
    SqliteStatus execute(std::string_view sql);
    // `kept`: the statement is meant to be run many times over the connection's life.
    SqliteStatement prepare(std::string_view sql, bool kept = false);

    std::int64_t lastInsertId() const;
    // Rows changed by the last INSERT, UPDATE or DELETE.
    int changes() const;
    // The last failure on this connection; when it is closed, why its last open failed, or
    // "database not open".
    SqliteStatus failure() const;

    // For SQLite calls this layer does not wrap (hooks, checkpoints, backups).
    sqlite3* handle() const { return db_; }

private:
    sqlite3* db_ = nullptr;
    SqliteBusyWait wait_;
    SqliteStatus closedFailure_;
};

// A write transaction on one connection. It takes the write lock when it begins (BEGIN
// IMMEDIATE), waiting the busy time-out for another writer, so a statement inside it is never
// refused the lock later. Rolled back when it ends without a commit.
class SqliteTransaction {
public:
    explicit SqliteTransaction(SqliteConnection& connection);
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;

    // False when the lock could not be taken; nothing may be written then (failure() says why).
    bool isActive() const { return active_; }
    // Done only when every change is in the file. A commit that fails is rolled back, so
    // nothing half-written is kept and the connection can be used again.
    SqliteStatus commit();
    void rollback();
    // Why the transaction could not begin or commit; kept here because the rollback after a
    // failed commit replaces the connection's last error.
    const SqliteStatus& failure() const { return failure_; }

private:
    SqliteConnection& connection_;
    bool active_ = false;
    SqliteStatus failure_;
};
