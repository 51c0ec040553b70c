#include "common/test_home.h"
#include "core/store/local_store.h"
#include "core/store/server_queries.h"
#include "core/store/store_connection.h"

#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

ServerRecord server(const QString& name, const QString& ip, const QString& group,
                    const QString& remark, const QString& system, const QString& sort) {
    ServerRecord s;
    s.name = name;
    s.ip = ip;
    s.group = group;
    s.remark = remark;
    s.system = system;
    s.sort = sort;
    s.port = u"22"_s;
    s.user = u"root"_s;
    s.password = u"pw"_s;
    return s;
}

QStringList namesOf(const QList<ServerRecord>& servers) {
    QStringList names;
    for (const ServerRecord& s : servers)
        names << s.name;
    return names;
}

} // namespace

class TestServerQueries : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void reloadOrdersBySortKeyAndFillsEveryCell();
    void searchModes_data();
    void searchModes();
    void emptyAndMissingTables();
    void longSearchTexts_data();
    void longSearchTexts();

private:
    TestHome home_;
};

void TestServerQueries::initTestCase() {
    QVERIFY(home_.isValid());
    LocalStore::ensureDatabase(home_.databasePath());
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    const QList<ServerRecord> servers = {
        server(u"alpha"_s, u"127.0.0.1"_s, u"香港"_s, u"O'Brien's box"_s, u"linux"_s, u"30"_s),
        server(u"beta"_s, u"abc"_s, u"美国"_s, u"无"_s, u"windows"_s, u"10"_s),
        server(u"xabcx"_s, u"127.0.0.3"_s, u"美国"_s, u"ABC"_s, u"linux"_s, u"20"_s),
        server(u"gamma"_s, u"127.0.0.4"_s, QString(), u"plain"_s, u"myabcsys"_s, u"40"_s),
        server(u"delta"_s, u"127.0.0.5"_s, u"007"_s, u"ab"_s, u"linux"_s, u"50"_s),
    };
    for (const ServerRecord& s : servers)
        QVERIFY(store.insertBatchServer(s, false));
}

void TestServerQueries::reloadOrdersBySortKeyAndFillsEveryCell() {
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    const auto rows = readServers(store, reloadQuery());
    QVERIFY(rows);
    QCOMPARE(namesOf(*rows),
             (QStringList{u"beta"_s, u"xabcx"_s, u"alpha"_s, u"gamma"_s, u"delta"_s}));
    const ServerRecord& first = rows->first();
    QCOMPARE(first.id, u"7"_s);
    QCOMPARE(first.group, u"美国"_s);
    QCOMPARE(first.ip, u"abc"_s);
    QCOMPARE(first.sort, u"10"_s);
    QCOMPARE(first.port, u"22"_s);
    QCOMPARE(first.password, u"pw"_s);
    QCOMPARE(first.panelKey, u"0"_s);
}

void TestServerQueries::searchModes_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("group");
    QTest::addColumn<QStringList>("names");

    QTest::newRow("name contains")
        << u"服务器名称"_s << u"abc"_s << QString() << QStringList{u"xabcx"_s};
    QTest::newRow("address contains")
        << u"服务器IP"_s << u"127.0.0"_s << QString()
        << QStringList{u"alpha"_s, u"xabcx"_s, u"gamma"_s, u"delta"_s};
    QTest::newRow("remark with a quote")
        << u"备注"_s << u"O'Brien"_s << QString() << QStringList{u"alpha"_s};
    QTest::newRow("system contains")
        << u"系统"_s << u"win"_s << QString() << QStringList{u"beta"_s};
    // Containment for the system only; remark, address and name must equal the text, in any
    // ASCII case: "xabcx" merely contains it and is not found.
    QTest::newRow("综合查询") << u"综合查询"_s << u"abc"_s << QString()
                              << QStringList{u"beta"_s, u"xabcx"_s, u"gamma"_s};
    QTest::newRow("group") << u"分组名称"_s << QString() << u"美国"_s
                           << QStringList{u"beta"_s, u"xabcx"_s};
    QTest::newRow("group of digits")
        << u"分组名称"_s << QString() << u"007"_s << QStringList{u"delta"_s};
    QTest::newRow("no group selected")
        << u"分组名称"_s << QString() << QString() << QStringList{u"gamma"_s};
    QTest::newRow("no mode") << QString() << u"ignored"_s << QString()
                             << QStringList{u"alpha"_s, u"beta"_s, u"xabcx"_s, u"gamma"_s,
                                            u"delta"_s};
    QTest::newRow("a quote never breaks the query")
        << u"综合查询"_s << u"x' OR '1'='1"_s << QString() << QStringList{};
}

void TestServerQueries::searchModes() {
    QFETCH(QString, mode);
    QFETCH(QString, text);
    QFETCH(QString, group);
    QFETCH(QStringList, names);
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    const auto rows = readServers(store, searchQuery(mode, text, group));
    QVERIFY(rows);
    QCOMPARE(namesOf(*rows), names);
}

// A text the database would refuse is recognised before the search; every shorter one runs.
void TestServerQueries::longSearchTexts_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("tooLong");
    QTest::newRow("ASCII at the limit") << u"备注"_s << QString(49998, u'a') << false;
    QTest::newRow("ASCII over it") << u"备注"_s << QString(49999, u'a') << true;
    QTest::newRow("Chinese, two bytes each") << u"服务器名称"_s << QString(25000, u'港') << true;
    QTest::newRow("综合查询") << u"综合查询"_s << QString(50001, u'a') << true;
    QTest::newRow("group mode uses no pattern") << u"分组名称"_s << QString(60000, u'a') << false;
}

void TestServerQueries::longSearchTexts() {
    QFETCH(QString, mode);
    QFETCH(QString, text);
    QFETCH(bool, tooLong);
    QCOMPARE(isSearchTextTooLong(mode, text), tooLong);
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    QCOMPARE(readServers(store, searchQuery(mode, text, QString())).has_value(), !tooLong);
}

void TestServerQueries::emptyAndMissingTables() {
    QTemporaryDir other;
    LocalStore store;
    QVERIFY(store.open(other.filePath(u"myserver.db"_s)));
    QVERIFY(!readServers(store, reloadQuery()));
    QVERIFY(store.connection().execute(
        u"CREATE TABLE server_data (id INTEGER PRIMARY KEY, sort INTEGER)"_s));
    const auto rows = readServers(store, searchQuery(u"综合查询"_s, QString(), QString()));
    QVERIFY(!rows); // the search names columns this table lacks
    const auto all = readServers(store, reloadQuery());
    QVERIFY(all);
    QVERIFY(all->isEmpty());
}

QTEST_GUILESS_MAIN(TestServerQueries)
#include "tst_server_queries.moc"
