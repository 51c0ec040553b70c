#include "common/test_panel.h"

#include "unit/net/loopback_server.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMutexLocker>
#include <QRandomGenerator>
#include <QUrlQuery>

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

QHash<QString, QString> formFields(const std::string& body) {
    QHash<QString, QString> fields;
    const QUrlQuery query(QString::fromUtf8(body));
    for (const auto& [name, value] : query.queryItems(QUrl::FullyDecoded))
        fields.insert(name, value);
    return fields;
}

void answerJson(httplib::Response& res, const QJsonObject& reply) {
    res.set_content(QJsonDocument(reply).toJson(QJsonDocument::Compact).toStdString(),
                    "application/json");
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

    // The panel's own checks, in its order: caller, clock, key. Empty when all pass.
    QString refusal(const httplib::Request& req, const QHash<QString, QString>& fields) const {
        const QString caller = QString::fromStdString(req.remote_addr);
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

    // Records the request and answers it when it must be refused; true when it was.
    bool refuse(const httplib::Request& req, httplib::Response& res,
                QHash<QString, QString>& fields) {
        fields = formFields(req.body);
        requests << fields;
        if (answersHtml) {
            res.set_content("<html><body><h1>502 Bad Gateway</h1></body></html>", "text/html");
            return true;
        }
        const QString why = refusal(req, fields);
        if (why.isEmpty())
            return false;
        answerJson(res, {{u"status"_s, false}, {u"msg"_s, why}});
        return true;
    }
};

TestPanel::TestPanel(const QString& apiKey, Scheme scheme, const QString& certificateFolder)
    : state_(std::make_unique<State>()), scheme_(scheme) {
    state_->apiKey = apiKey.toUtf8();
    if (scheme == Scheme::Https) {
        const std::string cert = (certificateFolder + u"/cert.pem"_s).toStdString();
        const std::string key = (certificateFolder + u"/key.pem"_s).toStdString();
        server_ = std::make_unique<LoopbackServer>(
            std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str()));
    } else {
        server_ = std::make_unique<LoopbackServer>();
    }
    State* s = state_.get();

    (*server_)->Post("/ssl", [s](const httplib::Request& req, httplib::Response& res) {
        QMutexLocker locker(&s->lock);
        QHash<QString, QString> fields;
        if (req.get_param_value("action") != "GetUserInfo" || s->refuse(req, res, fields))
            return;
        answerJson(res, {{u"status"_s, s->accepted()},
                         {u"msg"_s, u"获取成功"_s},
                         {u"username"_s, u"tvadmin"_s}});
    });

    (*server_)->Post("/config", [s](const httplib::Request& req, httplib::Response& res) {
        QMutexLocker locker(&s->lock);
        QHash<QString, QString> fields;
        if (req.get_param_value("action") != "set_temp_login" || s->refuse(req, res, fields))
            return;
        const qint64 expires = fields.value(u"expire_time"_s).toLongLong();
        if (expires <= s->now()) {
            answerJson(res, {{u"status"_s, false}, {u"msg"_s, u"过期时间无效"_s}});
            return;
        }
        const QString token = randomHex(24);
        s->tokens.insert(token, expires);
        answerJson(res, {{u"status"_s, s->accepted()},
                         {u"msg"_s, u"临时连接已生成"_s},
                         {u"token"_s, token},
                         {u"expire"_s, expires}});
    });

    (*server_)->Get("/login", [s](const httplib::Request& req, httplib::Response& res) {
        QMutexLocker locker(&s->lock);
        const QString token = QString::fromStdString(req.get_param_value("tmp_token"));
        if (!s->tokens.contains(token) || s->tokens.value(token) <= s->now()) {
            res.status = 403;
            res.set_content("<html><head><meta "
                            "charset=\"utf-8\"></head><body>临时登录链接无效或已过期</body></html>",
                            "text/html; charset=utf-8");
            return;
        }
        res.set_header(
            "Set-Cookie",
            (kSessionCookie + u'=' + randomHex(16) + u"; Path=/; HttpOnly"_s).toStdString());
        res.set_content(u"<html><head><meta charset=\"utf-8\"></head><body>%1</body></html>"_s
                            .arg(kLoggedInPage)
                            .toStdString(),
                        "text/html; charset=utf-8");
    });
}

TestPanel::~TestPanel() = default;

bool TestPanel::start() {
    if (!server_->start())
        return false;
    const QString scheme = scheme_ == Scheme::Https ? u"https"_s : u"http"_s;
    QMutexLocker locker(&state_->lock);
    state_->address = server_->url(scheme, kEntrance);
    state_->baseUrl = server_->url(scheme, QString());
    return true;
}

void TestPanel::stop() {
    server_.reset();
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
