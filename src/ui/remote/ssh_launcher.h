#pragma once

#include "core/remote/launch_request.h"
#include "core/remote/session_commands.h"

#include <QObject>

class LogSink;
class QWidget;

// Opens an SSH session in PuTTY and accepts its host-key warning by itself, but only for a
// host PuTTY has never seen: for a host whose key PuTTY has cached, the warning means the key
// changed, which may be someone else answering at that address. That warning is left to the
// user, with a log line, and PuTTY sends no password until the user accepts it.
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
    static inline const QString kChangedHostKeyLog =
        QStringLiteral("-主机密钥已变化，未自动确认，请核实服务器");

    SshLauncher(ProcessLauncher launcher, const LogSink& log, QWidget* window);

    // Nothing for an empty account; a message for fields that hold a line break.
    void launch(const SessionTarget& server);

private:
    void report(const QString& message, const QString& logMessage);

    ProcessLauncher launcher_;
    const LogSink& log_;
    QWidget* window_;
};
