#include "core/remote/rdp_file.h"

#include "core/codec/gbk_codec.h"
#include "core/remote/session_fields.h"

#include <QDir>
#include <QSaveFile>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace {

// Stands for the address in the template; it occurs nowhere else in it.
const QString kSampleAddress = u"rdp-sample-address"_s;
const QString kPasswordKey = u"password 51:b:"_s;

// The 36 lines of the template, each ended by CR LF.
QString templateText() {
    const QStringList lines = {u"screen mode id:i:2"_s,
                               u"winposstr:s:0,1,364,170,2300,1289"_s,
                               u"compression:i:1"_s,
                               u"use multimon:i:0"_s,
                               u"username:s:administrator"_s,
                               u"full address:s:"_s + kSampleAddress,
                               kPasswordKey + RdpFile::kPasswordPlaceholder,
                               u"session bpp:i:32"_s,
                               u"displayconnectionbar:i:1"_s,
                               u"keyboardhook:i:2"_s,
                               u"audiocapturemode:i:0"_s,
                               u"audiomode:i:0"_s,
                               u"videoplaybackmode:i:1"_s,
                               u"networkautodetect:i:1"_s,
                               u"bandwidthautodetect:i:1"_s,
                               u"enableworkspacereconnect:i:0"_s,
                               u"disable cursor setting:i:0"_s,
                               u"connection type:i:7"_s,
                               u"disable wallpaper:i:0"_s,
                               u"allow font smoothing:i:0"_s,
                               u"allow desktop composition:i:0"_s,
                               u"disable full window drag:i:1"_s,
                               u"disable menu anims:i:1"_s,
                               u"disable themes:i:0"_s,
                               u"bitmapcachepersistenable:i:1"_s,
                               u"autoreconnection enabled:i:1"_s,
                               u"redirectprinters:i:1"_s,
                               u"redirectclipboard:i:1"_s,
                               u"redirectcomports:i:0"_s,
                               u"redirectsmartcards:i:1"_s,
                               u"redirectposdevices:i:0"_s,
                               u"authentication level:i:2"_s,
                               u"prompt for credentials:i:1"_s,
                               u"enablecredsspsupport:i:0"_s,
                               u"allowconnection:i:1"_s,
                               u"certificate-ignore-flags:dw:0x20000"_s};
    QString text;
    for (const QString& line : lines)
        text += line + u"\r\n"_s;
    return text;
}

bool isUnsafeInFileName(QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7F || u"/\\:*?\"<>|"_s.contains(c);
}

} // namespace

namespace RdpFile {

QString text(const QString& address, const QString& port, const QString& account,
             const std::optional<QString>& passwordField) {
    QString result = templateText();
    result.replace(kSampleAddress,
                   SessionFields::edgeTrimmed(address) + u':' + SessionFields::edgeTrimmed(port));
    if (passwordField)
        result.replace(kPasswordPlaceholder, *passwordField);
    else
        result.remove(kPasswordKey + kPasswordPlaceholder + u"\r\n"_s);
    result.replace(u"administrator"_s, account);
    return result;
}

QString fileName(const QString& serverName) {
    QString name = serverName;
    for (QChar& c : name)
        if (isUnsafeInFileName(c))
            c = u'_';
    return name + u".rdp"_s;
}

QString write(const QString& folder, const QString& serverName, const QString& text) {
    if (folder.isEmpty())
        return {};
    const QString path = QDir(folder).filePath(fileName(serverName));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.write(Gbk::encode(text));
    return file.commit() ? path : QString();
}

} // namespace RdpFile
