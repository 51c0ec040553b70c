#include "core/store/local_store.h"

#include "core/store/store_connection.h"
#include "core/store/store_template.h"
#include "core/support/log_sink.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <sqlite3.h>

#include <array>

using namespace Qt::StringLiterals;

namespace {

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

QStringList serverValues(const ServerRecord& s) {
    return {s.ip,     s.user,      s.password, s.port, s.sort,  s.group,
            s.remark, s.startTime, s.endTime,  s.name, s.system};
}

// Where each field of a server record sits in the rows of a query, found once for all rows; a
// column the query lacks (a file not yet migrated has no panel columns) reads as empty.
class ServerColumns {
public:
    explicit ServerColumns(const QStringList& columns) {
        static const std::array<QString, 16> kNames = {
            u"id"_s,          u"server_ip"_s,  u"server_user"_s,  u"server_pass"_s,
            u"server_port"_s, u"sort"_s,       u"server_class"_s, u"remark"_s,
            u"start_time"_s,  u"end_time"_s,   u"server_name"_s,  u"server_system"_s,
            u"baota_url"_s,   u"baota_user"_s, u"baota_pass"_s,   u"baota_apikey"_s};
        for (size_t k = 0; k < kNames.size(); ++k)
            at_[k] = columns.indexOf(kNames[k]);
    }

    ServerRecord record(const QStringList& row) const {
        auto v = [&](size_t field) { return at_[field] < 0 ? QString() : row.value(at_[field]); };
        return {v(0), v(1), v(2),  v(3),  v(4),  v(5),  v(6),  v(7),
                v(8), v(9), v(10), v(11), v(12), v(13), v(14), v(15)};
    }

private:
    std::array<qsizetype, 16> at_{};
};

} // namespace

ServerRecord serverRecordFromRow(const StoreRows& r, qsizetype row) {
    if (row < 0 || row >= r.rows.size())
        return {};
    return ServerColumns(r.columns).record(r.rows[row]);
}

bool forEachServerRecord(StoreConnection& connection, const QString& sql, const QStringList& values,
                         const std::function<void(ServerRecord&& record)>& take) {
    QStringList columns;
    std::optional<ServerColumns> fields;
    return connection.forEachRow(sql, values, columns, [&](QStringList&& row) {
        if (!fields)
            fields.emplace(columns);
        take(fields->record(row));
    });
}

GroupRecord groupRecordFromRow(const StoreRows& r, qsizetype row) {
    return {r.value(row, u"id"_s), r.value(row, u"server_class"_s), r.value(row, u"sort"_s)};
}

LocalStore::LocalStore() : connection_(std::make_unique<StoreConnection>()) {}

LocalStore::~LocalStore() = default;

StoredAccount LocalStore::ensureDatabase(const QString& path) {
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
    static_cast<void>(store.connection_->execute(kColumnMigration));
    // Only speeds up the duplicate test; a file where it cannot be made still works.
    static_cast<void>(store.connection_->execute(kAddressIndex));
    return account;
}

bool LocalStore::open(const QString& path) {
    return connection_->open(path);
}

bool LocalStore::isOpen() const {
    return connection_->isOpen();
}

void LocalStore::close() {
    connection_->close();
}

std::optional<qint64> LocalStore::insertServer(const ServerRecord& s) {
    if (!isSortNumber(s.sort))
        return std::nullopt;
    ServerRecord server = s;
    server.sort = s.sort.trimmed();
    if (!connection_->execute(kInsertWithPanel,
                              serverValues(server) + QStringList{s.panelUrl, s.panelUser,
                                                                 s.panelPassword, s.panelKey}))
        return std::nullopt;
    return connection_->lastInsertId();
}

bool LocalStore::insertBatchServer(const ServerRecord& s, bool withPanelFields) {
    static const QString zero = u"0"_s;
    QStringList values = serverValues(s);
    if (withPanelFields)
        values << s.panelUrl << s.panelUser << s.panelPassword << s.panelKey;
    else
        values << zero << zero << zero << zero;
    return connection_->execute(kInsertWithPanel, values);
}

bool LocalStore::insertDownloadedServer(const ServerRecord& s, bool withPanelFields) {
    if (withPanelFields)
        return connection_->execute(
            kInsertServerHead + kPanelColumnsTail,
            serverValues(s) + QStringList{s.panelUrl, s.panelUser, s.panelPassword, s.panelKey});
    return connection_->execute(kInsertServerHead + u") VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"_s,
                                serverValues(s));
}

bool LocalStore::overwriteDownloadedServer(const QString& id, const ServerRecord& s,
                                           bool withPanelFields) {
    bool ok = false;
    const qint64 row = id.toLongLong(&ok);
    if (!ok)
        return false;
    StoreConnection::ColumnValues values{{u"sort"_s, s.sort},
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
    return connection_->updateColumns(u"server_data"_s, row, values) && connection_->changes() == 1;
}

bool LocalStore::insertGroup(const QString& name, const QString& sort) {
    return connection_->execute(
        uR"(INSERT INTO "main"."server_class" ("server_class", "sort") VALUES (?, ?))"_s,
        {name, sort});
}

QString LocalStore::groupIdByName(const QString& name) {
    const auto id = connection_->findFirst(u"server_class"_s, u"server_class=?"_s, {name});
    return id ? QString::number(*id) : QString();
}

std::optional<ServerRecord> LocalStore::loadServer(const QString& id) {
    const auto rows = connection_->query(u"SELECT * FROM server_data WHERE id=?"_s, {id});
    if (!rows || rows->rows.isEmpty())
        return std::nullopt;
    return serverRecordFromRow(*rows, 0);
}

bool LocalStore::updateServer(const ServerRecord& s) {
    const auto found = connection_->findFirst(u"server_data"_s, u"id=?"_s, {s.id});
    return found && connection_->updateColumns(u"server_data"_s, *found,
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
    const auto id = connection_->queryId(kFindByAddress, {ip, port});
    return id ? QString::number(*id) : QString();
}

std::optional<QList<GroupRecord>> LocalStore::groups() {
    const auto rows = connection_->allRows(u"server_class"_s);
    if (!rows)
        return std::nullopt;
    QList<GroupRecord> result;
    for (qsizetype r = 0; r < rows->rows.size(); ++r)
        result << groupRecordFromRow(*rows, r);
    return result;
}

bool LocalStore::updateGroup(const GroupRecord& group, const QString& name, const QString& sort) {
    StoreTransaction transaction(*connection_);
    if (!transaction.isActive())
        return false;
    const auto found = connection_->findFirst(u"server_class"_s, u"id=?"_s, {group.id});
    return found &&
           connection_->updateColumns(u"server_class"_s, *found,
                                      {{u"server_class"_s, name}, {u"sort"_s, sort}}) &&
           connection_->execute(
               uR"(UPDATE "main"."server_data" SET "server_class" = ? WHERE server_class=?)"_s,
               {name, group.name}) &&
           transaction.commit();
}

bool LocalStore::deleteGroup(const QString& id) {
    return deleteRowById(u"server_class"_s, id);
}

// `table` is one of the store's own table names, which need no escaping.
bool LocalStore::deleteRowById(const QString& table, const QString& id) {
    const auto found = connection_->findFirst(table, u"id=?"_s, {id});
    return found && connection_->execute(u"DELETE FROM \"%1\" WHERE id=?"_s.arg(table),
                                         {QString::number(*found)});
}

QString LocalStore::lastError() const {
    return connection_->lastError();
}

bool LocalStore::isBusy() const {
    return isBusyFailure(lastError());
}

bool isBusyFailure(const QString& failure) {
    static const QString busy = QString::fromUtf8(sqlite3_errstr(SQLITE_BUSY));
    return failure == busy;
}

QString SliceOutcome::failureMessage() const {
    if (!began)
        return u"-%1，无法写入：%2"_s.arg(kStoreBusyText, failure);
    return committed ? QString() : u"-保存到数据库失败：%1"_s.arg(failure);
}

SliceOutcome writeSlice(LocalStore& store, std::chrono::milliseconds budget,
                        const std::function<bool()>& step) {
    SliceOutcome outcome;
    StoreTransaction transaction(store.connection());
    if (!transaction.isActive()) {
        outcome.failure = transaction.failure();
        outcome.busy = isBusyFailure(outcome.failure);
        return outcome;
    }
    outcome.began = true;
    QElapsedTimer clock;
    clock.start();
    while (step() && clock.elapsed() < budget.count()) {
    }
    outcome.committed = transaction.commit();
    outcome.failure = transaction.failure();
    return outcome;
}

QString findServerByAddress(LocalStore& store, const QString& ip, const QString& port,
                            const LogSink& log) {
    QString id = store.serverIdByAddress(ip, port);
    log.logLine(u"-S_ID "_s + id);
    return id;
}

bool isSortNumber(const QString& text) {
    static const QRegularExpression number(uR"(^\s*[+-]?(\d+(\.\d*)?|\.\d+)([eE][+-]?\d+)?\s*$)"_s);
    return number.match(text).hasMatch();
}

StoredAccount LocalStore::readCloudAccount() {
    StoredAccount account;
    if (const auto id = connection_->findFirst(u"server_user"_s, u"id=1"_s)) {
        account.username = connection_->readColumn(u"server_user"_s, *id, u"username"_s);
        account.password = connection_->readColumn(u"server_user"_s, *id, u"password"_s);
    }
    return account;
}

// The password column is declared INTEGER, so a password bound as text that looks like a
// number ("007", "1.50") would be stored as that number and read back altered. Bound as the
// GBK bytes in a BLOB it keeps every byte and still reads back as the same text.
bool LocalStore::writeCloudAccount(const StoredAccount& account) {
    if (!connection_->findFirst(u"server_user"_s, u"id=1"_s))
        return connection_->execute(
            u"INSERT INTO server_user (id, username, password) VALUES (1, ?, CAST(? AS BLOB))"_s,
            {account.username, account.password});
    return connection_->execute(
        u"UPDATE server_user SET username=?, password=CAST(? AS BLOB) WHERE id=1"_s,
        {account.username, account.password});
}

bool LocalStore::writeCloudPassword(const QString& password) {
    if (!connection_->findFirst(u"server_user"_s, u"id=1"_s))
        return false;
    return connection_->execute(u"UPDATE server_user SET password=CAST(? AS BLOB) WHERE id=1"_s,
                                {password});
}
