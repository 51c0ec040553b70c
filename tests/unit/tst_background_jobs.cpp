// The pool of their own that the cloud upload and download, the announcement runs and the
// probes run on, and how a closing window ends it.

#include "core/support/background_jobs.h"

#include <QSemaphore>
#include <QTest>

#include <atomic>

using namespace std::chrono_literals;

class TestBackgroundJobs : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void resultsReachTheReceiverUnlessItIsGone();
    void shutDownEndsRunningWorkAndDropsTheRest();
    void progressArrivesInOrderWhileTheReceiverLives();
};

void TestBackgroundJobs::resultsReachTheReceiverUnlessItIsGone() {
    BackgroundJobs jobs(2);
    QObject kept;
    auto gone = std::make_unique<QObject>();
    int delivered = 0;
    jobs.run(
        &kept, [] { return 7; }, [&](QObject*, int value) { delivered += value; });
    QSemaphore release;
    jobs.run(
        gone.get(), [&] { return release.acquire(), 1; },
        [&](QObject*, int value) { delivered += value * 100; });
    gone.reset();
    release.release();
    QTRY_COMPARE(delivered, 7);
    QTest::qWait(20);
    QCOMPARE(delivered, 7);
}

void TestBackgroundJobs::shutDownEndsRunningWorkAndDropsTheRest() {
    BackgroundJobs jobs(1);
    QObject receiver;
    std::atomic<int> pausesCut = 0;
    std::atomic<int> started = 0;
    QSemaphore running;
    // A job pacing itself for a minute, as an upload does between requests.
    jobs.run(
        &receiver,
        [&] {
            ++started;
            running.release();
            if (!jobs.stop().pause(60s))
                ++pausesCut;
            return 0;
        },
        [](QObject*, int) {});
    // Queued behind it on the single thread.
    jobs.run(
        &receiver, [&] { return ++started; }, [](QObject*, int) {});
    running.acquire();
    jobs.shutDown();
    QCOMPARE(pausesCut.load(), 1);
    QCOMPARE(started.load(), 1);

    // Nothing starts once the jobs are shut down.
    jobs.run(
        &receiver, [&] { return ++started; }, [](QObject*, int) {});
    QTest::qWait(20);
    QCOMPARE(started.load(), 1);
}

void TestBackgroundJobs::progressArrivesInOrderWhileTheReceiverLives() {
    BackgroundJobs jobs(1);
    auto receiver = std::make_unique<QObject>();
    QList<int> shown;
    const auto report =
        BackgroundJobs::progressTo<int>(receiver.get(), [&](QObject*, int n) { shown << n; });
    QSemaphore reported;
    jobs.run(
        receiver.get(),
        [&] {
            for (int n = 1; n <= 50; ++n)
                report(n);
            reported.release();
            return 0;
        },
        [](QObject*, int) {});
    reported.acquire();
    QList<int> expected;
    for (int n = 1; n <= 50; ++n)
        expected << n;
    QTRY_COMPARE(shown, expected);

    receiver.reset();
    report(51);
    QTest::qWait(20);
    QCOMPARE(shown.size(), 50);
}

QTEST_GUILESS_MAIN(TestBackgroundJobs)
#include "tst_background_jobs.moc"
