// myserver.db through LocalStore and its StoreConnection: the template and its migration, GBK
// bytes in text columns, column affinities, values that look like SQL, the insert paths and the
// connection's row helpers.
//
// What the file holds is checked with the SQLite C API directly, apart from the code under
// test; such checks select only ASCII results (hex(), typeof(), pragmas).

#include "core/app_context.h"
#include "core/codec/gbk_codec.h"
#include "core/store/data_folder.h"
#include "core/store/local_store.h"
#include "core/store/store_connection.h"
#include "core/support/log_sink.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <atomic>
#include <memory>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

constexpr QFileDevice::Permissions kOthersAndGroup =
    QFileDevice::ReadGroup | QFileDevice::WriteGroup | QFileDevice::ExeGroup |
    QFileDevice::ReadOther | QFileDevice::WriteOther | QFileDevice::ExeOther;

// Rows of one statement run on a connection of its own; NULL reads as "NULL".
QList<QStringList> rawRows(const QString& path, const QString& sql) {
    QList<QStringList> rows;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr) !=
        SQLITE_OK) {
        sqlite3_close(db);
        return rows;
    }
    sqlite3_stmt* stmt = nullptr;
    const QByteArray text = sql.toUtf8();
    if (sqlite3_prepare_v2(db, text.constData(), int(text.size()), &stmt, nullptr) == SQLITE_OK) {
        while (sqlite3_step(stmt) == SQLITE_ROW) {
            QStringList row;
            for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
                const auto* value = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
                row << (value ? QString::fromLatin1(value) : u"NULL"_s);
            }
            rows << row;
        }
    }
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return rows;
}

QString rawValue(const QString& path, const QString& sql) {
    return rawRows(path, sql).value(0).value(0);
}

ServerRecord sampleServer(const QString& ip = u"192.0.2.10"_s, const QString& port = u"22"_s) {
    ServerRecord s;
    s.ip = ip;
    s.user = u"root"_s;
    s.password = u"pw"_s;
    s.port = port;
    s.sort = u"50"_s;
    s.group = u"默认分组"_s;
    s.remark = u"note"_s;
    s.startTime = u"2024-01-01"_s;
    s.endTime = u"2025-01-01"_s;
    s.name = u"web"_s;
    s.system = u"Linux"_s;
    s.panelUrl = u"http://192.0.2.10:8888"_s;
    s.panelUser = u"admin"_s;
    s.panelPassword = u"secret"_s;
    s.panelKey = u"key"_s;
    return s;
}

ServerRecord serverById(StoreConnection& db, qint64 id) {
    const auto rows = db.query(u"SELECT * FROM server_data WHERE id=?"_s, {QString::number(id)});
    return rows && !rows->rows.isEmpty() ? serverRecordFromRow(*rows, 0) : ServerRecord();
}

QStringList rowById(StoreConnection& db, qint64 id) {
    const auto rows = db.query(u"SELECT * FROM server_data WHERE id=?"_s, {QString::number(id)});
    return rows ? rows->rows.value(0) : QStringList();
}

QStringList columnOf(const std::optional<StoreRows>& rows, const QString& column) {
    QStringList values;
    if (rows)
        for (qsizetype r = 0; r < rows->rows.size(); ++r)
            values << rows->value(r, column);
    return values;
}

} // namespace

class TestLocalStore : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void newFileFollowsTemplate_data();
    void newFileFollowsTemplate();
    void newFileContent();
    void secondStartKeepsColumnsAndReadsAccount();
    void emptyFileIsReplacedByTemplate();
    void duplicateLookupUsesAddressIndex();
    void textColumnsHoldGbkBytes();
    void groupNameWithLeadingZeros();
    void valuesThatLookLikeSqlAreStoredExactly_data();
    void valuesThatLookLikeSqlAreStoredExactly();
    void findServerByAddress_data();
    void findServerByAddress();
    void sortKeyMustBeNumber_data();
    void sortKeyMustBeNumber();
    void panelColumnsPerInsertPath_data();
    void panelColumnsPerInsertPath();
    void executeStopsAtFirstFailure_data();
    void executeStopsAtFirstFailure();
    void rowHelpers();
    void groupUpdateIsAllOrNothing();
    void programFolderKeepsDataOnlyWhenPortable();
    void createdDataFolderIsPrivate();
    void writerWaitsForAnotherWriter();
    void reusedStatementsHoldNothingBetweenUses();
    void cloudAccountKeepsItsTexts_data();
    void cloudAccountKeepsItsTexts();
    void cloudAccountLogoutAndMissingRow();

private:
    std::unique_ptr<QTemporaryDir> home_;
    QString db_; // the test's myserver.db
};

void TestLocalStore::init() {
    home_ = std::make_unique<QTemporaryDir>();
    QVERIFY(home_->isValid());
    db_ = QDir(home_->path()).filePath(u"myserver.db"_s);
}

void TestLocalStore::cleanup() {
    home_.reset();
}

// One row per table: its columns as PRAGMA table_info gives them, "name type notnull pk".
void TestLocalStore::newFileFollowsTemplate_data() {
    QTest::addColumn<QString>("table");
    QTest::addColumn<QStringList>("columns");

    QTest::newRow("server_data") << u"server_data"_s
                                 << QStringList{
                                        u"id INTEGER 1 1"_s,           u"server_ip TEXT 0 0"_s,
                                        u"server_user TEXT 0 0"_s,     u"server_pass TEXT 0 0"_s,
                                        u"server_port TEXT 0 0"_s,     u"sort INTEGER 0 0"_s,
                                        u"server_class INTEGER 0 0"_s, u"remark TEXT 0 0"_s,
                                        u"start_time TEXT 0 0"_s,      u"end_time TEXT 0 0"_s,
                                        u"server_name TEXT 0 0"_s,     u"server_system TEXT 0 0"_s,
                                        u"baota_url TEXT 0 0"_s,       u"baota_user TEXT 0 0"_s,
                                        u"baota_pass TEXT 0 0"_s,      u"baota_apikey TEXT 0 0"_s};
    QTest::newRow("server_class") << u"server_class"_s
                                  << QStringList{u"id INTEGER 1 1"_s, u"server_class TEXT 0 0"_s,
                                                 u"sort INTEGER 0 0"_s};
    QTest::newRow("server_user") << u"server_user"_s
                                 << QStringList{u"id INTEGER 0 0"_s, u"username TEXT 0 0"_s,
                                                u"password INTEGER 0 0"_s};
}

void TestLocalStore::newFileFollowsTemplate() {
    QFETCH(QString, table);
    QFETCH(QStringList, columns);

    LocalStore::ensureDatabase(db_);
    QStringList actual;
    for (const QStringList& row : rawRows(
             db_, u"SELECT name, type, \"notnull\", pk FROM pragma_table_info('%1')"_s.arg(table)))
        actual << row.join(u' ');
    QCOMPARE(actual, columns);
}

void TestLocalStore::newFileContent() {
    const StoredAccount account = LocalStore::ensureDatabase(db_);
    QVERIFY(account.username.isEmpty());
    QVERIFY(account.password.isEmpty());

    // The template is built beside the file and renamed: nothing else is left behind.
    QCOMPARE(QDir(home_->path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{u"myserver.db"_s});

    QCOMPARE(rawValue(db_, u"PRAGMA page_size"_s), u"1024"_s);
    QCOMPARE(rawRows(db_, u"SELECT id, hex(server_class), sort FROM server_class"_s),
             (QList<QStringList>{{u"4"_s, u"C4ACC8CFB7D6D7E9"_s, u"50"_s}}));
    QCOMPARE(rawRows(db_, u"SELECT id, typeof(username), typeof(password) FROM server_user"_s),
             (QList<QStringList>{{u"1"_s, u"null"_s, u"null"_s}}));
    QCOMPARE(rawRows(db_, u"SELECT name, seq FROM sqlite_sequence ORDER BY name"_s),
             (QList<QStringList>{{u"server_class"_s, u"4"_s}, {u"server_data"_s, u"5"_s}}));
    QCOMPARE(rawValue(db_, u"SELECT count(*) FROM server_data"_s), u"0"_s);

    // The counters survive a deleted last row, as AUTOINCREMENT keeps them.
    LocalStore store;
    QVERIFY(store.open(db_));
    QCOMPARE(store.insertServer(sampleServer()).value_or(-1), qint64(6));
    QVERIFY(store.insertGroup(u"生产"_s, u"60"_s));
    QCOMPARE(store.connection().lastInsertId(), qint64(5));
    QVERIFY(store.deleteServer(u"6"_s));
    QCOMPARE(store.insertServer(sampleServer()).value_or(-1), qint64(7));
}

void TestLocalStore::secondStartKeepsColumnsAndReadsAccount() {
    LocalStore::ensureDatabase(db_);
    {
        LocalStore store;
        QVERIFY(store.open(db_));
        StoreConnection& db = store.connection();
        QVERIFY(store.insertServer(sampleServer()));
        QVERIFY(db.updateColumns(u"server_user"_s, 1,
                                 {{u"username"_s, u"用户a"_s}, {u"password"_s, u"s3cret"_s}}));
    }

    const StoredAccount account = LocalStore::ensureDatabase(db_);
    QCOMPARE(account.username, u"用户a"_s);
    QCOMPARE(account.password, u"s3cret"_s);
    QCOMPARE(rawValue(db_, u"SELECT count(*) FROM pragma_table_info('server_data')"_s), u"16"_s);
    QCOMPARE(rawValue(db_, u"SELECT count(*) FROM server_data"_s), u"1"_s);
    QCOMPARE(rawValue(db_, u"SELECT server_ip FROM server_data"_s), u"192.0.2.10"_s);
}

// Opening a database that vanished leaves an empty file; the next start must not keep
// failing on it.
void TestLocalStore::emptyFileIsReplacedByTemplate() {
    {
        LocalStore store;
        QVERIFY(store.open(db_));
    }
    QCOMPARE(QFileInfo(db_).size(), 0);
    LocalStore::ensureDatabase(db_);
    QCOMPARE(rawValue(db_, u"SELECT count(*) FROM pragma_table_info('server_data')"_s), u"16"_s);
    QCOMPARE(rawValue(db_, u"SELECT server_class FROM server_class WHERE id=4"_s).isEmpty(), false);
}

// The duplicate test by address and port must not scan the table on long lists.
void TestLocalStore::duplicateLookupUsesAddressIndex() {
    LocalStore::ensureDatabase(db_);
    const QList<QStringList> indexes =
        rawRows(db_, u"SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='server_data'"
                     u" AND sql IS NOT NULL"_s);
    QCOMPARE(indexes.size(), 1);
    const QString index = indexes.first().first();
    QCOMPARE(rawRows(db_, u"SELECT name FROM pragma_index_info('%1') ORDER BY seqno"_s.arg(index)),
             (QList<QStringList>{{u"server_ip"_s}, {u"server_port"_s}}));

    LocalStore store;
    QVERIFY(store.open(db_));
    StoreConnection& db = store.connection();
    const auto plan = db.query(
        u"EXPLAIN QUERY PLAN SELECT id FROM \"server_data\" WHERE server_ip=? and server_port=?"
        u" ORDER BY id LIMIT 1"_s,
        {u"192.0.2.10"_s, u"22"_s});
    QVERIFY(plan);
    QVERIFY2(columnOf(plan, u"detail"_s).join(u' ').contains(index),
             qPrintable(columnOf(plan, u"detail"_s).join(u' ')));
}

void TestLocalStore::textColumnsHoldGbkBytes() {
    LocalStore::ensureDatabase(db_);
    LocalStore store;
    QVERIFY(store.open(db_));
    StoreConnection& db = store.connection();

    QVERIFY(store.insertGroup(u"生产服务器"_s, u"60"_s));
    const qint64 groupId = db.lastInsertId();
    ServerRecord server = sampleServer();
    server.group = u"生产服务器"_s;
    server.name = u"测试"_s;
    server.remark = u"备注😀€"_s;
    QVERIFY(store.insertServer(server));
    const qint64 serverId = db.lastInsertId();

    QCOMPARE(
        rawValue(db_, u"SELECT hex(server_class) FROM server_class WHERE id=%1"_s.arg(groupId)),
        u"C9FAB2FAB7FECEF1C6F7"_s);
    QCOMPARE(
        rawRows(db_, u"SELECT hex(server_class), hex(server_name), hex(remark) FROM server_data"
                     u" WHERE id=%1"_s.arg(serverId)),
        (QList<QStringList>{{u"C9FAB2FAB7FECEF1C6F7"_s, u"B2E2CAD4"_s, u"B1B8D7A23F80"_s}}));

    const ServerRecord back = serverById(db, serverId);
    QCOMPARE(back.group, u"生产服务器"_s);
    QCOMPARE(back.name, u"测试"_s);
    QCOMPARE(back.remark, u"备注?€"_s);
    QCOMPARE(db.readColumn(u"server_class"_s, 4, u"server_class"_s), u"默认分组"_s);
}

// server_data.server_class is declared INTEGER, so a group named "007" is stored there as the
// number 7, while server_class keeps the name as text. A lookup bound with "007" still matches
// because the column's affinity converts the bound text too.
void TestLocalStore::groupNameWithLeadingZeros() {
    LocalStore::ensureDatabase(db_);
    LocalStore store;
    QVERIFY(store.open(db_));
    StoreConnection& db = store.connection();
    QVERIFY(store.insertGroup(u"007"_s, u"1"_s));
    ServerRecord server = sampleServer();
    server.group = u"007"_s;
    QVERIFY(store.insertBatchServer(server, false));
    const qint64 id = db.lastInsertId();

    QCOMPARE(
        rawRows(db_, u"SELECT server_class, typeof(server_class) FROM server_class WHERE id=5"_s),
        (QList<QStringList>{{u"007"_s, u"text"_s}}));
    QCOMPARE(rawValue(db_, u"SELECT typeof(server_class) FROM server_data"_s), u"integer"_s);
    QCOMPARE(serverById(db, id).group, u"7"_s);

    const auto found = db.query(u"select * from server_data where server_class=?"_s, {u"007"_s});
    QVERIFY(found);
    QCOMPARE(columnOf(found, u"id"_s), QStringList{QString::number(id)});
}

void TestLocalStore::valuesThatLookLikeSqlAreStoredExactly_data() {
    QTest::addColumn<QString>("value");
    QTest::newRow("apostrophe") << u"O'Brien"_s;
    QTest::newRow("closing quote and drop") << u"x'); DROP TABLE server_data; --"_s;
    QTest::newRow("double quote drop") << u"\"); DROP TABLE server_class; --"_s;
    QTest::newRow("lone double quote") << u"\""_s;
    QTest::newRow("backslash") << u"C:\\keys\\"_s;
    QTest::newRow("delete everything") << u"' OR 1=1; DELETE FROM server_data; --"_s;
    QTest::newRow("chinese with quote") << u"张'三\""_s;
}

// Each write path stores the value as given and touches no other row.
void TestLocalStore::valuesThatLookLikeSqlAreStoredExactly() {
    QFETCH(QString, value);

    LocalStore::ensureDatabase(db_);
    LocalStore store;
    QVERIFY(store.open(db_));
    StoreConnection& db = store.connection();

    QVERIFY(store.insertBatchServer(sampleServer(u"192.0.2.1"_s), true));
    const qint64 bystander = db.lastInsertId();
    ServerRecord grouped = sampleServer(u"192.0.2.2"_s);
    grouped.group = u"old"_s;
    QVERIFY(store.insertBatchServer(grouped, true));
    const qint64 renamed = db.lastInsertId();
    QVERIFY(store.insertBatchServer(sampleServer(u"192.0.2.3"_s), true));
    const qint64 updated = db.lastInsertId();
    const QStringList bystanderBefore = rowById(db, bystander);
    QVERIFY(!bystanderBefore.isEmpty());

    ServerRecord hostile = sampleServer(value, value);
    hostile.remark = value;
    hostile.name = value;
    hostile.panelKey = value;
    QVERIFY(store.insertServer(hostile));
    const qint64 viaEditor = db.lastInsertId();
    QVERIFY(store.insertBatchServer(hostile, true));
    const qint64 viaBatch = db.lastInsertId();
    QVERIFY(store.insertDownloadedServer(hostile));
    const qint64 viaCloud = db.lastInsertId();
    QVERIFY(db.updateColumns(u"server_data"_s, updated,
                             {{u"remark"_s, value}, {u"server_name"_s, value}}));
    QVERIFY(store.insertGroup(u"old"_s, u"60"_s));
    const qint64 group = db.lastInsertId();
    QVERIFY(store.updateGroup({QString::number(group), u"old"_s, u"60"_s}, value, u"60"_s));

    for (const qint64 id : {viaEditor, viaBatch, viaCloud}) {
        const ServerRecord s = serverById(db, id);
        QCOMPARE(s.ip, value);
        QCOMPARE(s.port, value);
        QCOMPARE(s.remark, value);
        QCOMPARE(s.name, value);
    }
    QCOMPARE(serverById(db, viaEditor).panelKey, value);
    QCOMPARE(serverById(db, viaBatch).panelKey, value);
    QCOMPARE(serverById(db, updated).remark, value);
    QCOMPARE(serverById(db, updated).name, value);
    QCOMPARE(serverById(db, updated).ip, u"192.0.2.3"_s);
    QCOMPARE(db.readColumn(u"server_class"_s, group, u"server_class"_s), value);
    QCOMPARE(serverById(db, renamed).group, value);

    QCOMPARE(rowById(db, bystander), bystanderBefore);
    QCOMPARE(columnOf(db.allRows(u"server_data"_s), u"id"_s).size(), 6);
    QCOMPARE(columnOf(db.allRows(u"server_class"_s), u"id"_s),
             (QStringList{u"4"_s, QString::number(group)}));
    QCOMPARE(columnOf(db.allRows(u"server_user"_s), u"id"_s), QStringList{u"1"_s});
}

void TestLocalStore::findServerByAddress_data() {
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("port");
    QTest::addColumn<QString>("id");

    QTest::newRow("first of two duplicates") << u"192.0.2.10"_s << u"22"_s << u"6"_s;
    QTest::newRow("same address, other port") << u"192.0.2.10"_s << u"2222"_s << u"8"_s;
    QTest::newRow("address with a quote") << u"host'a"_s << u"22"_s << u"9"_s;
    QTest::newRow("trailing blank in address") << u"192.0.2.10 "_s << u"22"_s << QString();
    QTest::newRow("trailing blank in port") << u"192.0.2.10"_s << u"22 "_s << QString();
    QTest::newRow("port with leading zero") << u"192.0.2.10"_s << u"022"_s << QString();
    QTest::newRow("unknown address") << u"192.0.2.99"_s << u"22"_s << QString();
}

// Address and port compare as exact texts; the id found (or nothing) is logged.
void TestLocalStore::findServerByAddress() {
    QFETCH(QString, ip);
    QFETCH(QString, port);
    QFETCH(QString, id);

    LocalStore::ensureDatabase(db_);
    LocalStore store;
    QVERIFY(store.open(db_));
    for (const auto& [address, p] : QList<QPair<QString, QString>>{{u"192.0.2.10"_s, u"22"_s},
                                                                   {u"192.0.2.10"_s, u"22"_s},
                                                                   {u"192.0.2.10"_s, u"2222"_s},
                                                                   {u"host'a"_s, u"22"_s}})
        QVERIFY(store.insertBatchServer(sampleServer(address, p), false));

    QStringList lines;
    LogSink log;
    log.setReceiver([&lines](const QString& line) { lines << line; });
    QCOMPARE(::findServerByAddress(store, ip, port, log), id);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().endsWith(u"-S_ID "_s + id + u"\r\n"_s), qPrintable(lines.first()));
}

void TestLocalStore::sortKeyMustBeNumber_data() {
    QTest::addColumn<QString>("sort");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("stored");

    QTest::newRow("integer") << u"50"_s << true << u"50"_s;
    QTest::newRow("blanks around") << u" 7 "_s << true << u"7"_s;
    QTest::newRow("tabs around") << u"\t8\t"_s << true << u"8"_s;
    QTest::newRow("negative") << u"-3"_s << true << u"-3"_s;
    QTest::newRow("plus sign") << u"+4"_s << true << u"4"_s;
    QTest::newRow("decimal") << u"1.5"_s << true << u"1.5"_s;
    QTest::newRow("leading point") << u".5"_s << true << u"0.5"_s;
    QTest::newRow("exponent") << u"1e3"_s << true << u"1000"_s;

    QTest::newRow("empty") << QString() << false << QString();
    QTest::newRow("blank") << u" "_s << false << QString();
    QTest::newRow("word") << u"abc"_s << false << QString();
    QTest::newRow("expression") << u"1+1"_s << false << QString();
    QTest::newRow("trailing letter") << u"5x"_s << false << QString();
    QTest::newRow("point only") << u"."_s << false << QString();
    QTest::newRow("bare exponent") << u"1e"_s << false << QString();
    QTest::newRow("double sign") << u"--1"_s << false << QString();
    QTest::newRow("thousands comma") << u"1,000"_s << false << QString();
    QTest::newRow("hex") << u"0x10"_s << false << QString();
    QTest::newRow("full-width digit") << u"５"_s << false << QString();
    QTest::newRow("arabic-indic digit") << u"٣"_s << false << QString();
    QTest::newRow("injection") << u"1); DROP TABLE server_data; --"_s << false << QString();
}

// The editor's insert takes its sort key only when it is a number; a refused key writes
// nothing.
void TestLocalStore::sortKeyMustBeNumber() {
    QFETCH(QString, sort);
    QFETCH(bool, accepted);
    QFETCH(QString, stored);

    QCOMPARE(isSortNumber(sort), accepted);

    LocalStore::ensureDatabase(db_);
    LocalStore store;
    QVERIFY(store.open(db_));
    StoreConnection& db = store.connection();
    ServerRecord server = sampleServer();
    server.sort = sort;
    QCOMPARE(store.insertServer(server).has_value(), accepted);
    const QStringList sorts = columnOf(db.allRows(u"server_data"_s), u"sort"_s);
    QCOMPARE(sorts, accepted ? QStringList{stored} : QStringList());
}

enum class InsertPath { Editor, BatchWithPanel, BatchWithoutPanel, Cloud };
Q_DECLARE_METATYPE(InsertPath)

void TestLocalStore::panelColumnsPerInsertPath_data() {
    QTest::addColumn<InsertPath>("path");
    QTest::addColumn<QString>("storedUrl");
    QTest::addColumn<QString>("storedType");

    QTest::newRow("editor") << InsertPath::Editor << u"http://192.0.2.10:8888"_s << u"text"_s;
    QTest::newRow("batch with panel fields")
        << InsertPath::BatchWithPanel << u"http://192.0.2.10:8888"_s << u"text"_s;
    QTest::newRow("batch without panel fields")
        << InsertPath::BatchWithoutPanel << u"0"_s << u"text"_s;
    QTest::newRow("cloud download") << InsertPath::Cloud << QString() << u"null"_s;
}

void TestLocalStore::panelColumnsPerInsertPath() {
    QFETCH(InsertPath, path);
    QFETCH(QString, storedUrl);
    QFETCH(QString, storedType);

    LocalStore::ensureDatabase(db_);
    LocalStore store;
    QVERIFY(store.open(db_));
    StoreConnection& db = store.connection();
    const ServerRecord server = sampleServer();
    bool inserted = false;
    switch (path) {
    case InsertPath::Editor:
        inserted = store.insertServer(server).has_value();
        break;
    case InsertPath::BatchWithPanel:
        inserted = store.insertBatchServer(server, true);
        break;
    case InsertPath::BatchWithoutPanel:
        inserted = store.insertBatchServer(server, false);
        break;
    case InsertPath::Cloud:
        inserted = store.insertDownloadedServer(server);
        break;
    }
    QVERIFY(inserted);
    const qint64 id = db.lastInsertId();

    const ServerRecord back = serverById(db, id);
    QCOMPARE(back.ip, server.ip);
    QCOMPARE(back.remark, server.remark);
    QCOMPARE(back.system, server.system);
    QCOMPARE(back.panelUrl, storedUrl);
    const bool fromLine = path != InsertPath::BatchWithoutPanel && path != InsertPath::Cloud;
    QCOMPARE(back.panelUser, fromLine ? server.panelUser : storedUrl);
    QCOMPARE(back.panelPassword, fromLine ? server.panelPassword : storedUrl);
    QCOMPARE(back.panelKey, fromLine ? server.panelKey : storedUrl);
    QCOMPARE(rawValue(db_, u"SELECT typeof(baota_url) || typeof(baota_user) || typeof(baota_pass)"
                           u" || typeof(baota_apikey) FROM server_data WHERE id=%1"_s.arg(id)),
             storedType.repeated(4));
}

void TestLocalStore::executeStopsAtFirstFailure_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<bool>("result");
    QTest::addColumn<QStringList>("groups");

    const QString a = u"INSERT INTO server_class (server_class, sort) VALUES ('a', 1)"_s;
    const QString c = u"INSERT INTO server_class (server_class, sort) VALUES ('c', 3)"_s;
    const QString def = u"默认分组"_s;

    QTest::newRow("all run") << a + u"; "_s + c << true << QStringList{def, u"a"_s, u"c"_s};
    QTest::newRow("trailing blanks and comment")
        << a + u";  -- done\r\n"_s << true << QStringList{def, u"a"_s};
    QTest::newRow("missing table in the middle")
        << a + u"; INSERT INTO missing VALUES (1); "_s + c << false << QStringList{def, u"a"_s};
    QTest::newRow("syntax error in the middle")
        << a + u"; INSERT INTO; "_s + c << false << QStringList{def, u"a"_s};
    QTest::newRow("constraint failure in the middle")
        << a + u"; INSERT INTO server_class (id, server_class) VALUES (4, 'dup'); "_s + c << false
        << QStringList{def, u"a"_s};
    QTest::newRow("first fails") << u"DELETE FROM missing; "_s + a << false << QStringList{def};
}

void TestLocalStore::executeStopsAtFirstFailure() {
    QFETCH(QString, sql);
    QFETCH(bool, result);
    QFETCH(QStringList, groups);

    LocalStore::ensureDatabase(db_);
    StoreConnection db;
    QVERIFY(db.open(db_));
    QCOMPARE(db.execute(sql), result);
    QCOMPARE(columnOf(db.allRows(u"server_class"_s), u"server_class"_s), groups);
}

void TestLocalStore::rowHelpers() {
    LocalStore::ensureDatabase(db_);
    LocalStore store;
    QVERIFY(store.open(db_));
    StoreConnection& db = store.connection();

    // Ids given out of order: results follow the ids, not the order of insertion.
    QVERIFY(
        db.execute(u"INSERT INTO server_class (id, server_class, sort) VALUES (20, 'x', 1);"
                   u"INSERT INTO server_class (id, server_class, sort) VALUES (10, 'x', 2);"
                   u"INSERT INTO server_class (id, server_class, sort) VALUES (15, NULL, 3)"_s));

    QCOMPARE(db.findFirst(u"server_class"_s, u"server_class=?"_s, {u"x"_s}).value_or(-1),
             qint64(10));
    QVERIFY(!db.findFirst(u"server_class"_s, u"server_class=?"_s, {u"none"_s}));
    QCOMPARE(db.readColumn(u"server_class"_s, 15, u"server_class"_s), QString());
    QCOMPARE(db.readColumn(u"server_class"_s, 20, u"sort"_s), u"1"_s);
    QCOMPARE(columnOf(db.allRows(u"server_class"_s), u"id"_s),
             (QStringList{u"4"_s, u"10"_s, u"15"_s, u"20"_s}));

    QVERIFY(store.deleteGroup(u"10"_s));
    QVERIFY(!store.deleteGroup(u"10"_s));
    QCOMPARE(columnOf(db.allRows(u"server_class"_s), u"id"_s),
             (QStringList{u"4"_s, u"15"_s, u"20"_s}));
    QCOMPARE(db.findFirst(u"server_class"_s, u"server_class=?"_s, {u"x"_s}).value_or(-1),
             qint64(20));

    QVERIFY(!db.query(u"SELECT * FROM missing"_s));
    QVERIFY(!db.allRows(u"missing"_s));
    QVERIFY(!db.query(u"SELECT * FROM server_class WHERE id=?"_s, {}));
}

// The group row and its servers change together: when moving the servers fails, the group
// keeps its old name too, so no server is left naming a group that no longer exists.
void TestLocalStore::groupUpdateIsAllOrNothing() {
    LocalStore::ensureDatabase(db_);
    LocalStore store;
    QVERIFY(store.open(db_));
    StoreConnection& db = store.connection();
    QVERIFY(store.insertGroup(u"香港"_s, u"60"_s));
    const QString id = QString::number(db.lastInsertId());
    ServerRecord member = sampleServer();
    member.group = u"香港"_s;
    QVERIFY(store.insertServer(member));
    QVERIFY(db.execute(u"CREATE TRIGGER refuse BEFORE UPDATE ON server_data "
                       u"BEGIN SELECT RAISE(ABORT, 'refused'); END"_s));

    QVERIFY(!store.updateGroup({id, u"香港"_s, u"60"_s}, u"香港2"_s, u"61"_s));
    QCOMPARE(
        rawValue(db_, u"SELECT hex(server_class) || sort FROM server_class WHERE id=%1"_s.arg(id)),
        u"CFE3B8DB60"_s);
    QVERIFY(!store.updateGroup({u"999"_s, u"香港"_s, u"60"_s}, u"x"_s, u"1"_s));

    QVERIFY(db.execute(u"DROP TRIGGER refuse"_s));
    QVERIFY(store.updateGroup({id, u"香港"_s, u"60"_s}, u"香港2"_s, u"61"_s));
    QCOMPARE(store.loadServer(u"6"_s).value_or(ServerRecord()).group, u"香港2"_s);
}

// A second writer waits for the first one's transaction instead of failing at once, also when
// it reads before it writes (the duplicate test of batch add).
void TestLocalStore::writerWaitsForAnotherWriter() {
    LocalStore::ensureDatabase(db_);
    LocalStore first;
    QVERIFY(first.open(db_));
    StoreTransaction held(first.connection());
    QVERIFY(held.isActive());
    QVERIFY(first.insertServer(sampleServer(u"127.0.0.1"_s)));

    std::atomic<bool> secondAdded = false;
    std::thread second([&] {
        LocalStore store;
        if (!store.open(db_))
            return;
        StoreTransaction transaction(store.connection());
        secondAdded = transaction.isActive() &&
                      store.serverIdByAddress(u"127.0.0.2"_s, u"22"_s).isEmpty() &&
                      store.insertServer(sampleServer(u"127.0.0.2"_s)) && transaction.commit();
    });
    QTest::qSleep(300);
    QVERIFY(held.commit());
    second.join();
    QVERIFY(secondAdded);
    QCOMPARE(rawValue(db_, u"SELECT count(*) FROM server_data"_s), u"2"_s);
}

// A connection reuses its prepared statements; between uses they hold neither the values of
// the last use nor a lock on the file (a lookup that stopped at its first row included).
void TestLocalStore::reusedStatementsHoldNothingBetweenUses() {
    LocalStore::ensureDatabase(db_);
    LocalStore first;
    QVERIFY(first.open(db_));
    QVERIFY(first.insertBatchServer(sampleServer(u"127.0.0.1"_s), false));
    const QString firstId = QString::number(first.connection().lastInsertId());
    QVERIFY(first.insertBatchServer(sampleServer(u"127.0.0.2"_s), true));
    const QString secondId = QString::number(first.connection().lastInsertId());
    QCOMPARE(first.serverIdByAddress(u"127.0.0.1"_s, u"22"_s), firstId);
    QCOMPARE(first.serverIdByAddress(u"127.0.0.2"_s, u"22"_s), secondId);
    QCOMPARE(first.serverIdByAddress(u"127.0.0.3"_s, u"22"_s), QString());
    QCOMPARE(rawValue(db_, u"SELECT baota_url FROM server_data WHERE id=%1"_s.arg(firstId)),
             u"0"_s);
    // More distinct statements than the connection keeps: the named ones still work.
    for (int i = 0; i < 40; ++i) {
        const auto rows = first.connection().query(u"SELECT ? + %1"_s.arg(i), {u"1"_s});
        QVERIFY(rows);
        QCOMPARE(rows->rows.value(0).value(0), QString::number(i + 1));
    }
    QCOMPARE(first.serverIdByAddress(u"127.0.0.2"_s, u"22"_s), secondId);

    // A second connection can commit: a read lock left by the first would make its commit
    // wait out the busy time-out and fail.
    LocalStore second;
    QVERIFY(second.open(db_));
    StoreTransaction transaction(second.connection());
    QVERIFY(transaction.isActive());
    QVERIFY(second.insertBatchServer(sampleServer(u"127.0.0.4"_s), false));
    QVERIFY(transaction.commit());
    QCOMPARE(first.serverIdByAddress(u"127.0.0.4"_s, u"22"_s),
             QString::number(second.connection().lastInsertId()));
}

// A build folder that merely is writable never receives the user's servers; a folder that
// already holds a list, or is marked portable, keeps it. On Windows every folder the program
// can write in keeps its list, and finding that out leaves nothing behind.
void TestLocalStore::programFolderKeepsDataOnlyWhenPortable() {
    QTemporaryDir folder;
    QVERIFY(!DataFolder::isPortableFolder(QString()));
    QVERIFY(!DataFolder::isPortableFolder(QDir(folder.path()).filePath(u"missing"_s)));
#ifdef Q_OS_WIN
    QVERIFY(DataFolder::isPortableFolder(folder.path()));
    QVERIFY(QDir(folder.path()).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
#else
    QVERIFY(!DataFolder::isPortableFolder(folder.path()));
    QFile marker(QDir(folder.path()).filePath(u"portable"_s));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    QVERIFY(DataFolder::isPortableFolder(folder.path()));
    QVERIFY(marker.remove());
    QFile list(QDir(folder.path()).filePath(u"myserver.db"_s));
    QVERIFY(list.open(QIODevice::WriteOnly));
    list.close();
    QVERIFY(DataFolder::isPortableFolder(folder.path()));
#endif
}

// A data folder Torvane makes holds the user's passwords: nobody else may enter it. One the
// user made keeps its permissions.
void TestLocalStore::createdDataFolderIsPrivate() {
#ifdef Q_OS_WIN
    QSKIP("Windows has no folder modes; the data folder sits in the user's own %APPDATA%");
#endif
    const QString made = QDir(home_->path()).filePath(u"new/Torvane"_s);
    QCOMPARE(AppContext({made, {}}).dataFolder(), made);
    QCOMPARE(QFileInfo(made).permissions() & kOthersAndGroup, QFileDevice::Permissions());
    QVERIFY(QFileInfo(made).permissions() & QFileDevice::ExeOwner);

    const QString existing = QDir(home_->path()).filePath(u"shared"_s);
    QVERIFY(QDir().mkdir(existing, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                       QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                       QFileDevice::ExeOther));
    QCOMPARE(AppContext({existing, {}}).dataFolder(), existing);
    QVERIFY(QFileInfo(existing).permissions() & QFileDevice::ReadOther);
}

// The password column is declared INTEGER: a password that looks like a number must still
// come back as typed, or the next automatic log in sends another password.
void TestLocalStore::cloudAccountKeepsItsTexts_data() {
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::newRow("leading zeros") << u"user"_s << u"007"_s;
    QTest::newRow("decimal") << u"user"_s << u"1.50"_s;
    QTest::newRow("exponent") << u"user"_s << u"1e3"_s;
    QTest::newRow("blanks around digits") << u"user"_s << u" 12 "_s;
    QTest::newRow("form characters and Chinese") << u"用户 a&b"_s << u"密 码&=+%'\""_s;
    QTest::newRow("empty") << QString() << QString();
}

void TestLocalStore::cloudAccountKeepsItsTexts() {
    QFETCH(QString, username);
    QFETCH(QString, password);
    LocalStore::ensureDatabase(db_);
    {
        LocalStore store;
        QVERIFY(store.open(db_));
        QVERIFY(store.writeCloudAccount({username, password}));
    }
    const StoredAccount account = LocalStore::ensureDatabase(db_);
    QCOMPARE(account.username, username);
    QCOMPARE(account.password, password);
    QCOMPARE(rawValue(db_, u"SELECT count(*) FROM server_user"_s), u"1"_s);
}

void TestLocalStore::cloudAccountLogoutAndMissingRow() {
    LocalStore::ensureDatabase(db_);
    LocalStore store;
    QVERIFY(store.open(db_));
    StoreConnection& db = store.connection();
    QVERIFY(store.writeCloudAccount({u"用户a"_s, u"pw"_s}));
    QVERIFY(store.writeCloudPassword(u"1"_s));
    QCOMPARE(store.readCloudAccount().username, u"用户a"_s);
    QCOMPARE(store.readCloudAccount().password, u"1"_s);

    // A file whose account row was lost gets it back with id 1 at the next log in.
    QVERIFY(db.execute(u"DELETE FROM server_user"_s));
    QVERIFY(!store.writeCloudPassword(u"1"_s));
    QCOMPARE(store.readCloudAccount().username, QString());
    QVERIFY(store.writeCloudAccount({u"b"_s, u"007"_s}));
    QCOMPARE(rawValue(db_, u"SELECT id FROM server_user"_s), u"1"_s);
    QCOMPARE(store.readCloudAccount().password, u"007"_s);
}

QTEST_GUILESS_MAIN(TestLocalStore)
#include "tst_local_store.moc"
