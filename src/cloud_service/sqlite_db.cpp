#include "cloud_service/sqlite_db.h"

#include "cloud_service/service_log.h"

#include <sqlite3.h>

#include <memory>

namespace {

constexpr int kBusyTimeoutMs = 10000;

struct ConnectionCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};

struct StatementCloser {
    void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};

std::string columnText(sqlite3_stmt* statement, int column) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
    if (text == nullptr)
        return {};
    return std::string(text, std::size_t(sqlite3_column_bytes(statement, column)));
}

} // namespace

SqliteDb::~SqliteDb() {
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
    ServiceLog::line("sqlite: " + lastError() + " in: " + sql.substr(0, 60));
    return false;
}

std::optional<std::vector<SqliteDb::Row>> SqliteDb::run(const std::string& sql,
                                                        const std::vector<Value>& values) {
    auto rows = runStatement(sql, values);
    if (!rows)
        ServiceLog::line("sqlite: " + lastError() + " in: " + sql.substr(0, 60));
    return rows;
}

std::optional<std::vector<SqliteDb::Row>> SqliteDb::runStatement(const std::string& sql,
                                                                 const std::vector<Value>& values) {
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v2(db_, sql.c_str(), int(sql.size()), &raw, nullptr) != SQLITE_OK)
        return std::nullopt;
    const std::unique_ptr<sqlite3_stmt, StatementCloser> statement(raw);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const Value& value = values[i];
        const int index = int(i) + 1;
        const int bound = value.isNumber
                              ? sqlite3_bind_int64(raw, index, value.number)
                              : sqlite3_bind_text(raw, index, value.text.data(),
                                                  int(value.text.size()), SQLITE_TRANSIENT);
        if (bound != SQLITE_OK)
            return std::nullopt;
    }
    std::vector<Row> rows;
    const int columns = sqlite3_column_count(raw);
    for (;;) {
        const int step = sqlite3_step(raw);
        if (step == SQLITE_DONE)
            return rows;
        if (step != SQLITE_ROW)
            return std::nullopt;
        Row row;
        row.reserve(std::size_t(columns));
        for (int c = 0; c < columns; ++c)
            row.push_back(columnText(raw, c));
        rows.push_back(std::move(row));
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
