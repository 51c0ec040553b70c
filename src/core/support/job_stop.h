#pragma once

#include <QMutex>
#include <QWaitCondition>

#include <chrono>

// Lets a window end the long work it started when it closes: the work asks it before every
// step (a request, a slice of a merge) and its pacing pauses end as soon as it is raised.
// Shared between the UI thread and the workers.
class JobStop {
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
