#include "core/codec/gbk_codec.h"
#include "core/store/batch_export.h"
#include "core/store/batch_import.h"
#include "core/store/server_editing.h"

#include <QTest>

using namespace Qt::StringLiterals;

class TestServerEditing : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rentalTimes_data();
    void rentalTimes();
    void addressAndPort_data();
    void addressAndPort();
    void batchLineFields_data();
    void batchLineFields();
    void boxLines_data();
    void boxLines();
    void exportText();
    void exportImportsBackUnchanged();
};

void TestServerEditing::rentalTimes_data() {
    QTest::addColumn<QDateTime>("now");
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("end");
    QTest::newRow("no leading zeros") << QDateTime(QDate(2024, 6, 6), QTime(9, 5, 7))
                                      << u"2024-6-6 9:5:7"_s << u"2025-6-6 9:5:7"_s;
    QTest::newRow("midnight") << QDateTime(QDate(2024, 12, 31), QTime(0, 0, 0))
                              << u"2024-12-31 0:0:0"_s << u"2025-12-31 0:0:0"_s;
    // Only the year changes: a leap day gives a day that does not exist, as typed.
    QTest::newRow("leap day") << QDateTime(QDate(2024, 2, 29), QTime(23, 59, 59))
                              << u"2024-2-29 23:59:59"_s << u"2025-2-29 23:59:59"_s;
}

void TestServerEditing::rentalTimes() {
    QFETCH(QDateTime, now);
    QFETCH(QString, start);
    QFETCH(QString, end);
    const auto times = ServerEditing::defaultRentalTimes(now);
    QCOMPARE(times.first, start);
    QCOMPARE(times.second, end);
}

void TestServerEditing::addressAndPort_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("splits");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("port");
    QTest::newRow("address and port") << u"127.0.0.5:22"_s << true << u"127.0.0.5"_s << u"22"_s;
    QTest::newRow("no colon") << u"127.0.0.5"_s << false << QString() << QString();
    QTest::newRow("trailing colon") << u"127.0.0.5:"_s << false << QString() << QString();
    QTest::newRow("several colons") << u"a:1:2"_s << true << u"a"_s << u"1"_s;
    QTest::newRow("leading colon") << u":22"_s << true << QString() << u"22"_s;
}

void TestServerEditing::addressAndPort() {
    QFETCH(QString, text);
    QFETCH(bool, splits);
    QFETCH(QString, address);
    QFETCH(QString, port);
    const auto split = ServerEditing::splitAddressAndPort(text);
    QCOMPARE(split.has_value(), splits);
    if (split) {
        QCOMPARE(split->first, address);
        QCOMPARE(split->second, port);
    }
}

void TestServerEditing::batchLineFields_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<bool>("taken");
    QTest::addColumn<bool>("panel");
    QTest::addColumn<QString>("panelUrl");
    QTest::addColumn<QString>("panelKey");
    const QString eleven = u"g----n----127.0.0.1----u----p----22----linux----r----s----e----50"_s;
    QTest::newRow("eleven fields") << eleven << true << false << u"0"_s << u"0"_s;
    QTest::newRow("ten fields and a trailing separator")
        << u"g----n----127.0.0.1----u----p----22----linux----r----s----e----"_s << false << false
        << QString() << QString();
    QTest::newRow("twelve fields") << eleven + u"----http://127.0.0.1:8888/x"_s << true << true
                                   << u"http://127.0.0.1:8888/x"_s << QString();
    QTest::newRow("fifteen fields")
        << eleven + u"----url----user----pass----key"_s << true << true << u"url"_s << u"key"_s;
    QTest::newRow("the hint's first line")
        << u"批量添加格式如下：一行一个"_s << false << false << QString() << QString();
}

void TestServerEditing::batchLineFields() {
    QFETCH(QString, line);
    QFETCH(bool, taken);
    QFETCH(bool, panel);
    QFETCH(QString, panelUrl);
    QFETCH(QString, panelKey);
    const auto parsed = BatchImport::parseLine(line);
    QCOMPARE(parsed.has_value(), taken);
    if (!parsed)
        return;
    QCOMPARE(parsed->withPanelFields, panel);
    QCOMPARE(parsed->server.panelUrl, panelUrl);
    QCOMPARE(parsed->server.panelKey, panelKey);
    QCOMPARE(parsed->server.ip, u"127.0.0.1"_s);
    QCOMPARE(parsed->server.sort, u"50"_s);
}

// The batch box's lines as its blocks give them: blank and outer lines go, and the box is
// shown trimmed only when trimming changed it; separators and no-break spaces read as the
// box's whole text gives them, which is no change to show.
void TestServerEditing::boxLines_data() {
    QTest::addColumn<QStringList>("blocks");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("trimmed");
    QTest::newRow("clean") << QStringList{u"a"_s, u"b"_s} << QStringList{u"a"_s, u"b"_s}
                           << QString();
    QTest::newRow("blank and outer lines")
        << QStringList{QString(), u"a"_s, QString(), QString(), u"b"_s, QString()}
        << QStringList{u"a"_s, u"b"_s} << u"a\r\nb"_s;
    QTest::newRow("line separator and no-break space")
        << QStringList{u"a\u2028b"_s, u"c\u00a0d"_s} << QStringList{u"a"_s, u"b"_s, u"c d"_s}
        << QString();
    QTest::newRow("empty box") << QStringList{QString()} << QStringList() << QString();
    QTest::newRow("two blank lines before and after")
        << QStringList{QString(), QString(),   u"g----a"_s, QString(), QString(),
                       QString(), u"g----b"_s, QString(),   QString()}
        << QStringList{u"g----a"_s, u"g----b"_s} << u"g----a\r\ng----b"_s;
    // Breaks that meet across a block's edge: a CR ending a block, separators first and last
    // in a block, a blank line made of a separator.
    QTest::newRow("CR ending a block")
        << QStringList{u"a\r"_s, u"b"_s} << QStringList{u"a"_s, u"b"_s} << u"a\r\nb"_s;
    QTest::newRow("CR inside a line")
        << QStringList{u"a\rb"_s} << QStringList{u"a\rb"_s} << QString();
    QTest::newRow("separators at a block's edges")
        << QStringList{u"\u2028a"_s, u"b\u2029"_s} << QStringList{u"a"_s, u"b"_s} << u"a\r\nb"_s;
    QTest::newRow("blank line of a separator")
        << QStringList{u"a"_s, QString(), u"\u2028"_s, u"b"_s} << QStringList{u"a"_s, u"b"_s}
        << u"a\r\nb"_s;
    QTest::newRow("no-break spaces are no blank line")
        << QStringList{u"a\u00a0"_s, u"\u00a0"_s, u"b"_s} << QStringList{u"a "_s, u" "_s, u"b"_s}
        << QString();
}

void TestServerEditing::boxLines() {
    QFETCH(QStringList, blocks);
    QFETCH(QStringList, lines);
    QFETCH(QString, trimmed);
    const BatchImport::BoxLines read = BatchImport::boxLines(blocks);
    QCOMPARE(read.lines, lines);
    QCOMPARE(read.trimmed.value_or(QString()), trimmed);
}

void TestServerEditing::exportText() {
    ServerRecord a;
    a.group = u"香港"_s;
    a.name = u"web"_s;
    a.ip = u"127.0.0.1"_s;
    a.user = u"root"_s;
    a.password = u"p"_s;
    a.port = u"22"_s;
    a.system = u"linux"_s;
    a.remark = u"r"_s;
    a.startTime = u"s"_s;
    a.endTime = u"e"_s;
    a.sort = u"50"_s;
    a.panelKey = u"never exported"_s;
    QCOMPARE(BatchExport::exportText({}), QString());
    QCOMPARE(
        BatchExport::exportText({a, a}),
        u"香港----web----127.0.0.1----root----p----22----linux----r----s----e----50----0----0----0-"
        u"---0----\r\n"
        u"香港----web----127.0.0.1----root----p----22----linux----r----s----e----50----0----0----0----0----"_s);
}

// The export file, read back as an import reads it, gives the same servers field for field,
// also when the GBK bytes of a text happen to be valid UTF-8 too.
void TestServerEditing::exportImportsBackUnchanged() {
    QList<ServerRecord> servers;
    const QStringList texts = {u"前台"_s, u"图片"_s,     u"100元"_s,
                               u"时"_s,   u"默认分组"_s, u"x'); DROP TABLE server_data; -- x"_s};
    for (qsizetype i = 0; i < texts.size(); ++i) {
        ServerRecord s;
        s.group = texts[i];
        s.name = texts[(i + 1) % texts.size()];
        s.ip = u"127.0.0.%1"_s.arg(i + 1);
        s.user = u"root"_s;
        s.password = texts[(i + 2) % texts.size()] + u" &=%"_s;
        s.port = u"22"_s;
        s.system = i % 2 ? u"windows"_s : u"linux"_s;
        s.remark = texts[(i + 3) % texts.size()];
        s.startTime = u"2024-6-6 9:5:7"_s;
        s.endTime = u"2025-6-6 9:5:7"_s;
        s.sort = QString::number(i);
        servers << s;
    }
    const QByteArray file = Gbk::encode(BatchExport::exportText(servers));
    const QStringList lines = BatchImport::blockLines(BatchImport::decodeFile(file));
    QCOMPARE(lines.size(), servers.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const auto parsed = BatchImport::parseLine(lines[i]);
        QVERIFY(parsed);
        ServerRecord expected = servers[i];
        expected.panelUrl = expected.panelUser = expected.panelPassword = expected.panelKey =
            u"0"_s;
        QVERIFY(parsed->server == expected);
    }
}

QTEST_GUILESS_MAIN(TestServerEditing)
#include "tst_server_editing.moc"
