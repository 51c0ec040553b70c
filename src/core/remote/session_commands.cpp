#include "core/remote/session_commands.h"

#include "core/remote/session_fields.h"

using namespace Qt::StringLiterals;

namespace SessionCommands {

LaunchRequest putty(const QString& program, const SessionTarget& server,
                    const QString& passwordFile) {
    // The address follows "user@", so it never reads as an option, whatever it starts with.
    return {program,
            {u"-ssh"_s, server.user + u'@' + SessionFields::edgeTrimmed(server.address), u"-P"_s,
             SessionFields::edgeTrimmed(server.port), u"-pwfile"_s, passwordFile},
            {}};
}

QByteArray puttyPasswordFileContent(const QString& password) {
    return password.toLocal8Bit() + '\n';
}

LaunchRequest freeRdp(const QString& program, const QString& rdpFile, const QString& password) {
    // ":force" makes FreeRDP read the password before it connects, so standard input holds
    // exactly one line whatever the server asks later.
    return {program,
            {rdpFile, u"/admin"_s, u"/cert:tofu"_s, u"/from-stdin:force"_s},
            password.toUtf8() + '\n'};
}

LaunchRequest mstsc(const QString& rdpFile) {
    return {u"mstsc"_s, {rdpFile, u"/console"_s}, {}};
}

} // namespace SessionCommands
