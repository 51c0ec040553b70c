#pragma once

#include "core/remote/launch_request.h"
#include "platform/dialog_auto_clicker.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// What differs between the operating systems Torvane runs on: how programs are started, where
// the session clients are, and which of their dialogs are pressed. One implementation per
// system (x11/, windows/), chosen when building.
namespace Platform {

// Starts `request` as a process of its own that outlives Torvane; its standard input holds
// `request.standardInput` and then ends.
LaunchOutcome startDetached(const LaunchRequest& request);

// The PuTTY program; empty when it is not there.
QString puttyProgram();

// The Remote Desktop client; empty when it is not there.
QString remoteDesktopProgram();

// How the client is started on `rdpFile` for a server with `password`.
LaunchRequest remoteDesktopRequest(const QString& program, const QString& rdpFile,
                                   const QString& password);

// The value of the .rdp file's password line, or nothing where the client gets the password
// on standard input instead.
std::optional<QString> rdpPasswordField(const QString& password);

// The dialogs the Remote Desktop client raises before it connects, to be pressed in order;
// none where the client is told on its command line not to ask.
QList<DialogTarget> remoteDesktopDialogs();

// PuTTY's warning about a host key it has not cached yet, and its Accept button. PuTTY shows
// it, under the same title, also when a cached key has changed.
DialogTarget puttyHostKeyDialog();

// Whether PuTTY's own cache holds a host key of any type for `host` and `port` (blanks at
// their edges do not count, as on the command line). For such a host the warning above means
// that the server's key changed since.
bool puttyHasHostKey(const QString& host, const QString& port);

// A visible console window running `program` with `arguments`.
LaunchRequest consoleWindow(const QString& program, const QStringList& arguments);

// The arguments that make the system's ping run until its window is closed.
QStringList continuousPingArguments(const QString& address);

// Hands the free memory the allocator keeps back to the system, after work that freed tens of
// megabytes (a long batch). Costs some milliseconds: not for the UI thread.
void releaseFreeMemory();

} // namespace Platform
