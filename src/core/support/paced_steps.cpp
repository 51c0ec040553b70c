#include "core/support/paced_steps.h"

PacedSteps::PacedSteps(std::chrono::milliseconds pause, QObject* parent) : QObject(parent) {
    timer_.setInterval(pause);
    connect(&timer_, &QTimer::timeout, this, &PacedSteps::runStep);
}

void PacedSteps::start(Step step) {
    startAfterPause(std::move(step));
    runStep();
}

void PacedSteps::startAfterPause(Step step) {
    ++work_;
    step_ = std::move(step);
    timer_.start();
}

void PacedSteps::stop() {
    timer_.stop();
}

// A step may stop its work or start other work; its own end then stops nothing newer.
void PacedSteps::runStep() {
    const Step step = step_;
    const quint64 work = work_;
    if (!step() && work == work_)
        timer_.stop();
}
