#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include <pthread.h>
#include <time.h>

// An observer of the UI thread from outside it: a thread of its own posts a ping to the UI
// thread every millisecond and notes how long the ping waited there. Only one ping is out at a
// time, so a stall is one long wait, not a queue of pings. Besides the wall time of the longest
// wait it notes the UI thread's own processor time in that wait: on a shared machine a wait is
// also time the thread sat runnable while other processes ran, and its processor time is the
// part the program itself caused.
class StallPinger {
public:
    // Create on the UI thread, whose event loop the pings go through.
    StallPinger() : state_(std::make_shared<State>(pthread_self())) {}
    ~StallPinger() { stop(); }
    StallPinger(const StallPinger&) = delete;
    StallPinger& operator=(const StallPinger&) = delete;

    // Starts a new observation; the figures of the last one are forgotten.
    void start() {
        stop();
        state_->reset();
        running_ = true;
        thread_ = std::thread([this] { run(); });
    }

    // Stops pinging; a ping still waiting counts with the time it has waited so far.
    void stop() {
        if (!thread_.joinable())
            return;
        running_ = false;
        thread_.join();
        state_->close();
    }

    double worstMs() const { return state_->worst().first; }
    double worstCpuMs() const { return state_->worst().second; }

private:
    class State {
    public:
        explicit State(pthread_t ui) { pthread_getcpuclockid(ui, &uiClock_); }

        void reset() {
            std::lock_guard lock(mutex_);
            worstMs_ = worstCpuMs_ = 0;
            outstanding_ = false;
        }
        // True when a ping was sent; false while the last one still waits.
        bool send(quint64& round) {
            std::lock_guard lock(mutex_);
            if (outstanding_)
                return false;
            outstanding_ = true;
            sentAt_ = ns(CLOCK_MONOTONIC);
            sentCpu_ = ns(uiClock_);
            round = round_;
            return true;
        }
        void answer(quint64 round) {
            std::lock_guard lock(mutex_);
            if (round == round_ && outstanding_)
                noteWait();
        }
        void close() {
            std::lock_guard lock(mutex_);
            if (outstanding_)
                noteWait();
            ++round_; // a ping of this observation that arrives later is not counted
        }
        std::pair<double, double> worst() const {
            std::lock_guard lock(mutex_);
            return {worstMs_, worstCpuMs_};
        }

    private:
        static qint64 ns(clockid_t clock) {
            timespec t{};
            clock_gettime(clock, &t);
            return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
        }
        void noteWait() {
            outstanding_ = false;
            const double waitMs = double(ns(CLOCK_MONOTONIC) - sentAt_) / 1e6;
            if (waitMs > worstMs_) {
                worstMs_ = waitMs;
                worstCpuMs_ = double(ns(uiClock_) - sentCpu_) / 1e6;
            }
        }

        clockid_t uiClock_{};
        mutable std::mutex mutex_;
        bool outstanding_ = false;
        quint64 round_ = 0;
        qint64 sentAt_ = 0;
        qint64 sentCpu_ = 0;
        double worstMs_ = 0;
        double worstCpuMs_ = 0;
    };

    void run() {
        auto next = std::chrono::steady_clock::now();
        while (running_) {
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
            quint64 round = 0;
            if (state_->send(round))
                QMetaObject::invokeMethod(
                    qApp, [state = state_, round] { state->answer(round); }, Qt::QueuedConnection);
        }
    }

    std::shared_ptr<State> state_;
    std::thread thread_;
    std::atomic<bool> running_{false};
};

// Processes the UI thread's events until `done` or `limitMs`; whether `done` came true.
inline bool waitFor(const std::function<bool()>& done, qint64 limitMs) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return done();
}
