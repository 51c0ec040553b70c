#include "cloud_service/sqlite_db.h"

#include "cloud_service/cloud_schema.h"
#include "cloud_service/service_log.h"
#include "cloud_service/throttle_book.h"

#include <sqlite3.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <utility>

namespace {

constexpr std::chrono::milliseconds kBusyTimeout(10000);
// The write-ahead log is checkpointed each time it has grown by this many pages (SQLite's own
// mark).
constexpr int kCheckpointPages = 1000;

std::string schema() {
    std::string sql = R"sql(
CREATE TABLE IF NOT EXISTS account (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    username TEXT NOT NULL UNIQUE,
    password_hash TEXT NOT NULL,
    phone TEXT NOT NULL,
    qq TEXT NOT NULL,
    mail TEXT NOT NULL,
    created INTEGER NOT NULL DEFAULT (strftime('%s', 'now'))
);
CREATE TABLE IF NOT EXISTS server_group (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    account_id INTEGER NOT NULL REFERENCES account(id),
    name TEXT NOT NULL,
    sort TEXT NOT NULL,
    UNIQUE (account_id, name)
);
CREATE TABLE IF NOT EXISTS server (
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    account_id INTEGER NOT NULL REFERENCES account(id),)sql" +
                      std::string(kServerColumns) + R"sql(
);
CREATE TABLE IF NOT EXISTS sms_code (
    phone TEXT PRIMARY KEY,
    code TEXT NOT NULL,
    issued INTEGER NOT NULL,
    wrong_guesses INTEGER NOT NULL DEFAULT 0
);
CREATE TABLE IF NOT EXISTS account_change (
    account_id INTEGER PRIMARY KEY,
    mark INTEGER NOT NULL
);
)sql";
    for (const char* index : kAccountIndexes)
        sql += std::string(index) + ";\n";
    return sql;
}

void logFailure(const std::string& error, const std::string& sql) {
    ServiceLog::line("sqlite: " + error + " in: " + sql.substr(0, 60));
}

} // namespace

bool SqliteDb::open(const std::string& path, bool create) {
    const int flags =
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    if (!connection_.open(path, flags, {kBusyTimeout}))
        return false;
    // In place of SQLite's automatic checkpoint, which would run inside the commit.
    if (writing_ != nullptr)
        sqlite3_wal_hook(connection_.handle(), &SqliteDb::noteLogPages, this);
    return execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                   "PRAGMA foreign_keys=ON;");
}

bool SqliteDb::execute(const std::string& sql) {
    const SqliteStatus ran = connection_.execute(sql);
    if (!ran)
        logFailure(ran.message, sql);
    return ran.ok();
}

SqliteStatement* SqliteDb::statement(const std::string& sql) {
    const auto found = statements_.find(sql);
    if (found != statements_.end())
        return &found->second;
    SqliteStatement prepared = connection_.prepare(sql, true);
    if (!prepared.isValid())
        return nullptr;
    return &statements_.emplace(sql, std::move(prepared)).first->second;
}

bool SqliteDb::forEachRow(const std::string& sql, const std::vector<SqlValue>& values,
                          const std::function<void(const SqlColumns&)>& take) {
    SqliteStatement* prepared = statement(sql);
    // A write outside a transaction of this connection waits for its turn here.
    std::unique_lock<std::mutex> turn;
    if (prepared != nullptr && writing_ != nullptr && !transactionTurn_.owns_lock() &&
        !prepared->isReadOnly())
        turn = std::unique_lock(writing_->turn);
    const bool ran = prepared != nullptr && stepThrough(*prepared, values, take);
    if (!ran)
        logFailure(lastError(), sql);
    endTurn(turn);
    return ran;
}

bool SqliteDb::stepThrough(SqliteStatement& statement, const std::vector<SqlValue>& values,
                           const std::function<void(const SqlColumns&)>& take) {
    // Unbinds the values when this run ends, so SQLite may use them in place rather than copy
    // each one: they live until then.
    const SqliteStatementUse use(statement);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const SqlValue& value = values[i];
        const int index = int(i) + 1;
        const SqliteStatus bound = value.isNumber ? statement.bindInteger(index, value.number)
                                                  : statement.bindText(index, value.text);
        if (!bound)
            return false;
    }
    SqlColumns row(std::size_t(statement.columnCount()));
    for (;;) {
        const SqliteStep step = statement.step();
        if (step == SqliteStep::Done)
            return true;
        if (step != SqliteStep::Row)
            return false;
        for (std::size_t c = 0; c < row.size(); ++c)
            row[c] = statement.text(int(c));
        take(row);
    }
}

bool SqliteDb::beginExclusive() {
    if (writing_ != nullptr)
        transactionTurn_ = std::unique_lock(writing_->turn);
    transaction_.emplace(connection_);
    if (transaction_->isActive())
        return true;
    logFailure(transaction_->failure().message, "BEGIN IMMEDIATE");
    transaction_.reset();
    endTurn(transactionTurn_);
    return false;
}

bool SqliteDb::commit() {
    if (!transaction_)
        return false;
    const SqliteStatus committed = transaction_->commit();
    if (!committed)
        logFailure(committed.message, "COMMIT");
    transaction_.reset();
    endTurn(transactionTurn_);
    return committed.ok();
}

void SqliteDb::rollback() {
    transaction_.reset();
    endTurn(transactionTurn_);
}

void SqliteDb::endTurn(std::unique_lock<std::mutex>& turn) {
    if (!turn.owns_lock())
        return;
    turn.unlock();
    const int pages = std::exchange(logPages_, 0);
    if (pages == 0)
        return;
    const std::unique_lock checkpointing(writing_->checkpointing, std::try_to_lock);
    if (!checkpointing.owns_lock())
        return; // another connection is checkpointing
    // Fewer pages than at the last checkpoint: the log has started over from its beginning.
    int& checkpointedAt = writing_->checkpointedAt;
    if (pages < checkpointedAt)
        checkpointedAt = 0;
    if (pages - checkpointedAt < kCheckpointPages)
        return;
    checkpointedAt = pages;
    // Passive: copies into the file what no reader still needs, waits for no one.
    sqlite3_wal_checkpoint_v2(connection_.handle(), nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr,
                              nullptr);
}

int SqliteDb::noteLogPages(void* self, sqlite3*, const char*, int pages) {
    static_cast<SqliteDb*>(self)->logPages_ = pages;
    return SQLITE_OK;
}

bool SqliteDb::copyTo(const std::string& path, std::string& error) {
    SqliteConnection target;
    if (const SqliteStatus opened =
            target.open(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, {});
        !opened) {
        error = path + ": " + opened.message;
        return false;
    }
    sqlite3_backup* backup =
        sqlite3_backup_init(target.handle(), "main", connection_.handle(), "main");
    if (backup == nullptr) {
        error = path + ": " + target.failure().message;
        return false;
    }
    // All pages in one step: it reads one snapshot, and in WAL mode writers go on meanwhile.
    const int stepped = sqlite3_backup_step(backup, -1);
    const int finished = sqlite3_backup_finish(backup);
    if (stepped != SQLITE_DONE || finished != SQLITE_OK) {
        error = path + ": " + sqlite3_errstr(stepped != SQLITE_DONE ? stepped : finished);
        return false;
    }
    return true;
}

std::string SqliteDb::lastError() const {
    return connection_.failure().message;
}

bool SqliteDatabase::prepare(bool create, std::string& error) {
    SqliteDb db(&writing_);
    if (!db.open(path_, create) || !db.execute(schema())) {
        error = path_ + ": " + db.lastError();
        return false;
    }
    return true;
}

std::unique_ptr<SqlSession> SqliteDatabase::connect() {
    auto db = std::make_unique<SqliteDb>(&writing_);
    // Never creates the file: one deleted while the service runs must not come back empty.
    if (!db->open(path_, false)) {
        ServiceLog::line("cannot open " + path_ + ": " + db->lastError());
        return nullptr;
    }
    return db;
}

std::unique_ptr<ThrottleBook> SqliteDatabase::throttleBook(SessionPool&) {
    return std::make_unique<InProcessThrottleBook>();
}

bool SqliteDatabase::backUpTo(const std::string& path, std::string& error) {
    SqliteDb db;
    if (!db.open(path_, false)) {
        error = "cannot open " + path_;
        return false;
    }
    // Renaming the copy over the live file would leave the service writing to a file that is
    // gone from the folder.
    std::error_code notTheSame;
    if (std::filesystem::equivalent(path, path_, notTheSame)) {
        error = path + " is the service's own database";
        return false;
    }
    const std::string partial = path + ".partial";
    std::remove(partial.c_str());
    if (!db.copyTo(partial, error)) {
        std::remove(partial.c_str());
        return false;
    }
    if (std::rename(partial.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(errno);
        std::remove(partial.c_str());
        return false;
    }
    return true;
}
