#include "core/store/data_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString chooseFolder() {
    const QString home = qEnvironmentVariable("TORVANE_HOME");
    if (!home.isEmpty())
        return home;
    const QString programFolder = QCoreApplication::applicationDirPath();
    if (!programFolder.isEmpty() && QFileInfo(programFolder).isWritable())
        return programFolder;
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

} // namespace

namespace DataFolder {

QString path() {
    const QString folder = chooseFolder();
    QDir().mkpath(folder);
    return folder;
}

QString file(const QString& name) {
    return QDir(path()).filePath(name);
}

} // namespace DataFolder
