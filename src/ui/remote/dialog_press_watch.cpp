#include "ui/remote/dialog_press_watch.h"

#include "core/support/log_sink.h"

using namespace Qt::StringLiterals;

DialogPressWatch::DialogPressWatch(QList<Phase> phases, const LogSink& log, QObject* parent)
    : QObject(parent), phases_(std::move(phases)), log_(log) {
    timer_.setSingleShot(true);
    timer_.setInterval(kTryIntervalMs);
    connect(&timer_, &QTimer::timeout, this, &DialogPressWatch::step);
}

void DialogPressWatch::start() {
    phase_ = 0;
    if (phases_.isEmpty()) {
        Q_EMIT finished(false);
        return;
    }
    dialogFound_ = false;
    triesLeft_ = phases_.first().dialogTries;
    step();
}

void DialogPressWatch::step() {
    if (dialogFound_)
        lookForButton();
    else
        lookForDialog();
}

void DialogPressWatch::lookForDialog() {
    const Phase& phase = phases_[phase_];
    const ForeignWindow dialog =
        DialogAutoClicker::findWindow({}, phase.target.windowClass, phase.target.title);
    if (!dialog) {
        tryAgainLater();
        return;
    }
    if (phase.logDialog)
        log_.logLine(u"-拦截到弹窗:"_s + QString::number(dialog.id));
    if (!phase.leaveToUser.isEmpty()) {
        log_.logLine(phase.leaveToUser);
        endPhase(false);
        return;
    }
    dialogFound_ = true;
    triesLeft_ = phase.buttonTries;
    lookForButton();
}

void DialogPressWatch::lookForButton() {
    const Phase& phase = phases_[phase_];
    const ForeignWindow dialog =
        DialogAutoClicker::findWindow({}, phase.target.windowClass, phase.target.title);
    const ForeignWindow button = DialogAutoClicker::findButton(dialog, phase.target.button);
    if (!button) {
        tryAgainLater();
        return;
    }
    const QString id = QString::number(button.id);
    log_.logLine(u"-拦截到按钮:"_s + id);
    log_.logLine(u"-正在自动点击"_s + id);
    // A click that could not be delivered (another window in the way) counts as a try.
    if (DialogAutoClicker::click(button))
        endPhase(true);
    else
        tryAgainLater();
}

void DialogPressWatch::tryAgainLater() {
    if (--triesLeft_ > 0)
        timer_.start();
    else
        endPhase(false);
}

void DialogPressWatch::endPhase(bool pressed) {
    if (++phase_ >= phases_.size()) {
        Q_EMIT finished(pressed);
        return;
    }
    dialogFound_ = false;
    triesLeft_ = phases_[phase_].dialogTries;
    timer_.start();
}
