#include "core/cloud/sync_stop.h"

#include <QDeadlineTimer>

void SyncStop::raise() {
    QMutexLocker lock(&lock_);
    raised_ = true;
    raisedCondition_.wakeAll();
}

bool SyncStop::isRaised() const {
    QMutexLocker lock(&lock_);
    return raised_;
}

bool SyncStop::pause(std::chrono::milliseconds duration) {
    QMutexLocker lock(&lock_);
    const QDeadlineTimer deadline(duration);
    while (!raised_ && !deadline.hasExpired())
        raisedCondition_.wait(&lock_, deadline);
    return !raised_;
}
