#include "core/remote/tool_folder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef Q_OS_WIN
#include "platform/windows/win32/tool_folder.h"
#else
#include <unistd.h>
#endif

using namespace Qt::StringLiterals;

namespace {

#ifndef Q_OS_WIN
// A folder only this user may enter; an existing one is tightened to 0700 when it is ours
// and refused when it is not.
bool makePrivateFolder(const QString& folder) {
    if (!QDir().mkpath(folder))
        return false;
    const QFileInfo info(folder);
    if (info.ownerId() != ::getuid())
        return false;
    return QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ExeOwner);
}
#endif

} // namespace

QString toolFolder() {
#ifdef Q_OS_WIN
    // %TEMP%: what mstsc and PuTTY users there expect, and what the .rdp files have used.
    return QDir::fromNativeSeparators(QString::fromStdWString(Win32::toolFolder()));
#else
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QString base =
        runtime.isEmpty() ? QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation)
                          : runtime;
    const QString folder = QDir(base).filePath(u"torvane"_s);
    return makePrivateFolder(folder) ? QDir::cleanPath(folder) : QString();
#endif
}
