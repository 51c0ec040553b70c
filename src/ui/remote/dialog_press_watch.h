#pragma once

#include "platform/dialog_auto_clicker.h"

#include <QList>
#include <QObject>
#include <QTimer>

class LogSink;

// Watches for a dialog of another program and presses its button, in timer steps one second
// apart on the UI thread, so the window stays usable while it waits.
//
// Each phase looks for its dialog up to `dialogTries` times; once the dialog is there it
// looks for the button up to `buttonTries` times (finding the dialog again each time, as its
// window may have been replaced), logs "-拦截到按钮:" and "-正在自动点击" with the id in
// decimal, presses it and ends. A phase whose dialog or button never shows ends quietly;
// then the next phase starts. A phase may leave its dialog to the user instead.
class DialogPressWatch : public QObject {
    Q_OBJECT
public:
    static constexpr int kTryIntervalMs = 1000;

    struct Phase {
        DialogTarget target;
        int dialogTries = 0;
        int buttonTries = 0;
        // Also log "-拦截到弹窗:" when the dialog is found.
        bool logDialog = false;
        // When not empty, the dialog is the user's to answer: once found, this line is logged
        // instead of pressing the button, and the phase ends.
        QString leaveToUser;
    };

    DialogPressWatch(QList<Phase> phases, const LogSink& log, QObject* parent);

    // Takes the first look at once.
    void start();

Q_SIGNALS:
    // After the last phase; `pressed` tells whether the last phase pressed its button.
    void finished(bool pressed);

private:
    void step();
    void lookForDialog();
    void lookForButton();
    void endPhase(bool pressed);
    void tryAgainLater();

    QList<Phase> phases_;
    const LogSink& log_;
    qsizetype phase_ = 0;
    bool dialogFound_ = false;
    int triesLeft_ = 0;
    QTimer timer_{this};
};
