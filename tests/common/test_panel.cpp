#include "common/test_panel.h"

#include "unit/net/raw_http_server.h"

#ifndef Q_OS_WIN
#include "unit/net/loopback_server.h"
#endif

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QUrl>
#include <QUrlQuery>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

constexpr qint64 kAllowedClockDifference = 60;

QByteArray md5Hex(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex();
}

QString randomHex(int bytes) {
    QByteArray data(bytes, Qt::Uninitialized);
    for (char& b : data)
        b = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return QString::fromLatin1(data.toHex());
}

QHash<QString, QString> formFields(const QByteArray& body) {
    QHash<QString, QString> fields;
    const QUrlQuery query(QString::fromUtf8(body));
    for (const auto& [name, value] : query.queryItems(QUrl::FullyDecoded))
        fields.insert(name, value);
    return fields;
}

// One request to the panel, whatever carried it.
struct PanelRequest {
    QByteArray method;
    QString path;
    // The address's query parameters, then the form fields of the body (the first of a name
    // counts).
    QHash<QString, QString> params;
    QByteArray body;
    QString peerAddress;
};

struct PanelReply {
    int status = 200;
    QByteArray contentType;
    QByteArray body;
    QByteArray cookie;
};

PanelReply json(const QJsonObject& reply) {
    return {200, "application/json", QJsonDocument(reply).toJson(QJsonDocument::Compact), {}};
}

PanelReply html(int status, const QString& body) {
    return {
        status,
        "text/html; charset=utf-8",
        u"<html><head><meta charset=\"utf-8\"></head><body>%1</body></html>"_s.arg(body).toUtf8(),
        {}};
}

} // namespace

struct TestPanel::State {
    mutable QMutex lock;
    QByteArray apiKey;
    QStringList whitelist{u"127.0.0.1"_s};
    StatusForm statusForm = StatusForm::Boolean;
    bool answersHtml = false;
    qint64 clockOffset = 0;
    QHash<QString, qint64> tokens; // issued token -> expiry (Unix seconds)
    QList<QHash<QString, QString>> requests;
    QString address;
    QString baseUrl;

    qint64 now() const { return QDateTime::currentSecsSinceEpoch() + clockOffset; }

    QJsonValue accepted() const {
        return statusForm == StatusForm::Boolean ? QJsonValue(true) : QJsonValue(u"true"_s);
    }

    PanelReply answer(const PanelRequest& request) {
        QMutexLocker locker(&lock);
        const QString action = request.params.value(u"action"_s);
        if (request.method == "POST" && request.path == u"/ssl"_s && action == u"GetUserInfo"_s)
            return userInfo(request);
        if (request.method == "POST" && request.path == u"/config"_s &&
            action == u"set_temp_login"_s)
            return tempLogin(request);
        if (request.method == "GET" && request.path == u"/login"_s)
            return login(request.params.value(u"tmp_token"_s));
        return {404, "text/plain", "not found", {}};
    }

    PanelReply userInfo(const PanelRequest& request) {
        QHash<QString, QString> fields;
        if (const auto refused = refusal(request, fields))
            return *refused;
        return json(
            {{u"status"_s, accepted()}, {u"msg"_s, u"获取成功"_s}, {u"username"_s, u"tvadmin"_s}});
    }

    PanelReply tempLogin(const PanelRequest& request) {
        QHash<QString, QString> fields;
        if (const auto refused = refusal(request, fields))
            return *refused;
        const qint64 expires = fields.value(u"expire_time"_s).toLongLong();
        if (expires <= now())
            return json({{u"status"_s, false}, {u"msg"_s, u"过期时间无效"_s}});
        const QString token = randomHex(24);
        tokens.insert(token, expires);
        return json({{u"status"_s, accepted()},
                     {u"msg"_s, u"临时连接已生成"_s},
                     {u"token"_s, token},
                     {u"expire"_s, expires}});
    }

    PanelReply login(const QString& token) const {
        if (!tokens.contains(token) || tokens.value(token) <= now())
            return html(403, u"临时登录链接无效或已过期"_s);
        PanelReply reply = html(200, kLoggedInPage);
        reply.cookie = (kSessionCookie + u'=' + randomHex(16) + u"; Path=/; HttpOnly"_s).toUtf8();
        return reply;
    }

    // The panel's own checks, in its order: caller, clock, key. Empty when all pass.
    QString refusalMessage(const QString& caller, const QHash<QString, QString>& fields) const {
        if (!whitelist.contains(caller))
            return kNotWhitelistedPrefix + u'[' + caller + u']';
        bool isNumber = false;
        const qint64 time = fields.value(u"request_time"_s).toLongLong(&isNumber);
        if (!isNumber || qAbs(time - now()) > kAllowedClockDifference)
            return kWrongTimeMessage;
        const QByteArray expected =
            md5Hex(fields.value(u"request_time"_s).toLatin1() + md5Hex(apiKey));
        if (fields.value(u"request_token"_s).toLatin1() != expected)
            return kWrongKeyMessage;
        return {};
    }

    // Records the API request's form fields and gives the answer when it must be refused.
    std::optional<PanelReply> refusal(const PanelRequest& request,
                                      QHash<QString, QString>& fields) {
        fields = formFields(request.body);
        requests << fields;
        if (answersHtml) {
            return PanelReply{
                200, "text/html", "<html><body><h1>502 Bad Gateway</h1></body></html>", {}};
        }
        const QString why = refusalMessage(request.peerAddress, fields);
        if (why.isEmpty())
            return std::nullopt;
        return json({{u"status"_s, false}, {u"msg"_s, why}});
    }
};

namespace {

// HTTP: a plain loopback peer, on every system the tests run on.
PanelRequest fromRaw(const QByteArray& raw, const QString& peerAddress) {
    const qsizetype headEnd = raw.indexOf("\r\n\r\n");
    const QList<QByteArray> line = raw.left(raw.indexOf("\r\n")).split(' ');
    const QUrl target(QString::fromLatin1(line.value(1)));
    PanelRequest request{line.value(0), target.path(), {}, raw.mid(headEnd + 4), peerAddress};
    for (const auto& [name, value] : QUrlQuery(target).queryItems(QUrl::FullyDecoded))
        request.params.insert(name, value);
    const QHash<QString, QString> fields = formFields(request.body);
    for (auto it = fields.cbegin(); it != fields.cend(); ++it) {
        if (!request.params.contains(it.key()))
            request.params.insert(it.key(), it.value());
    }
    return request;
}

QByteArray toRaw(const PanelReply& reply) {
    const QByteArray reason = reply.status == 200   ? "OK"
                              : reply.status == 403 ? "Forbidden"
                                                    : "Not Found";
    QByteArray raw = "HTTP/1.1 " + QByteArray::number(reply.status) + ' ' + reason +
                     "\r\nContent-Type: " + reply.contentType + "\r\n";
    if (!reply.cookie.isEmpty())
        raw += "Set-Cookie: " + reply.cookie + "\r\n";
    return raw + "Content-Length: " + QByteArray::number(reply.body.size()) + "\r\n\r\n" +
           reply.body;
}

#ifndef Q_OS_WIN
// HTTPS: cpp-httplib's TLS server with a self-signed certificate.
PanelRequest fromHttplib(const httplib::Request& req) {
    PanelRequest request{QByteArray::fromStdString(req.method),
                         QString::fromStdString(req.path),
                         {},
                         QByteArray::fromStdString(req.body),
                         QString::fromStdString(req.remote_addr)};
    for (const auto& [name, value] : req.params) {
        const QString key = QString::fromStdString(name);
        if (!request.params.contains(key))
            request.params.insert(key, QString::fromStdString(value));
    }
    return request;
}

void toHttplib(const PanelReply& reply, httplib::Response& res) {
    res.status = reply.status;
    if (!reply.cookie.isEmpty())
        res.set_header("Set-Cookie", reply.cookie.toStdString());
    res.set_content(reply.body.toStdString(), reply.contentType.toStdString());
}
#endif

} // namespace

// The panel's peer: the plain one for HTTP, the TLS one for HTTPS.
struct TestPanel::Server {
    std::unique_ptr<RawHttpServer> plain;
#ifndef Q_OS_WIN
    std::unique_ptr<LoopbackServer> secure;
#endif
};

TestPanel::TestPanel(const QString& apiKey, Scheme scheme, const QString& certificateFolder)
    : state_(std::make_unique<State>()), server_(std::make_unique<Server>()) {
    state_->apiKey = apiKey.toUtf8();
    State* s = state_.get();
    if (scheme == Scheme::Http) {
        server_->plain =
            std::make_unique<RawHttpServer>([s](const QByteArray& raw, const QString& peer) {
                return toRaw(s->answer(fromRaw(raw, peer)));
            });
        return;
    }
#ifdef Q_OS_WIN
    Q_UNUSED(certificateFolder);
#else
    const std::string cert = (certificateFolder + u"/cert.pem"_s).toStdString();
    const std::string key = (certificateFolder + u"/key.pem"_s).toStdString();
    server_->secure = std::make_unique<LoopbackServer>(
        std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str()));
    const auto handler = [s](const httplib::Request& req, httplib::Response& res) {
        toHttplib(s->answer(fromHttplib(req)), res);
    };
    (*server_->secure)->Get(".*", handler);
    (*server_->secure)->Post(".*", handler);
#endif
}

TestPanel::~TestPanel() = default;

bool TestPanel::start() {
    QString base;
    if (server_->plain && server_->plain->isListening())
        base = server_->plain->url(QString());
#ifndef Q_OS_WIN
    if (server_->secure && server_->secure->start())
        base = server_->secure->url(u"https"_s, QString());
#endif
    if (base.isEmpty())
        return false;
    QMutexLocker locker(&state_->lock);
    state_->address = base + kEntrance;
    state_->baseUrl = base;
    return true;
}

void TestPanel::stop() {
    server_ = std::make_unique<Server>();
}

QString TestPanel::address() const {
    QMutexLocker locker(&state_->lock);
    return state_->address;
}

QString TestPanel::baseUrl() const {
    QMutexLocker locker(&state_->lock);
    return state_->baseUrl;
}

void TestPanel::setWhitelist(const QStringList& addresses) {
    QMutexLocker locker(&state_->lock);
    state_->whitelist = addresses;
}

void TestPanel::setStatusForm(StatusForm form) {
    QMutexLocker locker(&state_->lock);
    state_->statusForm = form;
}

void TestPanel::setAnswersHtml(bool html) {
    QMutexLocker locker(&state_->lock);
    state_->answersHtml = html;
}

void TestPanel::advanceClock(qint64 seconds) {
    QMutexLocker locker(&state_->lock);
    state_->clockOffset += seconds;
}

QList<QHash<QString, QString>> TestPanel::requests() const {
    QMutexLocker locker(&state_->lock);
    return state_->requests;
}
