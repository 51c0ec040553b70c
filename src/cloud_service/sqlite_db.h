#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// A small RAII layer over SQLite for the cloud service: one connection, statements with
// bound UTF-8 text and integer values, and rows read as text.
class SqliteDb {
public:
    using Row = std::vector<std::string>;

    SqliteDb() = default;
    ~SqliteDb();
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    // Opens the file (creating it when missing, unless `create` is false) in WAL mode with a
    // busy time-out, so several connections of the service wait for each other instead of
    // failing.
    bool open(const std::string& path, bool create = true);
    bool isOpen() const { return db_ != nullptr; }

    // Runs every statement of `sql` (no values); a failure is logged.
    bool execute(const std::string& sql);

    // A value bound to one "?" of a statement.
    struct Value {
        Value(std::string value) : text(std::move(value)) {}
        Value(const char* value) : text(value) {}
        Value(std::int64_t value) : number(value), isNumber(true) {}
        std::string text;
        std::int64_t number = 0;
        bool isNumber = false;
    };

    // Runs one statement with its "?" bound to `values`; the rows it returns (NULL reads as
    // empty text), or nothing when it failed (and the log says why).
    std::optional<std::vector<Row>> run(const std::string& sql,
                                        const std::vector<Value>& values = {});
    // Copies the whole database into the file `path` (replacing its content) with SQLite's
    // online backup, which sees one consistent state while other connections keep writing.
    bool copyTo(const std::string& path, std::string& error);
    // Rows changed by the last statement.
    int changes() const;
    // The last error of this connection, for log lines.
    std::string lastError() const;

private:
    std::optional<std::vector<Row>> runStatement(const std::string& sql,
                                                 const std::vector<Value>& values);

    sqlite3* db_ = nullptr;
};

// BEGIN IMMEDIATE (takes the write lock now, waiting the busy time-out) ... COMMIT, rolled
// back when the scope ends without commit().
class WriteTransaction {
public:
    explicit WriteTransaction(SqliteDb& db);
    ~WriteTransaction();
    WriteTransaction(const WriteTransaction&) = delete;
    WriteTransaction& operator=(const WriteTransaction&) = delete;

    bool began() const { return began_; }
    bool commit();

private:
    SqliteDb& db_;
    bool began_ = false;
    bool done_ = false;
};
