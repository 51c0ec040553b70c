#include "core/store/store_queue.h"

namespace {

struct OneThreadPool : QThreadPool {
    OneThreadPool() { setMaxThreadCount(1); }
};

} // namespace

// Ends with the process, after the operation under way has finished: a write the user asked
// for is not cut off.
QThreadPool& StoreQueue::pool() {
    static OneThreadPool pool;
    return pool;
}
