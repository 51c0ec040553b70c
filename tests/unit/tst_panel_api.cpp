// The panel API client against the stand-in panel on loopback: the base address it derives,
// the signature, the true Unix request time in any time zone, the temporary login, how
// replies are judged, and the whitelist address from the cloud service.

#include "common/self_signed_certificate.h"
#include "common/test_home.h"
#include "common/test_panel.h"
#include "core/cloud/cloud_api.h"
#include "core/cloud/http_client.h"
#include "core/panel/panel_api.h"
#include "core/panel/whitelist_ip.h"
#include "net/raw_http_server.h"

#include <QDateTime>
#include <QTest>
#include <QUrlQuery>

#include <ctime>

using namespace Qt::StringLiterals;

namespace {

const QString kKey = u"aBcD1234efGH5678ijKL9012mnOP3456"_s;

// Switches the process's time zone for the life of the object.
class TimeZone {
public:
    explicit TimeZone(const QByteArray& zone)
        : old_(qgetenv("TZ")), hadOld_(qEnvironmentVariableIsSet("TZ")) {
        qputenv("TZ", zone);
        tzset();
    }
    ~TimeZone() {
        if (hadOld_)
            qputenv("TZ", old_);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray old_;
    bool hadOld_;
};

QString field(const QString& body, const QString& name) {
    return QUrlQuery(body).queryItemValue(name);
}

} // namespace

class TestPanelApi : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void baseUrlForms_data();
    void baseUrlForms();
    void incompleteAddressesAreNotSent_data();
    void incompleteAddressesAreNotSent();
    void signature_data();
    void signature();
    void requestTimeIsTheUnixTimeInEveryZone_data();
    void requestTimeIsTheUnixTimeInEveryZone();
    void requestTimeHasTenDigits_data();
    void requestTimeHasTenDigits();
    void tempLoginExpiresADayAfterTheRequestTime();
    void judgesReplies_data();
    void judgesReplies();
    void panelCopyText_data();
    void panelCopyText();

    void userInfoFromThePanel_data();
    void userInfoFromThePanel();
    void panelRefusesAStaleRequestTime();
    void stoppedPanelGivesAnEmptyReply();
    void temporaryLoginLogsTheBrowserIn_data();
    void temporaryLoginLogsTheBrowserIn();

    void whitelistAddressComesFromTheCloud_data();
    void whitelistAddressComesFromTheCloud();

private:
    TestHome home_;
    QString certificates_;
};

void TestPanelApi::initTestCase() {
    QVERIFY(home_.isValid());
    certificates_ = home_.dataFolder();
    if (TestPanel::kServesHttps)
        QVERIFY(writeSelfSignedCertificate(certificates_));
}

void TestPanelApi::baseUrlForms_data() {
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("base");
    QTest::addColumn<bool>("complete");
    QTest::newRow("hint") << u"http://192.168.1.111:8888/awrrtyw"_s
                          << u"http://192.168.1.111:8888"_s << true;
    QTest::newRow("https") << u"https://10.0.0.5:7800/abc"_s << u"https://10.0.0.5:7800"_s << true;
    QTest::newRow("capital scheme is http")
        << u"HTTPS://10.0.0.5:7800/abc"_s << u"http://10.0.0.5:7800"_s << true;
    QTest::newRow("no entrance path")
        << u"http://10.0.0.5:8888"_s << u"http://10.0.0.5:8888"_s << true;
    QTest::newRow("deeper path and query")
        << u"https://panel.example:8888/a/b?c=d"_s << u"https://panel.example:8888"_s << true;
    QTest::newRow("blanks at the edges")
        << u"  http://10.0.0.5:8888/x \t"_s << u"http://10.0.0.5:8888"_s << true;
    QTest::newRow("no port") << u"http://10.0.0.5/abc"_s << u"http://:"_s << false;
    QTest::newRow("no scheme") << u"10.0.0.5:8888/abc"_s << u"http://:"_s << false;
    QTest::newRow("port not a number")
        << u"http://10.0.0.5:88a8/abc"_s << u"http://10.0.0.5:88a8"_s << false;
    QTest::newRow("user info") << u"http://admin@10.0.0.5:8888/"_s
                               << u"http://admin@10.0.0.5:8888"_s << false;
    QTest::newRow("empty") << QString() << u"http://:"_s << false;
}

void TestPanelApi::baseUrlForms() {
    QFETCH(QString, address);
    QFETCH(QString, base);
    QFETCH(bool, complete);
    QCOMPARE(PanelApi::baseUrl(address), base);
    QCOMPARE(PanelApi::parseAddress(address).isComplete(), complete);
}

void TestPanelApi::incompleteAddressesAreNotSent_data() {
    QTest::addColumn<QString>("address");
    QTest::newRow("no scheme") << u"127.0.0.1:%1/tvpanel01"_s;
    QTest::newRow("no port") << u"http://127.0.0.1/tvpanel01?port=%1"_s;
}

// The panel's port is in the text, but not where a request could use it: nothing reaches it.
void TestPanelApi::incompleteAddressesAreNotSent() {
    QFETCH(QString, address);
    TestPanel panel(kKey);
    QVERIFY(panel.start());
    const QString port = QUrl(panel.baseUrl()).port() > 0
                             ? QString::number(QUrl(panel.baseUrl()).port())
                             : QString();
    QCOMPARE(PanelApi::getUserInfo(address.arg(port), kKey), QString());
    QCOMPARE(PanelApi::setTempLogin(address.arg(port), kKey), QString());
    QVERIFY(panel.requests().isEmpty());
}

void TestPanelApi::signature_data() {
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("time");
    QTest::addColumn<QString>("token");
    QTest::newRow("empty key") << QString() << u"1700000000"_s
                               << u"f46e741fe75941a639e1e056a188f6b0"_s;
    QTest::newRow("panel key") << kKey << u"1765432100"_s << u"5f3f27bbcfa61292d6f529ca0741b989"_s;
    QTest::newRow("padded time") << u"key with space"_s << u"0000000005"_s
                                 << u"c3bd30f15d79de136b8010d85e942f79"_s;
}

void TestPanelApi::signature() {
    QFETCH(QString, key);
    QFETCH(QString, time);
    QFETCH(QString, token);
    QCOMPARE(PanelApi::signature(key, time),
             u"request_token="_s + token + u"&request_time="_s + time);
}

void TestPanelApi::requestTimeIsTheUnixTimeInEveryZone_data() {
    QTest::addColumn<QByteArray>("zone");
    QTest::newRow("UTC") << QByteArray("UTC");
    QTest::newRow("UTC+8") << QByteArray("Asia/Shanghai");
    QTest::newRow("UTC-5 with summer time") << QByteArray("America/New_York");
    QTest::newRow("UTC+13:45") << QByteArray("Pacific/Chatham");
}

void TestPanelApi::requestTimeIsTheUnixTimeInEveryZone() {
    QFETCH(QByteArray, zone);
    const TimeZone local(zone);
    const qint64 before = std::time(nullptr);
    const qint64 time = PanelApi::requestTime().toLongLong();
    const qint64 after = std::time(nullptr);
    QVERIFY2(time >= before && time <= after, qPrintable(PanelApi::requestTime()));
}

void TestPanelApi::requestTimeHasTenDigits_data() {
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<QString>("text");
    QTest::newRow("now-ish") << qint64(1765432100) << u"1765432100"_s;
    QTest::newRow("early") << qint64(5) << u"0000000005"_s;
    QTest::newRow("zero") << qint64(0) << u"0000000000"_s;
}

void TestPanelApi::requestTimeHasTenDigits() {
    QFETCH(qint64, seconds);
    QFETCH(QString, text);
    QCOMPARE(PanelApi::requestTimeAt(seconds), text);
    QCOMPARE(PanelApi::requestTime().size(), 10);
}

void TestPanelApi::tempLoginExpiresADayAfterTheRequestTime() {
    const QString body = PanelApi::tempLoginBody(kKey, u"1765432100"_s);
    QCOMPARE(field(body, u"request_time"_s), u"1765432100"_s);
    QCOMPARE(field(body, u"action"_s), u"set_temp_login"_s);
    QCOMPARE(field(body, u"expire_time"_s), u"1765518500"_s);

    TestPanel panel(kKey);
    QVERIFY(panel.start());
    QVERIFY(PanelApi::judgeReply(PanelApi::setTempLogin(panel.address(), kKey)).succeeded);
    const auto sent = panel.requests().value(0);
    QCOMPARE(sent.value(u"expire_time"_s).toLongLong() - sent.value(u"request_time"_s).toLongLong(),
             86400);
}

void TestPanelApi::judgesReplies_data() {
    QTest::addColumn<QString>("reply");
    QTest::addColumn<bool>("succeeded");
    QTest::addColumn<QString>("message");
    QTest::newRow("boolean true") << u"{\"status\": true, \"msg\": \"x\"}"_s << true
                                  << u"宝塔接口通信成功"_s;
    QTest::newRow("text true") << u"{\"status\": \"true\"}"_s << true << u"宝塔接口通信成功"_s;
    QTest::newRow("false with msg") << u"{\"status\": false, \"msg\": \"密钥校验失败\"}"_s << false
                                    << u"宝塔接口通信失败：密钥校验失败"_s;
    QTest::newRow("capital True") << u"{\"status\": \"True\", \"msg\": \"m\"}"_s << false
                                  << u"宝塔接口通信失败：m"_s;
    QTest::newRow("no status") << u"{\"msg\": \"m\"}"_s << false << u"宝塔接口通信失败：m"_s;
    QTest::newRow("not JSON") << u"<html>502 Bad Gateway</html>"_s << false
                              << u"宝塔接口通信失败："_s;
    QTest::newRow("empty") << QString() << false << u"宝塔接口通信失败："_s;
}

void TestPanelApi::judgesReplies() {
    QFETCH(QString, reply);
    QFETCH(bool, succeeded);
    QFETCH(QString, message);
    const PanelApi::Outcome outcome = PanelApi::judgeReply(reply);
    QCOMPARE(outcome.succeeded, succeeded);
    QCOMPARE(outcome.message, message);
}

void TestPanelApi::panelCopyText_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("text");
    QTest::newRow("all columns") << u"http://10.0.0.5:8888/abc"_s << u"admin"_s << u"p&w"_s
                                 << u"面板地址 http://10.0.0.5:8888/abc\r\n账号:admin密码:p&w"_s;
    QTest::newRow("empty columns")
        << QString() << QString() << QString() << u"面板地址 \r\n账号:密码:"_s;
    QTest::newRow("only the account")
        << QString() << u"宝塔"_s << QString() << u"面板地址 \r\n账号:宝塔密码:"_s;
}

void TestPanelApi::panelCopyText() {
    QFETCH(QString, url);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, text);
    const auto copy = PanelApi::copyPanelInfo(url, user, password);
    QCOMPARE(copy.clipboard, text);
    QCOMPARE(copy.logLine, text + u" 复制成功\r\n"_s);
}

void TestPanelApi::userInfoFromThePanel_data() {
    QTest::addColumn<bool>("https");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("whitelist");
    QTest::addColumn<bool>("html");
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("message");
    const QString ok = u"宝塔接口通信成功"_s;
    const QString failed = u"宝塔接口通信失败："_s;
    const QStringList loopback{u"127.0.0.1"_s};
    for (const bool https : {false, true}) {
        const char* scheme = https ? "https" : "http";
        QTest::addRow("%s right key", scheme)
            << https << kKey << loopback << false << QByteArray("UTC") << ok;
        QTest::addRow("%s wrong key", scheme)
            << https << u"wrong"_s << loopback << false << QByteArray("UTC")
            << failed + TestPanel::kWrongKeyMessage;
        QTest::addRow("%s caller not whitelisted", scheme)
            << https << kKey << QStringList{u"127.0.0.2"_s} << false << QByteArray("UTC")
            << failed + TestPanel::kNotWhitelistedPrefix + u"[127.0.0.1]"_s;
        QTest::addRow("%s reply not JSON", scheme)
            << https << kKey << loopback << true << QByteArray("UTC") << failed;
    }
    // A time counted from a local 08:00 would be hours off here and refused.
    QTest::newRow("http far from UTC+8")
        << false << kKey << loopback << false << QByteArray("America/New_York") << ok;
}

void TestPanelApi::userInfoFromThePanel() {
    QFETCH(bool, https);
    QFETCH(QString, key);
    QFETCH(QStringList, whitelist);
    QFETCH(bool, html);
    QFETCH(QByteArray, zone);
    QFETCH(QString, message);
    if (https && !TestPanel::kServesHttps)
        QSKIP("the Windows test build has no TLS server");
    const TimeZone local(zone);
    TestPanel panel(kKey, https ? TestPanel::Scheme::Https : TestPanel::Scheme::Http,
                    certificates_);
    QVERIFY(panel.start());
    panel.setWhitelist(whitelist);
    panel.setAnswersHtml(html);
    const QString reply = PanelApi::getUserInfo(panel.address(), key);
    QCOMPARE(PanelApi::judgeReply(reply).message, message);
    QCOMPARE(panel.requests().size(), 1);
    QCOMPARE(panel.requests()[0].value(u"action"_s), u"GetUserInfo"_s);
}

// The check the time zone rows rely on: the panel does refuse a time off by more than a minute.
void TestPanelApi::panelRefusesAStaleRequestTime() {
    TestPanel panel(kKey);
    QVERIFY(panel.start());
    HttpRequest request;
    request.url = panel.baseUrl() + u"/ssl?action=GetUserInfo"_s;
    request.method = HttpMethod::Post;
    const qint64 stale = QDateTime::currentSecsSinceEpoch() - 8 * 3600;
    request.body =
        PanelApi::signature(kKey, PanelApi::requestTimeAt(stale)) + u"&action=GetUserInfo"_s;
    QCOMPARE(PanelApi::judgeReply(QString::fromUtf8(HttpClient::request(request).bytes)).message,
             u"宝塔接口通信失败："_s + TestPanel::kWrongTimeMessage);
}

void TestPanelApi::stoppedPanelGivesAnEmptyReply() {
    TestPanel panel(kKey);
    QVERIFY(panel.start());
    const QString address = panel.address();
    panel.stop();
    QCOMPARE(PanelApi::getUserInfo(address, kKey), QString());
    QCOMPARE(PanelApi::judgeReply(PanelApi::setTempLogin(address, kKey)).message,
             u"宝塔接口通信失败："_s);
}

void TestPanelApi::temporaryLoginLogsTheBrowserIn_data() {
    QTest::addColumn<bool>("https");
    QTest::addColumn<bool>("textStatus");
    QTest::newRow("http") << false << false;
    QTest::newRow("https, status as text") << true << true;
}

void TestPanelApi::temporaryLoginLogsTheBrowserIn() {
    QFETCH(bool, https);
    QFETCH(bool, textStatus);
    if (https && !TestPanel::kServesHttps)
        QSKIP("the Windows test build has no TLS server");
    TestPanel panel(kKey, https ? TestPanel::Scheme::Https : TestPanel::Scheme::Http,
                    certificates_);
    QVERIFY(panel.start());
    if (textStatus)
        panel.setStatusForm(TestPanel::StatusForm::Text);
    const PanelApi::Outcome outcome =
        PanelApi::judgeReply(PanelApi::setTempLogin(panel.address(), kKey));
    QVERIFY(outcome.succeeded);
    QVERIFY(!outcome.token.isEmpty());
    const QString login = PanelApi::loginAddress(panel.address(), outcome.token);
    QCOMPARE(login, panel.baseUrl() + u"/login?tmp_token="_s + outcome.token);

    HttpRequest browser;
    // The user's browser, told to go on past the panel's self-signed certificate.
    browser.acceptAnyCertificate = true;
    browser.url = login;
    HttpResponse page = HttpClient::request(browser);
    QCOMPARE(page.statusCode, 200);
    QVERIFY(page.text.contains(TestPanel::kLoggedInPage));
    QVERIFY2(page.cookiesOut.contains(TestPanel::kSessionCookie), qPrintable(page.headers));

    browser.url = PanelApi::loginAddress(panel.address(), u"0123456789abcdef"_s);
    page = HttpClient::request(browser);
    QCOMPARE(page.statusCode, 403);
    QVERIFY(!page.text.contains(TestPanel::kLoggedInPage));

    panel.advanceClock(86400 + 60);
    browser.url = login;
    page = HttpClient::request(browser);
    QCOMPARE(page.statusCode, 403);
    QVERIFY(!page.cookiesOut.contains(TestPanel::kSessionCookie));
}

void TestPanelApi::whitelistAddressComesFromTheCloud_data() {
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("ip");
    QTest::newRow("answered") << 200 << u"203.0.113.7"_s << u"203.0.113.7"_s;
    QTest::newRow("kept as it stands") << 200 << u" 203.0.113.7\r\n"_s << u" 203.0.113.7\r\n"_s;
    QTest::newRow("server error is no answer") << 500 << u"203.0.113.7"_s << QString();
}

void TestPanelApi::whitelistAddressComesFromTheCloud() {
    QFETCH(int, status);
    QFETCH(QString, answer);
    QFETCH(QString, ip);
    RawHttpServer cloud([&](const QByteArray& request, const QString&) {
        const QUrl target(QString::fromLatin1(request.split(' ').value(1)));
        const bool asked = target.path() == u"/admin/user_reg.php"_s &&
                           QUrlQuery(target).queryItemValue(u"act"_s) == u"get_ip"_s;
        const QByteArray body = answer.toUtf8();
        return (asked ? "HTTP/1.1 " + QByteArray::number(status) + " Status\r\n"
                      : QByteArray("HTTP/1.1 404 Not Found\r\n")) +
               "Content-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) +
               "\r\n\r\n" + body;
    });
    QVERIFY(cloud.isListening());
    QCOMPARE(WhitelistIp::fetch({cloud.url(QString())}), ip);
    QCOMPARE(WhitelistIp::caption(ip), u"IP白名单请填写：127.0.0.1和"_s + ip);
    QCOMPARE(WhitelistIp::clipboardText(ip), u"127.0.0.1\r\n"_s + ip);

    QCOMPARE(WhitelistIp::fetch({u"http://127.0.0.1:1"_s}), QString());
}

QTEST_GUILESS_MAIN(TestPanelApi)
#include "tst_panel_api.moc"
