#pragma once

#include "core/remote/launch_request.h"
#include "core/remote/session_commands.h"

#include <QObject>

class LogSink;
class QWidget;

// Opens a Remote Desktop session: writes the server's .rdp file to the tool folder, starts
// the system's Remote Desktop client on it, and presses the client's confirmation dialogs
// where it raises any. A server whose fields hold a line break is refused with a message.
class RdpLauncher : public QObject {
    Q_OBJECT
public:
    static constexpr int kDialogTries = 10;
    static constexpr int kButtonTries = 10;

    RdpLauncher(ProcessLauncher launcher, const LogSink& log, QWidget* window);

    void launch(const SessionTarget& server);

private:
    void pressDialogs();
    void report(const QString& message, const QString& logMessage);

    ProcessLauncher launcher_;
    const LogSink& log_;
    QWidget* window_;
};
