#include "platform/platform.h"

#include "core/remote/session_commands.h"
#include "core/remote/session_fields.h"

#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace Platform {

QString puttyProgram() {
    return QStandardPaths::findExecutable(u"putty"_s);
}

QString remoteDesktopProgram() {
    return QStandardPaths::findExecutable(u"xfreerdp"_s);
}

LaunchRequest remoteDesktopRequest(const QString& program, const QString& rdpFile,
                                   const QString& password) {
    return SessionCommands::freeRdp(program, rdpFile, password);
}

std::optional<QString> rdpPasswordField(const QString&) {
    return std::nullopt;
}

// FreeRDP's /cert:tofu takes the place of the certificate question; it asks nothing else.
QList<DialogTarget> remoteDesktopDialogs() {
    return {};
}

// GTK draws PuTTY's buttons itself; Accept is the third of "Accept", "Connect Once" and
// "Cancel" at the right end of the dialog's bottom row.
DialogTarget puttyHostKeyDialog() {
    return {u"putty"_s, u"PuTTY Security Alert"_s, {u"Button"_s, u"&Accept"_s, 3}};
}

// The desktop's chosen terminal, else xterm; every Debian terminal takes "-e program args".
LaunchRequest consoleWindow(const QString& program, const QStringList& arguments) {
    QString terminal = QStandardPaths::findExecutable(u"x-terminal-emulator"_s);
    if (terminal.isEmpty())
        terminal = QStandardPaths::findExecutable(u"xterm"_s);
    if (terminal.isEmpty())
        terminal = u"x-terminal-emulator"_s;
    return {terminal, QStringList{u"-e"_s, program} + arguments, {}};
}

// Linux ping runs until it is stopped; "--" keeps an address that starts with "-" from
// reading as an option.
QStringList continuousPingArguments(const QString& address) {
    return {u"--"_s, SessionFields::edgeTrimmed(address)};
}

} // namespace Platform
