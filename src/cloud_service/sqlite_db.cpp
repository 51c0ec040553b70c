#include "cloud_service/sqlite_db.h"

#include "cloud_service/service_log.h"

#include <sqlite3.h>

#include <memory>
#include <utility>

namespace {

constexpr int kBusyTimeoutMs = 10000;

struct ConnectionCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

// Leaves a kept statement ready for its next run whichever way this one ended: its
// transaction's locks released, its values unbound.
struct StatementReset {
    void operator()(sqlite3_stmt* statement) const {
        sqlite3_reset(statement);
        sqlite3_clear_bindings(statement);
    }
};

std::string_view columnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    if (text == nullptr)
        return {};
    return {text, std::size_t(sqlite3_column_bytes(statement, column))};
}

} // namespace

void SqliteDb::StatementCloser::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

SqliteDb::~SqliteDb() {
    statements_.clear();
    sqlite3_close_v2(db_);
}

bool SqliteDb::open(const std::string& path, bool create) {
    const int flags =
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
    if (sqlite3_open_v2(path.c_str(), &db_, flags, nullptr) != SQLITE_OK)
        return false;
    sqlite3_busy_timeout(db_, kBusyTimeoutMs);
    sqlite3_wal_hook(db_, &SqliteDb::noteLogPages, this);
    return execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; "
                   "PRAGMA foreign_keys=ON;");
}

bool SqliteDb::execute(const std::string& sql) {
    if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK)
        return true;
    ServiceLog::line("sqlite: " + lastError() + " in: " + sql.substr(0, 60));
    return false;
}

std::optional<std::vector<SqliteDb::Row>> SqliteDb::run(const std::string& sql,
                                                        const std::vector<Value>& values) {
    std::vector<Row> rows;
    if (!forEachRow(sql, values,
                    [&rows](const Columns& row) { rows.emplace_back(row.begin(), row.end()); }))
        return std::nullopt;
    return rows;
}

bool SqliteDb::forEachRow(const std::string& sql, const std::vector<Value>& values,
                          const std::function<void(const Columns&)>& take) {
    if (stepThrough(sql, values, take))
        return true;
    ServiceLog::line("sqlite: " + lastError() + " in: " + sql.substr(0, 60));
    return false;
}

sqlite3_stmt* SqliteDb::statement(const std::string& sql) {
    const auto kept = statements_.find(sql);
    if (kept != statements_.end())
        return kept->second.get();
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v3(db_, sql.c_str(), int(sql.size()), SQLITE_PREPARE_PERSISTENT, &raw,
                           nullptr) != SQLITE_OK) {
        sqlite3_finalize(raw);
        return nullptr;
    }
    statements_.emplace(sql, Statement(raw));
    return raw;
}

bool SqliteDb::stepThrough(const std::string& sql, const std::vector<Value>& values,
                           const std::function<void(const Columns&)>& take) {
    sqlite3_stmt* raw = statement(sql);
    if (raw == nullptr)
        return false;
    // Unbinds the values when this run ends, so SQLite may use them in place (SQLITE_STATIC)
    // rather than copy each one: they live until then.
    const std::unique_ptr<sqlite3_stmt, StatementReset> reset(raw);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Value& value = values[i];
        const int index = int(i) + 1;
        const int bound = value.isNumber ? sqlite3_bind_int64(raw, index, value.number)
                                         : sqlite3_bind_text(raw, index, value.text.data(),
                                                             int(value.text.size()), SQLITE_STATIC);
        if (bound != SQLITE_OK)
            return false;
    }
    Columns row(std::size_t(sqlite3_column_count(raw)));
    for (;;) {
        const int step = sqlite3_step(raw);
        if (step == SQLITE_DONE)
            return true;
        if (step != SQLITE_ROW)
            return false;
        for (std::size_t c = 0; c < row.size(); ++c)
            row[c] = columnText(raw, int(c));
        take(row);
    }
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

int SqliteDb::noteLogPages(void* self, sqlite3*, const char*, int pages) {
    static_cast<SqliteDb*>(self)->logPages_ = pages;
    return SQLITE_OK;
}

int SqliteDb::takeLogPages() {
    return std::exchange(logPages_, 0);
}

void SqliteDb::checkpoint() {
    sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
}

int SqliteDb::changes() const {
    return sqlite3_changes(db_);
}

std::string SqliteDb::lastError() const {
    return db_ != nullptr ? sqlite3_errmsg(db_) : "not open";
}

WriteTransaction::WriteTransaction(SqliteDb& db) : db_(db) {
    began_ = db_.execute("BEGIN IMMEDIATE");
}

WriteTransaction::~WriteTransaction() {
    if (began_ && !done_)
        db_.execute("ROLLBACK");
}

bool WriteTransaction::commit() {
    if (!began_ || done_)
        return false;
    done_ = db_.execute("COMMIT");
    return done_;
}
