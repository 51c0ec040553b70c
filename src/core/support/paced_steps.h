#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <functional>

// Work done one step at a time on the thread this object lives on, a fixed pause apart, so the
// window handles its events between steps and nothing waits in a nested event loop. The list
// fill, the probe pass, the batch deletes and the batch add pace themselves this way.
class PacedSteps : public QObject {
public:
    // One step of the work; false when there is nothing more to do.
    using Step = std::function<bool()>;

    explicit PacedSteps(std::chrono::milliseconds pause, QObject* parent = nullptr);

    // Runs the first step at once, then one step per pause until a step returns false or
    // stop() is called. Replaces any work still running.
    void start(Step step);
    // The same, with a pause before the first step too.
    void startAfterPause(Step step);
    // No further step runs; a step may call this on its own work.
    void stop();
    bool isRunning() const { return timer_.isActive(); }
    void setPause(std::chrono::milliseconds pause) { timer_.setInterval(pause); }

private:
    void runStep();

    QTimer timer_;
    Step step_;
    quint64 work_ = 0;
};
