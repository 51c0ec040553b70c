// The one notice of stored changes that the list and the group filter are read again on.

#include "core/store/store_changes.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <thread>
#include <vector>

class TestStoreChanges : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void reportsArriveLaterOnTheUiThreadAsOne();
    void aReportAfterADeliveryArrivesAgain();
};

void TestStoreChanges::reportsArriveLaterOnTheUiThreadAsOne() {
    StoreChanges changes;
    QSignalSpy spy(&changes, &StoreChanges::changed);
    QThread* deliveredOn = nullptr;
    connect(&changes, &StoreChanges::changed, this,
            [&] { deliveredOn = QThread::currentThread(); });

    // A writer on the UI thread goes on before anyone refreshes.
    changes.report(StoreChanges::Groups);
    QCOMPARE(spy.size(), 0);

    // Workers merging at the same time.
    std::vector<std::thread> workers;
    for (int i = 0; i < 8; ++i)
        workers.emplace_back([&changes] {
            for (int n = 0; n < 100; ++n)
                changes.report(StoreChanges::Servers);
        });
    for (std::thread& worker : workers)
        worker.join();

    QTRY_COMPARE(spy.size(), 1);
    QCOMPARE(spy.at(0).at(0).value<StoreChanges::Changes>(),
             StoreChanges::Groups | StoreChanges::Servers);
    QCOMPARE(deliveredOn, QThread::currentThread());
    QTest::qWait(20);
    QCOMPARE(spy.size(), 1);
}

void TestStoreChanges::aReportAfterADeliveryArrivesAgain() {
    StoreChanges changes;
    QSignalSpy spy(&changes, &StoreChanges::changed);
    changes.report(StoreChanges::Servers);
    QTRY_COMPARE(spy.size(), 1);
    std::thread([&changes] { changes.report(StoreChanges::Groups); }).join();
    QTRY_COMPARE(spy.size(), 2);
    QCOMPARE(spy.at(1).at(0).value<StoreChanges::Changes>(),
             StoreChanges::Changes(StoreChanges::Groups));
}

QTEST_GUILESS_MAIN(TestStoreChanges)
#include "tst_store_changes.moc"
