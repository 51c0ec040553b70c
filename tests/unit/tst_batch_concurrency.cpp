// Two Torvane processes batch-adding into one myserver.db at the same time, overlapping in
// half of their lines. Each writer runs the batch window's own slicing (BatchAdder: one write
// transaction per slice, then a short pause) and prints its log lines; the test then checks
// that every line reported added is in the file, that nothing is refused except as a true
// duplicate, and that the file is sound.

#include "core/store/batch_import.h"
#include "core/store/local_store.h"
#include "core/support/log_sink.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <cstdio>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

constexpr int kLinesPerWriter = 20000;

QString address(int i) {
    return u"127.%1.%2.%3"_s.arg(i / 65536).arg(i / 256 % 256).arg(i % 256);
}

QString batchLine(int i) {
    return u"默认分组----前台%1----%2----root----图片----22----linux----100元----2024-6-6 9:5:7----"
           u"2025-6-6 9:5:7----50"_s.arg(i)
               .arg(address(i));
}

// The writer process: adds lines [from, from + count) to the file at `path` and prints every
// log line.
int runWriter(const QString& path, int from, int count) {
    LogSink log;
    log.setReceiver([](const QString& line) { std::fputs(line.toUtf8().constData(), stdout); });
    QStringList lines;
    for (int i = from; i < from + count; ++i)
        lines << batchLine(i);
    BatchImport::BatchAdder adder(lines);
    while (!adder.isDone()) {
        LocalStore store;
        if (!store.open(path))
            return 2;
        if (!adder.nextSlice(store, BatchImport::BatchAdder::kSlice, log).written)
            return 3;
        store.close();
        std::this_thread::sleep_for(BatchImport::BatchAdder::kGap);
    }
    std::fflush(stdout);
    return 0;
}

struct Outcomes {
    QSet<QString> added;
    QSet<QString> exists;
    QSet<QString> failed;
};

Outcomes parseLog(const QByteArray& output) {
    // Windows writes a line break to standard output as CR LF, after the log line's own CR.
    static const QRegularExpression outcome(
        uR"(-(\S+) (添加成功|添加失败 指定服务器IP已经存在|添加失败)\r*$)"_s,
        QRegularExpression::MultilineOption);
    Outcomes o;
    auto it = outcome.globalMatch(QString::fromUtf8(output));
    while (it.hasNext()) {
        const auto m = it.next();
        const QString word = m.captured(2);
        (word == u"添加成功"   ? o.added
         : word == u"添加失败" ? o.failed
                               : o.exists)
            .insert(m.captured(1));
    }
    return o;
}

QStringList column(const QString& path, const QString& sql) {
    QStringList values;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2(path.toUtf8().constData(), &db, SQLITE_OPEN_READONLY, nullptr) ==
        SQLITE_OK) {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql.toUtf8().constData(), -1, &stmt, nullptr) == SQLITE_OK)
            while (sqlite3_step(stmt) == SQLITE_ROW)
                values << QString::fromLatin1(
                    reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
        sqlite3_finalize(stmt);
    }
    sqlite3_close(db);
    return values;
}

} // namespace

class TestBatchConcurrency : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void twoProcessesAddIntoOneFile();
};

void TestBatchConcurrency::twoProcessesAddIntoOneFile() {
    QTemporaryDir home;
    QVERIFY(home.isValid());
    const QString path = QDir(home.path()).filePath(u"myserver.db"_s);
    LocalStore::ensureDatabase(path);

    const int half = kLinesPerWriter / 2;
    QProcess a;
    QProcess b;
    a.start(QCoreApplication::applicationFilePath(),
            {u"--writer"_s, path, u"0"_s, QString::number(kLinesPerWriter)});
    b.start(QCoreApplication::applicationFilePath(),
            {u"--writer"_s, path, QString::number(half), QString::number(kLinesPerWriter)});
    for (QProcess* p : {&a, &b}) {
        QVERIFY(p->waitForFinished(300000));
        QCOMPARE(p->exitStatus(), QProcess::NormalExit);
        QCOMPARE(p->exitCode(), 0);
    }
    const Outcomes fromA = parseLog(a.readAllStandardOutput());
    const Outcomes fromB = parseLog(b.readAllStandardOutput());

    QVERIFY(fromA.failed.isEmpty());
    QVERIFY(fromB.failed.isEmpty());
    QCOMPARE(fromA.added.size() + fromA.exists.size(), kLinesPerWriter);
    QCOMPARE(fromB.added.size() + fromB.exists.size(), kLinesPerWriter);
    // A line is refused as existing only when the other writer added it.
    QVERIFY(fromB.added.contains(fromA.exists));
    QVERIFY(fromA.added.contains(fromB.exists));
    QVERIFY(!fromA.added.intersects(fromB.added));

    const QStringList stored = column(path, u"SELECT server_ip FROM server_data"_s);
    QCOMPARE(stored.size(), kLinesPerWriter + half);
    const QSet<QString> storedSet(stored.begin(), stored.end());
    QCOMPARE(storedSet, fromA.added + fromB.added);
    QCOMPARE(column(path, u"PRAGMA integrity_check"_s), QStringList{u"ok"_s});
}

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    if (argc == 5 && qstrcmp(argv[1], "--writer") == 0)
        return runWriter(QFile::decodeName(argv[2]), QByteArray(argv[3]).toInt(),
                         QByteArray(argv[4]).toInt());
    TestBatchConcurrency test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_batch_concurrency.moc"
