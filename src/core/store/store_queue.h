#pragma once

#include "core/support/run_then_deliver.h"

#include <QThreadPool>

// The thread on which the store operations the windows start run (StoreActions, the batch
// add's slices, the start-up's database check). A statement may wait up to the busy time-out
// for a lock another connection holds (a second Torvane), which the UI thread must never do.
// One thread keeps the operations in the order the user started them (a server's add before
// its delete), and a pool of their own keeps a held lock from queuing the list reads and cloud
// checks of the global pool behind them.
namespace StoreQueue {

QThreadPool& pool();

// Runs `work` on the store's thread and hands its result to `deliver(receiver, result)` on the
// UI thread, unless the receiver is gone by then.
template <typename Receiver, typename Work, typename Deliver>
void run(Receiver* receiver, Work work, Deliver deliver) {
    runThenDeliver(pool(), receiver, std::move(work), std::move(deliver));
}

} // namespace StoreQueue
