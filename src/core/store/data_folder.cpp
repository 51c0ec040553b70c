#include "core/store/data_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace {

QString chooseFolder() {
    QString home = qEnvironmentVariable("TORVANE_HOME");
    if (!home.isEmpty())
        return home;
    QString programFolder = QCoreApplication::applicationDirPath();
    if (DataFolder::isPortableFolder(programFolder))
        return programFolder;
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

// The folder holds passwords (myserver.db, the export): one that Torvane creates on Linux is
// for its user alone. A folder that exists already keeps the permissions its owner gave it.
void makeFolder(const QString& folder) {
    if (QFileInfo::exists(folder))
        return;
#ifdef Q_OS_WIN
    QDir().mkpath(folder);
#else
    QDir().mkpath(QFileInfo(folder).absolutePath());
    QDir().mkdir(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
#endif
}

} // namespace

namespace DataFolder {

QString path() {
    QString folder = chooseFolder();
    makeFolder(folder);
    return folder;
}

QString file(const QString& name) {
    return QDir(path()).filePath(name);
}

bool isPortableFolder(const QString& folder) {
    if (folder.isEmpty() || !QFileInfo(folder).isWritable())
        return false;
#ifdef Q_OS_WIN
    return true;
#else
    const QDir dir(folder);
    return dir.exists(u"myserver.db"_s) || dir.exists(u"portable"_s);
#endif
}

} // namespace DataFolder
