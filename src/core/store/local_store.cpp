#include "core/store/local_store.h"

#include "core/store/data_folder.h"
#include "core/store/store_template.h"
#include "core/support/gbk_codec.h"
#include "core/support/log_categories.h"
#include "core/support/log_sink.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sqlite3.h>

#include <chrono>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

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

const QString kColumnMigration = u"ALTER TABLE main.server_data ADD COLUMN baota_url TEXT;"
                                 u"ALTER TABLE main.server_data ADD COLUMN baota_user TEXT;"
                                 u"ALTER TABLE main.server_data ADD COLUMN baota_pass TEXT;"
                                 u"ALTER TABLE main.server_data ADD COLUMN baota_apikey TEXT;"_s;

// Keeps the duplicate test by address and port an index lookup on long lists.
const QString kAddressIndex =
    u"CREATE INDEX IF NOT EXISTS server_data_address ON server_data (server_ip, server_port)"_s;

const QString kInsertServerHead =
    uR"(INSERT INTO "main"."server_data" ("server_ip", "server_user", "server_pass", "server_port", "sort", "server_class", "remark", "start_time", "end_time", "server_name", "server_system")"_s;

const QString kPanelColumnsTail =
    uR"(, "baota_url", "baota_user", "baota_pass", "baota_apikey") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?))"_s;

const QString kInsertWithPanel = kInsertServerHead + kPanelColumnsTail;

// The duplicate test: the first server with this address and port, on the address index.
const QString kFindByAddress =
    u"SELECT id FROM \"server_data\" WHERE server_ip=? and server_port=? ORDER BY id LIMIT 1"_s;

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
    CachedStatement(LocalStore& store, const QString& sql) : stmt_(store.statement(sql)) {}
    ~CachedStatement() {
        if (stmt_) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        }
    }
    CachedStatement(const CachedStatement&) = delete;
    CachedStatement& operator=(const CachedStatement&) = delete;

    bool isValid() const { return stmt_ != nullptr; }
    sqlite3_stmt* get() const { return stmt_; }

    // The encoded values stay with this use until the bindings are cleared, so SQLite
    // reads them in place instead of copying each.
    bool bind(const QStringList& values) {
        if (sqlite3_bind_parameter_count(stmt_) != values.size())
            return false;
        bound_.reserve(values.size());
        for (int i = 0; i < values.size(); ++i) {
            bound_.append(Gbk::encode(values[i]));
            const QByteArray& bytes = bound_.last();
            if (sqlite3_bind_text(stmt_, i + 1, bytes.constData(), int(bytes.size()),
                                  SQLITE_STATIC) != SQLITE_OK)
                return false;
        }
        return true;
    }

    // Steps through the statement, discarding rows; true when it completes.
    bool run() {
        int rc;
        while ((rc = sqlite3_step(stmt_)) == SQLITE_ROW) {
        }
        return rc == SQLITE_DONE;
    }

    QString text(int column) const {
        const auto* bytes = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, column));
        if (!bytes)
            return {};
        return Gbk::decode(bytes, sqlite3_column_bytes(stmt_, column));
    }

private:
    sqlite3_stmt* stmt_ = nullptr;
    QList<QByteArray> bound_;
};

namespace {

QStringList serverValues(const ServerRecord& s) {
    return {s.ip,     s.user,      s.password, s.port, s.sort,  s.group,
            s.remark, s.startTime, s.endTime,  s.name, s.system};
}

} // namespace

QString StoreRows::value(qsizetype row, const QString& column) const {
    const qsizetype c = columnIndex(column);
    if (row < 0 || row >= rows.size() || c < 0)
        return {};
    return rows[row].value(c);
}

ServerRecord serverRecordFromRow(const StoreRows& r, qsizetype row) {
    auto v = [&](const QString& column) { return r.value(row, column); };
    return {v(u"id"_s),          v(u"server_ip"_s),  v(u"server_user"_s),  v(u"server_pass"_s),
            v(u"server_port"_s), v(u"sort"_s),       v(u"server_class"_s), v(u"remark"_s),
            v(u"start_time"_s),  v(u"end_time"_s),   v(u"server_name"_s),  v(u"server_system"_s),
            v(u"baota_url"_s),   v(u"baota_user"_s), v(u"baota_pass"_s),   v(u"baota_apikey"_s)};
}

GroupRecord groupRecordFromRow(const StoreRows& r, qsizetype row) {
    return {r.value(row, u"id"_s), r.value(row, u"server_class"_s), r.value(row, u"sort"_s)};
}

LocalStore::~LocalStore() {
    close();
}

LocalStore::LocalStore(LocalStore&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), statements_(std::exchange(other.statements_, {})) {}

LocalStore& LocalStore::operator=(LocalStore&& other) noexcept {
    if (this != &other) {
        close();
        db_ = std::exchange(other.db_, nullptr);
        statements_ = std::exchange(other.statements_, {});
    }
    return *this;
}

QString LocalStore::databasePath() {
    return DataFolder::file(u"myserver.db"_s);
}

StoredAccount LocalStore::ensureDatabase() {
    const QString path = databasePath();
    // An empty file is what opening a vanished database leaves behind; it holds nothing, so
    // it is replaced by the template like a missing one, instead of failing every later start.
    const QFileInfo file(path);
    if (!file.exists() || (file.size() == 0 && QFile::remove(path)))
        StoreTemplate::write(path);

    LocalStore store;
    if (!store.open(path))
        return {};
    StoredAccount account = store.readCloudAccount();
    // On a migrated file the first ALTER fails because baota_url exists; that is expected.
    static_cast<void>(store.execute(kColumnMigration));
    // Only speeds up the duplicate test; a file where it cannot be made still works.
    static_cast<void>(store.execute(kAddressIndex));
    return account;
}

bool LocalStore::open(const QString& path) {
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

sqlite3_stmt* LocalStore::statement(const QString& sql) {
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

void LocalStore::close() {
    for (const auto& cached : std::as_const(statements_))
        sqlite3_finalize(cached.second);
    statements_.clear();
    if (db_) {
        sqlite3_close_v2(db_);
        db_ = nullptr;
    }
}

bool LocalStore::execute(const QString& sql) {
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

bool LocalStore::execute(const QString& sql, const QStringList& values) {
    if (!db_)
        return false;
    CachedStatement stmt(*this, sql);
    return stmt.isValid() && stmt.bind(values) && stmt.run();
}

qint64 LocalStore::lastInsertId() const {
    return db_ ? sqlite3_last_insert_rowid(db_) : 0;
}

int LocalStore::changes() const {
    return db_ ? sqlite3_changes(db_) : 0;
}

std::optional<StoreRows> LocalStore::query(const QString& sql, const QStringList& values) {
    if (!db_)
        return std::nullopt;
    CachedStatement stmt(*this, sql);
    if (!stmt.isValid() || !stmt.bind(values))
        return std::nullopt;
    StoreRows result;
    const int columnCount = sqlite3_column_count(stmt.get());
    for (int c = 0; c < columnCount; ++c)
        result.columns << Gbk::decode(QByteArray(sqlite3_column_name(stmt.get(), c)));
    int rc;
    while ((rc = sqlite3_step(stmt.get())) == SQLITE_ROW) {
        QStringList row;
        row.reserve(columnCount);
        for (int c = 0; c < columnCount; ++c)
            row << stmt.text(c);
        result.rows << std::move(row);
    }
    if (rc != SQLITE_DONE) {
        qCWarning(lcStore) << "query failed:" << lastError();
        return std::nullopt;
    }
    return result;
}

std::optional<qint64> LocalStore::findFirst(const QString& table, const QString& condition,
                                            const QStringList& values) {
    const auto rows = query(
        u"SELECT id FROM %1 WHERE %2 ORDER BY id LIMIT 1"_s.arg(quoted(table), condition), values);
    if (!rows || rows->rows.isEmpty())
        return std::nullopt;
    bool ok = false;
    const qint64 id = rows->rows.first().value(0).toLongLong(&ok);
    return ok ? std::optional<qint64>(id) : std::nullopt;
}

QString LocalStore::readColumn(const QString& table, qint64 id, const QString& column) {
    const auto rows = query(u"SELECT %1 FROM %2 WHERE id=?"_s.arg(quoted(column), quoted(table)),
                            {QString::number(id)});
    if (!rows || rows->rows.isEmpty())
        return {};
    return rows->rows.first().value(0);
}

bool LocalStore::updateColumns(const QString& table, qint64 id, const ColumnValues& values) {
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

std::optional<StoreRows> LocalStore::allRows(const QString& table) {
    return query(u"SELECT * FROM %1 ORDER BY id"_s.arg(quoted(table)));
}

bool LocalStore::insertServer(const ServerRecord& s) {
    if (!isSortNumber(s.sort))
        return false;
    ServerRecord server = s;
    server.sort = s.sort.trimmed();
    return execute(kInsertWithPanel,
                   serverValues(server) +
                       QStringList{s.panelUrl, s.panelUser, s.panelPassword, s.panelKey});
}

bool LocalStore::insertBatchServer(const ServerRecord& s, bool withPanelFields) {
    static const QString zero = u"0"_s;
    QStringList values = serverValues(s);
    if (withPanelFields)
        values << s.panelUrl << s.panelUser << s.panelPassword << s.panelKey;
    else
        values << zero << zero << zero << zero;
    return execute(kInsertWithPanel, values);
}

bool LocalStore::insertDownloadedServer(const ServerRecord& s, bool withPanelFields) {
    if (withPanelFields)
        return execute(kInsertServerHead + kPanelColumnsTail,
                       serverValues(s) +
                           QStringList{s.panelUrl, s.panelUser, s.panelPassword, s.panelKey});
    return execute(kInsertServerHead + u") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"_s,
                   serverValues(s));
}

bool LocalStore::overwriteDownloadedServer(const QString& id, const ServerRecord& s,
                                           bool withPanelFields) {
    bool ok = false;
    const qint64 row = id.toLongLong(&ok);
    if (!ok)
        return false;
    ColumnValues values{{u"sort"_s, s.sort},
                        {u"server_user"_s, s.user},
                        {u"server_pass"_s, s.password},
                        {u"server_class"_s, s.group},
                        {u"server_name"_s, s.name},
                        {u"remark"_s, s.remark},
                        {u"start_time"_s, s.startTime},
                        {u"end_time"_s, s.endTime}};
    if (withPanelFields)
        values += {{u"baota_url"_s, s.panelUrl},
                   {u"baota_user"_s, s.panelUser},
                   {u"baota_pass"_s, s.panelPassword},
                   {u"baota_apikey"_s, s.panelKey}};
    return updateColumns(u"server_data"_s, row, values) && changes() == 1;
}

bool LocalStore::insertGroup(const QString& name, const QString& sort) {
    return execute(uR"(INSERT INTO "main"."server_class" ("server_class", "sort") VALUES (?, ?))"_s,
                   {name, sort});
}

QString LocalStore::groupIdByName(const QString& name) {
    const auto id = findFirst(u"server_class"_s, u"server_class=?"_s, {name});
    return id ? QString::number(*id) : QString();
}

std::optional<ServerRecord> LocalStore::loadServer(const QString& id) {
    const auto rows = query(u"SELECT * FROM server_data WHERE id=?"_s, {id});
    if (!rows || rows->rows.isEmpty())
        return std::nullopt;
    return serverRecordFromRow(*rows, 0);
}

bool LocalStore::updateServer(const ServerRecord& s) {
    const auto found = findFirst(u"server_data"_s, u"id=?"_s, {s.id});
    return found && updateColumns(u"server_data"_s, *found,
                                  {{u"server_ip"_s, s.ip},
                                   {u"server_user"_s, s.user},
                                   {u"server_pass"_s, s.password},
                                   {u"server_port"_s, s.port},
                                   {u"sort"_s, s.sort},
                                   {u"server_class"_s, s.group},
                                   {u"remark"_s, s.remark},
                                   {u"start_time"_s, s.startTime},
                                   {u"end_time"_s, s.endTime},
                                   {u"server_name"_s, s.name},
                                   {u"server_system"_s, s.system},
                                   {u"baota_url"_s, s.panelUrl},
                                   {u"baota_user"_s, s.panelUser},
                                   {u"baota_pass"_s, s.panelPassword},
                                   {u"baota_apikey"_s, s.panelKey}});
}

bool LocalStore::deleteServer(const QString& id) {
    return deleteRowById(u"server_data"_s, id);
}

QString LocalStore::serverIdByAddress(const QString& ip, const QString& port) {
    if (!db_)
        return {};
    CachedStatement stmt(*this, kFindByAddress);
    if (!stmt.isValid() || !stmt.bind({ip, port}) || sqlite3_step(stmt.get()) != SQLITE_ROW)
        return {};
    return QString::number(sqlite3_column_int64(stmt.get(), 0));
}

std::optional<QList<GroupRecord>> LocalStore::groups() {
    const auto rows = allRows(u"server_class"_s);
    if (!rows)
        return std::nullopt;
    QList<GroupRecord> result;
    for (qsizetype r = 0; r < rows->rows.size(); ++r)
        result << groupRecordFromRow(*rows, r);
    return result;
}

bool LocalStore::updateGroup(const GroupRecord& group, const QString& name, const QString& sort) {
    StoreTransaction transaction(*this);
    if (!transaction.isActive())
        return false;
    const auto found = findFirst(u"server_class"_s, u"id=?"_s, {group.id});
    return found &&
           updateColumns(u"server_class"_s, *found,
                         {{u"server_class"_s, name}, {u"sort"_s, sort}}) &&
           execute(uR"(UPDATE "main"."server_data" SET "server_class" = ? WHERE server_class=?)"_s,
                   {name, group.name}) &&
           transaction.commit();
}

bool LocalStore::deleteGroup(const QString& id) {
    return deleteRowById(u"server_class"_s, id);
}

bool LocalStore::deleteRowById(const QString& table, const QString& id) {
    const auto found = findFirst(table, u"id=?"_s, {id});
    return found &&
           execute(u"DELETE FROM %1 WHERE id=?"_s.arg(quoted(table)), {QString::number(*found)});
}

QString LocalStore::lastError() const {
    return db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : u"database not open"_s;
}

StoreTransaction::StoreTransaction(LocalStore& store) : store_(store) {
    active_ = store_.execute(u"BEGIN IMMEDIATE"_s);
    if (!active_)
        qCWarning(lcStore) << "no write lock:" << store_.lastError();
}

StoreTransaction::~StoreTransaction() {
    if (active_)
        static_cast<void>(store_.execute(u"ROLLBACK"_s));
}

bool StoreTransaction::commit() {
    if (!active_)
        return false;
    if (store_.execute(u"COMMIT"_s)) {
        active_ = false;
        return true;
    }
    // A COMMIT that failed (a reader held the file past the time-out, a full disk) leaves the
    // transaction open; it is rolled back so the connection is usable and nothing half-written
    // is kept.
    qCWarning(lcStore) << "commit failed:" << store_.lastError();
    static_cast<void>(store_.execute(u"ROLLBACK"_s));
    active_ = false;
    return false;
}

QString SliceOutcome::failureMessage() const {
    if (!began)
        return u"-数据库被占用，无法写入：%1"_s.arg(failure);
    return committed ? QString() : u"-保存到数据库失败：%1"_s.arg(failure);
}

SliceOutcome writeSlice(LocalStore& store, std::chrono::milliseconds budget,
                        const std::function<bool()>& step) {
    SliceOutcome outcome;
    StoreTransaction transaction(store);
    if (!transaction.isActive()) {
        outcome.failure = store.lastError();
        return outcome;
    }
    outcome.began = true;
    QElapsedTimer clock;
    clock.start();
    while (step() && clock.elapsed() < budget.count()) {
    }
    outcome.committed = transaction.commit();
    if (!outcome.committed)
        outcome.failure = store.lastError();
    return outcome;
}

QString findServerByAddress(LocalStore& store, const QString& ip, const QString& port) {
    QString id = store.serverIdByAddress(ip, port);
    LogSink::logLine(u"-S_ID "_s + id);
    return id;
}

bool isSortNumber(const QString& text) {
    static const QRegularExpression number(uR"(^\s*[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?\s*$)"_s);
    return number.match(text).hasMatch();
}

StoredAccount LocalStore::readCloudAccount() {
    StoredAccount account;
    if (const auto id = findFirst(u"server_user"_s, u"id=1"_s)) {
        account.username = readColumn(u"server_user"_s, *id, u"username"_s);
        account.password = readColumn(u"server_user"_s, *id, u"password"_s);
    }
    return account;
}

// The password column is declared INTEGER, so a password bound as text that looks like a
// number ("007", "1.50") would be stored as that number and read back altered. Bound as the
// GBK bytes in a BLOB it keeps every byte and still reads back as the same text.
bool LocalStore::writeCloudAccount(const StoredAccount& account) {
    if (!findFirst(u"server_user"_s, u"id=1"_s))
        return execute(
            u"INSERT INTO server_user (id, username, password) VALUES (1, ?, CAST(? AS BLOB))"_s,
            {account.username, account.password});
    return execute(u"UPDATE server_user SET username=?, password=CAST(? AS BLOB) WHERE id=1"_s,
                   {account.username, account.password});
}

bool LocalStore::writeCloudPassword(const QString& password) {
    if (!findFirst(u"server_user"_s, u"id=1"_s))
        return false;
    return execute(u"UPDATE server_user SET password=CAST(? AS BLOB) WHERE id=1"_s, {password});
}
