#pragma once

#include "core/remote/session_commands.h"

#include <QString>

#include <optional>

// The checks a server's cells pass before they become arguments of a tool or lines of a file
// the tool reads.
namespace SessionFields {

// An address or port as it becomes an argument: without blanks at its edges. A command line
// would have dropped them; in an argument list they would reach the tool as part of the
// address or port.
QString edgeTrimmed(const QString& addressOrPort);

// The port as a number, as the tool reads it from its argument; nothing when it is not one.
std::optional<int> portNumber(const QString& port);

// Whether `field` would end the line it is written into (a line of the .rdp file, PuTTY's
// password file, FreeRDP's standard input) and start another: it holds CR, LF or NUL.
bool breaksLine(const QString& field);

// Why a session to `server` is not opened: the message box text and the log line.
struct Refusal {
    QString message;
    QString logMessage;
};

// A refusal when the address, port, account or password holds a line break (blanks at the
// edges of address and port do not count, they are trimmed); nothing when all are safe.
std::optional<Refusal> lineBreakRefusal(const SessionTarget& server);

} // namespace SessionFields
