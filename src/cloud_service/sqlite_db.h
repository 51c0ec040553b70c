#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

// A small RAII layer over SQLite for the cloud service: one connection, statements with
// bound UTF-8 text and integer values, and rows read as text. Each statement text is compiled
// once per connection and kept for the next run of the same text: compiling took more time
// than running the service's statements.
class SqliteDb {
public:
    using Row = std::vector<std::string>;
    // The columns of one row as UTF-8 text (NULL reads as empty), valid until the next row.
    using Columns = std::vector<std::string_view>;

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
    // The same, handing each row to `take` as it is read instead of keeping it; false when the
    // statement failed (and the log says why).
    bool forEachRow(const std::string& sql, const std::vector<Value>& values,
                    const std::function<void(const Columns&)>& take);
    // Copies the whole database into the file `path` (replacing its content) with SQLite's
    // online backup, which sees one consistent state while other connections keep writing.
    bool copyTo(const std::string& path, std::string& error);
    // Rows changed by the last statement.
    int changes() const;
    // Commits on this connection never checkpoint the write-ahead log by themselves (SQLite's
    // automatic checkpoint would run inside the commit); the owner does, with these two.
    // The pages in the log after this connection's last commit, 0 when it has not committed
    // since the last call.
    int takeLogPages();
    // A passive checkpoint: copies into the file what no reader still needs, waits for no one.
    void checkpoint();
    // The last error of this connection, for log lines.
    std::string lastError() const;

private:
    struct StatementCloser {
        void operator()(sqlite3_stmt* statement) const;
    };
    using Statement = std::unique_ptr<sqlite3_stmt, StatementCloser>;

    // The compiled statement of `sql`, compiled now when it is not kept yet; null on failure.
    sqlite3_stmt* statement(const std::string& sql);
    bool stepThrough(const std::string& sql, const std::vector<Value>& values,
                     const std::function<void(const Columns&)>& take);

    static int noteLogPages(void* self, sqlite3* db, const char* name, int pages);

    sqlite3* db_ = nullptr;
    std::unordered_map<std::string, Statement> statements_;
    int logPages_ = 0;
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
