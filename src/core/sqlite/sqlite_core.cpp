#include "core/sqlite/sqlite_core.h"

#include <sqlite3.h>

#include <thread>
#include <utility>

namespace {

SqliteStatus statusOf(sqlite3* db, int code) {
    if (code == SQLITE_OK)
        return {};
    return {code, db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(code)};
}

// The busy handler of SqliteBusyWait::pollEachMillisecond; `wait` is the connection's.
int pollForLock(void* wait, int attempt) {
    using Clock = std::chrono::steady_clock;
    thread_local Clock::time_point firstAttempt;
    if (attempt == 0)
        firstAttempt = Clock::now();
    if (Clock::now() - firstAttempt >= static_cast<const SqliteBusyWait*>(wait)->timeout)
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 1;
}

} // namespace

void SqliteStatement::Finalize::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

int SqliteStatement::parameterCount() const {
    return sqlite3_bind_parameter_count(statement_.get());
}

int SqliteStatement::columnCount() const {
    return sqlite3_column_count(statement_.get());
}

bool SqliteStatement::isReadOnly() const {
    return sqlite3_stmt_readonly(statement_.get()) != 0;
}

SqliteStatus SqliteStatement::bindText(int index, std::string_view bytes) {
    return statusOf(
        sqlite3_db_handle(statement_.get()),
        sqlite3_bind_text(statement_.get(), index, bytes.data(), int(bytes.size()), SQLITE_STATIC));
}

SqliteStatus SqliteStatement::bindInteger(int index, std::int64_t value) {
    return statusOf(sqlite3_db_handle(statement_.get()),
                    sqlite3_bind_int64(statement_.get(), index, value));
}

SqliteStep SqliteStatement::step() {
    switch (sqlite3_step(statement_.get())) {
    case SQLITE_ROW:
        return SqliteStep::Row;
    case SQLITE_DONE:
        return SqliteStep::Done;
    default:
        return SqliteStep::Failed;
    }
}

SqliteStatus SqliteStatement::run() {
    SqliteStep stepped;
    while ((stepped = step()) == SqliteStep::Row) {
    }
    return stepped == SqliteStep::Done ? SqliteStatus{} : failure();
}

SqliteStatus SqliteStatement::failure() const {
    sqlite3* db = sqlite3_db_handle(statement_.get());
    return {sqlite3_extended_errcode(db), sqlite3_errmsg(db)};
}

std::string_view SqliteStatement::text(int column) const {
    const auto* bytes =
        reinterpret_cast<const char*>(sqlite3_column_text(statement_.get(), column));
    if (bytes == nullptr)
        return {};
    return {bytes, std::size_t(sqlite3_column_bytes(statement_.get(), column))};
}

bool SqliteStatement::isInteger(int column) const {
    return sqlite3_column_type(statement_.get(), column) == SQLITE_INTEGER;
}

std::int64_t SqliteStatement::integer(int column) const {
    return sqlite3_column_int64(statement_.get(), column);
}

std::string_view SqliteStatement::columnName(int column) const {
    const char* name = sqlite3_column_name(statement_.get(), column);
    return name != nullptr ? std::string_view(name) : std::string_view();
}

void SqliteStatement::reset() {
    sqlite3_reset(statement_.get());
    sqlite3_clear_bindings(statement_.get());
}

SqliteConnection::~SqliteConnection() {
    close();
}

SqliteConnection::SqliteConnection(SqliteConnection&& other) noexcept {
    *this = std::move(other);
}

SqliteConnection& SqliteConnection::operator=(SqliteConnection&& other) noexcept {
    if (this != &other) {
        close();
        db_ = std::exchange(other.db_, nullptr);
        wait_ = other.wait_;
        closedFailure_ = other.closedFailure_;
        // The polling handler reads the wait of the connection object it was given.
        if (db_ != nullptr && wait_.pollEachMillisecond)
            sqlite3_busy_handler(db_, pollForLock, &wait_);
    }
    return *this;
}

SqliteStatus SqliteConnection::open(const std::string& path, int flags, SqliteBusyWait wait) {
    close();
    const int opened = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
    if (opened != SQLITE_OK) {
        SqliteStatus failed = statusOf(db_, opened);
        close();
        closedFailure_ = failed;
        return failed;
    }
    wait_ = wait;
    if (wait_.pollEachMillisecond)
        sqlite3_busy_handler(db_, pollForLock, &wait_);
    else
        sqlite3_busy_timeout(db_, int(wait_.timeout.count()));
    return {};
}

void SqliteConnection::close() {
    sqlite3_close_v2(db_);
    db_ = nullptr;
    closedFailure_ = {};
}

SqliteStatus SqliteConnection::execute(std::string_view sql) {
    if (db_ == nullptr)
        return failure();
    const char* next = sql.data();
    const char* end = next + sql.size();
    while (next < end) {
        sqlite3_stmt* raw = nullptr;
        const char* tail = nullptr;
        const int prepared = sqlite3_prepare_v2(db_, next, int(end - next), &raw, &tail);
        if (prepared != SQLITE_OK)
            return statusOf(db_, prepared);
        next = tail;
        if (raw == nullptr) // only blanks or a comment remained
            continue;
        SqliteStatement statement(raw);
        if (SqliteStatus ran = statement.run(); !ran)
            return ran;
    }
    return {};
}

SqliteStatement SqliteConnection::prepare(std::string_view sql, bool kept) {
    sqlite3_stmt* raw = nullptr;
    if (db_ != nullptr)
        sqlite3_prepare_v3(db_, sql.data(), int(sql.size()), kept ? SQLITE_PREPARE_PERSISTENT : 0,
                           &raw, nullptr);
    return SqliteStatement(raw);
}

std::int64_t SqliteConnection::lastInsertId() const {
    return db_ != nullptr ? sqlite3_last_insert_rowid(db_) : 0;
}

int SqliteConnection::changes() const {
    return db_ != nullptr ? sqlite3_changes(db_) : 0;
}

SqliteStatus SqliteConnection::failure() const {
    if (db_ == nullptr)
        return closedFailure_.ok() ? SqliteStatus{SQLITE_MISUSE, "database not open"}
                                   : closedFailure_;
    return {sqlite3_extended_errcode(db_), sqlite3_errmsg(db_)};
}

SqliteTransaction::SqliteTransaction(SqliteConnection& connection) : connection_(connection) {
    failure_ = connection_.execute("BEGIN IMMEDIATE");
    active_ = failure_.ok();
}

SqliteTransaction::~SqliteTransaction() {
    rollback();
}

SqliteStatus SqliteTransaction::commit() {
    if (!active_)
        return failure_.ok() ? SqliteStatus{SQLITE_MISUSE, "no transaction"} : failure_;
    active_ = false;
    failure_ = connection_.execute("COMMIT");
    // A COMMIT that failed (a reader held the file past the time-out, a full disk) leaves the
    // transaction open.
    if (!failure_)
        static_cast<void>(connection_.execute("ROLLBACK"));
    return failure_;
}

void SqliteTransaction::rollback() {
    if (std::exchange(active_, false))
        static_cast<void>(connection_.execute("ROLLBACK"));
}
