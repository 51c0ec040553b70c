// The SQLite layer the client's store and torvane-cloud share: failures come back as results
// with SQLite's message, and a write transaction keeps nothing it did not commit.
#include "core/sqlite/sqlite_core.h"

#include <QTemporaryDir>
#include <QTest>

#include <sqlite3.h>

#include <string>
#include <utility>

class SqliteCoreTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init();
    void failuresCarryTheirMessage_data();
    void failuresCarryTheirMessage();
    void boundStatementRunsAgainAfterAFailure();
    void transactionKeepsOnlyWhatItCommits_data();
    void transactionKeepsOnlyWhatItCommits();
    void failedCommitIsRolledBack();
    void lockHeldElsewhereIsAFailureNotAWait();
    void failedOpenSaysWhy();

private:
    SqliteConnection openConnection(SqliteBusyWait wait = {});
    static long long count(SqliteConnection& db, const char* sql);

    QTemporaryDir dir_;
    std::string path_;
};

void SqliteCoreTest::init() {
    QVERIFY(dir_.isValid());
    path_ = dir_.filePath(QString::fromLatin1(QTest::currentTestFunction()) +
                          QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".db"))
                .toStdString();
}

SqliteConnection SqliteCoreTest::openConnection(SqliteBusyWait wait) {
    SqliteConnection db;
    const SqliteStatus opened = db.open(path_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, wait);
    if (!opened)
        qWarning("open failed: %s", opened.message.c_str());
    return db;
}

long long SqliteCoreTest::count(SqliteConnection& db, const char* sql) {
    SqliteStatement statement = db.prepare(sql);
    if (!statement.isValid() || statement.step() != SqliteStep::Row)
        return -1;
    return statement.integer(0);
}

void SqliteCoreTest::failuresCarryTheirMessage_data() {
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message");
    // Refused when prepared, and refused while running: both reach the caller the same way.
    QTest::newRow("no such table")
        << "INSERT INTO missing VALUES (1)" << SQLITE_ERROR << "no such table: missing";
    QTest::newRow("unique name") << "INSERT INTO item (name) VALUES ('a')"
                                 << SQLITE_CONSTRAINT_UNIQUE
                                 << "UNIQUE constraint failed: item.name";
    // A later statement of several fails after the first ran.
    QTest::newRow("second of two")
        << "INSERT INTO item (name) VALUES ('b'); SELECT colour FROM item" << SQLITE_ERROR
        << "no such column: colour";
}

void SqliteCoreTest::failuresCarryTheirMessage() {
    QFETCH(QString, sql);
    QFETCH(int, code);
    QFETCH(QString, message);
    SqliteConnection db = openConnection();
    QVERIFY(db.execute("CREATE TABLE item (name TEXT UNIQUE); INSERT INTO item VALUES ('a')"));

    const SqliteStatus ran = db.execute(sql.toStdString());
    QVERIFY(!ran.ok());
    QCOMPARE(ran.code, code);
    QCOMPARE(QString::fromStdString(ran.message), message);
}

// A kept statement whose run failed is reset by its use, and runs with new values afterwards.
void SqliteCoreTest::boundStatementRunsAgainAfterAFailure() {
    SqliteConnection db = openConnection();
    QVERIFY(db.execute("CREATE TABLE item (name TEXT UNIQUE)"));
    SqliteStatement insert = db.prepare("INSERT INTO item (name) VALUES (?)", true);
    QVERIFY(insert.isValid());
    // Without the reset after the refused run, the next bind would be refused as a misuse.
    const std::pair<const char*, bool> runs[] = {{"a", true}, {"a", false}, {"b", true}};
    for (const auto& [name, accepted] : runs) {
        const SqliteStatementUse use(insert);
        QVERIFY(insert.bindText(1, name));
        const SqliteStatus ran = insert.run();
        QCOMPARE(ran.ok(), accepted);
        if (!accepted)
            QCOMPARE(ran.message, std::string("UNIQUE constraint failed: item.name"));
    }
    QCOMPARE(count(db, "SELECT count(*) FROM item"), 2LL);
}

void SqliteCoreTest::transactionKeepsOnlyWhatItCommits_data() {
    QTest::addColumn<bool>("commit");
    QTest::addColumn<long long>("kept");
    QTest::newRow("committed") << true << 1LL;
    QTest::newRow("left without commit") << false << 0LL;
}

void SqliteCoreTest::transactionKeepsOnlyWhatItCommits() {
    QFETCH(bool, commit);
    QFETCH(long long, kept);
    SqliteConnection db = openConnection();
    QVERIFY(db.execute("CREATE TABLE item (name TEXT)"));
    {
        SqliteTransaction transaction(db);
        QVERIFY(transaction.isActive());
        QVERIFY(db.execute("INSERT INTO item VALUES ('a')"));
        if (commit)
            QVERIFY(transaction.commit());
    }
    QCOMPARE(count(db, "SELECT count(*) FROM item"), kept);
    // The connection is out of its transaction either way: another one begins.
    SqliteTransaction next(db);
    QVERIFY(next.isActive());
}

// A commit refused by a deferred foreign key leaves nothing of the transaction behind, and the
// connection can write again.
void SqliteCoreTest::failedCommitIsRolledBack() {
    SqliteConnection db = openConnection();
    QVERIFY(db.execute("PRAGMA foreign_keys=ON; CREATE TABLE owner (id INTEGER PRIMARY KEY);"
                       "CREATE TABLE item (owner INTEGER REFERENCES owner(id) "
                       "DEFERRABLE INITIALLY DEFERRED)"));
    {
        SqliteTransaction transaction(db);
        QVERIFY(transaction.isActive());
        QVERIFY(db.execute("INSERT INTO item VALUES (7)"));
        const SqliteStatus committed = transaction.commit();
        QVERIFY(!committed.ok());
        QCOMPARE(committed.message, std::string("FOREIGN KEY constraint failed"));
        QCOMPARE(transaction.failure().message, committed.message);
        QVERIFY(!transaction.isActive());
    }
    QCOMPARE(count(db, "SELECT count(*) FROM item"), 0LL);
    SqliteTransaction next(db);
    QVERIFY(next.isActive());
    QVERIFY(db.execute("INSERT INTO owner VALUES (7); INSERT INTO item VALUES (7)"));
    QVERIFY(next.commit());
    QCOMPARE(count(db, "SELECT count(*) FROM item"), 1LL);
}

// While another connection holds the write lock past the busy time-out, the transaction does
// not begin and says why; with the lock given up, it begins.
void SqliteCoreTest::lockHeldElsewhereIsAFailureNotAWait() {
    SqliteConnection holder = openConnection();
    QVERIFY(holder.execute("CREATE TABLE item (name TEXT)"));
    SqliteConnection waiter =
        openConnection({std::chrono::milliseconds(20), /*pollEachMillisecond=*/true});
    {
        SqliteTransaction held(holder);
        QVERIFY(held.isActive());
        SqliteTransaction refused(waiter);
        QVERIFY(!refused.isActive());
        QCOMPARE(refused.failure().code, SQLITE_BUSY);
        QCOMPARE(refused.failure().message, std::string("database is locked"));
        QCOMPARE(refused.commit().message, std::string("database is locked"));
    }
    SqliteTransaction taken(waiter);
    QVERIFY(taken.isActive());
}

void SqliteCoreTest::failedOpenSaysWhy() {
    SqliteConnection db;
    const std::string missing = path_ + ".missing/file.db";
    const SqliteStatus opened = db.open(missing, SQLITE_OPEN_READWRITE, {});
    QVERIFY(!opened.ok());
    QVERIFY(!db.isOpen());
    QCOMPARE(db.failure().message, opened.message);
    QVERIFY(!db.execute("SELECT 1").ok());
    QVERIFY(!db.prepare("SELECT 1").isValid());
}

QTEST_GUILESS_MAIN(SqliteCoreTest)
#include "tst_sqlite_core.moc"
