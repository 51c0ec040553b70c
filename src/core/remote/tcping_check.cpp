#include "core/remote/tcping_check.h"

#include "core/remote/command_runner.h"
#include "core/remote/embedded_tools.h"

#include <QStringList>

using namespace Qt::StringLiterals;

namespace TcpingCheck {

// The extra first word "tcping" is part of the command line the tool has always been given.
QStringList arguments(const QString& host, const QString& port) {
    return {u"tcping"_s, u"-n"_s, u"1"_s, host, port};
}

bool portAnswers(const QString& host, const QString& port) {
    const QString tool = EmbeddedTools::tcpingPath();
    if (tool.isEmpty())
        return false;
    return CommandRunner::run(tool, arguments(host, port)).contains(kOpenMark);
}

} // namespace TcpingCheck
