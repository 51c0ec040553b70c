// The cloud service's writes committed together (GroupCommit) on its real database, SQLite or,
// in the "_postgresql" run, PostgreSQL: every write gets its own result, a failing one takes
// no other write of its batch with it and keeps none of its own statements, and many writers
// at once lose nothing.

#include "cloud_service/group_commit.h"
#include "cloud_service/postgres_db.h"
#include "cloud_service/sqlite_db.h"
#include "common/private_postgres.h"

#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr std::int64_t kNoSuchAccount = 999999;

bool onPostgres() {
    return qgetenv("TORVANE_TEST_CLOUD_STORE") == QByteArrayLiteral("postgresql");
}

// A write that stores group `name` of `account`; it fails when the account does not exist.
GroupCommit::Write groupWrite(std::int64_t account, const std::string& name) {
    return [account, name](SqlSession& db) {
        return db
            .run("INSERT INTO server_group (account_id, name, sort) VALUES (?, ?, '1')",
                 {account, name})
            .has_value();
    };
}

// A write of two statements: group `name` of `account`, then the same group of `second`. When
// `second` does not exist it fails, and its first group must not be kept either.
GroupCommit::Write twoGroupsWrite(std::int64_t account, std::int64_t second,
                                  const std::string& name) {
    return [account, second, name](SqlSession& db) {
        return groupWrite(account, name + " first")(db) && groupWrite(second, name)(db);
    };
}

} // namespace

class TestCloudServiceBatches : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();

    void failingWriteLeavesItsBatch_data();
    void failingWriteLeavesItsBatch();
    void failingWriteAloneKeepsNothing();
    void batchMarksEachAccountOnce();
    void manyWritersLoseNothing();

private:
    // The names of the account's groups, in the order stored.
    QStringList groupNames();

    QTemporaryDir dir_;
    std::unique_ptr<SqlDatabase> database_;
    std::unique_ptr<SessionPool> pool_;
    std::int64_t account_ = 0;
    int accounts_ = 0;
};

void TestCloudServiceBatches::initTestCase() {
    QVERIFY(dir_.isValid());
    if (onPostgres()) {
        PrivatePostgres* postgres = PrivatePostgres::shared();
        QVERIFY(postgres != nullptr);
        const QString address = postgres->createDatabase();
        QVERIFY(!address.isEmpty());
        database_ = std::make_unique<PostgresDatabase>(address.toStdString());
    } else {
        database_ = std::make_unique<SqliteDatabase>(dir_.filePath(u"cloud.db"_s).toStdString());
    }
    std::string error;
    QVERIFY2(database_->prepare(true, error), error.c_str());
    pool_ = std::make_unique<SessionPool>(*database_);
}

// Each test writes into an account of its own.
void TestCloudServiceBatches::init() {
    SessionPool::Lease db(*pool_);
    QVERIFY(db);
    const auto added = db->run("INSERT INTO account (username, password_hash, phone, qq, mail) "
                               "VALUES (?, 'x', '1', '', '') RETURNING id",
                               {"user" + std::to_string(++accounts_)});
    QVERIFY(added && added->size() == 1);
    account_ = std::stoll(added->front()[0]);
}

QStringList TestCloudServiceBatches::groupNames() {
    SessionPool::Lease db(*pool_);
    QStringList names;
    if (!db)
        return names;
    const auto rows =
        db->run("SELECT name FROM server_group WHERE account_id = ? ORDER BY id", {account_});
    for (const auto& row : rows.value_or(SqlRows()))
        names << QString::fromStdString(row[0]);
    return names;
}

void TestCloudServiceBatches::failingWriteLeavesItsBatch_data() {
    QTest::addColumn<int>("failing");
    QTest::newRow("first of the batch") << 0;
    QTest::newRow("in its middle") << 3;
    QTest::newRow("last of it") << 7;
}

// A write holds the commit until eight more are queued, so those eight are one batch; one
// of them names an account that does not exist, which the database refuses.
void TestCloudServiceBatches::failingWriteLeavesItsBatch() {
    QFETCH(int, failing);
    constexpr int kBatch = 8;
    GroupCommit commits(*pool_);
    std::atomic<bool> holding{false};
    std::atomic<bool> allQueued{false};
    const GroupCommit::Write holder = [&](SqlSession& db) {
        holding = true;
        for (int i = 0; i < 10000 && commits.queued() < kBatch; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        allQueued = commits.queued() == kBatch;
        return groupWrite(account_, "holder")(db);
    };
    std::vector<std::thread> threads;
    bool holderStored = false;
    threads.emplace_back([&] { holderStored = commits.run(holder); });
    QTRY_VERIFY(holding.load());
    std::vector<char> stored(kBatch, 0);
    std::vector<GroupCommit::Write> writes;
    for (int i = 0; i < kBatch; ++i)
        writes.push_back(i == failing ? twoGroupsWrite(account_, kNoSuchAccount, "failing")
                                      : groupWrite(account_, std::to_string(i)));
    for (int i = 0; i < kBatch; ++i)
        threads.emplace_back(
            [&, i] { stored[std::size_t(i)] = commits.run(writes[std::size_t(i)]); });
    for (std::thread& thread : threads)
        thread.join();

    QVERIFY(allQueued);
    QVERIFY(holderStored);
    QStringList expected{u"holder"_s};
    for (int i = 0; i < kBatch; ++i) {
        QCOMPARE(bool(stored[std::size_t(i)]), i != failing);
        if (i != failing)
            expected << QString::number(i);
    }
    QStringList names = groupNames();
    // The holder first; the batch's writes in whatever order their threads queued them.
    QVERIFY(!names.isEmpty());
    QCOMPARE(names.takeFirst(), expected.takeFirst());
    names.sort();
    expected.sort();
    QCOMPARE(names, expected);
}

void TestCloudServiceBatches::failingWriteAloneKeepsNothing() {
    GroupCommit commits(*pool_);
    QVERIFY(!commits.run(twoGroupsWrite(account_, kNoSuchAccount, "alone")));
    QVERIFY(commits.run(twoGroupsWrite(account_, account_, "kept")));
    QCOMPARE(groupNames(), QStringList({u"kept first"_s, u"kept"_s}));
}

// The accounts a batch's writes name are marked once each, in ascending order, in the batch's
// transaction; a write alone gets its mark too.
void TestCloudServiceBatches::batchMarksEachAccountOnce() {
    std::vector<std::vector<std::int64_t>> marked;
    GroupCommit commits(*pool_, [&marked](SqlSession&, const std::vector<std::int64_t>& accounts) {
        marked.push_back(accounts);
        return true;
    });
    const std::vector<std::optional<std::int64_t>> named{5, 2, 5, std::nullopt, 9, 2};
    std::atomic<bool> holding{false};
    const GroupCommit::Write holder = [&](SqlSession& db) {
        holding = true;
        for (int i = 0; i < 10000 && commits.queued() < named.size(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return groupWrite(account_, "holder")(db);
    };
    std::vector<std::thread> threads;
    threads.emplace_back([&] { commits.run(holder, 7); });
    QTRY_VERIFY(holding.load());
    std::vector<GroupCommit::Write> writes;
    for (std::size_t i = 0; i < named.size(); ++i)
        writes.push_back(groupWrite(account_, std::to_string(i)));
    for (std::size_t i = 0; i < named.size(); ++i)
        threads.emplace_back([&, i] { commits.run(writes[i], named[i]); });
    for (std::thread& thread : threads)
        thread.join();
    QCOMPARE(groupNames().size(), qsizetype(named.size() + 1));
    QCOMPARE(marked, (std::vector<std::vector<std::int64_t>>{{7}, {2, 5, 9}}));
}

void TestCloudServiceBatches::manyWritersLoseNothing() {
    constexpr int kWriters = 16;
    constexpr int kWritesEach = 25;
    GroupCommit commits(*pool_);
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w) {
        threads.emplace_back([&, w] {
            for (int i = 0; i < kWritesEach; ++i)
                if (!commits.run(groupWrite(account_, std::to_string(w * kWritesEach + i))))
                    ++failures;
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    QCOMPARE(failures.load(), 0);
    QStringList names = groupNames();
    QStringList expected;
    for (int i = 0; i < kWriters * kWritesEach; ++i)
        expected << QString::number(i);
    names.sort();
    expected.sort();
    QCOMPARE(names, expected);
}

QTEST_GUILESS_MAIN(TestCloudServiceBatches)
#include "tst_cloud_service_batches.moc"
