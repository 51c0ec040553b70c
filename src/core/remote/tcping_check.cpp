#include "core/remote/tcping_check.h"

#include "core/remote/command_runner.h"
#include "core/remote/embedded_tools.h"
#include "core/remote/session_fields.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace TcpingCheck {

// The extra first word "tcping" keeps the command line the same as the consoles' (TCPing检测,
// 端口Ping), which a user may copy and run by hand; our tcping skips it. "--" keeps an address
// that starts with "-" from reading as an option.
QStringList arguments(const QString& host, const QString& port) {
    return {u"tcping"_s,
            u"-n"_s,
            u"1"_s,
            u"--"_s,
            SessionFields::edgeTrimmed(host),
            SessionFields::edgeTrimmed(port)};
}

bool portAnswers(const QString& host, const QString& port) {
    const QString tool = EmbeddedTools::tcpingPath();
    if (tool.isEmpty())
        return false;
    return CommandRunner::run(tool, arguments(host, port)).contains(kOpenMark);
}

} // namespace TcpingCheck
