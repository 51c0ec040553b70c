#pragma once

#include "core/support/background_jobs.h"

#include <utility>

// The requests of a cloud window. Each runs on a worker with a stop that the window raises
// when it closes: the request under way ends within the HTTP client's stop check, and a
// reply that comes after the stop is dropped. Going away, the object waits for that worker.
class WindowRequests {
public:
    // Runs `work(stop)` on a worker and hands its result to `deliver(receiver, result)` on
    // the UI thread, unless the receiver is gone or the requests were cancelled by then.
    template <typename Receiver, typename Work, typename Deliver>
    void run(Receiver* receiver, Work work, Deliver deliver) {
        const JobStop* stop = &jobs_.stop();
        jobs_.run(
            receiver, [work = std::move(work), stop] { return work(stop); },
            [deliver = std::move(deliver), stop](Receiver* target, auto result) {
                if (!stop->isRaised())
                    deliver(target, std::move(result));
            });
    }

    void cancel() { jobs_.stop().raise(); }

private:
    BackgroundJobs jobs_{1};
};
