#pragma once

#include "core/remote/launch_request.h"
#include "core/remote/session_commands.h"

#include <QObject>

class QWidget;

// Opens an SSH session in PuTTY and accepts its host-key warning by itself.
//
// The password reaches PuTTY through -pwfile: a file only the user can read, in the private
// tool folder, removed as soon as the watch for the host-key dialog ends (pressed, or after
// five looks one second apart), or when Torvane closes before that.
class SshLauncher : public QObject {
    Q_OBJECT
public:
    static constexpr int kDialogTries = 5;
    static constexpr int kButtonTries = 5;
    static inline const QString kPasswordFilePrefix = QStringLiteral("putty-password-");

    SshLauncher(ProcessLauncher launcher, QWidget* window);

    // Nothing for an empty account; a message for fields that hold a line break.
    void launch(const SessionTarget& server);

private:
    void report(const QString& message, const QString& logMessage);

    ProcessLauncher launcher_;
    QWidget* window_;
};
