#include "core/panel/panel_api.h"

#include "core/cloud/http_client.h"
#include "core/codec/gbk_codec.h"
#include "core/support/json_document.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kTempLoginSeconds = 86400;
constexpr int kRequestTimeDigits = 10;
constexpr int kMaxPortDigits = 5;

const QString kSchemeMark = u"://"_s;

QString md5Hex(const QString& text) {
    return QString::fromLatin1(
        QCryptographicHash::hash(Gbk::encode(text), QCryptographicHash::Md5).toHex());
}

bool isDecimalPort(const QString& port) {
    if (port.isEmpty() || port.size() > kMaxPortDigits)
        return false;
    for (const QChar c : port)
        if (c < u'0' || c > u'9')
            return false;
    return true;
}

// A host name or address alone: no path, query, user info or blank that would make the
// request go somewhere else than the panel.
bool isPlainHost(const QString& host) {
    if (host.isEmpty())
        return false;
    for (const QChar c : host)
        if (c.isSpace() || QStringView(u"/?#@\\").contains(c))
            return false;
    return true;
}

// Panels answer in JSON, which is UTF-8; a reply that is not UTF-8 is read as GBK.
QString replyText(const HttpResponse& response) {
    QStringDecoder utf8(QStringDecoder::Utf8);
    const QString text = utf8.decode(response.bytes);
    return utf8.hasError() ? Gbk::decode(response.bytes) : text;
}

QString post(const QString& address, const QString& path, const QString& body) {
    const PanelApi::PanelAddress parts = PanelApi::parseAddress(address);
    if (!parts.isComplete())
        return {};
    HttpRequest request;
    request.url = parts.scheme + parts.host + u':' + parts.port + path;
    request.method = HttpMethod::Post;
    request.body = body;
    // Panels come with a self-signed certificate, and most are never given another.
    request.acceptAnyCertificate = true;
    return replyText(HttpClient::request(request));
}

} // namespace

namespace PanelApi {

bool PanelAddress::isComplete() const {
    return isPlainHost(host) && isDecimalPort(port);
}

PanelAddress parseAddress(const QString& address) {
    const QString text = address.trimmed();
    PanelAddress parts;
    parts.scheme = text.contains(u"https://"_s) ? u"https://"_s : u"http://"_s;

    const qsizetype mark = text.indexOf(kSchemeMark);
    if (mark < 0)
        return parts;
    const qsizetype hostStart = mark + kSchemeMark.size();
    const qsizetype hostEnd = text.indexOf(u':', hostStart);
    if (hostEnd < 0)
        return parts;
    parts.host = text.mid(hostStart, hostEnd - hostStart);

    // The port follows the first ":" once every "://" is gone; an address without an
    // entrance path ends with its port.
    const QString unmarked = QString(text).remove(kSchemeMark);
    const qsizetype portStart = unmarked.indexOf(u':') + 1;
    const qsizetype portEnd = unmarked.indexOf(u'/', portStart);
    parts.port = unmarked.mid(portStart, portEnd < 0 ? -1 : portEnd - portStart);
    return parts;
}

QString baseUrl(const QString& address) {
    const PanelAddress parts = parseAddress(address);
    return parts.scheme + parts.host + u':' + parts.port;
}

QString requestTime() {
    return requestTimeAt(QDateTime::currentSecsSinceEpoch());
}

QString requestTimeAt(qint64 unixSeconds) {
    return QString::number(unixSeconds)
        .rightJustified(kRequestTimeDigits, u'0')
        .left(kRequestTimeDigits);
}

QString signature(const QString& apiKey) {
    return signature(apiKey, requestTime());
}

QString signature(const QString& apiKey, const QString& time) {
    const QString token = md5Hex(time + md5Hex(apiKey));
    return u"request_token="_s + token + u"&request_time="_s + time;
}

QString tempLoginBody(const QString& apiKey, const QString& time) {
    const qint64 expires = time.toLongLong() + kTempLoginSeconds;
    return signature(apiKey, time) + u"&action=set_temp_login&expire_time="_s +
           QString::number(expires);
}

QString getUserInfo(const QString& address, const QString& apiKey) {
    return post(address, u"/ssl?action=GetUserInfo"_s,
                signature(apiKey) + u"&action=GetUserInfo"_s);
}

QString setTempLogin(const QString& address, const QString& apiKey) {
    return post(address, u"/config?action=set_temp_login"_s, tempLoginBody(apiKey, requestTime()));
}

Outcome judgeReply(const QString& reply) {
    JsonDocument document;
    document.parse(reply);
    Outcome outcome;
    outcome.succeeded = document.getText(u"status"_s) == u"true";
    outcome.message = outcome.succeeded ? u"宝塔接口通信成功"_s
                                        : u"宝塔接口通信失败："_s + document.getText(u"msg"_s);
    outcome.token = document.getText(u"token"_s);
    return outcome;
}

QString incompleteAddressMessage() {
    return u"面板地址不完整，请填写完整地址，格式如 "_s + kAddressForm;
}

QString loginAddress(const QString& address, const QString& token) {
    return baseUrl(address) + u"/login?tmp_token="_s + token;
}

ServerDiagnostics::ClipboardCopy copyPanelInfo(const QString& url, const QString& user,
                                               const QString& password) {
    const QString text = u"面板地址 "_s + url + u"\r\n账号:"_s + user + u"密码:"_s + password;
    return {text, text + u" 复制成功\r\n"_s};
}

} // namespace PanelApi
