#include "core/store/data_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryFile>

using namespace Qt::StringLiterals;

namespace {

// The program's folder is judged once: it stays where it is while the program runs, and on
// Windows judging it means creating a file there.
bool programFolderIsPortable() {
    static const bool portable =
        DataFolder::isPortableFolder(QCoreApplication::applicationDirPath());
    return portable;
}

} // namespace

namespace DataFolder {

QString choose(const QString& configured) {
    if (!configured.isEmpty())
        return configured;
    if (programFolderIsPortable())
        return QCoreApplication::applicationDirPath();
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
}

void make(const QString& folder) {
    if (QFileInfo::exists(folder))
        return;
#ifdef Q_OS_WIN
    QDir().mkpath(folder);
#else
    QDir().mkpath(QFileInfo(folder).absolutePath());
    QDir().mkdir(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
#endif
}

bool isPortableFolder(const QString& folder) {
    if (folder.isEmpty() || !QFileInfo(folder).isWritable())
        return false;
#ifdef Q_OS_WIN
    // Windows reports a folder writable by its attributes alone, also Program Files, where a
    // user without administrator rights may not create a file: creating one is the test.
    QTemporaryFile probe(QDir(folder).filePath(u"torvane-write-test-XXXXXX"_s));
    return probe.open();
#else
    const QDir dir(folder);
    return dir.exists(u"myserver.db"_s) || dir.exists(u"portable"_s);
#endif
}

} // namespace DataFolder
