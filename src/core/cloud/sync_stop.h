#pragma once

#include <QMutex>
#include <QWaitCondition>

#include <chrono>

// Lets the window end the cloud work it started when it closes: the workers ask it before
// every request and every slice of a merge, and their pacing pauses end as soon as it is
// raised. Shared between the UI thread and the workers.
class SyncStop {
public:
    void raise();
    bool isRaised() const;
    // Pauses for `duration`, or less when the stop is raised meanwhile; false when raised.
    bool pause(std::chrono::milliseconds duration);

private:
    mutable QMutex lock_;
    QWaitCondition raisedCondition_;
    bool raised_ = false;
};
