// The download merge without a service: what a server line becomes, how group and server
// lines merge into a store that already holds some of them, and the merge of a long block
// a slice at a time (log lines only after their commit, an interruption keeping what was
// merged before it, a failed commit reported as such, for the batch add's slices too).

#include "common/log_messages.h"
#include "common/test_home.h"
#include "core/cloud/cloud_download.h"
#include "core/cloud/password_sealer.h"
#include "core/store/batch_import.h"
#include "core/store/line_formats.h"
#include "core/store/store_connection.h"
#include "core/support/log_sink.h"

#include <QMutex>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

QString sealed(const QString& plain) {
    return PasswordSealer::seal(plain, PasswordSealer::kSealingKey);
}

// The fields of a server line as the service sends it: the secret ones sealed.
QStringList lineFields(const QString& ip = u"198.18.0.1"_s, const QString& port = u"22"_s) {
    return {u"香港"_s,
            u"服务器一"_s,
            ip,
            u"root"_s,
            sealed(u"p&w= %中"_s),
            port,
            u"linux"_s,
            u"备注"_s,
            u"2024-6-6 9:5:7"_s,
            u"2025-6-6 9:5:7"_s,
            u"60"_s,
            u"https://198.18.0.1:8888/a"_s,
            u"admin"_s,
            sealed(u"面板密码"_s),
            sealed(u"KEY"_s)};
}

QString line(const QStringList& fields) {
    return fields.join(ServerLine::kSeparator);
}

// Every column of every server, id first, in id order.
QList<QStringList> serverTable(LocalStore& store) {
    const auto rows = store.connection().query(u"SELECT * FROM server_data ORDER BY id"_s);
    return rows ? rows->rows : QList<QStringList>();
}

} // namespace

class TestCloudMerge : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void parseServerLine_data();
    void parseServerLine();
    void foreignSealsArriveEmpty();
    void groupLines();
    void newServerKeepsPanelColumnsOfItsLine_data();
    void newServerKeepsPanelColumnsOfItsLine();
    void overwriteKeepsAddressPortAndSystem_data();
    void overwriteKeepsAddressPortAndSystem();
    void mixedBlockTouchesEachServerOnce();
    void linesTheStoreCannotKeepAreRefused_data();
    void linesTheStoreCannotKeepAreRefused();
    void longBlockMergesInSlices();
    void interruptionKeepsMergedSlices();
    void failedCommitReportsNothingWritten_data();
    void failedCommitReportsNothingWritten();

private:
    QStringList takeLog();

    TestHome home_;
    LogSink sink_;
    QMutex logLock_;
    QStringList log_;
};

void TestCloudMerge::initTestCase() {
    QVERIFY(home_.isValid());
    sink_.setReceiver([this](const QString& line) {
        QMutexLocker lock(&logLock_);
        // The time in front of the message is not what these tests look at.
        log_ << logMessages(line);
    });
}

void TestCloudMerge::init() {
    QFile::remove(home_.databasePath());
    LocalStore::ensureDatabase(home_.databasePath());
    takeLog();
}

void TestCloudMerge::cleanup() {
    QFile::remove(home_.databasePath());
}

QStringList TestCloudMerge::takeLog() {
    QMutexLocker lock(&logLock_);
    return std::exchange(log_, {});
}

// Fields 12 to 15 are optional; a line carries any prefix of them.
void TestCloudMerge::parseServerLine_data() {
    QTest::addColumn<int>("fieldCount");
    QTest::addColumn<bool>("parsed");
    QTest::addColumn<QString>("sort");
    QTest::addColumn<bool>("withPanel");
    QTest::addColumn<QStringList>("panel");

    QTest::newRow("nine fields") << 9 << false << QString() << false << QStringList();
    QTest::newRow("ten fields") << 10 << true << u"50"_s << false << QStringList{{}, {}, {}, {}};
    QTest::newRow("eleven fields") << 11 << true << u"60"_s << false << QStringList{{}, {}, {}, {}};
    QTest::newRow("twelve fields")
        << 12 << true << u"60"_s << true << QStringList{u"https://198.18.0.1:8888/a"_s, {}, {}, {}};
    QTest::newRow("fourteen fields")
        << 14 << true << u"60"_s << true
        << QStringList{u"https://198.18.0.1:8888/a"_s, u"admin"_s, u"面板密码"_s, {}};
    QTest::newRow("fifteen fields")
        << 15 << true << u"60"_s << true
        << QStringList{u"https://198.18.0.1:8888/a"_s, u"admin"_s, u"面板密码"_s, u"KEY"_s};
}

void TestCloudMerge::parseServerLine() {
    QFETCH(int, fieldCount);
    QFETCH(bool, parsed);
    QFETCH(QString, sort);
    QFETCH(bool, withPanel);
    QFETCH(QStringList, panel);

    const auto d = CloudDownload::parseServerLine(line(lineFields().mid(0, fieldCount)));
    QCOMPARE(d.has_value(), parsed);
    if (!parsed)
        return;
    QCOMPARE(d->server.password, u"p&w= %中"_s);
    QCOMPARE(d->server.sort, sort);
    QCOMPARE(d->withPanelFields, withPanel);
    QCOMPARE((QStringList{d->server.panelUrl, d->server.panelUser, d->server.panelPassword,
                          d->server.panelKey}),
             panel);
}

// Secret fields that were not sealed with our key arrive empty.
void TestCloudMerge::foreignSealsArriveEmpty() {
    QStringList foreign = lineFields();
    foreign[ServerLine::Password] = u"70726976617465"_s;
    foreign[ServerLine::PanelPassword] = PasswordSealer::seal(u"x"_s, u"OTHERKEY"_s);
    const auto d = CloudDownload::parseServerLine(line(foreign));
    QVERIFY(d);
    QCOMPARE(d->server.password, QString());
    QCOMPARE(d->server.panelPassword, QString());
    QCOMPARE(d->server.panelKey, u"KEY"_s);
}

// A group is added unless one of its name is stored, lines before it included; its name is
// stored as it came, digits and quotes alike.
void TestCloudMerge::groupLines() {
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    const QList<std::pair<QString, QStringList>> cases{
        {u"默认分组----50"_s, {u"-S_ID 4"_s, u"-默认分组 下载分组失败 指定分组已经存在"_s}},
        {u"007----70----ignored"_s, {u"-S_ID "_s, u"-007 下载分组成功"_s}},
        {u"007----80"_s, {u"-S_ID 5"_s, u"-007 下载分组失败 指定分组已经存在"_s}},
        {u"孤行"_s, {}},
        {u"含'引号----1"_s, {u"-S_ID "_s, u"-含'引号 下载分组成功"_s}},
    };
    for (const auto& [text, log] : cases) {
        const LineWrite m = CloudDownload::mergeGroupLine(store, text);
        QCOMPARE(m.log, log);
    }
    const auto groups = store.groups();
    QVERIFY(groups);
    QCOMPARE(groups->size(), 3);
    QCOMPARE(groups->at(0).sort, u"50"_s);
    QCOMPARE(groups->at(1).name, u"007"_s);
    QCOMPARE(groups->at(1).sort, u"70"_s);
    QCOMPARE(groups->at(2).name, u"含'引号"_s);
}

void TestCloudMerge::newServerKeepsPanelColumnsOfItsLine_data() {
    QTest::addColumn<int>("fieldCount");
    QTest::addColumn<QString>("storedPanel");

    // NULL reads as empty; typeof tells NULL from the empty text.
    QTest::newRow("eleven fields: NULL") << 11 << u"null null null null"_s;
    QTest::newRow("thirteen fields: the rest empty") << 13 << u"text text text text"_s;
    QTest::newRow("fifteen fields") << 15 << u"text text text text"_s;
}

void TestCloudMerge::newServerKeepsPanelColumnsOfItsLine() {
    QFETCH(int, fieldCount);
    QFETCH(QString, storedPanel);

    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    const LineWrite m =
        CloudDownload::mergeServerLine(store, line(lineFields().mid(0, fieldCount)));
    QVERIFY(m.wrote);
    QCOMPARE(m.log, (QStringList{u"-S_ID "_s, u"-198.18.0.1 下载成功"_s}));
    QVERIFY(m.added);
    QCOMPARE(m.added->id, QString());
    QCOMPARE(m.added->password, u"p&w= %中"_s);

    const auto types = store.connection().query(
        u"SELECT typeof(baota_url) || ' ' || typeof(baota_user) || ' ' || typeof(baota_pass) "
        u"|| ' ' || typeof(baota_apikey) FROM server_data"_s);
    QVERIFY(types);
    QCOMPARE(types->rows.value(0).value(0), storedPanel);
    const auto stored = store.loadServer(u"6"_s);
    QVERIFY(stored);
    QCOMPARE(stored->password, u"p&w= %中"_s);
    QCOMPARE(stored->group, u"香港"_s);
    if (fieldCount == 15)
        QCOMPARE(ServerLine::format(*stored).section(ServerLine::kSeparator, 11),
                 u"https://198.18.0.1:8888/a----admin----面板密码----KEY"_s);
}

// An overwrite writes account, password, group, name, remark, dates and sort; address, port
// and system stay, and the panel columns change only when the line carries panel fields.
void TestCloudMerge::overwriteKeepsAddressPortAndSystem_data() {
    QTest::addColumn<int>("fieldCount");
    QTest::addColumn<QString>("panelUrl");
    QTest::addColumn<QString>("sort");

    QTest::newRow("ten fields") << 10 << u"http://old"_s << u"50"_s;
    QTest::newRow("fifteen fields") << 15 << u"https://198.18.0.1:8888/a"_s << u"60"_s;
}

void TestCloudMerge::overwriteKeepsAddressPortAndSystem() {
    QFETCH(int, fieldCount);
    QFETCH(QString, panelUrl);
    QFETCH(QString, sort);

    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    ServerRecord old;
    old.ip = u"198.18.0.1"_s;
    old.port = u"22"_s;
    old.system = u"Linux"_s;
    old.sort = u"1"_s;
    old.panelUrl = u"http://old"_s;
    QVERIFY(store.insertServer(old));

    QStringList fields = lineFields().mid(0, fieldCount);
    fields[ServerLine::System] = u"windows"_s;
    const LineWrite m = CloudDownload::mergeServerLine(store, line(fields));
    QVERIFY(m.wrote);
    QCOMPARE(m.log, (QStringList{u"-S_ID 6"_s, u"-198.18.0.1 本地已存在该IP，本次执行覆盖操作"_s}));
    QVERIFY(!m.added);
    const auto s = store.loadServer(u"6"_s);
    QVERIFY(s);
    QCOMPARE(s->ip, u"198.18.0.1"_s);
    QCOMPARE(s->port, u"22"_s);
    QCOMPARE(s->system, u"Linux"_s);
    QCOMPARE(s->user, u"root"_s);
    QCOMPARE(s->password, u"p&w= %中"_s);
    QCOMPARE(s->group, u"香港"_s);
    QCOMPARE(s->name, u"服务器一"_s);
    QCOMPARE(s->remark, u"备注"_s);
    QCOMPARE(s->endTime, u"2025-6-6 9:5:7"_s);
    QCOMPARE(s->sort, sort);
    QCOMPARE(s->panelUrl, panelUrl);
    QCOMPARE(serverTable(store).size(), 1);
}

// New servers are added, each stored one is overwritten exactly once, and no line touches a
// server other than the one with its own address and port (a trailing blank makes another
// address).
void TestCloudMerge::mixedBlockTouchesEachServerOnce() {
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    for (const auto& [ip, port] :
         {std::pair{u"198.18.0.1"_s, u"22"_s}, std::pair{u"198.18.0.2"_s, u"22"_s},
          std::pair{u"198.18.0.3"_s, u"3389"_s}}) {
        ServerRecord s;
        s.ip = ip;
        s.port = port;
        s.sort = u"5"_s;
        s.name = u"untouched"_s;
        QVERIFY(store.insertServer(s));
    }
    const QStringList lines{
        line(lineFields(u"198.18.0.1"_s, u"22"_s)), line(lineFields(u"198.18.0.9"_s, u"22"_s)),
        line(lineFields(u"198.18.0.3"_s, u"22"_s)), line(lineFields(u"198.18.0.2 "_s, u"22"_s)),
        line(lineFields(u"198.18.0.2"_s, u"22"_s))};
    JobStop stop;
    QVERIFY(CloudDownload::mergeBlock(home_.databasePath(), sink_,
                                      u"\r\n"_s + lines.join(u"\r\n\r\n"_s) + u"\r\n"_s,
                                      CloudDownload::mergeServerLine, stop));
    QStringList outcomes;
    for (const QString& message : takeLog())
        if (!message.startsWith(u"-S_ID"_s))
            outcomes << message;
    QCOMPARE(outcomes, (QStringList{u"-198.18.0.1 本地已存在该IP，本次执行覆盖操作"_s,
                                    u"-198.18.0.9 下载成功"_s, u"-198.18.0.3 下载成功"_s,
                                    u"-198.18.0.2  下载成功"_s,
                                    u"-198.18.0.2 本地已存在该IP，本次执行覆盖操作"_s}));
    const QList<QStringList> table = serverTable(store);
    QCOMPARE(table.size(), 6);
    // The server on 198.18.0.3 port 3389 is another server than the line's port 22.
    QCOMPARE(table[2][10], u"untouched"_s);
    QCOMPARE(table[0][10], u"服务器一"_s);
    QCOMPARE(table[1][10], u"服务器一"_s);
}

void TestCloudMerge::linesTheStoreCannotKeepAreRefused_data() {
    QTest::addColumn<int>("field");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("download"); // the download's log line, "" when stored
    QTest::addColumn<QString>("batch");    // the batch add's

    QTest::newRow("emoji in the remark") << int(ServerLine::Remark) << u"备注😀"_s
                                         << u"-198.18.0.1 下载失败 备注信息含有无法保存的字符：😀"_s
                                         << u"-198.18.0.1 添加失败 备注信息含有无法保存的字符：😀"_s;
    QTest::newRow("several, each named once, in the name")
        << int(ServerLine::Name) << u"a😀b½c😀"_s
        << u"-198.18.0.1 下载失败 服务器名称含有无法保存的字符：😀、½"_s
        << u"-198.18.0.1 添加失败 服务器名称含有无法保存的字符：😀、½"_s;
    QTest::newRow("one that does not show, in the account")
        << int(ServerLine::Account) << u"ro​ot"_s
        << u"-198.18.0.1 下载失败 服务器用户名含有无法保存的字符：U+200B"_s
        << u"-198.18.0.1 添加失败 服务器用户名含有无法保存的字符：U+200B"_s;
    QTest::newRow("a password's characters stay out of the log")
        << int(ServerLine::Password) << u"pw😀"_s << QString()
        << u"-198.18.0.1 添加失败 服务器密码含有无法保存的字符"_s;
    QTest::newRow("question marks, dashes and quotes are kept")
        << int(ServerLine::Remark) << u"含问号?的-备注 'x' \"y\""_s << QString() << QString();
}

// Download and batch lines alike: a field GBK cannot hold refuses the line before anything is
// written, naming the field and the characters; a password's characters are not logged.
// (A downloaded password is sealed hex and never holds such a character.)
void TestCloudMerge::linesTheStoreCannotKeepAreRefused() {
    QFETCH(int, field);
    QFETCH(QString, value);
    QFETCH(QString, download);
    QFETCH(QString, batch);

    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    QStringList fields = lineFields().mid(0, ServerLine::PanelUrl);
    fields[field] = value;
    if (field != ServerLine::Password) {
        const LineWrite m = CloudDownload::mergeServerLine(store, line(fields));
        QCOMPARE(m.wrote, download.isEmpty());
        if (!download.isEmpty())
            QCOMPARE(m.log, QStringList{download});
    }
    fields[ServerLine::Port] = u"23"_s;
    const LineWrite b = BatchImport::addLine(store, line(fields));
    QCOMPARE(b.wrote, batch.isEmpty());
    if (!batch.isEmpty())
        QCOMPARE(b.log, QStringList{batch});
    const LineWrite g = CloudDownload::mergeGroupLine(store, value + u"----1"_s);
    QCOMPARE(g.wrote, batch.isEmpty());

    // What was stored is the value itself, never a "?" in place of a character.
    const QList<QStringList> table = serverTable(store);
    QCOMPARE(table.size(), batch.isEmpty() ? 2 : 0);
    for (const QStringList& row : table)
        QVERIFY(row.contains(value));
}

// Thousands of lines in transactions of a slice each: every line is merged once, the log
// keeps the order of the lines, and each committed slice hands over the rows it added, each
// with its own values; a text the lines repeat is one string across slices.
void TestCloudMerge::longBlockMergesInSlices() {
    constexpr int kLines = 3000;
    QStringList lines;
    for (int i = 0; i < kLines; ++i)
        lines << line(lineFields(u"198.18.%1.%2"_s.arg(i / 256).arg(i % 256)));
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    CloudDownload::SlicedMerge merge(lines.join(u"\r\n"_s), CloudDownload::mergeServerLine);
    QCOMPARE(merge.total(), kLines);
    int slices = 0;
    QList<ServerRecord> added;
    while (!merge.isDone()) {
        const auto slice = merge.nextSlice(store, std::chrono::milliseconds(2), sink_);
        QVERIFY(slice.written);
        added << slice.added;
        ++slices;
    }
    QVERIFY(slices > 1);
    QCOMPARE(added.size(), kLines);
    const ServerRecord& first = added.first();
    const ServerRecord& last = added.last();
    QCOMPARE(last.ip, u"198.18.11.183"_s);
    QCOMPARE((QStringList{last.group, last.user, last.password, last.port, last.system}),
             (QStringList{u"香港"_s, u"root"_s, u"p&w= %中"_s, u"22"_s, u"linux"_s}));
    QVERIFY(last.group.isSharedWith(first.group));
    QVERIFY(last.user.isSharedWith(first.user));
    QVERIFY(!last.ip.isSharedWith(first.ip));
    const QStringList log = takeLog();
    QCOMPARE(log.size(), 2 * kLines);
    QCOMPARE(log[2 * kLines - 1], u"-198.18.11.183 下载成功"_s);
    QCOMPARE(serverTable(store).size(), kLines);
}

// A stop raised after the first slice ends the merge there: that slice is in the file, the
// rest is not, and nothing was logged for lines that were not merged.
void TestCloudMerge::interruptionKeepsMergedSlices() {
    QStringList lines;
    for (int i = 0; i < 20000; ++i)
        lines << line(lineFields(u"198.19.%1.%2"_s.arg(i / 256).arg(i % 256)));
    JobStop stop;
    qsizetype firstSlice = 0;
    QVERIFY(CloudDownload::mergeBlock(home_.databasePath(), sink_, lines.join(u"\r\n"_s),
                                      CloudDownload::mergeServerLine, stop,
                                      [&](const QList<ServerRecord>& servers) {
                                          if (firstSlice == 0)
                                              firstSlice = servers.size();
                                          stop.raise();
                                      }));
    QVERIFY(firstSlice > 0);
    QVERIFY(firstSlice < lines.size());
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    QCOMPARE(serverTable(store).size(), firstSlice);
    QCOMPARE(takeLog().size(), 2 * firstSlice);
}

void TestCloudMerge::failedCommitReportsNothingWritten_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<SlicedLines::WriteLine>("write");
    QTest::addColumn<QStringList>("outcomes");
    QTest::newRow("batch add")
        << u"默认分组----a----127.0.0.1----root----pw----22----linux----r----s----e----5"_s
        << &BatchImport::addLine << QStringList{u"-127.0.0.1 添加失败"_s};
    QTest::newRow("download: new and stored server")
        << line(lineFields(u"198.18.0.9"_s)) + u"\r\n"_s + line(lineFields(u"198.18.0.1"_s))
        << &CloudDownload::mergeServerLine
        << QStringList{u"-198.18.0.9 下载失败"_s, u"-198.18.0.1 下载失败 指定服务器IP已经存在"_s};
    QTest::newRow("download: group")
        << u"生产----1"_s << &CloudDownload::mergeGroupLine << QStringList{u"-生产 下载分组失败"_s};
}

// A slice whose commit fails reports none of its lines as written and shows no row: every
// line that wrote gets its failure message, then the reason. Nothing is in the file. (A
// deferred foreign key that every new row breaks makes the commit itself fail.)
void TestCloudMerge::failedCommitReportsNothingWritten() {
    QFETCH(QString, text);
    QFETCH(SlicedLines::WriteLine, write);
    QFETCH(QStringList, outcomes);
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    QVERIFY(
        store.insertBatchServer(CloudDownload::parseServerLine(line(lineFields()))->server, false));
    const QList<QStringList> before = serverTable(store);
    StoreConnection& sql = store.connection();
    QVERIFY(sql.execute(u"PRAGMA foreign_keys=ON;"
                        "CREATE TABLE owner(id INTEGER PRIMARY KEY);"
                        "CREATE TABLE owned(owner_id INTEGER REFERENCES owner(id)"
                        " DEFERRABLE INITIALLY DEFERRED);"
                        "CREATE TRIGGER s AFTER INSERT ON server_data"
                        " BEGIN INSERT INTO owned VALUES(-1); END;"
                        "CREATE TRIGGER u AFTER UPDATE ON server_data"
                        " BEGIN INSERT INTO owned VALUES(-1); END;"
                        "CREATE TRIGGER g AFTER INSERT ON server_class"
                        " BEGIN INSERT INTO owned VALUES(-1); END;"_s));
    takeLog();

    SlicedLines lines(text.split(u"\r\n"_s), write);
    const SlicedLines::Slice slice = lines.nextSlice(store, std::chrono::seconds(5), sink_);
    QVERIFY(lines.isDone());
    QVERIFY(!slice.written);
    QVERIFY(slice.added.isEmpty());
    QCOMPARE(lines.added(), 0);

    QStringList log = takeLog();
    QVERIFY(!log.isEmpty());
    const QString reason = log.takeLast();
    QVERIFY2(reason.startsWith(u"-保存到数据库失败：FOREIGN KEY"_s), qPrintable(reason));
    QStringList logged;
    for (const QString& message : std::as_const(log))
        if (!message.startsWith(u"-S_ID"_s))
            logged << message;
    QCOMPARE(logged, outcomes);
    QCOMPARE(serverTable(store), before);
    const auto groups = store.groups();
    QVERIFY(groups);
    QCOMPARE(groups->size(), 1);
}

QTEST_GUILESS_MAIN(TestCloudMerge)
#include "tst_cloud_merge.moc"
