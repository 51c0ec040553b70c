#include "core/support/job_stop.h"

#include <QDeadlineTimer>

void JobStop::raise() {
    QMutexLocker lock(&lock_);
    raised_ = true;
    raisedCondition_.wakeAll();
}

bool JobStop::isRaised() const {
    QMutexLocker lock(&lock_);
    return raised_;
}

bool JobStop::pause(std::chrono::milliseconds duration) {
    QMutexLocker lock(&lock_);
    const QDeadlineTimer deadline(duration);
    while (!raised_ && !deadline.hasExpired())
        raisedCondition_.wait(&lock_, deadline);
    return !raised_;
}
