#include "core/remote/special_folder.h"

#include "core/remote/tool_folder.h"

#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace {

const QStringList kNames = {u"AppData"_s,
                            u"Cache"_s,
                            u"CD Burning"_s,
                            u"Cookies"_s,
                            u"Desktop"_s,
                            u"Favorites"_s,
                            u"Fonts"_s,
                            u"History"_s,
                            u"Local AppData"_s,
                            u"Local Settings"_s,
                            u"My Music"_s,
                            u"My Pictures"_s,
                            u"My Video"_s,
                            u"NetHood"_s,
                            u"Personal"_s,
                            u"PrintHood"_s,
                            u"Programs"_s,
                            u"Recent"_s,
                            u"SendTo"_s,
                            u"Start Menu"_s,
                            u"Startup"_s,
                            u"Templates"_s,
                            u"Common Administrative Tools"_s,
                            u"Common AppData"_s,
                            u"Common Desktop"_s,
                            u"Common Documents"_s,
                            u"Common Favorites"_s,
                            u"Common Programs"_s,
                            u"Common Start Menu"_s,
                            u"Common Startup"_s,
                            u"Common Templates"_s,
                            u"CommonMusic"_s,
                            u"CommonPictures"_s,
                            u"CommonVideo"_s,
                            u"Temp"_s,
                            u"WinDir"_s,
                            u"System32"_s,
                            u"USERPROFILE"_s,
                            u"ALLUSERSPROFILE"_s,
                            u"ProgramFiles"_s,
                            u"CommonProgramFiles"_s,
                            u"SystemDrive"_s,
                            u"软件安装目录"_s};

QString standard(QStandardPaths::StandardLocation location) {
    return QStandardPaths::writableLocation(location);
}

// The desktop's own places for the folders that have one here.
QString desktopFolder(const QString& name) {
    if (name == u"AppData" || name == u"Local AppData")
        return standard(QStandardPaths::GenericDataLocation);
    if (name == u"Cache")
        return standard(QStandardPaths::GenericCacheLocation);
    if (name == u"Desktop")
        return standard(QStandardPaths::DesktopLocation);
    if (name == u"Fonts")
        return standard(QStandardPaths::FontsLocation);
    if (name == u"My Music")
        return standard(QStandardPaths::MusicLocation);
    if (name == u"My Pictures")
        return standard(QStandardPaths::PicturesLocation);
    if (name == u"My Video")
        return standard(QStandardPaths::MoviesLocation);
    if (name == u"Personal")
        return standard(QStandardPaths::DocumentsLocation);
    if (name == u"Programs" || name == u"Start Menu")
        return standard(QStandardPaths::ApplicationsLocation);
    if (name == u"USERPROFILE")
        return QDir::homePath();
    if (name == u"Common AppData")
        return u"/usr/share"_s;
    if (name == u"ProgramFiles")
        return u"/usr"_s;
    if (name == u"SystemDrive")
        return u"/"_s;
    return {};
}

} // namespace

namespace SpecialFolder {

QString name(int number) {
    return kNames.value(number - 1);
}

QString path(int number) {
    const QString n = name(number);
    if (n.isEmpty())
        return {};
    if (number == kProgramFolder)
        return QCoreApplication::applicationDirPath();
    if (number == kTemp)
        return toolFolder();
    QString fromEnvironment = qEnvironmentVariable(n.toLatin1().constData());
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return desktopFolder(n);
}

} // namespace SpecialFolder
