// The real torvane-cloud on loopback: each action's replies, accounts that never see each
// other's data, values that arrive and come back as sent, bad and oversized requests, many
// clients at once, SMS codes handed to a program, and the limits that hold against slow
// clients and password guessing.

#include "common/cloud_service_fixture.h"
#include "common/cloud_test_forms.h"
#include "common/loopback_connection.h"
#include "core/cloud/cloud_account.h"
#include "core/cloud/cloud_actions.h"
#include "core/cloud/password_sealer.h"
#include "core/codec/gbk_codec.h"
#include "core/store/line_formats.h"

#include <QFileInfo>
#include <QRandomGenerator>
#include <QSet>
#include <QTest>

#include <httplib.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;
using Fields = CloudApi::FormFields;

namespace {

struct Answer {
    int status = 0;
    QString text;
};

// These tests are about actions, values and replies, and send far more wrong passwords and SMS
// codes, over more connections, from one address than the service allows anyone; the limits
// have tests of their own.
const QStringList kLiftedLimits{u"--login-failures-per-address"_s, u"1000000"_s,
                                u"--login-failures-per-account"_s, u"1000000"_s,
                                u"--sms-codes-per-address"_s,      u"1000000"_s,
                                u"--connections-per-address"_s,    u"1000000"_s};

const QString kPhoneA = u"13800000001"_s;
const QString kPhoneB = u"13800000002"_s;

// A server with every field set, sealed as the upload seals it.
ServerRecord sampleServer(const QString& ip, const QString& port, const QString& password) {
    ServerRecord s;
    s.group = u"默认分组"_s;
    s.name = u"香港 web 1"_s;
    s.ip = ip;
    s.port = port;
    s.startTime = u"2024-1-1 8:0:0"_s;
    s.endTime = u"2025-1-1 8:0:0"_s;
    s.remark = u"a&b=c+d%20 无"_s;
    s.system = u"linux"_s;
    s.sort = u"7"_s;
    s.user = u"root"_s;
    s.password = PasswordSealer::seal(password, PasswordSealer::kSealingKey);
    s.panelUrl = u"https://198.51.100.9:8888/abc"_s;
    s.panelUser = u"bt"_s;
    s.panelPassword = PasswordSealer::seal(u"面板"_s, PasswordSealer::kSealingKey);
    s.panelKey = PasswordSealer::seal(u"KEY"_s, PasswordSealer::kSealingKey);
    return s;
}

QString serverLine(const ServerRecord& s) {
    return QStringList{s.group, s.name,     s.ip,        s.user,          s.password,
                       s.port,  s.system,   s.remark,    s.startTime,     s.endTime,
                       s.sort,  s.panelUrl, s.panelUser, s.panelPassword, s.panelKey}
        .join(u"----"_s);
}

Answer answerOf(const QByteArray& reply) {
    const qsizetype bodyStart = reply.indexOf("\r\n\r\n");
    if (!reply.startsWith("HTTP/1.1 ") || bodyStart < 0)
        return {};
    return {reply.mid(9, 3).toInt(), QString::fromUtf8(reply.mid(bodyStart + 4))};
}

// One request from `address`, on a connection of its own, and the service's answer.
Answer exchangeFrom(const QString& address, quint16 port, const QByteArray& request) {
    const int socket = connectFromLoopback(address.toLatin1().constData(), port);
    if (socket < 0)
        return {};
    const bool sent = ::send(socket, request.constData(), std::size_t(request.size()),
                             MSG_NOSIGNAL) == request.size();
    const Answer answer =
        sent ? answerOf(QByteArray::fromStdString(receiveUntilClosed(socket, 10000).bytes))
             : Answer{};
    ::close(socket);
    return answer;
}

QByteArray postRequest(const QString& act, const QByteArray& body) {
    return "POST /admin/user_reg.php?act=" + act.toLatin1() +
           " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           QByteArray::number(body.size()) + "\r\n\r\n" + body;
}

Answer postFrom(const QString& address, quint16 port, const QString& act, const Fields& fields) {
    return exchangeFrom(address, port, postRequest(act, CloudApi::formBody(fields)));
}

// Connections that each send a request a byte at a time, as a slow or hostile client does,
// until the service closes them. `atOnce` goes out first, whole; `slowly` follows, one byte
// per connection every 100 ms. What each connection received is kept.
class Trickle {
public:
    Trickle(quint16 port, const QStringList& addresses, QByteArray atOnce, QByteArray slowly)
        : slowly_(std::move(slowly)) {
        for (const QString& address : addresses) {
            const int socket = connectFromLoopback(address.toLatin1().constData(), port);
            if (socket >= 0 && !atOnce.isEmpty())
                ::send(socket, atOnce.constData(), std::size_t(atOnce.size()), MSG_NOSIGNAL);
            connections_.push_back({socket, socket < 0, {}});
        }
        thread_ = std::thread([this] { run(); });
    }

    ~Trickle() {
        stop_ = true;
        thread_.join();
        for (const Connection& connection : connections_)
            if (connection.socket >= 0)
                ::close(connection.socket);
    }

    Trickle(const Trickle&) = delete;
    Trickle& operator=(const Trickle&) = delete;

    bool allConnected() const {
        return std::all_of(connections_.begin(), connections_.end(),
                           [](const Connection& c) { return c.socket >= 0; });
    }

    // Waits up to `timeoutMs` until the service has closed every connection.
    bool waitUntilAllClosed(int timeoutMs) const {
        const QDeadlineTimer deadline(timeoutMs);
        while (!deadline.hasExpired()) {
            {
                std::lock_guard guard(lock_);
                if (std::all_of(connections_.begin(), connections_.end(),
                                [](const Connection& c) { return c.closed; }))
                    return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return false;
    }

    // What each connection received, in the order of the addresses.
    QList<QByteArray> received() const {
        std::lock_guard guard(lock_);
        QList<QByteArray> all;
        for (const Connection& connection : connections_)
            all << connection.received;
        return all;
    }

private:
    struct Connection {
        int socket = -1;
        bool closed = false;
        QByteArray received;
    };

    void run() {
        for (qsizetype next = 0; !stop_; ++next) {
            {
                std::lock_guard guard(lock_);
                for (Connection& connection : connections_)
                    step(connection, next);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    // Takes what arrived, then sends the next byte.
    void step(Connection& connection, qsizetype next) const {
        char buffer[4096];
        while (!connection.closed) {
            const ssize_t count = ::recv(connection.socket, buffer, sizeof buffer, MSG_DONTWAIT);
            if (count > 0)
                connection.received.append(buffer, count);
            else if (count == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
                connection.closed = true;
            else
                break;
        }
        if (!connection.closed && next < slowly_.size())
            ::send(connection.socket, slowly_.constData() + next, 1, MSG_NOSIGNAL);
    }

    QByteArray slowly_;
    std::vector<Connection> connections_;
    mutable std::mutex lock_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

QStringList addresses(int first, int count) {
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << u"127.0.0.%1"_s.arg(first + i);
    return list;
}

qsizetype countStartingWith(const QList<QByteArray>& replies, const QByteArray& start) {
    return std::count_if(replies.begin(), replies.end(),
                         [&start](const QByteArray& reply) { return reply.startsWith(start); });
}

} // namespace

class TestCloudService : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void registration_data();
    void registration();
    void smsCodes();
    void wrongGuessesVoidTheCode();
    void accountChecks_data();
    void accountChecks();
    void passwordChange();
    void awkwardPasswordThroughTheClient();
    void serversRoundTrip();
    void updateReplacesByAddressAndPort();
    void longValuesAreStored();
    void writeAheadLogStaysBounded();
    void groupsByName();
    void valuesThatCannotTravelInALine_data();
    void valuesThatCannotTravelInALine();
    void valuesThatCannotComeBackAsSent();
    void unescapedBodyOfOlderClients();
    void accountsNeverSeeEachOther();
    void wrongPasswordChangesNothing_data();
    void wrongPasswordChangesNothing();
    void badRequests_data();
    void badRequests();
    void randomBodiesAreAnsweredSafely();
    void publicActions();
    void manyClientsAtOnce();
    void dataSurvivesRestart();
    void codesHandedToAProgram();
    void slowClientsCannotStopTheService();
    void guessingIsHeldBack();
    void smsCodesPerAddress();
    void trustedProxyNamesTheClient();

private:
    Answer post(const QString& act, const QByteArray& body);
    Answer post(const QString& act, const Fields& fields) {
        return post(act, CloudApi::formBody(fields));
    }
    Answer get(const QString& act);
    // sendsms for `phone`, the code from the log, then reg.
    QString registerAccount(const QString& name, const QString& password, const QString& phone);
    Answer down(const CloudApi::Account& account) {
        return post(u"down"_s, CloudApi::accountBody(account));
    }

    CloudServiceFixture cloud_{kLiftedLimits};
    // Where the client's requests of a test go.
    CloudApi::Service at_;
    int nextPhone_ = 100;
    const CloudApi::Account alice_{u"alice"_s, u"alice-pw"_s};
    const CloudApi::Account bob_{u"bob"_s, u"bob-pw"_s};
    QString freshPhone() { return u"139000%1"_s.arg(nextPhone_++, 5, 10, QChar(u'0')); }
};

void TestCloudService::initTestCase() {
    QVERIFY(cloud_.start());
    QCOMPARE(registerAccount(alice_.username, alice_.password, kPhoneA), u"True"_s);
    QCOMPARE(registerAccount(bob_.username, bob_.password, kPhoneB), u"True"_s);
}

void TestCloudService::init() {
    for (const auto& account : {alice_, bob_})
        QCOMPARE(post(u"del_data"_s, CloudApi::accountBody(account)).text, u"True"_s);
    at_ = {cloud_.url()};
}

Answer TestCloudService::post(const QString& act, const QByteArray& body) {
    httplib::Client client("127.0.0.1", cloud_.port());
    client.set_read_timeout(30, 0);
    const auto result = client.Post(("/admin/user_reg.php?act=" + act.toStdString()).c_str(),
                                    body.toStdString(), "application/x-www-form-urlencoded");
    if (!result)
        return {};
    return {result->status, QString::fromStdString(result->body)};
}

Answer TestCloudService::get(const QString& act) {
    httplib::Client client("127.0.0.1", cloud_.port());
    const auto result = client.Get(("/admin/user_reg.php?act=" + act.toStdString()).c_str());
    if (!result)
        return {};
    return {result->status, QString::fromStdString(result->body)};
}

QString TestCloudService::registerAccount(const QString& name, const QString& password,
                                          const QString& phone) {
    if (post(u"sendsms"_s, Fields{{u"phone"_s, phone}}).text != u"True"_s)
        return u"sendsms failed"_s;
    const QString code = cloud_.smsCode(phone);
    return post(u"reg"_s, Fields{{u"username"_s, name},
                                 {u"password"_s, password},
                                 {u"phone"_s, phone},
                                 {u"vcode"_s, code},
                                 {u"qq"_s, u"10001"_s},
                                 {u"mail"_s, u"a@b.cn"_s}})
        .text;
}

void TestCloudService::registration_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("codeChange"); // how the sent code differs from the real one
    QTest::addColumn<QString>("reply");

    QTest::newRow("new name, right code") << u"carol"_s << u"pw"_s << QString() << u"True"_s;
    QTest::newRow("Chinese name") << u"张三"_s << u"pw"_s << QString() << u"True"_s;
    QTest::newRow("wrong code") << u"dave"_s << u"pw"_s << u"wrong"_s << u"vcodeerror"_s;
    QTest::newRow("no code for this phone")
        << u"erin"_s << u"pw"_s << u"other phone"_s << u"vcodeerror"_s;
    QTest::newRow("name taken") << u"alice"_s << u"pw"_s << QString() << u"userisok"_s;
    QTest::newRow("wrong code and name taken")
        << u"alice"_s << u"pw"_s << u"wrong"_s << u"vcodeerror"_s;
    QTest::newRow("empty password")
        << u"frank"_s << QString() << QString() << u"False:账号或密码不合要求"_s;
}

void TestCloudService::registration() {
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(QString, codeChange);
    QFETCH(QString, reply);

    const QString phone = freshPhone();
    QCOMPARE(post(u"sendsms"_s, Fields{{u"phone"_s, phone}}).text, u"True"_s);
    QString code = cloud_.smsCode(phone);
    QCOMPARE(code.size(), 6);
    QString sentPhone = phone;
    if (codeChange == u"wrong"_s)
        code = code == u"000000"_s ? u"000001"_s : u"000000"_s;
    if (codeChange == u"other phone"_s)
        sentPhone = freshPhone();

    const Answer answer = post(u"reg"_s, Fields{{u"username"_s, name},
                                                {u"password"_s, password},
                                                {u"phone"_s, sentPhone},
                                                {u"vcode"_s, code},
                                                {u"qq"_s, u"1"_s},
                                                {u"mail"_s, u"m"_s}});
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.text, reply);
    const bool registered = reply == u"True"_s;
    QCOMPARE(post(u"info"_s, CloudApi::accountBody({name, password})).text == u"True"_s,
             registered || (name == alice_.username && password == alice_.password));
    if (registered) {
        // The code is used up by the registration.
        const Answer again = post(u"reg"_s, Fields{{u"username"_s, name + u"2"_s},
                                                   {u"password"_s, password},
                                                   {u"phone"_s, phone},
                                                   {u"vcode"_s, code},
                                                   {u"qq"_s, u"1"_s},
                                                   {u"mail"_s, u"m"_s}});
        QCOMPARE(again.text, u"vcodeerror"_s);
    }
}

void TestCloudService::smsCodes() {
    const QString phone = freshPhone();
    QCOMPARE(post(u"sendsms"_s, Fields{{u"phone"_s, phone}}).text, u"True"_s);
    const QString first = cloud_.smsCode(phone);
    QVERIFY(QRegularExpression(u"^\\d{6}$"_s).match(first).hasMatch());

    const Answer tooSoon = post(u"sendsms"_s, Fields{{u"phone"_s, phone}});
    QCOMPARE(tooSoon.status, 200);
    QVERIFY(tooSoon.text.startsWith(u"False"_s));
    QCOMPARE(cloud_.smsCode(phone), first);

    // Another phone is not held up by the first one's minute.
    QCOMPARE(post(u"sendsms"_s, Fields{{u"phone"_s, freshPhone()}}).text, u"True"_s);

    for (const QString& badPhone : {QString(), u"12ab5678"_s, u"138 0000 0000"_s})
        QVERIFY(post(u"sendsms"_s, Fields{{u"phone"_s, badPhone}}).text.startsWith(u"False"_s));
}

void TestCloudService::wrongGuessesVoidTheCode() {
    const QString phone = freshPhone();
    QCOMPARE(post(u"sendsms"_s, Fields{{u"phone"_s, phone}}).text, u"True"_s);
    const QString code = cloud_.smsCode(phone);
    const QString wrong = code == u"111111"_s ? u"222222"_s : u"111111"_s;
    const auto tryCode = [&](const QString& vcode) {
        return post(u"reg"_s, Fields{{u"username"_s, u"guesser"_s},
                                     {u"password"_s, u"pw"_s},
                                     {u"phone"_s, phone},
                                     {u"vcode"_s, vcode},
                                     {u"qq"_s, u"1"_s},
                                     {u"mail"_s, u"m"_s}})
            .text;
    };
    for (int i = 0; i < 5; ++i)
        QCOMPARE(tryCode(wrong), u"vcodeerror"_s);
    QCOMPARE(tryCode(code), u"vcodeerror"_s);
}

void TestCloudService::accountChecks_data() {
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("reply");

    QTest::newRow("right password") << u"alice"_s << u"alice-pw"_s << u"True"_s;
    QTest::newRow("right again (remembered)") << u"alice"_s << u"alice-pw"_s << u"True"_s;
    QTest::newRow("another account's password")
        << u"alice"_s << u"bob-pw"_s << u"False:账号或密码错误"_s;
    QTest::newRow("password with one more character")
        << u"alice"_s << u"alice-pwx"_s << u"False:账号或密码错误"_s;
    QTest::newRow("empty password") << u"alice"_s << QString() << u"False:账号或密码错误"_s;
    QTest::newRow("unknown account, same reply")
        << u"nobody"_s << u"alice-pw"_s << u"False:账号或密码错误"_s;
    QTest::newRow("empty account") << QString() << QString() << u"False:账号或密码错误"_s;
}

void TestCloudService::accountChecks() {
    QFETCH(QString, username);
    QFETCH(QString, password);
    QFETCH(QString, reply);

    const Answer answer = post(u"info"_s, CloudApi::accountBody({username, password}));
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.text, reply);
}

void TestCloudService::passwordChange() {
    const CloudApi::Account grace{u"grace"_s, u"old-pw"_s};
    QCOMPARE(registerAccount(grace.username, grace.password, freshPhone()), u"True"_s);
    QCOMPARE(post(u"update"_s, serverFields(grace, u"192.0.2.1"_s, u"22"_s)).text, u"True"_s);

    const auto change = [&](const QString& current, const QString& next, const QString& again) {
        return post(u"editpass"_s, Fields{{u"username"_s, grace.username},
                                          {u"password"_s, current},
                                          {u"newpass"_s, next},
                                          {u"okpass"_s, again}})
            .text;
    };
    QCOMPARE(change(u"old-pw"_s, u"new-pw"_s, u"new-pw2"_s), u"False:两次输入的新密码不一致"_s);
    QCOMPARE(change(u"wrong"_s, u"new-pw"_s, u"new-pw"_s), u"False:账号或密码错误"_s);
    QCOMPARE(change(u"old-pw"_s, QString(), QString()), u"False:新密码不能为空"_s);
    QCOMPARE(post(u"info"_s, CloudApi::accountBody(grace)).text, u"True"_s);

    QCOMPARE(change(u"old-pw"_s, u"new-pw"_s, u"new-pw"_s), u"True"_s);
    // The old password was remembered by the checks above; it must stop working at once.
    QCOMPARE(post(u"info"_s, CloudApi::accountBody(grace)).text, u"False:账号或密码错误"_s);
    QVERIFY(down(grace).text.startsWith(u"False"_s));
    const CloudApi::Account renewed{grace.username, u"new-pw"_s};
    QCOMPARE(post(u"info"_s, CloudApi::accountBody(renewed)).text, u"True"_s);
    QVERIFY(down(renewed).text.contains(u"192.0.2.1"_s));
    QVERIFY(cloud_.log().contains(u"password changed for \"grace\""_s));
}

// The client's own request frame, as the account window will use it: a password holding the
// form's special characters, a blank and Chinese text survives register, log in and change.
void TestCloudService::awkwardPasswordThroughTheClient() {
    const QString phone = freshPhone();
    const QString first = u"a&b=c+d%e f中文"_s;
    const QString second = u"%41+&= 新密码"_s;
    QVERIFY(CloudApi::succeeded(CloudApi::sendSmsCode(at_, phone)));
    const CloudApi::Reply registered = CloudApi::registerAccount(
        at_, {u"名字 & co"_s, first, phone, cloud_.smsCode(phone), u"1"_s, u"x@y.cn"_s});
    QCOMPARE(CloudApi::registrationOutcome(registered), CloudApi::RegistrationOutcome::Registered);
    QVERIFY(CloudApi::succeeded(CloudApi::checkAccount(at_, {u"名字 & co"_s, first})));
    QVERIFY(!CloudApi::succeeded(CloudApi::checkAccount(at_, {u"名字 & co"_s, u"a"_s})));
    QVERIFY(CloudApi::succeeded(
        CloudApi::changePassword(at_, {u"名字 & co"_s, first, second, second})));
    QVERIFY(CloudApi::succeeded(CloudApi::checkAccount(at_, {u"名字 & co"_s, second})));
    QVERIFY(!CloudApi::succeeded(CloudApi::checkAccount(at_, {u"名字 & co"_s, first})));
}

void TestCloudService::serversRoundTrip() {
    const ServerRecord full = sampleServer(u"198.51.100.7"_s, u"22"_s, u"p@ss 密码"_s);
    ServerRecord plain = sampleServer(u"198.51.100.8"_s, u"3389"_s, QString());
    plain.panelUrl.clear();
    plain.panelUser.clear();
    plain.panelPassword.clear();
    plain.panelKey.clear();
    QVERIFY(CloudApi::succeeded(CloudApi::uploadServer(at_, alice_, full)));
    QVERIFY(CloudApi::succeeded(CloudApi::uploadServer(at_, alice_, plain)));

    const CloudApi::Reply reply = CloudApi::downloadServers(at_, alice_);
    QVERIFY(CloudApi::succeededUnlessFalse(reply));
    const QStringList lines = reply.text.split(u"\r\n"_s);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], serverLine(full));
    // Without any panel field the line ends after the sort key.
    QCOMPARE(lines[1], serverLine(plain).section(u"----"_s, 0, 10));
    const QStringList fields = ServerLine::fields(lines[0]);
    QCOMPARE(PasswordSealer::unseal(fields[ServerLine::Password], PasswordSealer::kSealingKey),
             u"p@ss 密码"_s);
    QCOMPARE(PasswordSealer::unseal(fields[ServerLine::PanelPassword], PasswordSealer::kSealingKey),
             u"面板"_s);
}

void TestCloudService::updateReplacesByAddressAndPort() {
    QCOMPARE(post(u"update"_s, serverFields(alice_, u"192.0.2.1"_s, u"22"_s)).text, u"True"_s);
    QCOMPARE(post(u"update"_s, serverFields(alice_, u"192.0.2.1"_s, u"2222"_s)).text, u"True"_s);
    Fields changed = serverFields(alice_, u"192.0.2.1"_s, u"22"_s);
    changed[3].second = u"renamed"_s; // server_name
    QCOMPARE(post(u"update"_s, changed).text, u"True"_s);

    const QStringList lines = down(alice_).text.split(u"\r\n"_s);
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], u"g----renamed----192.0.2.1----root----5F50137C3----22----linux----r----s"
                       u"----e----50"_s);
    QVERIFY(lines[1].contains(u"----2222----"_s));
}

// Escaped, every Chinese character of the remark takes six bytes of the body: 100 000 of
// them make a body of 600 kB, within the 1 MB a request may carry.
void TestCloudService::longValuesAreStored() {
    Fields fields = serverFields(alice_, u"192.0.2.1"_s, u"22"_s);
    const QString remark(100000, QChar(u'备'));
    fields[7].second = remark;
    QCOMPARE(post(u"update"_s, fields).text, u"True"_s);
    QCOMPARE(ServerLine::fields(down(alice_).text)[ServerLine::Remark], remark);
}

// The service checkpoints its database's write-ahead log itself (SQLite's own checkpoint is
// off on its connections): a log that is never checkpointed keeps every write ever made.
void TestCloudService::writeAheadLogStaysBounded() {
    constexpr int kServers = 30;
    // About 300 KB each as stored, over 2000 pages of 4 KB in all.
    const QString remark(100000, QChar(u'备'));
    for (int i = 0; i < kServers; ++i) {
        Fields fields = serverFields(alice_, u"192.0.2.%1"_s.arg(i + 1), u"22"_s);
        fields[7].second = remark;
        QCOMPARE(post(u"update"_s, fields).text, u"True"_s);
    }
    QCOMPARE(down(alice_).text.count(u"\r\n"_s), kServers - 1);
    if (CloudServiceFixture::onPostgres())
        return; // PostgreSQL looks after its own log
    const QFileInfo log(QDir(cloud_.dataFolder()).filePath(u"cloud.db-wal"_s));
    QVERIFY2(log.size() < 6 * 1024 * 1024, qPrintable(QString::number(log.size())));
}

void TestCloudService::groupsByName() {
    const auto putGroup = [this](const QString& name, const QString& sort) {
        return post(u"update_class"_s,
                    CloudApi::accountBody(alice_, {{u"server_class"_s, name}, {u"sort"_s, sort}}))
            .text;
    };
    QCOMPARE(putGroup(u"默认分组"_s, u"50"_s), u"True"_s);
    QCOMPARE(putGroup(u"007"_s, u"1"_s), u"True"_s);
    QCOMPARE(putGroup(u"默认分组"_s, u"9"_s), u"True"_s);
    const Answer groups = post(u"down_class"_s, CloudApi::accountBody(alice_));
    QCOMPARE(groups.text, u"默认分组----9\r\n007----1"_s);
    QVERIFY(post(u"update_class"_s, CloudApi::accountBody(alice_, {{u"server_class"_s, u"x"_s}}))
                .text.startsWith(u"False"_s));
}

void TestCloudService::valuesThatCannotTravelInALine_data() {
    QTest::addColumn<int>("field"); // index into serverFields()
    QTest::addColumn<QString>("value");

    QTest::newRow("line break in the remark") << 7 << u"one\r\ntwo"_s;
    QTest::newRow("lone LF in the name") << 3 << u"a\nb"_s;
    QTest::newRow("separator in the name") << 3 << u"a----b"_s;
    QTest::newRow("name ending in -") << 3 << u"web-"_s;
    QTest::newRow("empty sort key ending a line without panel fields") << 9 << QString();
}

// Such a value would come back split at the wrong place and shift the fields after it.
void TestCloudService::valuesThatCannotTravelInALine() {
    QFETCH(int, field);
    QFETCH(QString, value);

    Fields fields = serverFields(alice_, u"192.0.2.1"_s, u"22"_s);
    fields[field].second = value;
    const Answer answer = post(u"update"_s, fields);
    QCOMPARE(answer.status, 200);
    QVERIFY2(answer.text.startsWith(u"False:字段 "_s + fields[field].first),
             qPrintable(answer.text));
    QCOMPARE(down(alice_).text, QString());
}

// Bytes that are no GBK text would come back as other characters, or not at all; a group
// line ends with its sort key, which must not be empty.
void TestCloudService::valuesThatCannotComeBackAsSent() {
    Fields fields = serverFields(alice_, u"192.0.2.1"_s, u"22"_s);
    fields.removeAt(7); // the remark, sent below as raw bytes
    for (const QByteArray& remark : {"%81%20x"_ba, "x%81"_ba}) {
        const Answer notGbk = post(u"update"_s, CloudApi::formBody(fields) + "&remark=" + remark);
        QVERIFY2(notGbk.text.startsWith(u"False:字段 remark "_s), qPrintable(notGbk.text));
    }

    const Answer emptySort =
        post(u"update_class"_s,
             CloudApi::accountBody(alice_, {{u"server_class"_s, u"组"_s}, {u"sort"_s, QString()}}));
    QVERIFY2(emptySort.text.startsWith(u"False:字段 sort "_s), qPrintable(emptySort.text));
    QCOMPARE(down(alice_).text, QString());
    QCOMPARE(post(u"down_class"_s, CloudApi::accountBody(alice_)).text, QString());
}

// Older clients sent values without escaping: GBK bytes as they are.
void TestCloudService::unescapedBodyOfOlderClients() {
    QByteArray body =
        "username=alice&password=alice-pw&server_class=" + Gbk::encode(u"默认分组"_s) +
        "&server_name=a b&server_ip=192.0.2.5&start_time=s&end_time=e&remark=" +
        Gbk::encode(u"备注"_s) +
        "&system=windows&sort=1&server_port=3389&server_user=administrator"
        "&server_pass=5F50137C3";
    QCOMPARE(post(u"update"_s, body).text, u"True"_s);
    QCOMPARE(down(alice_).text,
             u"默认分组----a b----192.0.2.5----administrator----5F50137C3----3389"
             u"----windows----备注----s----e----1"_s);
}

void TestCloudService::accountsNeverSeeEachOther() {
    QCOMPARE(post(u"update"_s, serverFields(alice_, u"192.0.2.1"_s, u"22"_s)).text, u"True"_s);
    QCOMPARE(post(u"update_class"_s,
                  CloudApi::accountBody(alice_, {{u"server_class"_s, u"a"_s}, {u"sort"_s, u"1"_s}}))
                 .text,
             u"True"_s);
    const QString aliceServers = down(alice_).text;

    QCOMPARE(down(bob_).text, QString());
    QCOMPARE(post(u"down_class"_s, CloudApi::accountBody(bob_)).text, QString());

    // Bob stores the same address and port: his own row, Alice's stays as it was.
    Fields bobs = serverFields(bob_, u"192.0.2.1"_s, u"22"_s);
    bobs[3].second = u"bob's"_s;
    QCOMPARE(post(u"update"_s, bobs).text, u"True"_s);
    QCOMPARE(down(alice_).text, aliceServers);
    QVERIFY(down(bob_).text.contains(u"bob's"_s));

    // Alice's name with Bob's password is no way in, and a field given twice counts with its
    // first value only, whichever comes first.
    QVERIFY(down({alice_.username, bob_.password}).text.startsWith(u"False"_s));
    const QByteArray bobsPassword = "password=" + bob_.password.toUtf8();
    QCOMPARE(post(u"down"_s, "username=bob&" + bobsPassword + "&username=alice").text,
             down(bob_).text);
    QVERIFY(
        post(u"down"_s, bobsPassword + "&username=alice&username=bob").text.startsWith(u"False"_s));

    QCOMPARE(post(u"del_data"_s, CloudApi::accountBody(bob_)).text, u"True"_s);
    QCOMPARE(down(bob_).text, QString());
    QCOMPARE(down(alice_).text, aliceServers);
    QCOMPARE(post(u"down_class"_s, CloudApi::accountBody(alice_)).text, u"a----1"_s);
}

void TestCloudService::wrongPasswordChangesNothing_data() {
    QTest::addColumn<QString>("act");
    QTest::addColumn<Fields>("extra");

    QTest::newRow("update") << u"update"_s << serverFields({}, u"203.0.113.1"_s, u"22"_s).mid(2);
    QTest::newRow("update_class") << u"update_class"_s
                                  << Fields{{u"server_class"_s, u"g2"_s}, {u"sort"_s, u"1"_s}};
    QTest::newRow("del_data") << u"del_data"_s << Fields{};
    QTest::newRow("down") << u"down"_s << Fields{};
    QTest::newRow("down_class") << u"down_class"_s << Fields{};
}

void TestCloudService::wrongPasswordChangesNothing() {
    QFETCH(QString, act);
    QFETCH(Fields, extra);

    QCOMPARE(post(u"update"_s, serverFields(alice_, u"192.0.2.1"_s, u"22"_s)).text, u"True"_s);
    const QString before = down(alice_).text;
    const Answer answer = post(act, CloudApi::accountBody({alice_.username, u"guess"_s}, extra));
    QCOMPARE(answer.text, u"False:账号或密码错误"_s);
    QCOMPARE(down(alice_).text, before);
    QCOMPARE(post(u"down_class"_s, CloudApi::accountBody(alice_)).text, QString());
}

void TestCloudService::badRequests_data() {
    QTest::addColumn<QString>("act");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("logged");

    QTest::newRow("unknown action")
        << u"drop_all"_s << QByteArray("username=alice") << 400 << u"unknown action \"drop_all\""_s;
    QTest::newRow("no action") << QString() << QByteArray() << 400 << u"unknown action \"\""_s;
    QTest::newRow("account action without a password")
        << u"down"_s << QByteArray("username=alice") << 400 << u"without the field password"_s;
    QTest::newRow("update without its port")
        << u"update"_s
        << CloudApi::formBody(
               serverFields(CloudApi::Account{u"alice"_s, u"alice-pw"_s}, u"192.0.2.1"_s, u"22"_s)
                   .mid(0, 10))
        << 400 << u"update without the field server_port"_s;
    QTest::newRow("reg without the code") << u"reg"_s << QByteArray("username=x&password=y&phone=1")
                                          << 400 << u"reg without the field vcode"_s;
    QTest::newRow("body over 1 MB")
        << u"update"_s << QByteArray((1 << 20) + 1, 'a') << 413 << u"answered 413"_s;
    QTest::newRow("body of garbage") << u"info"_s << QByteArray("%%%&&&===%zz\xff\xfe") << 400
                                     << u"without the field username"_s;
}

void TestCloudService::badRequests() {
    QFETCH(QString, act);
    QFETCH(QByteArray, body);
    QFETCH(int, status);
    QFETCH(QString, logged);

    const Answer answer = post(act, body);
    QCOMPARE(answer.status, status);
    QVERIFY2(answer.text.startsWith(u"False:"_s), qPrintable(answer.text));
    QTRY_VERIFY(cloud_.log().contains(logged));
    QVERIFY(cloud_.isRunning());
    QCOMPARE(post(u"info"_s, CloudApi::accountBody(alice_)).text, u"True"_s);
}

// Random bytes, escapes cut short and overlong fields, sent to every action: each gets an
// answer and the service keeps serving.
void TestCloudService::randomBodiesAreAnsweredSafely() {
    const QStringList acts{u"info"_s,         u"reg"_s,    u"sendsms"_s,    u"editpass"_s,
                           u"update_class"_s, u"update"_s, u"down_class"_s, u"down"_s,
                           u"del_data"_s,     u"get_ip"_s, u"asfsgds"_s};
    const QList<QByteArray> pieces{
        "username=", "password=",         "&",          "=",      "%",     "%4",      "%zz", "+",
        "\xff",      QByteArray(1, '\0'), "phone=1380", "vcode=", "alice", "alice-pw"};
    QRandomGenerator random(4242);
    for (int i = 0; i < 200; ++i) {
        QByteArray body;
        const int count = random.bounded(0, 30);
        for (int p = 0; p < count; ++p)
            body += pieces[random.bounded(int(pieces.size()))];
        if (i % 50 == 0)
            body += "&remark=" + QByteArray(300000, 'x');
        const Answer answer = post(acts[random.bounded(int(acts.size()))], body);
        QVERIFY2(answer.status == 200 || answer.status == 400,
                 qPrintable(QString::number(answer.status) + u" "_s + answer.text));
    }
    QVERIFY(cloud_.isRunning());
    QCOMPARE(post(u"info"_s, CloudApi::accountBody(alice_)).text, u"True"_s);
}

void TestCloudService::publicActions() {
    QCOMPARE(CloudApi::publicAddress(at_).text, u"127.0.0.1"_s);
    QCOMPARE(get(u"asfsgds"_s).text, QString());

    QVERIFY(cloud_.writeAnnouncements("\xEF\xBB\xBF"
                                      "教程----https://example.com/a----255\n"
                                      "\n"
                                      "社区----https://example.com/b\n"));
    const Answer answer = get(u"asfsgds"_s);
    QCOMPARE(answer.status, 200);
    QCOMPARE(answer.text,
             u"教程----https://example.com/a----255\r\n\r\n社区----https://example.com/b"_s);
    QVERIFY(cloud_.writeAnnouncements(QByteArray()));
    QCOMPARE(get(u"asfsgds"_s).text, QString());
}

// Many clients store servers at once under two accounts, reading their lists in between:
// every request succeeds and every row is there afterwards.
void TestCloudService::manyClientsAtOnce() {
    constexpr int kClients = 16;
    constexpr int kRowsEach = 20;
    std::atomic<int> failures{0};
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
        clients.emplace_back([&, c] {
            const CloudApi::Account account = c % 2 == 0 ? alice_ : bob_;
            httplib::Client client("127.0.0.1", cloud_.port());
            client.set_read_timeout(60, 0);
            for (int r = 0; r < kRowsEach; ++r) {
                const QByteArray body = CloudApi::formBody(
                    serverFields(account, u"10.%1.%2.1"_s.arg(c).arg(r), u"22"_s));
                const auto result =
                    client.Post("/admin/user_reg.php?act=update", body.toStdString(),
                                "application/x-www-form-urlencoded");
                if (!result || result->status != 200 || result->body != "True") {
                    ++failures;
                    qWarning("update failed: %d %d %s", int(result.error()),
                             result ? result->status : 0, result ? result->body.c_str() : "");
                }
                if (r % 5 == 4) {
                    const auto read = client.Post(
                        "/admin/user_reg.php?act=down",
                        CloudApi::formBody(CloudApi::accountBody(account)).toStdString(),
                        "application/x-www-form-urlencoded");
                    if (!read || read->status != 200) {
                        ++failures;
                        qWarning("down failed: %d %d %s", int(read.error()),
                                 read ? read->status : 0, read ? read->body.c_str() : "");
                    }
                }
            }
        });
    }
    for (std::thread& t : clients)
        t.join();
    QCOMPARE(failures.load(), 0);
    for (const auto& account : {alice_, bob_}) {
        const QStringList lines = down(account).text.split(u"\r\n"_s);
        QCOMPARE(lines.size(), kClients / 2 * kRowsEach);
        QCOMPARE(QSet<QString>(lines.begin(), lines.end()).size(), lines.size());
    }
}

void TestCloudService::dataSurvivesRestart() {
    QCOMPARE(post(u"update"_s, serverFields(alice_, u"192.0.2.9"_s, u"22"_s)).text, u"True"_s);
    const QString before = down(alice_).text;
    cloud_.stop();
    QVERIFY(cloud_.start());
    at_ = {cloud_.url()};
    QCOMPARE(down(alice_).text, before);
}

void TestCloudService::codesHandedToAProgram() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString script = dir.filePath(u"send-sms"_s);
    const QString received = dir.filePath(u"received.txt"_s);
    QFile file(script);
    QVERIFY(file.open(QIODevice::WriteOnly));
    // Refuses one number, like a gateway that cannot reach it.
    file.write("#!/bin/sh\n[ \"$1\" = 13700000000 ] && exit 3\n"
               "printf '%s %s\\n' \"$1\" \"$2\" >> \"$(dirname \"$0\")/received.txt\"\n");
    file.close();
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    CloudServiceFixture withProgram({u"--sms-program"_s, script});
    QVERIFY(withProgram.start());
    httplib::Client client("127.0.0.1", withProgram.port());
    const auto send = [&](const char* phone) {
        return client.Post("/admin/user_reg.php?act=sendsms", std::string("phone=") + phone,
                           "application/x-www-form-urlencoded");
    };
    const auto sent = send("13600000000");
    QVERIFY(sent);
    QCOMPARE(sent->body, std::string("True"));
    QFile codes(received);
    QVERIFY(codes.open(QIODevice::ReadOnly));
    const QList<QByteArray> parts = codes.readAll().trimmed().split(' ');
    QCOMPARE(parts.size(), 2);
    QCOMPARE(parts[0], QByteArray("13600000000"));
    QCOMPARE(parts[1].size(), 6);
    QVERIFY(!withProgram.log().contains(QString::fromLatin1(parts[1])));

    const auto reg =
        client.Post("/admin/user_reg.php?act=reg",
                    "username=henry&password=pw&phone=13600000000&vcode=" + parts[1].toStdString() +
                        "&qq=1&mail=m",
                    "application/x-www-form-urlencoded");
    QVERIFY(reg);
    QCOMPARE(reg->body, std::string("True"));

    // A code the program could not send is not held against the phone's minute.
    const auto refused = send("13700000000");
    QVERIFY(refused);
    QCOMPARE(refused->status, 500);
    QVERIFY(QString::fromStdString(refused->body).startsWith(u"False"_s));
    QVERIFY(withProgram.log().contains(u"failed for 13700000000"_s));
    QCOMPARE(send("13700000000")->status, 500);
}

// More connections than the service has workers send their requests a byte every 100 ms,
// headers or body; a client that sends its request at once is served all the same, and every
// slow request is cut off when its time is up, however steadily it trickles in. One address
// holds no more connections than its limit.
void TestCloudService::slowClientsCannotStopTheService() {
    CloudServiceFixture guarded(
        {u"--request-time"_s, u"3"_s, u"--connections-per-address"_s, u"4"_s});
    QVERIFY(guarded.start());
    const QByteArray head = "POST /admin/user_reg.php?act=info HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                            "Content-Length: 200\r\n\r\n";
    const Trickle slowHeads(guarded.port(), addresses(10, 40), {}, head);
    const Trickle slowBodies(guarded.port(), addresses(60, 4), head, QByteArray(200, 'x'));
    const Trickle crowd(guarded.port(), QStringList(6, u"127.0.0.2"_s), {}, head);
    QVERIFY(slowHeads.allConnected() && slowBodies.allConnected() && crowd.allConnected());

    httplib::Client client("127.0.0.1", guarded.port());
    client.set_connection_timeout(5, 0);
    client.set_read_timeout(5, 0);
    for (int i = 0; i < 3; ++i) {
        const auto reply = client.Get("/admin/user_reg.php?act=get_ip");
        QVERIFY2(reply, qPrintable(QString::fromStdString(httplib::to_string(reply.error()))));
        QCOMPARE(reply->body, std::string("127.0.0.1"));
    }

    for (const Trickle* slow : {&slowHeads, &slowBodies}) {
        QVERIFY(slow->waitUntilAllClosed(15000));
        const QList<QByteArray> replies = slow->received();
        QCOMPARE(countStartingWith(replies, "HTTP/1.1 408 "), replies.size());
        QVERIFY(answerOf(replies.first()).text.startsWith(u"False:"_s));
    }
    QVERIFY(crowd.waitUntilAllClosed(15000));
    const QList<QByteArray> crowded = crowd.received();
    QCOMPARE(countStartingWith(crowded, "HTTP/1.1 408 "), 4);
    QCOMPARE(countStartingWith(crowded, "HTTP/1.1 503 "), 2);
    const auto refused = std::find_if(crowded.begin(), crowded.end(), [](const QByteArray& r) {
        return r.startsWith("HTTP/1.1 503 ");
    });
    QCOMPARE(answerOf(*refused).text, u"False:此地址的连接过多，请稍后再试"_s);
    QCOMPARE(guarded.log().count(u"connections from 127.0.0.2 refused"_s), 1);
    // Its connections closed, the address is served again.
    QCOMPARE(exchangeFrom(u"127.0.0.2"_s, guarded.port(),
                          "GET /admin/user_reg.php?act=get_ip HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                          "Connection: close\r\n\r\n")
                 .text,
             u"127.0.0.2"_s);
    QVERIFY(guarded.isRunning());
}

// Wrong passwords are counted per account and address and per address; once an allowance is
// used up, attempts are refused before any password is checked (they write no "failed log in"
// line), parallel guesses cannot get ahead of the count, and the owner still logs in from an
// address that has not been guessing.
void TestCloudService::guessingIsHeldBack() {
    CloudServiceFixture guarded(
        {u"--login-wait"_s, u"60"_s, u"--connections-per-address"_s, u"64"_s});
    QVERIFY(guarded.start());
    const quint16 port = guarded.port();
    at_ = {guarded.url()};
    QVERIFY(CloudApi::succeeded(CloudApi::sendSmsCode(at_, kPhoneA)));
    QVERIFY(CloudApi::succeeded(
        CloudApi::registerAccount(at_, {u"victim"_s, u"right-pw"_s, kPhoneA,
                                        guarded.smsCode(kPhoneA), u"1"_s, u"m@b.cn"_s})));
    const Fields right = CloudApi::accountBody({u"victim"_s, u"right-pw"_s});
    const Fields wrong = CloudApi::accountBody({u"victim"_s, u"guess"_s});
    const QString accountHeld = u"False:该账号在此地址登录失败次数过多，请 "_s;
    const auto failures = [&guarded](const QString& address) {
        return guarded.log().count(u"failed log in from "_s + address + u" for "_s);
    };

    // One address on one account: five failures, then even the right password waits, though
    // it is remembered (no hash to pay) from the log ins before the failures.
    for (int i = 0; i < 2; ++i)
        QCOMPARE(postFrom(u"127.0.0.2"_s, port, u"info"_s, right).text, u"True"_s);
    for (int i = 0; i < 5; ++i)
        QCOMPARE(postFrom(u"127.0.0.2"_s, port, u"info"_s, wrong).text, u"False:账号或密码错误"_s);
    QVERIFY(postFrom(u"127.0.0.2"_s, port, u"info"_s, right).text.startsWith(accountHeld));
    QVERIFY(postFrom(u"127.0.0.2"_s, port, u"down"_s, wrong).text.startsWith(accountHeld));
    QCOMPARE(failures(u"127.0.0.2"_s), 5);
    QVERIFY(guarded.log().contains(u"log ins for \"victim\" wait 60 s"_s));
    QCOMPARE(postFrom(u"127.0.0.3"_s, port, u"info"_s, right).text, u"True"_s);

    // One address across accounts: ten failures, then it waits for every account. The first
    // name is 300 kB long; its log line keeps the first 42 characters (126 bytes).
    const QString longName = QString(u"用户"_s).repeated(50000);
    for (int i = 0; i < 10; ++i) {
        const QString name = i == 0 ? longName : u"user%1"_s.arg(i);
        const Fields guess = CloudApi::accountBody({name, u"guess"_s});
        QCOMPARE(postFrom(u"127.0.0.4"_s, port, u"info"_s, guess).text, u"False:账号或密码错误"_s);
    }
    QVERIFY(guarded.log().contains(u"failed log in from 127.0.0.4 for \""_s + longName.left(42) +
                                   u"...\"\n"_s));
    QVERIFY(postFrom(u"127.0.0.4"_s, port, u"info"_s, right)
                .text.startsWith(u"False:此地址登录失败次数过多，请 "_s));
    QVERIFY(guarded.log().contains(u"log ins from 127.0.0.4 wait 60 s after 10 failures"_s));

    // 32 guesses at once from a fresh address: only as many are checked as the account's
    // allowance has room for, and the owner gets in from elsewhere meanwhile.
    std::vector<std::thread> guessers;
    std::atomic<int> refusals{0};
    for (int i = 0; i < 32; ++i) {
        guessers.emplace_back([&] {
            if (postFrom(u"127.0.0.5"_s, port, u"info"_s, wrong).text.startsWith(u"False:"_s))
                ++refusals;
        });
    }
    QCOMPARE(postFrom(u"127.0.0.6"_s, port, u"info"_s, right).text, u"True"_s);
    for (std::thread& guesser : guessers)
        guesser.join();
    QCOMPARE(refusals.load(), 32);
    QVERIFY2(failures(u"127.0.0.5"_s) >= 1 && failures(u"127.0.0.5"_s) <= 5,
             qPrintable(QString::number(failures(u"127.0.0.5"_s))));

    // The client's own view: after one wrong password from its address, while the account is
    // held back, the right one is a refusal, not a log in.
    QVERIFY(!CloudApi::succeeded(CloudApi::checkAccount(at_, {u"victim"_s, u"guess"_s})));
    const CloudAccount::Outcome held =
        CloudAccount::checkConnection(at_, {u"victim"_s, u"right-pw"_s});
    QVERIFY(!held.succeeded);
    QVERIFY(held.reply.answered());
    QVERIFY2(held.reply.text.startsWith(accountHeld), qPrintable(held.reply.text));
}

// One address gets five codes (to five phones); then it waits, and other addresses do not.
void TestCloudService::smsCodesPerAddress() {
    CloudServiceFixture guarded;
    QVERIFY(guarded.start());
    const auto send = [&guarded](const QString& address, const QString& phone) {
        return postFrom(address, guarded.port(), u"sendsms"_s, Fields{{u"phone"_s, phone}}).text;
    };
    for (int i = 0; i < 5; ++i)
        QCOMPARE(send(u"127.0.0.7"_s, freshPhone()), u"True"_s);
    const QString phone = freshPhone();
    QVERIFY(send(u"127.0.0.7"_s, phone).startsWith(u"False:此地址发送验证码过多，请 "_s));
    QVERIFY(guarded.smsCode(phone, 0).isEmpty());
    QVERIFY(guarded.log().contains(u"sms codes from 127.0.0.7 wait 60 s after 5 codes"_s));
    QCOMPARE(send(u"127.0.0.8"_s, phone), u"True"_s);
}

// Behind a reverse proxy every request comes from the proxy's address: the trusted proxy's
// requests count as coming from the client its X-Forwarded-For names, and its connections
// are not held to the per-address limit. Anyone else's X-Forwarded-For means nothing.
void TestCloudService::trustedProxyNamesTheClient() {
    CloudServiceFixture guarded(
        {u"--trusted-proxy"_s, u"127.0.0.9"_s, u"--connections-per-address"_s, u"2"_s});
    QVERIFY(guarded.start());
    const auto address = [&guarded](const QString& from, const QByteArray& forwarded) {
        QByteArray request = "GET /admin/user_reg.php?act=get_ip HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                             "Connection: close\r\n";
        if (!forwarded.isNull())
            request += "X-Forwarded-For: " + forwarded + "\r\n";
        return exchangeFrom(from, guarded.port(), request + "\r\n");
    };
    QCOMPARE(address(u"127.0.0.9"_s, "203.0.113.5, 198.51.100.20").text, u"198.51.100.20"_s);
    QCOMPARE(address(u"127.0.0.9"_s, "2001:db8::7").text, u"2001:db8::7"_s);
    QCOMPARE(address(u"127.0.0.9"_s, "198.51.100.20, unknown").text, u"127.0.0.9"_s);
    QCOMPARE(address(u"127.0.0.9"_s, QByteArray()).text, u"127.0.0.9"_s);
    QCOMPARE(address(u"127.0.0.1"_s, "198.51.100.20").text, u"127.0.0.1"_s);

    std::vector<int> idle;
    for (const QString& from : {u"127.0.0.9"_s, u"127.0.0.9"_s, u"127.0.0.8"_s, u"127.0.0.8"_s})
        idle.push_back(connectFromLoopback(from.toLatin1().constData(), guarded.port()));
    QCOMPARE(address(u"127.0.0.9"_s, "198.51.100.20").text, u"198.51.100.20"_s);
    const Answer crowded = address(u"127.0.0.8"_s, QByteArray());
    QCOMPARE(crowded.status, 503);
    QVERIFY(crowded.text.startsWith(u"False:"_s));
    for (const int socket : idle)
        ::close(socket);
}

QTEST_GUILESS_MAIN(TestCloudService)
#include "tst_cloud_service.moc"
