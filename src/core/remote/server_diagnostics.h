#pragma once

#include <QString>
#include <QStringList>

// The texts of the small actions around one server's address: the "端口Ping" split of the
// search text, the tcping arguments, the pages of the outside ping site, and the clipboard
// copies with their log lines.
namespace ServerDiagnostics {

// The outside site that pings or tcpings an address from many places.
inline const QString kGlobalPingHost = QStringLiteral("ping.torvane.net");

struct HostAndPort {
    QString host;
    QString port;
};

// "端口Ping": the text cut at every ":" (an empty piece after a final ":" is dropped); with
// fewer than two pieces the whole text is the host and the port is 80, otherwise the first
// two pieces are host and port.
HostAndPort splitPortPing(const QString& text);

// Our tcping probing host:port a hundred times; blanks at the edges of host and port are
// dropped, and the options end before the host.
QStringList tcpingArguments(const QString& host, const QString& port);

// The outside site's pages; the address goes in as it stands.
QString globalPingAddress(const QString& address);
QString globalTcpingAddress(const QString& address, const QString& port);

// A clipboard copy and the log line (no time stamp) that confirms it.
struct ClipboardCopy {
    QString clipboard;
    QString logLine;
};

ClipboardCopy copyAddress(const QString& address);
ClipboardCopy copyAddressAndPort(const QString& address, const QString& port);
ClipboardCopy copyLogin(const QString& address, const QString& port, const QString& user,
                        const QString& password);

} // namespace ServerDiagnostics
