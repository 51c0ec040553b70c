// The cloud request frame against a loopback stand-in of the service: each action's address,
// method and form body, values that arrive intact, how replies are decoded and judged, and
// that a request the service never answered is never a success.

#include "core/app_context.h"
#include "core/cloud/cloud_account.h"
#include "core/cloud/cloud_actions.h"
#include "core/codec/gbk_codec.h"
#include "net/loopback_server.h"
#include "net/raw_http_server.h"

#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <mutex>

using namespace Qt::StringLiterals;
using Action = std::function<CloudApi::Reply(const CloudApi::Service&)>;
Q_DECLARE_METATYPE(Action)

namespace {

const CloudApi::Account kAccount{u"user"_s, u"pass"_s};
const QByteArray kAccountBody = "username=user&password=pass";

// What the stand-in saw of the last request.
struct Seen {
    QString method;
    QString act;
    QByteArray body;
    std::string password;
};

} // namespace

class TestCloudApi : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void actionSendsItsForm_data();
    void actionSendsItsForm();
    void valuesArriveIntact_data();
    void valuesArriveIntact();
    void repliesAreDecodedAndJudged_data();
    void repliesAreDecodedAndJudged();
    void registrationOutcome_data();
    void registrationOutcome();
    void noAnswerIsNeverSuccess_data();
    void noAnswerIsNeverSuccess();
    void baseAddressMayEndWithSlash();

private:
    void setReply(const QByteArray& text, int status = 200);
    Seen seen();
    QString serviceAddress() const { return service_.url(u"http"_s, QString()); }

    LoopbackServer service_;
    CloudApi::Service cloud_;
    std::mutex lock_;
    std::string reply_;
    int status_ = 200;
    Seen seen_;
    RefusingPort refusing_;
    RawHttpServer brokenOff_{"HTTP/1.1 200 OK\r\nContent-Length: 50\r\n\r\nTrue"};
};

void TestCloudApi::initTestCase() {
    const auto answer = [this](const httplib::Request& req, httplib::Response& res) {
        std::lock_guard guard(lock_);
        seen_ = {QString::fromStdString(req.method),
                 QString::fromStdString(req.get_param_value("act")),
                 QByteArray::fromStdString(req.body), req.get_param_value("password")};
        res.status = status_;
        res.set_content(reply_, "text/html; charset=utf-8");
    };
    service_->Get("/admin/user_reg.php", answer);
    service_->Post("/admin/user_reg.php", answer);
    QVERIFY(service_.start());
}

void TestCloudApi::init() {
    cloud_ = {serviceAddress()};
    setReply("True");
}

void TestCloudApi::setReply(const QByteArray& text, int status) {
    std::lock_guard guard(lock_);
    reply_ = text.toStdString();
    status_ = status;
}

Seen TestCloudApi::seen() {
    std::lock_guard guard(lock_);
    return seen_;
}

void TestCloudApi::actionSendsItsForm_data() {
    QTest::addColumn<Action>("action");
    QTest::addColumn<QString>("act");
    QTest::addColumn<QString>("method");
    QTest::addColumn<QByteArray>("body");

    const QString post = u"POST"_s;
    QTest::newRow("info") << Action([](const CloudApi::Service& at) {
        return CloudApi::checkAccount(at, kAccount);
    }) << u"info"_s << post
                          << kAccountBody;
    QTest::newRow("info with an empty account")
        << Action([](const CloudApi::Service& at) { return CloudApi::checkAccount(at, {}); })
        << u"info"_s << post << QByteArray("username=&password=");
    QTest::newRow("reg") << Action([](const CloudApi::Service& at) {
        return CloudApi::registerAccount(
            at, {u"new"_s, u"pw"_s, u"13800000000"_s, u"1234"_s, u"10001"_s, u"a@b.cn"_s});
    }) << u"reg"_s << post
                         << QByteArray("username=new&password=pw&phone=13800000000&vcode=1234"
                                       "&qq=10001&mail=a%40b.cn");
    QTest::newRow("sendsms") << Action([](const CloudApi::Service& at) {
        return CloudApi::sendSmsCode(at, u"13800000000"_s);
    }) << u"sendsms"_s << post
                             << QByteArray("phone=13800000000");
    QTest::newRow("editpass") << Action([](const CloudApi::Service& at) {
        return CloudApi::changePassword(at, {u"user"_s, u"old"_s, u"new"_s, u"new"_s});
    }) << u"editpass"_s << post
                              << QByteArray("username=user&password=old&newpass=new&okpass=new");
    QTest::newRow("update_class") << Action([](const CloudApi::Service& at) {
        return CloudApi::uploadGroup(at, kAccount, {u"7"_s, u"默认分组"_s, u"1"_s});
    }) << u"update_class"_s << post
                                  << kAccountBody + "&server_class=%C4%AC%C8%CF%B7%D6%D7%E9&sort=1";
    QTest::newRow("update")
        << Action([](const CloudApi::Service& at) {
               ServerRecord s;
               s.group = u"g"_s;
               s.name = u"n"_s;
               s.ip = u"198.51.100.7"_s;
               s.startTime = u"2024-1-1 0:0:0"_s;
               s.endTime = u"e"_s;
               s.remark = u"r"_s;
               s.system = u"linux"_s;
               s.sort = u"5"_s;
               s.port = u"22"_s;
               s.user = u"root"_s;
               s.password = u"SEALED1"_s;
               s.panelUrl = u"https://198.51.100.7:8888"_s;
               s.panelUser = u"bt"_s;
               s.panelPassword = u"SEALED2"_s;
               s.panelKey = u"SEALED3"_s;
               return CloudApi::uploadServer(at, kAccount, s);
           })
        << u"update"_s << post
        << kAccountBody + "&server_class=g&server_name=n&server_ip=198.51.100.7"
                          "&start_time=2024-1-1%200%3A0%3A0&end_time=e&remark=r"
                          "&system=linux&sort=5&server_port=22&server_user=root"
                          "&server_pass=SEALED1&baota_url=https%3A%2F%2F198.51.100.7%3A8888"
                          "&baota_user=bt&baota_pass=SEALED2&baota_apikey=SEALED3";
    QTest::newRow("down_class") << Action([](const CloudApi::Service& at) {
        return CloudApi::downloadGroups(at, kAccount);
    }) << u"down_class"_s << post
                                << kAccountBody;
    QTest::newRow("down") << Action([](const CloudApi::Service& at) {
        return CloudApi::downloadServers(at, kAccount);
    }) << u"down"_s << post
                          << kAccountBody;
    QTest::newRow("del_data") << Action([](const CloudApi::Service& at) {
        return CloudApi::clearCloudCopy(at, kAccount);
    }) << u"del_data"_s << post
                              << kAccountBody;
    QTest::newRow("get_ip") << Action(CloudApi::publicAddress) << u"get_ip"_s << u"GET"_s
                            << QByteArray();
    QTest::newRow("asfsgds") << Action([](const CloudApi::Service& at) {
        return CloudApi::announcements(at);
    }) << u"asfsgds"_s << u"GET"_s
                             << QByteArray();
}

void TestCloudApi::actionSendsItsForm() {
    QFETCH(Action, action);
    QFETCH(QString, act);
    QFETCH(QString, method);
    QFETCH(QByteArray, body);

    const CloudApi::Reply reply = action(cloud_);
    QVERIFY2(reply.answered(), qPrintable(reply.failure));
    QCOMPARE(reply.text, u"True"_s);
    const Seen request = seen();
    QCOMPARE(request.act, act);
    QCOMPARE(request.method, method);
    QCOMPARE(request.body, body);
}

void TestCloudApi::valuesArriveIntact_data() {
    QTest::addColumn<QString>("password");

    QTest::newRow("form separators") << u"a&b=c"_s;
    QTest::newRow("plus and percent") << u"1+1%20"_s;
    QTest::newRow("blank and Chinese") << u"密码 x"_s;
    QTest::newRow("a field of its own") << u"&username=other"_s;
}

// The service decodes the form as any web server does; what it gets is the value's GBK bytes.
void TestCloudApi::valuesArriveIntact() {
    QFETCH(QString, password);

    QVERIFY(CloudApi::succeeded(CloudApi::checkAccount(cloud_, {u"user"_s, password})));
    QCOMPARE(QByteArray::fromStdString(seen().password), Gbk::encode(password));
}

void TestCloudApi::repliesAreDecodedAndJudged_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("succeeded");
    QTest::addColumn<bool>("succeededUnlessFalse");
    QTest::addColumn<bool>("blockAccepted");

    QTest::newRow("True after a byte-order mark, then a line break")
        << QByteArray("\xEF\xBB\xBFTrue\r\n") << u"True\r\n"_s << true << true << true;
    QTest::newRow("question marks kept") << QByteArray("OK?") << u"OK?"_s << false << true << true;
    QTest::newRow("lower-case true is no success")
        << QByteArray("true") << u"true"_s << false << true << true;
    QTest::newRow("True anywhere")
        << QByteArray("xxTruexx") << u"xxTruexx"_s << true << true << true;
    QTest::newRow("False") << QByteArray("False") << u"False"_s << false << false << false;
    QTest::newRow("refusal with its reason")
        << u"False:账号或密码错误"_s.toUtf8() << u"False:账号或密码错误"_s << false << false
        << false;
    QTest::newRow("refusal after a blank line")
        << QByteArray("\r\nFalse") << u"\r\nFalse"_s << false << false << false;
    QTest::newRow("data line of a group named False...")
        << QByteArray("Falsehood----1\r\n007----2") << u"Falsehood----1\r\n007----2"_s << false
        << false << true;
    QTest::newRow("False in a later line")
        << QByteArray("a----1\r\nFalse") << u"a----1\r\nFalse"_s << false << false << true;
    QTest::newRow("empty answer") << QByteArray() << QString() << false << true << true;
    QTest::newRow("Chinese kept") << u"默认分组----1"_s.toUtf8() << u"默认分组----1"_s << false
                                  << true << true;
    QTest::newRow("characters GBK lacks kept")
        << u"a😀?b"_s.toUtf8() << u"a😀?b"_s << false << true << true;
}

void TestCloudApi::repliesAreDecodedAndJudged() {
    QFETCH(QByteArray, reply);
    QFETCH(QString, text);
    QFETCH(bool, succeeded);
    QFETCH(bool, succeededUnlessFalse);
    QFETCH(bool, blockAccepted);

    setReply(reply);
    const CloudApi::Reply answer = CloudApi::downloadServers(cloud_, kAccount);
    QVERIFY(answer.answered());
    QCOMPARE(answer.text, text);
    QCOMPARE(CloudApi::succeeded(answer), succeeded);
    QCOMPARE(CloudApi::succeededUnlessFalse(answer), succeededUnlessFalse);
    QCOMPARE(CloudApi::blockAccepted(answer), blockAccepted);
}

void TestCloudApi::registrationOutcome_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<CloudApi::RegistrationOutcome>("outcome");

    using Outcome = CloudApi::RegistrationOutcome;
    QTest::newRow("registered") << QByteArray("True") << Outcome::Registered;
    QTest::newRow("wrong code") << QByteArray("vcodeerror") << Outcome::WrongSmsCode;
    QTest::newRow("name taken") << QByteArray("userisok") << Outcome::NameTaken;
    QTest::newRow("wrong code comes first")
        << QByteArray("userisok vcodeerror") << Outcome::WrongSmsCode;
    QTest::newRow("anything else") << QByteArray("False") << Outcome::Failed;
}

void TestCloudApi::registrationOutcome() {
    QFETCH(QByteArray, reply);
    QFETCH(CloudApi::RegistrationOutcome, outcome);

    setReply(reply);
    QCOMPARE(CloudApi::registrationOutcome(CloudApi::registerAccount(cloud_, {})), outcome);
}

void TestCloudApi::noAnswerIsNeverSuccess_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("failure");
    QTest::addColumn<QString>("forLog");   // how the log shows the reply
    QTest::addColumn<QString>("loginBox"); // what the log-in window says

    const QString noAnswer = u"通信失败，云端没有应答（%1），请检查网络或稍后再试"_s;
    QTest::newRow("connection refused")
        << u"http://127.0.0.1:%1"_s.arg(refusing_.port()) << 200 << u"711 发送请求失败!"_s
        << u"（云端未应答：711 发送请求失败!）"_s << noAnswer.arg(u"711 发送请求失败!"_s);
    QTest::newRow("web server error")
        << serviceAddress() << 500 << QString() << u"True（云端返回 HTTP 500）"_s
        << u"通信失败，云端出错（HTTP 500），请稍后再试"_s;
    QTest::newRow("bad gateway") << serviceAddress() << 502 << QString()
                                 << u"True（云端返回 HTTP 502）"_s
                                 << u"通信失败，云端出错（HTTP 502），请稍后再试"_s;
    QTest::newRow("reply broke off")
        << u"http://127.0.0.1:%1"_s.arg(brokenOff_.port()) << 200 << u"713 读取数据失败!"_s
        << u"True（云端未应答：713 读取数据失败!）"_s << noAnswer.arg(u"713 读取数据失败!"_s);
}

// Even replies that would count as success ("True", or no "False") do not when the service
// did not answer them whole, or a web server answered with an error status for it. The log
// tells the two apart: an error status is an answer, with its status.
void TestCloudApi::noAnswerIsNeverSuccess() {
    QFETCH(QString, address);
    QFETCH(int, status);
    QFETCH(QString, failure);
    QFETCH(QString, forLog);
    QFETCH(QString, loginBox);

    cloud_ = {address};
    setReply("True", status);
    const auto check = [&](const CloudApi::Reply& reply) {
        QVERIFY(!reply.answered());
        QCOMPARE(reply.failure, failure);
        QCOMPARE(reply.errorStatus, failure.isEmpty() ? status : 0);
        QCOMPARE(CloudAccount::replyForLog(reply), forLog);
    };

    const CloudApi::Reply info = CloudApi::checkAccount(cloud_, kAccount);
    check(info);
    QVERIFY(!CloudApi::succeeded(info));
    QCOMPARE(CloudAccount::loginMessage({info, false}, CloudAccount::Origin::Settings), loginBox);
    const CloudApi::Reply cleared = CloudApi::clearCloudCopy(cloud_, kAccount);
    check(cleared);
    QVERIFY(!CloudApi::succeededUnlessFalse(cleared));
    const CloudApi::Reply servers = CloudApi::downloadServers(cloud_, kAccount);
    check(servers);
    QVERIFY(!CloudApi::succeededUnlessFalse(servers));
    QVERIFY(!CloudApi::blockAccepted(servers));
    QCOMPARE(CloudApi::registrationOutcome(CloudApi::registerAccount(cloud_, {})),
             CloudApi::RegistrationOutcome::Failed);
}

void TestCloudApi::baseAddressMayEndWithSlash() {
    const QTemporaryDir home;
    const AppContext context({home.path(), serviceAddress() + u"//"_s});
    QCOMPARE(context.cloudAddress(), serviceAddress());
    QVERIFY(CloudApi::succeeded(CloudApi::checkAccount({context.cloudAddress()}, kAccount)));
    QCOMPARE(seen().act, u"info"_s);
}

QTEST_GUILESS_MAIN(TestCloudApi)
#include "tst_cloud_api.moc"
