#include "core/remote/embedded_tools.h"

#include "core/remote/tool_folder.h"
#include "core/support/log_categories.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

using namespace Qt::StringLiterals;

// The resource lives in this static library: it must be registered by name before use.
static void registerEmbeddedTools() {
    Q_INIT_RESOURCE(embedded_tools);
}

namespace {

// Our tcping under its file name on this system, as the resource holds it.
#ifdef Q_OS_WIN
const QString kTcpingName = u"tcping.exe"_s;
#else
const QString kTcpingName = u"tcping"_s;
#endif

void writeIfMissing(const QString& resource, const QString& target) {
    if (target.isEmpty() || QFile::exists(target))
        return;
    QFile source(resource);
    QSaveFile file(target);
    const bool written = source.open(QIODevice::ReadOnly) && file.open(QIODevice::WriteOnly) &&
                         file.write(source.readAll()) >= 0 &&
                         file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                             QFileDevice::ExeOwner) &&
                         file.commit();
    // Without the tool every probe shows offline; say why once, at start-up.
    if (!written)
        qCWarning(lcRemote) << "cannot write" << target << ":" << file.errorString();
}

} // namespace

namespace EmbeddedTools {

QString tcpingPath() {
    const QString folder = toolFolder();
    return folder.isEmpty() ? QString() : QDir(folder).filePath(kTcpingName);
}

void extract() {
    registerEmbeddedTools();
    writeIfMissing(u":/tools/"_s + kTcpingName, tcpingPath());
}

} // namespace EmbeddedTools
