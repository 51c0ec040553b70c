#include "core/store/store_connection.h"

#include "core/codec/gbk_codec.h"
#include "core/store/repeated_texts.h"
#include "core/support/log_categories.h"

#include <sqlite3.h>

#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Workers, the UI thread and other Torvane processes each hold short write transactions; a
// connection waits this long for another's lock before its statement fails, trying again every
// millisecond: a batch that commits a slice every ~15 ms leaves gaps of a few milliseconds,
// which SQLite's own sleeps (growing to 100 ms) keep missing until the time-out, so a second
// writer starved.
constexpr SqliteBusyWait kBusyWait{std::chrono::milliseconds(5000), true};

QString quoted(const QString& identifier) {
    return u'"' + QString(identifier).replace(u'"', u"\"\""_s) + u'"';
}

// Statements kept per connection; more distinct statements than this means ad-hoc SQL, and
// the cache starts afresh rather than grow.
constexpr std::size_t kMaxCachedStatements = 32;

QString decoded(std::string_view bytes) {
    return Gbk::decode(bytes.data(), qsizetype(bytes.size()));
}

// The texts a column repeats from row to row are read into one shared string each (see
// repeated_texts.h), looked up by their bytes before they are decoded; any other text is read
// on its own.
class SharedTexts {
public:
    explicit SharedTexts(int columns) : columns_(std::size_t(columns)) {}

    QString text(int column, std::string_view key) {
        if (qsizetype(key.size()) > RepeatedTexts::kMaxLength)
            return decoded(key);
        Known& known = columns_[std::size_t(column)];
        if (const auto found = known.find(key); found != known.end())
            return found->second;
        QString text = decoded(key);
        if (qsizetype(known.size()) < RepeatedTexts::kPerColumn)
            known.emplace(std::string(key), text);
        return text;
    }

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const noexcept {
            return std::hash<std::string_view>{}(text);
        }
    };
    using Known = std::unordered_map<std::string, QString, Hash, std::equal_to<>>;
    std::vector<Known> columns_;
};

} // namespace

// One use of a connection's cached statement: bound, stepped, and reset when it goes out of
// scope, so it holds no lock and no values once the use is over.
class CachedStatement {
public:
    CachedStatement(StoreConnection& connection, const QString& sql, const QStringList& values)
        : stmt_(connection.statement(sql)) {
        if (stmt_ != nullptr) {
            use_.emplace(*stmt_);
            bound_ = bind(values);
        }
    }
    CachedStatement(const CachedStatement&) = delete;
    CachedStatement& operator=(const CachedStatement&) = delete;

    // False when the connection is closed, the statement does not prepare or the values do
    // not fit its placeholders.
    bool isValid() const { return bound_; }
    SqliteStatement& get() const { return *stmt_; }

    QString text(int column, SharedTexts& shared) const {
        return shared.text(column, stmt_->text(column));
    }

private:
    // The encoded values stay with this use until the bindings are cleared, so SQLite
    // reads them in place instead of copying each.
    bool bind(const QStringList& values) {
        if (stmt_->parameterCount() != values.size())
            return false;
        values_.reserve(values.size());
        for (int i = 0; i < values.size(); ++i) {
            values_.append(Gbk::encode(values[i]));
            const QByteArray& bytes = values_.last();
            if (!stmt_->bindText(i + 1, std::string_view(bytes.constData(), bytes.size())))
                return false;
        }
        return true;
    }

    SqliteStatement* stmt_ = nullptr;
    bool bound_ = false;
    QList<QByteArray> values_;
    // Declared last: the statement is reset before the values it reads go away.
    std::optional<SqliteStatementUse> use_;
};

QString StoreRows::value(qsizetype row, const QString& column) const {
    const qsizetype c = columnIndex(column);
    if (row < 0 || row >= rows.size() || c < 0)
        return {};
    return rows[row].value(c);
}

StoreConnection& StoreConnection::operator=(StoreConnection&& other) noexcept {
    if (this != &other) {
        close();
        connection_ = std::move(other.connection_);
        statements_ = std::move(other.statements_);
    }
    return *this;
}

bool StoreConnection::open(const QString& path) {
    close();
    const SqliteStatus opened =
        connection_.open(path.toStdString(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, kBusyWait);
    if (!opened) {
        qCWarning(lcStore) << "cannot open" << path << ":" << QString::fromUtf8(opened.message);
        return false;
    }
    return true;
}

SqliteStatement* StoreConnection::statement(const QString& sql) {
    if (!isOpen())
        return nullptr;
    for (auto& [text, stmt] : statements_)
        if (text == sql)
            return &stmt;
    if (statements_.size() >= kMaxCachedStatements)
        statements_.clear();
    const QByteArray bytes = Gbk::encode(sql);
    SqliteStatement stmt = connection_.prepare(std::string_view(bytes.constData(), bytes.size()));
    if (!stmt.isValid())
        return nullptr;
    return &statements_.emplace_back(sql, std::move(stmt)).second;
}

void StoreConnection::close() {
    statements_.clear();
    connection_.close();
}

bool StoreConnection::execute(const QString& sql) {
    const QByteArray bytes = Gbk::encode(sql);
    return connection_.execute(std::string_view(bytes.constData(), bytes.size())).ok();
}

bool StoreConnection::execute(const QString& sql, const QStringList& values) {
    CachedStatement stmt(*this, sql, values);
    return stmt.isValid() && stmt.get().run().ok();
}

qint64 StoreConnection::lastInsertId() const {
    return connection_.lastInsertId();
}

int StoreConnection::changes() const {
    return connection_.changes();
}

std::optional<StoreRows> StoreConnection::query(const QString& sql, const QStringList& values) {
    StoreRows result;
    if (!forEachRow(sql, values, result.columns,
                    [&](QStringList&& row) { result.rows << std::move(row); }))
        return std::nullopt;
    return result;
}

bool StoreConnection::forEachRow(const QString& sql, const QStringList& values,
                                 QStringList& columns,
                                 const std::function<void(QStringList&& row)>& take) {
    CachedStatement stmt(*this, sql, values);
    if (!stmt.isValid())
        return false;
    const int columnCount = stmt.get().columnCount();
    columns.clear();
    for (int c = 0; c < columnCount; ++c)
        columns << decoded(stmt.get().columnName(c));
    SharedTexts shared(columnCount);
    SqliteStep stepped;
    while ((stepped = stmt.get().step()) == SqliteStep::Row) {
        QStringList row;
        row.reserve(columnCount);
        for (int c = 0; c < columnCount; ++c)
            row << stmt.text(c, shared);
        take(std::move(row));
    }
    if (stepped != SqliteStep::Done) {
        qCWarning(lcStore) << "query failed:" << lastError();
        return false;
    }
    return true;
}

std::optional<qint64> StoreConnection::queryId(const QString& sql, const QStringList& values) {
    CachedStatement stmt(*this, sql, values);
    if (!stmt.isValid())
        return std::nullopt;
    const SqliteStep stepped = stmt.get().step();
    if (stepped != SqliteStep::Row) {
        if (stepped == SqliteStep::Failed)
            qCWarning(lcStore) << "query failed:" << lastError();
        return std::nullopt;
    }
    if (!stmt.get().isInteger(0))
        return std::nullopt;
    return stmt.get().integer(0);
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
    return QString::fromUtf8(connection_.failure().message);
}

StoreTransaction::StoreTransaction(StoreConnection& connection)
    : transaction_(connection.connection_) {
    if (!transaction_.isActive())
        qCWarning(lcStore) << "no write lock:" << failure();
}

bool StoreTransaction::commit() {
    if (!transaction_.isActive())
        return false;
    if (transaction_.commit())
        return true;
    qCWarning(lcStore) << "commit failed:" << failure();
    return false;
}
