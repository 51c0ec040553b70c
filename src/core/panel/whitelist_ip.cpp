#include "core/panel/whitelist_ip.h"

#include "core/cloud/cloud_actions.h"

#include <QMutex>

using namespace Qt::StringLiterals;

namespace {

QMutex lock;
QString& value() {
    static QString ip;
    return ip;
}

} // namespace

namespace WhitelistIp {

QString fetch() {
    const CloudApi::Reply reply = CloudApi::publicAddress();
    QString ip = reply.answered() ? reply.text : QString();
    setCurrent(ip);
    return ip;
}

QString current() {
    QMutexLocker locker(&lock);
    return value();
}

void setCurrent(const QString& ip) {
    QMutexLocker locker(&lock);
    value() = ip;
}

QString caption(const QString& ip) {
    return u"IP白名单请填写：127.0.0.1和"_s + ip;
}

QString clipboardText(const QString& ip) {
    return u"127.0.0.1\r\n"_s + ip;
}

} // namespace WhitelistIp
