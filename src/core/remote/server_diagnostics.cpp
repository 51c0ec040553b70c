#include "core/remote/server_diagnostics.h"

#include "core/remote/session_fields.h"

using namespace Qt::StringLiterals;

namespace {

const QString kCopied = u" 复制成功\r\n"_s;

} // namespace

namespace ServerDiagnostics {

HostAndPort splitPortPing(const QString& text) {
    QStringList pieces = text.split(u':');
    if (pieces.last().isEmpty())
        pieces.removeLast();
    if (pieces.size() < 2)
        return {text, u"80"_s};
    return {pieces[0], pieces[1]};
}

QStringList tcpingArguments(const QString& host, const QString& port) {
    return {u"-n"_s, u"100"_s, u"--"_s, SessionFields::edgeTrimmed(host),
            SessionFields::edgeTrimmed(port)};
}

QString globalPingAddress(const QString& address) {
    return u"https://"_s + kGlobalPingHost + u"/ping/?ip="_s + address;
}

QString globalTcpingAddress(const QString& address, const QString& port) {
    return u"https://"_s + kGlobalPingHost + u"/tcping/?ip="_s + address + u':' + port;
}

ClipboardCopy copyAddress(const QString& address) {
    return {address, u"IP "_s + address + kCopied};
}

ClipboardCopy copyAddressAndPort(const QString& address, const QString& port) {
    const QString text = address + u':' + port;
    return {text, u"IP:端口 "_s + text + kCopied};
}

ClipboardCopy copyLogin(const QString& address, const QString& port, const QString& user,
                        const QString& password) {
    const QString text =
        u"IP:端口 "_s + address + u':' + port + u"\r\n账号:"_s + user + u"密码:"_s + password;
    return {text, text + kCopied};
}

} // namespace ServerDiagnostics
