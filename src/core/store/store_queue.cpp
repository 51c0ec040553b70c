#include "core/store/store_queue.h"

#include <QCoreApplication>
#include <QPointer>

// Owned by the application, so it ends when the application does, after the operation under
// way has finished (a write the user asked for is not cut off). Not a static: at process exit
// Windows holds its loader lock while statics are destroyed, and waiting there for the pool's
// thread to end never returns.
QThreadPool& StoreQueue::pool() {
    static QPointer<QThreadPool> pool;
    if (!pool) {
        pool = new QThreadPool(QCoreApplication::instance());
        pool->setMaxThreadCount(1);
    }
    return *pool;
}
