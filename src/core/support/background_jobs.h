#pragma once

#include "core/support/job_stop.h"
#include "core/support/run_then_deliver.h"

#include <QCoreApplication>
#include <QPointer>
#include <QThreadPool>

#include <functional>

// Work a window starts off the UI thread and must be able to end: the cloud upload and
// download, the announcement runs, the reachability probes. The jobs run on a pool of their
// own, so a slow request never holds up the list reads of the global pool, and its owner ends
// them in one call: shutDown() drops the jobs not yet started, raises the stop the running
// ones ask before each step, and waits for them.
class BackgroundJobs {
public:
    explicit BackgroundJobs(int maxRunning) { pool_.setMaxThreadCount(maxRunning); }
    ~BackgroundJobs() { shutDown(); }
    BackgroundJobs(const BackgroundJobs&) = delete;
    BackgroundJobs& operator=(const BackgroundJobs&) = delete;

    // Runs `work` on the pool and hands its result to `deliver(receiver, result)` on the UI
    // thread unless the receiver is gone. Nothing starts once the jobs are shut down.
    template <typename Receiver, typename Work, typename Deliver>
    void run(Receiver* receiver, Work work, Deliver deliver) {
        if (!stop_.isRaised())
            runThenDeliver(pool_, receiver, std::move(work), std::move(deliver));
    }

    // What the running jobs ask before each step.
    JobStop& stop() { return stop_; }

    // Dropping the queue before raising the stop keeps a job that ends on the stop from
    // handing its thread to a queued one.
    void shutDown() {
        pool_.clear();
        stop_.raise();
        pool_.waitForDone();
    }

    // A progress report for a job: calling it on a worker hands `value` to
    // `show(receiver, value)` on the UI thread, in the order of the calls, unless the receiver
    // is gone by then.
    template <typename Value, typename Receiver, typename Show>
    static std::function<void(const Value&)> progressTo(Receiver* receiver, Show show) {
        QPointer<Receiver> guard(receiver);
        return [guard, show = std::move(show)](const Value& value) {
            QMetaObject::invokeMethod(
                qApp,
                [guard, show, value] {
                    if (guard)
                        show(guard.data(), value);
                },
                Qt::QueuedConnection);
        };
    }

private:
    QThreadPool pool_;
    JobStop stop_;
};
