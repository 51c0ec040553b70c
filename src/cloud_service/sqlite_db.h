#pragma once

#include "cloud_service/sql_session.h"

#include <mutex>
#include <string>
#include <unordered_map>

struct sqlite3;
struct sqlite3_stmt;

// One SQLite connection of the cloud service: statements with bound UTF-8 text and integer
// values, prepared once per connection and kept, and rows read as text.
class SqliteDb final : public SqlSession {
public:
    // `writer` is held while this connection writes, so the service's connections take turns
    // at SQLite's write lock instead of meeting it taken and sleeping in SQLite's busy wait.
    explicit SqliteDb(std::mutex* writer = nullptr) : writer_(writer) {}
    ~SqliteDb() override;
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    // Opens the file (creating it when missing, unless `create` is false) in WAL mode with a
    // busy time-out, so connections of other processes wait for each other instead of
    // failing.
    bool open(const std::string& path, bool create = true);

    // Runs every statement of `sql` (no values); a failure is logged.
    bool execute(const std::string& sql);

    std::optional<SqlRows> run(const std::string& sql,
                               const std::vector<SqlValue>& values = {}) override;
    // BEGIN IMMEDIATE: takes the write lock now, waiting the busy time-out for other
    // processes.
    bool beginExclusive() override;
    bool commit() override;
    void rollback() override;
    bool usable() override { return db_ != nullptr; }

    // Copies the whole database into the file `path` (replacing its content) with SQLite's
    // online backup, which sees one consistent state while other connections keep writing.
    bool copyTo(const std::string& path, std::string& error);
    // The last error of this connection, for log lines.
    std::string lastError() const;

private:
    // The statement prepared for `sql`, reset and ready to bind; nullptr when it cannot be.
    sqlite3_stmt* statement(const std::string& sql);
    std::optional<SqlRows> runStatement(sqlite3_stmt* statement,
                                        const std::vector<SqlValue>& values);
    bool control(const char* sql);

    sqlite3* db_ = nullptr;
    std::mutex* writer_ = nullptr;
    // Held from beginExclusive() to its commit or rollback.
    std::unique_lock<std::mutex> writing_;
    std::unordered_map<std::string, sqlite3_stmt*> statements_;
};

// The service's own SQLite file (cloud.db in the data folder). Failed log ins and SMS codes
// are counted in the process's memory.
class SqliteDatabase final : public SqlDatabase {
public:
    explicit SqliteDatabase(std::string path) : path_(std::move(path)) {}

    bool prepare(bool create, std::string& error) override;
    std::unique_ptr<SqlSession> connect() override;
    std::unique_ptr<ThrottleBook> throttleBook(SessionPool& pool) override;
    // Through a file beside `path` that takes the name only once complete.
    bool backUpTo(const std::string& path, std::string& error) override;
    std::string description() const override { return path_; }

private:
    std::string path_;
    std::mutex writer_;
};
