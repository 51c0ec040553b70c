// The paced loop under the list fill, the probe pass, the batch deletes and the batch add.

#include "core/support/paced_steps.h"

#include <QTest>

using namespace std::chrono_literals;

class TestPacedSteps : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void firstStepAtOnceThenUntilDone();
    void firstStepAfterPause();
    void stopFromInsideAStep();
    void aStepThatStartsNewWorkKeepsIt();
};

void TestPacedSteps::firstStepAtOnceThenUntilDone() {
    PacedSteps steps(5ms);
    int runs = 0;
    steps.start([&] { return ++runs < 3; });
    QCOMPARE(runs, 1);
    QVERIFY(steps.isRunning());
    QTRY_VERIFY(!steps.isRunning());
    QCOMPARE(runs, 3);

    // Work that is done after its first step never starts the timer.
    steps.start([&] { return ++runs < 0; });
    QCOMPARE(runs, 4);
    QVERIFY(!steps.isRunning());
}

void TestPacedSteps::firstStepAfterPause() {
    PacedSteps steps(5ms);
    int runs = 0;
    steps.startAfterPause([&] { return ++runs < 2; });
    QCOMPARE(runs, 0);
    QTRY_VERIFY(!steps.isRunning());
    QCOMPARE(runs, 2);
}

void TestPacedSteps::stopFromInsideAStep() {
    PacedSteps steps(5ms);
    int runs = 0;
    steps.start([&] {
        if (++runs == 2)
            steps.stop();
        return true;
    });
    QTRY_VERIFY(!steps.isRunning());
    QTest::qWait(30);
    QCOMPARE(runs, 2);
}

// The list fill's last step may start the next fill; the old work's end must not stop it.
void TestPacedSteps::aStepThatStartsNewWorkKeepsIt() {
    PacedSteps steps(5ms);
    int newRuns = 0;
    steps.start([&] {
        steps.startAfterPause([&] { return ++newRuns < 3; });
        return false;
    });
    QVERIFY(steps.isRunning());
    QTRY_COMPARE(newRuns, 3);
    QVERIFY(!steps.isRunning());
}

QTEST_GUILESS_MAIN(TestPacedSteps)
#include "tst_paced_steps.moc"
