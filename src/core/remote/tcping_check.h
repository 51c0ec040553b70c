#pragma once

#include <QString>
#include <QStringList>

namespace TcpingCheck {

inline const QString kOpenMark = QStringLiteral("Port is open");

// The tool folder's tcping arguments for one attempt at host:port; blanks at the edges of
// host and port are dropped, and the options end before the host.
QStringList arguments(const QString& host, const QString& port);

// Runs one tcping attempt at host:port and tells whether its output says "Port is open"
// anywhere. A missing tool, an empty or wrong address and a closed port all read as no.
bool portAnswers(const QString& host, const QString& port);

} // namespace TcpingCheck
