#include "platform/platform.h"

#include "core/remote/session_commands.h"
#include "core/remote/session_fields.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

using namespace Qt::StringLiterals;

namespace {

// Every place PuTTY may keep its host keys: the file PUTTYSSHHOSTKEYS names, sshhostkeys in
// the folder PUTTYDIR names, in the XDG configuration folder and in ~/.putty. PuTTY uses one
// of them; a key in any counts, so a changed key is never taken for a new host.
QStringList puttyHostKeyFiles() {
    QStringList files;
    if (const QString named = qEnvironmentVariable("PUTTYSSHHOSTKEYS"); !named.isEmpty())
        files << named;
    const QString home = QDir::homePath();
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty())
        config = home + u"/.config"_s;
    for (const QString& folder :
         {qEnvironmentVariable("PUTTYDIR"), config + u"/putty"_s, home + u"/.putty"_s})
        if (!folder.isEmpty())
            files << folder + u"/sshhostkeys"_s;
    return files;
}

// Lines of the file are "keytype@port:host key"; the host ends the name.
bool namesKeyEndingWith(const QByteArray& content, const QByteArray& suffix) {
    for (const QByteArray& line : content.split('\n')) {
        const QByteArray name = line.left(line.indexOf(' '));
        if (name.size() > suffix.size() && name.endsWith(suffix))
            return true;
    }
    return false;
}

} // namespace

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

bool puttyHasHostKey(const QString& host, const QString& port) {
    const std::optional<int> number = SessionFields::portNumber(port);
    if (!number)
        return false;
    const QByteArray suffix =
        '@' + QByteArray::number(*number) + ':' + SessionFields::edgeTrimmed(host).toLocal8Bit();
    for (const QString& path : puttyHostKeyFiles()) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly) && namesKeyEndingWith(file.readAll(), suffix))
            return true;
    }
    return false;
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

// glibc keeps what is freed amid its heaps for later allocations, each thread's arena for its
// own: a long batch's texts, freed by another thread than made them, stayed resident for good
// (tens of megabytes at 50,000 lines). malloc_trim gives the free pages of every arena back.
void releaseFreeMemory() {
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace Platform
