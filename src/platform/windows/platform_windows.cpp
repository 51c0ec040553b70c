#include "platform/platform.h"

#include "core/remote/session_commands.h"
#include "core/remote/session_fields.h"
#include "core/remote/special_folder.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <windows.h>

#include <wincrypt.h>

#include <dpapi.h>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// The password as mstsc expects it in a .rdp file: its UTF-16 form with the terminating
// zero, padded with zero bytes to 512 bytes, protected by CryptProtectData under the
// description "psw", written as upper-case hexadecimal, then one more "0".
QString protectedPasswordHex(const QString& password) {
    QByteArray plain(512, '\0');
    const QByteArray utf16(reinterpret_cast<const char*>(password.utf16()),
                           (password.size() + (password.isEmpty() ? 0 : 1)) * 2);
    std::copy_n(utf16.constData(), std::min<qsizetype>(utf16.size(), plain.size()), plain.data());
    DATA_BLOB in{static_cast<DWORD>(plain.size()), reinterpret_cast<BYTE*>(plain.data())};
    DATA_BLOB out{};
    if (!CryptProtectData(&in, L"psw", nullptr, nullptr, nullptr, 0, &out))
        return {};
    const QByteArray blob(reinterpret_cast<const char*>(out.pbData), out.cbData);
    LocalFree(out.pbData);
    return QString::fromLatin1(blob.toHex().toUpper()) + u'0';
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

QString puttyProgram() {
    const QString path = QDir(toolFolder()).filePath(u"putty.exe"_s);
    return QFile::exists(path) ? path : QString();
}

QString remoteDesktopProgram() {
    return u"mstsc"_s;
}

LaunchRequest remoteDesktopRequest(const QString&, const QString& rdpFile, const QString&) {
    return SessionCommands::mstsc(QDir::toNativeSeparators(rdpFile));
}

std::optional<QString> rdpPasswordField(const QString& password) {
    return protectedPasswordHex(password);
}

QList<DialogTarget> remoteDesktopDialogs() {
    return {{u"#32770"_s, u"远程桌面连接"_s, {u"Button"_s, u"连接(&N)"_s, 0}},
            {u"#32770"_s, u"远程桌面连接"_s, {u"Button"_s, u"是(&Y)"_s, 0}}};
}

DialogTarget puttyHostKeyDialog() {
    return {u"PuTTYHostKeyDialog"_s, u"PuTTY Security Alert"_s, {u"Button"_s, u"&Accept"_s, 0}};
}

// A console program started on its own gets a console window of its own.
LaunchRequest consoleWindow(const QString& program, const QStringList& arguments) {
    return {program, arguments, {}};
}

QStringList continuousPingArguments(const QString& address) {
    return {SessionFields::edgeTrimmed(address), u"-t"_s};
}

} // namespace Platform
