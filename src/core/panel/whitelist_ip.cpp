#include "core/panel/whitelist_ip.h"

#include "core/cloud/cloud_actions.h"

using namespace Qt::StringLiterals;

namespace WhitelistIp {

QString fetch(const CloudApi::Service& service) {
    const CloudApi::Reply reply = CloudApi::publicAddress(service);
    return reply.answered() ? reply.text : QString();
}

QString caption(const QString& ip) {
    return u"IP白名单请填写：127.0.0.1和"_s + ip;
}

QString clipboardText(const QString& ip) {
    return u"127.0.0.1\r\n"_s + ip;
}

} // namespace WhitelistIp
