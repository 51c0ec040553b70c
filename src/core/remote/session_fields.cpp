#include "core/remote/session_fields.h"

using namespace Qt::StringLiterals;

namespace SessionFields {

QString edgeTrimmed(const QString& addressOrPort) {
    return addressOrPort.trimmed();
}

std::optional<int> portNumber(const QString& port) {
    bool isNumber = false;
    const int number = edgeTrimmed(port).toInt(&isNumber);
    return isNumber ? std::optional<int>(number) : std::nullopt;
}

bool breaksLine(const QString& field) {
    return field.contains(u'\r') || field.contains(u'\n') || field.contains(QChar(u'\0'));
}

std::optional<Refusal> lineBreakRefusal(const SessionTarget& server) {
    const struct {
        QString label;
        QString value;
    } fields[] = {{u"服务器IP"_s, edgeTrimmed(server.address)},
                  {u"端口"_s, edgeTrimmed(server.port)},
                  {u"用户名"_s, server.user},
                  {u"密码"_s, server.password}};
    for (const auto& field : fields)
        if (breaksLine(field.value))
            return Refusal{u"服务器“"_s + server.name.simplified() + u"”的"_s + field.label +
                               u"中含有换行符，无法登录。请修改该服务器后再试。"_s,
                           u"-"_s + field.label + u"含有换行符，已拒绝登录服务器 "_s +
                               server.address.simplified()};
    return std::nullopt;
}

} // namespace SessionFields
