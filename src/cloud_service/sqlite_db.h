#pragma once

#include "cloud_service/sql_session.h"
#include "core/sqlite/sqlite_core.h"

#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>

// What the service's connections to its file share: their turn at writing and the checkpoints
// of the write-ahead log.
struct SqliteWriting {
    // Held while a connection writes, so the service's connections take turns at SQLite's write
    // lock instead of meeting it taken and polling it with growing sleeps (tens of milliseconds
    // each), which under many writers at once cost far more time than the writes themselves.
    // Other processes on the file (the operator's commands) still meet SQLite's busy time-out.
    std::mutex turn;
    // SQLite checkpoints the log in every commit once it holds 1000 pages, and the log only
    // starts over from its beginning at a moment no reader is using it: under steady load that
    // is a checkpoint, with two syncs to disk, after almost every commit, inside the commit and
    // so inside the write turn. The service's connections checkpoint instead, after the turn,
    // each time the log has grown by as much again, one at a time.
    std::mutex checkpointing;
    int checkpointedAt = 0; // pages in the log at the last checkpoint
};

// One SQLite connection of the cloud service: statements with bound UTF-8 text and integer
// values, prepared once per connection and kept, and rows read as text.
class SqliteDb final : public SqlSession {
public:
    // With `writing`, this connection's writes take their turn there, and it checkpoints the
    // write-ahead log itself instead of in its commits.
    explicit SqliteDb(SqliteWriting* writing = nullptr) : writing_(writing) {}
    SqliteDb(const SqliteDb&) = delete;
    SqliteDb& operator=(const SqliteDb&) = delete;

    // Opens the file (creating it when missing, unless `create` is false) in WAL mode with a
    // busy time-out, so connections of other processes wait for each other instead of
    // failing.
    bool open(const std::string& path, bool create = true);

    // Runs every statement of `sql` (no values); a failure is logged.
    bool execute(const std::string& sql);

    bool forEachRow(const std::string& sql, const std::vector<SqlValue>& values,
                    const std::function<void(const SqlColumns&)>& take) override;
    // BEGIN IMMEDIATE: takes the write lock now, waiting the busy time-out for other
    // processes.
    bool beginExclusive() override;
    bool commit() override;
    void rollback() override;
    bool usable() override { return connection_.isOpen(); }

    // Copies the whole database into the file `path` (replacing its content) with SQLite's
    // online backup, which sees one consistent state while other connections keep writing.
    bool copyTo(const std::string& path, std::string& error);
    // The last error of this connection, for log lines.
    std::string lastError() const;

private:
    // The statement prepared for `sql`, reset and ready to bind; nullptr when it cannot be.
    SqliteStatement* statement(const std::string& sql);
    static bool stepThrough(SqliteStatement& statement, const std::vector<SqlValue>& values,
                            const std::function<void(const SqlColumns&)>& take);
    // Gives up the write turn, then checkpoints the log when it has grown enough since the
    // last checkpoint: a checkpoint waits for the disk, the next writer need not wait with it.
    void endTurn(std::unique_lock<std::mutex>& turn);
    static int noteLogPages(void* self, sqlite3* db, const char* name, int pages);

    SqliteConnection connection_;
    // Declared after the connection: finalized before it closes.
    std::unordered_map<std::string, SqliteStatement> statements_;
    SqliteWriting* writing_ = nullptr;
    // Held from beginExclusive() to its commit or rollback.
    std::unique_lock<std::mutex> transactionTurn_;
    // From beginExclusive() to its commit or rollback; declared after the turn, so a
    // transaction left open is rolled back before the turn is given up.
    std::optional<SqliteTransaction> transaction_;
    // The pages in the log after this connection's last commit, 0 once looked at.
    int logPages_ = 0;
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
    SqliteWriting writing_;
};
