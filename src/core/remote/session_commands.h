#pragma once

#include "core/remote/launch_request.h"

#include <QByteArray>
#include <QString>

// The server a session is opened to, as read from the selected row of the list.
struct SessionTarget {
    QString name;
    QString address;
    QString port;
    QString user;
    QString password;
};

namespace SessionCommands {

// PuTTY with "-ssh U@H -P P" as separate arguments; the password is read from
// `passwordFile`, so it never shows on a command line.
LaunchRequest putty(const QString& program, const SessionTarget& server,
                    const QString& passwordFile);

// What PuTTY's -pwfile holds: the password as the client's own byte form, then a line break.
QByteArray puttyPasswordFileContent(const QString& password);

// FreeRDP on the .rdp file: the console session, the server's certificate trusted on first
// use, and the password as the one line it reads from standard input at start.
LaunchRequest freeRdp(const QString& program, const QString& rdpFile, const QString& password);

// The Windows Remote Desktop client on the .rdp file, console session.
LaunchRequest mstsc(const QString& rdpFile);

} // namespace SessionCommands
