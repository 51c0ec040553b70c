#pragma once

#include "core/remote/server_diagnostics.h"

#include <QString>

// Signed requests to a server's BaoTa panel API. Nothing here keeps state; every request is
// signed with the API key and the current Unix time, which the panel compares with its own
// clock (it refuses a time more than a minute off).
namespace PanelApi {

// The form of panel address every request needs, as the user is told when it is missing.
inline const QString kAddressForm = QStringLiteral("http://IP:端口/入口");

// A panel address cut into the parts the API is reached at; the entrance path is dropped.
struct PanelAddress {
    QString scheme; // "http://" or "https://"
    QString host;
    QString port;

    // "scheme://host:port" with a host and a decimal port: anything less would send the
    // request to a malformed address.
    bool isComplete() const;
};

// Scheme: "https://" when the address holds that text anywhere (case-sensitive), otherwise
// "http://". Host: between the first "://" and the next ":". Port: after the host's ":" up to
// the next "/" or the end of the address. Blanks at the edges of the address are ignored.
PanelAddress parseAddress(const QString& address);

// scheme + host + ":" + port, without the entrance path.
QString baseUrl(const QString& address);

// The Unix time as 10 decimal digits, in every time zone.
QString requestTime();
QString requestTimeAt(qint64 unixSeconds);

// "request_token=" + MD5(time + MD5(key)) + "&request_time=" + time, MD5 in lower-case hex
// over the GBK bytes of the texts.
QString signature(const QString& apiKey);
QString signature(const QString& apiKey, const QString& time);

// The form body of set_temp_login: the token expires a day after the request time.
QString tempLoginBody(const QString& apiKey, const QString& time);

// The panel's reply body (decoded as UTF-8, or as GBK when it is not UTF-8); empty when the
// address is not complete (nothing is sent then) or the panel did not answer.
QString getUserInfo(const QString& address, const QString& apiKey);
QString setTempLogin(const QString& address, const QString& apiKey);

// How a panel reply reads to the user.
struct Outcome {
    bool succeeded = false; // "status" reads "true", as a boolean or as a text
    QString message; // "宝塔接口通信成功", or "宝塔接口通信失败：" + the panel's "msg"
    QString token; // "token" of a temporary login
};

Outcome judgeReply(const QString& reply);

// What the user is told when the address would make a malformed request.
QString incompleteAddressMessage();

// The browser address that logs in with a temporary token.
QString loginAddress(const QString& address, const QString& token);

// "复制宝塔面板信息": the panel address, account and password, and the log line.
ServerDiagnostics::ClipboardCopy copyPanelInfo(const QString& url, const QString& user,
                                               const QString& password);

} // namespace PanelApi
