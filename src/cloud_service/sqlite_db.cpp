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

namespace {

constexpr int kBusyTimeoutMs = 10000;

std::string schema() {
    return R"sql(
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
)sql";
}

struct ConnectionCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

// Leaves a statement reset with its values cleared when a run ends, however it ends.
class StatementUse {
public:
    explicit StatementUse(sqlite3_stmt* statement) : statement_(statement) {}
    ~StatementUse() {
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
    }
    StatementUse(const StatementUse&) = delete;
    StatementUse& operator=(const StatementUse&) = delete;

private:
    sqlite3_stmt* statement_;
};

std::string columnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    if (text == nullptr)
        return {};
    return std::string(text, std::size_t(sqlite3_column_bytes(statement, column)));
}

void logFailure(const std::string& error, const std::string& sql) {
    ServiceLog::line("sqlite: " + error + " in: " + sql.substr(0, 60));
}

} // namespace

SqliteDb::~SqliteDb() {
    for (const auto& [sql, statement] : statements_)
        sqlite3_finalize(statement);
    sqlite3_close_v2(db_);
}

bool SqliteDb::open(const std::string& path, bool create) {
    const int flags =
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK)
        return false;
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    return execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                   "PRAGMA foreign_keys=ON;");
}

bool SqliteDb::execute(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    logFailure(lastError(), sql);
    return false;
}

sqlite3_stmt* SqliteDb::statement(const std::string& sql) {
    const auto found = statements_.find(sql);
    if (found != statements_.end())
        return found->second;
    sqlite3_stmt* prepared = nullptr;
    if (sqlite3_prepare_v3(db_, sql.c_str(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &prepared,
                           nullptr) != SQLITE_OK) {
        return nullptr;
    }
    statements_.emplace(sql, prepared);
    return prepared;
}

std::optional<SqlRows> SqliteDb::run(const std::string& sql, const std::vector<SqlValue>& values) {
    sqlite3_stmt* prepared = statement(sql);
    auto rows = prepared != nullptr ? runStatement(prepared, values) : std::nullopt;
    if (!rows)
        logFailure(lastError(), sql);
    return rows;
}

std::optional<SqlRows> SqliteDb::runStatement(sqlite3_stmt* statement,
                                              const std::vector<SqlValue>& values) {
    const StatementUse use(statement);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const SqlValue& value = values[i];
        const int index = int(i) + 1;
        const int bound = value.isNumber
                              ? sqlite3_bind_int64(statement, index, value.number)
                              : sqlite3_bind_text(statement, index, value.text.data(),
                                                  int(value.text.size()), SQLITE_TRANSIENT);
        if (bound != SQLITE_OK)
            return std::nullopt;
    }
    // A write outside a transaction of this connection waits for its turn here.
    std::unique_lock<std::mutex> turn;
    if (writer_ != nullptr && !writing_.owns_lock() && sqlite3_stmt_readonly(statement) == 0)
        turn = std::unique_lock(*writer_);
    SqlRows rows;
    const int columns = sqlite3_column_count(statement);
    for (;;) {
        const int step = sqlite3_step(statement);
        if (step == SQLITE_DONE)
            return rows;
        if (step != SQLITE_ROW)
            return std::nullopt;
        SqlRow row;
        row.reserve(std::size_t(columns));
        for (int c = 0; c < columns; ++c)
            row.push_back(columnText(statement, c));
        rows.push_back(std::move(row));
    }
}

bool SqliteDb::control(const char* sql) {
    return run(sql).has_value();
}

bool SqliteDb::beginExclusive() {
    if (writer_ != nullptr)
        writing_ = std::unique_lock(*writer_);
    if (control("BEGIN IMMEDIATE"))
        return true;
    if (writing_.owns_lock())
        writing_.unlock();
    return false;
}

bool SqliteDb::commit() {
    const bool committed = control("COMMIT");
    if (!committed)
        control("ROLLBACK");
    if (writing_.owns_lock())
        writing_.unlock();
    return committed;
}

void SqliteDb::rollback() {
    control("ROLLBACK");
    if (writing_.owns_lock())
        writing_.unlock();
}

bool SqliteDb::copyTo(const std::string& path, std::string& error) {
    sqlite3* raw = nullptr;
    const int opened =
        sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    const std::unique_ptr<sqlite3, ConnectionCloser> target(raw);
    if (opened != SQLITE_OK) {
        error = path + ": " + sqlite3_errstr(opened);
        return false;
    }
    sqlite3_backup* backup = sqlite3_backup_init(raw, "main", db_, "main");
    if (backup == nullptr) {
        error = path + ": " + sqlite3_errmsg(raw);
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
    return db_ != nullptr ? sqlite3_errmsg(db_) : "not open";
}

bool SqliteDatabase::prepare(bool create, std::string& error) {
    SqliteDb db(&writer_);
    if (!db.open(path_, create) || !db.execute(schema())) {
        error = path_ + ": " + db.lastError();
        return false;
    }
    return true;
}

std::unique_ptr<SqlSession> SqliteDatabase::connect() {
    auto db = std::make_unique<SqliteDb>(&writer_);
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
