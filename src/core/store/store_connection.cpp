#include "core/store/store_connection.h"

#include "core/support/gbk_codec.h"
#include "core/support/log_categories.h"

#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// The texts a column repeats from row to row (a group, an account, a port, a date, the panel
// fields' "0") are read into one shared string each, so a long list holds each such text once
// instead of once per row. Each column shares up to kPerColumn distinct short texts; any other
// text is read on its own.
class SharedTexts {
public:
    explicit SharedTexts(int columns) : columns_(std::size_t(columns)) {}

    QString text(int column, const char* bytes, int size) {
        if (size > kMaxBytes)
            return Gbk::decode(bytes, size);
        Known& known = columns_[std::size_t(column)];
        const std::string_view key(bytes, std::size_t(size));
        if (const auto found = known.find(key); found != known.end())
            return found->second;
        QString text = Gbk::decode(bytes, size);
        if (known.size() < kPerColumn)
            known.emplace(std::string(key), text);
        return text;
    }

private:
    static constexpr int kMaxBytes = 64;
    static constexpr std::size_t kPerColumn = 256;
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept {
            return std::hash<std::string_view>{}(text);
        }
    };
    using Known = std::unordered_map<std::string, QString, Hash, std::equal_to<>>;
    std::vector<Known> columns_;
};

// Workers, the UI thread and other Torvane processes each hold short write transactions; a
// connection waits this long for another's lock before its statement fails.
constexpr auto kBusyTimeout = std::chrono::milliseconds(5000);

// Waits for a locked file in short steps up to the busy time-out. SQLite's own handler backs
// off to 100 ms sleeps; a batch that commits a slice every ~15 ms leaves gaps of a few
// milliseconds, which such sleeps keep missing until the time-out, so a second writer
// starved. Polling every millisecond takes the next gap.
int waitForLock(void* /*unused*/, int attempt) {
    using Clock = std::chrono::steady_clock;
    thread_local Clock::time_point firstAttempt;
    if (attempt == 0)
        firstAttempt = Clock::now();
    if (Clock::now() - firstAttempt >= kBusyTimeout)
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return 1;
}

QString quoted(const QString& identifier) {
    return u'"' + QString(identifier).replace(u'"', u"\"\""_s) + u'"';
}

// Statements kept per connection; more distinct statements than this means ad-hoc SQL, and
// the cache starts afresh rather than grow.
constexpr qsizetype kMaxCachedStatements = 32;

} // namespace

// One use of a connection's cached statement: bound, stepped, and reset when it goes out of
// scope, so it holds no lock and no values once the use is over.
class CachedStatement {
public:
    CachedStatement(StoreConnection& connection, const QString& sql, const QStringList& values)
        : stmt_(connection.statement(sql)) {
        bound_ = stmt_ && bind(values);
    }
    ~CachedStatement() {
        if (stmt_) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        }
    }
    CachedStatement(const CachedStatement&) = delete;
    CachedStatement& operator=(const CachedStatement&) = delete;

    // False when the connection is closed, the statement does not prepare or the values do
    // not fit its placeholders.
    bool isValid() const { return bound_; }
    sqlite3_stmt* get() const { return stmt_; }

    // Steps through the statement, discarding rows; true when it completes.
    bool run() {
        int rc;
        while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
        }
        return rc == SQLITE_DONE;
    }

    QString text(int column, SharedTexts& shared) const {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        if (!bytes)
            return {};
        return shared.text(column, bytes, sqlite3_column_bytes(stmt_, column));
    }

private:
    // The encoded values stay with this use until the bindings are cleared, so SQLite
    // reads them in place instead of copying each.
    bool bind(const QStringList& values) {
        if (sqlite3_bind_parameter_count(stmt_) != values.size())
            return false;
        values_.reserve(values.size());
        for (int i = 0; i < values.size(); ++i) {
            values_.append(Gbk::encode(values[i]));
            const QByteArray& bytes = values_.last();
            if (sqlite3_bind_text(stmt_, i + 1, bytes.constData(), int(bytes.size()),
                                  SQLITE_STATIC) != SQLITE_OK)
                return false;
        }
        return true;
    }

    sqlite3_stmt* stmt_ = nullptr;
    bool bound_ = false;
    QList<QByteArray> values_;
};

QString StoreRows::value(qsizetype row, const QString& column) const {
    const qsizetype c = columnIndex(column);
    if (row < 0 || row >= rows.size() || c < 0)
        return {};
    return rows[row].value(c);
}

StoreConnection::~StoreConnection() {
    close();
}

StoreConnection::StoreConnection(StoreConnection&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), statements_(std::exchange(other.statements_, {})) {}

StoreConnection& StoreConnection::operator=(StoreConnection&& other) noexcept {
    if (this != &other) {
        close();
        db_ = std::exchange(other.db_, nullptr);
        statements_ = std::exchange(other.statements_, {});
    }
    return *this;
}

bool StoreConnection::open(const QString& path) {
    close();
    const QByteArray file = path.toUtf8();
    if (sqlite3_open_v2(file.constData(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE,
                        nullptr) != SQLITE_OK) {
        qCWarning(lcStore) << "cannot open" << path << ":" << lastError();
        close();
        return false;
    }
    sqlite3_busy_handler(db_, waitForLock, nullptr);
    return true;
}

sqlite3_stmt* StoreConnection::statement(const QString& sql) {
    if (!db_)
        return nullptr;
    for (const auto& [text, stmt] : std::as_const(statements_))
        if (text == sql)
            return stmt;
    if (statements_.size() >= kMaxCachedStatements) {
        for (const auto& cached : std::as_const(statements_))
            sqlite3_finalize(cached.second);
        statements_.clear();
    }
    const QByteArray bytes = Gbk::encode(sql);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db_, bytes.constData(), int(bytes.size()), &stmt, nullptr);
    if (stmt)
        statements_.append({sql, stmt});
    return stmt;
}

void StoreConnection::close() {
    for (const auto& cached : std::as_const(statements_))
        sqlite3_finalize(cached.second);
    statements_.clear();
    if (db_) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

bool StoreConnection::execute(const QString& sql) {
    if (!db_)
        return false;
    const QByteArray bytes = Gbk::encode(sql);
    const char* next = bytes.constData();
    const char* end = next + bytes.size();
    while (next < end) {
        sqlite3_stmt* raw = nullptr;
        const char* tail = nullptr;
        if (sqlite3_prepare_v2(db_, next, int(end - next), &raw, &tail) != SQLITE_OK)
            return false;
        next = tail;
        if (!raw) // only blanks or a comment remained
            continue;
        int rc;
        while ((rc = sqlite3_step(raw)) == SQLITE_ROW) {
        }
        sqlite3_finalize(raw);
        if (rc != SQLITE_DONE)
            return false;
    }
    return true;
}

bool StoreConnection::execute(const QString& sql, const QStringList& values) {
    CachedStatement stmt(*this, sql, values);
    return stmt.isValid() && stmt.run();
}

qint64 StoreConnection::lastInsertId() const {
    return db_ ? sqlite3_last_insert_rowid(db_) : 0;
}

int StoreConnection::changes() const {
    return db_ ? sqlite3_changes(db_) : 0;
}

std::optional<StoreRows> StoreConnection::query(const QString& sql, const QStringList& values) {
    CachedStatement stmt(*this, sql, values);
    if (!stmt.isValid())
        return std::nullopt;
    StoreRows result;
    const int columnCount = sqlite3_column_count(stmt.get());
    for (int c = 0; c < columnCount; ++c)
        result.columns << Gbk::decode(QByteArray(sqlite3_column_name(stmt.get(), c)));
    SharedTexts shared(columnCount);
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        QStringList row;
        row.reserve(columnCount);
        for (int c = 0; c < columnCount; ++c)
            row << stmt.text(c, shared);
        result.rows << std::move(row);
    }
    if (rc != SQLITE_DONE) {
        qCWarning(lcStore) << "query failed:" << lastError();
        return std::nullopt;
    }
    return result;
}

std::optional<qint64> StoreConnection::queryId(const QString& sql, const QStringList& values) {
    CachedStatement stmt(*this, sql, values);
    if (!stmt.isValid())
        return std::nullopt;
    const int rc = sqlite3_step(stmt.get());
    if (rc != SQLITE_ROW) {
        if (rc != SQLITE_DONE)
            qCWarning(lcStore) << "query failed:" << lastError();
        return std::nullopt;
    }
    if (sqlite3_column_type(stmt.get(), 0) != SQLITE_INTEGER)
        return std::nullopt;
    return sqlite3_column_int64(stmt.get(), 0);
}

std::optional<qint64> StoreConnection::findFirst(const QString& table, const QString& condition,
                                                 const QStringList& values) {
    return queryId(
        u"SELECT id FROM %1 WHERE %2 ORDER BY id LIMIT 1"_s.arg(quoted(table), condition), values);
}

QString StoreConnection::readColumn(const QString& table, qint64 id, const QString& column) {
    const auto rows = query(u"SELECT %1 FROM %2 WHERE id=?"_s.arg(quoted(column), quoted(table)),
                            {QString::number(id)});
    if (!rows || rows->rows.isEmpty())
        return {};
    return rows->rows.first().value(0);
}

bool StoreConnection::updateColumns(const QString& table, qint64 id, const ColumnValues& values) {
    if (values.isEmpty())
        return true;
    QStringList assignments;
    QStringList bound;
    for (const auto& [column, value] : values) {
        assignments << quoted(column) + u"=?"_s;
        bound << value;
    }
    bound << QString::number(id);
    return execute(u"UPDATE %1 SET %2 WHERE id=?"_s.arg(quoted(table), assignments.join(u", "_s)),
                   bound);
}

std::optional<StoreRows> StoreConnection::allRows(const QString& table) {
    return query(u"SELECT * FROM %1 ORDER BY id"_s.arg(quoted(table)));
}

QString StoreConnection::lastError() const {
    return db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : u"database not open"_s;
}

StoreTransaction::StoreTransaction(StoreConnection& connection) : connection_(connection) {
    active_ = connection_.execute(u"BEGIN IMMEDIATE"_s);
    if (!active_) {
        failure_ = connection_.lastError();
        qCWarning(lcStore) << "no write lock:" << failure_;
    }
}

StoreTransaction::~StoreTransaction() {
    if (active_)
        static_cast<void>(connection_.execute(u"ROLLBACK"_s));
}

bool StoreTransaction::commit() {
    if (!active_)
        return false;
    if (connection_.execute(u"COMMIT"_s)) {
        active_ = false;
        return true;
    }
    // A COMMIT that failed (a reader held the file past the time-out, a full disk) leaves the
    // transaction open; it is rolled back so the connection is usable and nothing half-written
    // is kept.
    failure_ = connection_.lastError();
    qCWarning(lcStore) << "commit failed:" << failure_;
    static_cast<void>(connection_.execute(u"ROLLBACK"_s));
    active_ = false;
    return false;
}
