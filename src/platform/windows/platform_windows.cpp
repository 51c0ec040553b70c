#include "platform/platform.h"

#include "core/remote/session_commands.h"
#include "core/remote/session_fields.h"
#include "platform/windows/win32/dialog_names.h"
#include "platform/windows/win32/installed_putty.h"
#include "platform/windows/win32/putty_host_keys.h"
#include "platform/windows/win32/rdp_password.h"

#include <QDir>
#include <QProcess>

#include <windows.h>

using namespace Qt::StringLiterals;

namespace {

QString text(const wchar_t* name) {
    return QString::fromWCharArray(name);
}

DialogTarget dialog(const wchar_t* windowClass, const wchar_t* title, const wchar_t* button) {
    return {
        text(windowClass), text(title), {text(Win32::DialogNames::kButtonClass), text(button), 0}};
}

} // namespace

namespace Platform {

// Windows needs no standard input for any program it starts here.
LaunchOutcome startDetached(const LaunchRequest& request) {
    if (!request.standardInput.isEmpty())
        return {false, 0, u"standard input is not passed to programs on Windows"_s};
    qint64 id = 0;
    if (!QProcess::startDetached(request.program, request.arguments, {}, &id))
        return {false, 0, request.program + u": 无法启动"_s};
    return {true, id, {}};
}

// Torvane does not carry PuTTY on Windows either: it uses the one the user installed.
QString puttyProgram() {
    return QString::fromStdWString(Win32::installedPutty());
}

QString remoteDesktopProgram() {
    return u"mstsc"_s;
}

LaunchRequest remoteDesktopRequest(const QString&, const QString& rdpFile, const QString&) {
    return SessionCommands::mstsc(QDir::toNativeSeparators(rdpFile));
}

// When the password cannot be protected the line is left out and the client asks for it.
std::optional<QString> rdpPasswordField(const QString& password) {
    const std::string hex = Win32::rdpPasswordHex(password.toStdWString());
    if (hex.empty())
        return std::nullopt;
    return QString::fromLatin1(hex.data(), qsizetype(hex.size()));
}

QList<DialogTarget> remoteDesktopDialogs() {
    using namespace Win32::DialogNames;
    return {dialog(kRemoteDesktopClass, kRemoteDesktopTitle, kRemoteDesktopConnect),
            dialog(kRemoteDesktopClass, kRemoteDesktopTitle, kRemoteDesktopYes)};
}

DialogTarget puttyHostKeyDialog() {
    using namespace Win32::DialogNames;
    return dialog(kPuttyHostKeyClass, kPuttyHostKeyTitle, kPuttyAccept);
}

bool puttyHasHostKey(const QString& host, const QString& port) {
    const std::optional<int> number = SessionFields::portNumber(port);
    return number &&
           Win32::puttyHasHostKey(SessionFields::edgeTrimmed(host).toStdWString(), *number);
}

// A console program started on its own gets a console window of its own.
LaunchRequest consoleWindow(const QString& program, const QStringList& arguments) {
    return {program, arguments, {}};
}

QStringList continuousPingArguments(const QString& address) {
    return {SessionFields::edgeTrimmed(address), u"-t"_s};
}

// The C runtime allocates from the process heap, which decommits most large free blocks by
// itself; compacting it coalesces and decommits what is left.
void releaseFreeMemory() {
    static_cast<void>(HeapCompact(GetProcessHeap(), 0));
}

} // namespace Platform
