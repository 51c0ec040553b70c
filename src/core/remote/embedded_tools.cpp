#include "core/remote/embedded_tools.h"

#include "core/remote/special_folder.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>

using namespace Qt::StringLiterals;

// The resource lives in this static library: it must be registered by name before use.
static void registerEmbeddedTools() {
    Q_INIT_RESOURCE(embedded_tools);
}

namespace {

void writeIfMissing(const QString& resource, const QString& target) {
    if (target.isEmpty() || QFile::exists(target))
        return;
    QFile source(resource);
    if (!source.open(QIODevice::ReadOnly))
        return;
    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(source.readAll());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    file.commit();
}

} // namespace

namespace EmbeddedTools {

QString tcpingPath() {
    const QString folder = toolFolder();
    return folder.isEmpty() ? QString() : QDir(folder).filePath(u"tcping"_s);
}

void extract() {
    registerEmbeddedTools();
    writeIfMissing(u":/tools/tcping"_s, tcpingPath());
}

} // namespace EmbeddedTools
