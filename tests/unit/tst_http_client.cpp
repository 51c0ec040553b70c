// The HTTP client against loopback peers: what goes on the wire (header block, request line,
// body, credentials, proxy), what is read back (status, body, cookies, redirects, charset),
// and the numbered error texts of failed steps.

#include "common/test_home.h"
#include "core/cloud/http_client.h"
#include "core/codec/gbk_codec.h"
#include "core/support/job_stop.h"
#include "net/raw_http_server.h"

#ifndef Q_OS_WIN
#include "common/self_signed_certificate.h"
#include "net/loopback_server.h"
#endif

#include <QDir>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <chrono>
#include <thread>

using namespace Qt::StringLiterals;

namespace {

const QString kUserAgent =
    u"User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)"_s;
const QString kAccept = u"Accept: text/html, application/xhtml+xml, */*"_s;
const QString kAcceptEncoding = u"Accept-Encoding: gbk, GB2312"_s;
const QString kAcceptLanguage = u"Accept-Language: zh-cn"_s;
const QString kContentType = u"Content-Type: application/x-www-form-urlencoded"_s;
const QString kCacheControl = u"Cache-Control: no-cache"_s;

QByteArray okReply(const QByteArray& body = "ok") {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" +
           body;
}

QByteArray reply(const QByteArray& statusLine, const QByteArray& headers, const QByteArray& body) {
    return statusLine + "\r\n" + headers + "Content-Length: " + QByteArray::number(body.size()) +
           "\r\n\r\n" + body;
}

QList<QByteArray> rawLines(const QByteArray& request) {
    return request.left(request.indexOf("\r\n\r\n")).split('\n');
}

QString requestLine(const QByteArray& request) {
    return QString::fromUtf8(rawLines(request).value(0).trimmed());
}

// The header lines in the order sent, without Host and Content-Length, which belong to the
// transport rather than to the block.
QStringList headerLines(const QByteArray& request) {
    QStringList lines;
    for (const QByteArray& line : rawLines(request).mid(1)) {
        const QString text = QString::fromUtf8(line.trimmed());
        if (!text.startsWith(u"Host:"_s) && !text.startsWith(u"Content-Length:"_s))
            lines << text;
    }
    return lines;
}

QByteArray bodyOf(const QByteArray& request) {
    return request.mid(request.indexOf("\r\n\r\n") + 4);
}

// The method and the path of the request line, e.g. {"GET", "/start"}.
QList<QByteArray> methodAndPath(const QByteArray& request) {
    return rawLines(request).value(0).trimmed().split(' ').mid(0, 2);
}

} // namespace

class TestHttpClient : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void sendsHeaderBlock_data();
    void sendsHeaderBlock();
    void sendsRequestLineAndBody_data();
    void sendsRequestLineAndBody();
    void sendsCredentialsAndUsesProxy_data();
    void sendsCredentialsAndUsesProxy();
    void readsResponse_data();
    void readsResponse();
    void decodesDeclaredCharset_data();
    void decodesDeclaredCharset();
    void followsRedirectsUnlessDisabled_data();
    void followsRedirectsUnlessDisabled();
    void reportsFailedStep_data();
    void reportsFailedStep();
    void endsSlowOrStalledPeer_data();
    void endsSlowOrStalledPeer();
    void capsBodySize_data();
    void capsBodySize();
    void stopEndsTransfer_data();
    void stopEndsTransfer();
    void redirectSendsNoUserInfo();
    void checksCertificatesUnlessTold_data();
    void checksCertificatesUnlessTold();

private:
    TestHome home_;
    RefusingPort refusing_;
    RawHttpServer silent_;
};

void TestHttpClient::initTestCase() {
    QVERIFY(home_.isValid());
    QVERIFY(silent_.isListening());
}

void TestHttpClient::sendsHeaderBlock_data() {
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("extraHeaders");
    QTest::addColumn<QString>("cookies");
    QTest::addColumn<bool>("addDefaults");
    QTest::addColumn<bool>("normalize");
    QTest::addColumn<QStringList>("sent");

    const QStringList getDefaults{kUserAgent, kAccept, kAcceptEncoding, kAcceptLanguage,
                                  kCacheControl};
    QTest::newRow("GET with defaults")
        << 0 << QString() << QString() << true << true << getDefaults;
    QTest::newRow("POST with defaults")
        << 1 << QString() << QString() << true << true
        << QStringList{kUserAgent,      kAccept,      kAcceptEncoding,
                       kAcceptLanguage, kContentType, kCacheControl};
    QTest::newRow("extra header replaces its default")
        << 0 << u"user-agent: X"_s << QString() << true << true
        << QStringList{u"User-Agent: X"_s, kAccept, kAcceptEncoding, kAcceptLanguage,
                       kCacheControl};
    QTest::newRow("extra headers come first, names rewritten")
        << 0 << u"x-requested-with: XMLHttpRequest\r\naccept: */*"_s << QString() << true << true
        << QStringList{u"X-Requested-With: XMLHttpRequest"_s,
                       u"Accept: */*"_s,
                       kUserAgent,
                       kAcceptEncoding,
                       kAcceptLanguage,
                       kCacheControl};
    QTest::newRow("names kept as written") << 0 << u"x-custom: 1"_s << QString() << true << false
                                           << QStringList{u"x-custom: 1"_s} + getDefaults;
    QTest::newRow("keep-alive is not passed on")
        << 0 << u"Connection: keep-alive"_s << QString() << true << true << getDefaults;
    QTest::newRow("other connection values are")
        << 0 << u"Connection: close"_s << QString() << true << true
        << QStringList{u"Connection: close"_s} + getDefaults;
    QTest::newRow("cookie pairs") << 0 << QString() << u"a=1; b=2"_s << true << true
                                  << getDefaults + QStringList{u"Cookie: a=1; b=2"_s};
    QTest::newRow("whole cookie line") << 0 << QString() << u"Cookie: a=1"_s << true << true
                                       << getDefaults + QStringList{u"Cookie: a=1"_s};
    QTest::newRow("caller's cookie header wins")
        << 0 << u"cookie: x=1"_s << u"a=1"_s << true << true
        << QStringList{u"Cookie: x=1"_s} + getDefaults;
    QTest::newRow("GET without defaults adds nothing")
        << 0 << QString() << QString() << false << true << QStringList{};
    QTest::newRow("POST without defaults adds nothing")
        << 1 << QString() << QString() << false << true << QStringList{};
}

void TestHttpClient::sendsHeaderBlock() {
    QFETCH(int, method);
    QFETCH(QString, extraHeaders);
    QFETCH(QString, cookies);
    QFETCH(bool, addDefaults);
    QFETCH(bool, normalize);
    QFETCH(QStringList, sent);

    RawHttpServer server(okReply());
    HttpRequest request;
    request.url = server.url(u"/"_s);
    request.method = HttpMethod(method);
    request.body = method == 1 ? u"a=1"_s : QString();
    request.extraHeaders = extraHeaders;
    request.cookiesIn = cookies;
    request.addDefaultHeaders = addDefaults;
    request.normalizeHeaderCase = normalize;

    const HttpResponse response = HttpClient::request(request);
    QCOMPARE(response.statusText, u"200 OK"_s);
    QCOMPARE(headerLines(server.takeRequest()), sent);
}

void TestHttpClient::sendsRequestLineAndBody_data() {
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QByteArray>("bodyBytes");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QByteArray>("sentBody");

    QTest::newRow("no path asks for /")
        << 0 << QString() << QString() << QByteArray() << u"GET / HTTP/1.1"_s << QByteArray();
    QTest::newRow("path and query") << 0 << u"/a?b=1"_s << QString() << QByteArray()
                                    << u"GET /a?b=1 HTTP/1.1"_s << QByteArray();
    QTest::newRow("code 8 means GET")
        << 8 << u"/"_s << QString() << QByteArray() << u"GET / HTTP/1.1"_s << QByteArray();
    QTest::newRow("code -1 means GET")
        << -1 << u"/"_s << QString() << QByteArray() << u"GET / HTTP/1.1"_s << QByteArray();
    QTest::newRow("HEAD") << 2 << u"/h"_s << QString() << QByteArray() << u"HEAD /h HTTP/1.1"_s
                          << QByteArray();
    QTest::newRow("POST sends the GBK bytes of the body")
        << 1 << u"/p"_s << u"name=默认分组"_s << QByteArray() << u"POST /p HTTP/1.1"_s
        << QByteArray("name=\xC4\xAC\xC8\xCF\xB7\xD6\xD7\xE9");
    QTest::newRow("POST without a body")
        << 1 << u"/p"_s << QString() << QByteArray() << u"POST /p HTTP/1.1"_s << QByteArray();
    QTest::newRow("body bytes win over the text")
        << 1 << u"/p"_s << u"text"_s << QByteArray("\x01\x02\x03", 3) << u"POST /p HTTP/1.1"_s
        << QByteArray("\x01\x02\x03", 3);
    QTest::newRow("PUT with a body")
        << 3 << u"/r"_s << u"x"_s << QByteArray() << u"PUT /r HTTP/1.1"_s << QByteArray("x");
    QTest::newRow("OPTIONS") << 4 << u"/"_s << QString() << QByteArray() << u"OPTIONS / HTTP/1.1"_s
                             << QByteArray();
    QTest::newRow("DELETE") << 5 << u"/r/1"_s << QString() << QByteArray()
                            << u"DELETE /r/1 HTTP/1.1"_s << QByteArray();
    QTest::newRow("non-ASCII path is percent-encoded UTF-8")
        << 0 << u"/目录 x"_s << QString() << QByteArray()
        << u"GET /%E7%9B%AE%E5%BD%95%20x HTTP/1.1"_s << QByteArray();
}

void TestHttpClient::sendsRequestLineAndBody() {
    QFETCH(int, method);
    QFETCH(QString, path);
    QFETCH(QString, body);
    QFETCH(QByteArray, bodyBytes);
    QFETCH(QString, line);
    QFETCH(QByteArray, sentBody);

    RawHttpServer server(okReply());
    HttpRequest request;
    request.url = server.url(path);
    request.method = HttpMethod(method);
    request.body = body;
    request.bodyBytes = bodyBytes;

    QCOMPARE(HttpClient::request(request).statusText, u"200 OK"_s);
    const QByteArray sent = server.takeRequest();
    QCOMPARE(requestLine(sent), line);
    QCOMPARE(bodyOf(sent), sentBody);
}

void TestHttpClient::sendsCredentialsAndUsesProxy_data() {
    QTest::addColumn<QString>("serverUser");
    QTest::addColumn<QString>("serverPassword");
    QTest::addColumn<bool>("viaProxy");
    QTest::addColumn<QString>("proxyUser");
    QTest::addColumn<QString>("proxyPassword");
    // Put before the host of the address, or of the proxy address when there is a proxy.
    QTest::addColumn<QString>("userInfo");
    QTest::addColumn<QString>("line");
    QTest::addColumn<QStringList>("present");
    QTest::addColumn<QStringList>("absentNames");

    QTest::newRow("server credentials")
        << u"u"_s << u"p"_s << false << QString() << QString() << QString() << u"GET /x HTTP/1.1"_s
        << QStringList{u"Authorization: Basic dTpw"_s} << QStringList{u"Proxy-Authorization"_s};
    QTest::newRow("a user without a password sends none")
        << u"u"_s << QString() << false << QString() << QString() << QString()
        << u"GET /x HTTP/1.1"_s << QStringList{} << QStringList{u"Authorization"_s};
    QTest::newRow("user info in the address is not sent")
        << QString() << QString() << false << QString() << QString() << u"user:secret@"_s
        << u"GET /x HTTP/1.1"_s << QStringList{} << QStringList{u"Authorization"_s};
    QTest::newRow("credentials given are sent instead of user info")
        << u"u"_s << u"p"_s << false << QString() << QString() << u"user:secret@"_s
        << u"GET /x HTTP/1.1"_s << QStringList{u"Authorization: Basic dTpw"_s} << QStringList{};
    QTest::newRow("proxy with credentials")
        << QString() << QString() << true << u"pu"_s << u"pp"_s << QString()
        << u"GET http://example.invalid/x HTTP/1.1"_s
        << QStringList{u"Proxy-Authorization: Basic cHU6cHA="_s} << QStringList{u"Authorization"_s};
    QTest::newRow("proxy without credentials")
        << QString() << QString() << true << QString() << QString() << QString()
        << u"GET http://example.invalid/x HTTP/1.1"_s << QStringList{}
        << QStringList{u"Proxy-Authorization"_s};
    QTest::newRow("user info in the proxy address is not sent")
        << QString() << QString() << true << QString() << QString() << u"user:secret@"_s
        << u"GET http://example.invalid/x HTTP/1.1"_s << QStringList{}
        << QStringList{u"Proxy-Authorization"_s, u"Authorization"_s};
}

// The proxy is the loopback peer itself, so the address behind it is never looked up.
void TestHttpClient::sendsCredentialsAndUsesProxy() {
    QFETCH(QString, serverUser);
    QFETCH(QString, serverPassword);
    QFETCH(bool, viaProxy);
    QFETCH(QString, proxyUser);
    QFETCH(QString, proxyPassword);
    QFETCH(QString, userInfo);
    QFETCH(QString, line);
    QFETCH(QStringList, present);
    QFETCH(QStringList, absentNames);

    RawHttpServer server(okReply());
    HttpRequest request;
    const QString host = u"127.0.0.1:%1"_s.arg(server.port());
    request.url =
        viaProxy ? u"http://example.invalid/x"_s : u"http://"_s + userInfo + host + u"/x"_s;
    request.proxyAddress = viaProxy ? userInfo + host : QString();
    request.serverUser = serverUser;
    request.serverPassword = serverPassword;
    request.proxyUser = proxyUser;
    request.proxyPassword = proxyPassword;

    QCOMPARE(HttpClient::request(request).statusText, u"200 OK"_s);
    const QByteArray sent = server.takeRequest();
    QCOMPARE(requestLine(sent), line);
    const QStringList lines = headerLines(sent);
    for (const QString& expected : present)
        QVERIFY2(lines.contains(expected), qPrintable(expected));
    for (const QString& name : absentNames) {
        for (const QString& sentLine : lines)
            QVERIFY2(!sentLine.startsWith(name + u':'), qPrintable(sentLine));
    }
}

void TestHttpClient::readsResponse_data() {
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("cookiesIn");
    QTest::addColumn<bool>("merge");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<int>("statusCode");
    QTest::addColumn<bool>("complete");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("cookiesOutAfter");
    QTest::addColumn<QString>("cookiesInAfter");
    QTest::addColumn<QString>("location");

    QTest::newRow("an error status is an answer")
        << reply("HTTP/1.1 404 Not Found", "", "missing") << QString() << true << u"404 Not Found"_s
        << 404 << true << u"missing"_s << QString() << QString() << QString();
    QTest::newRow("received cookies without attributes")
        << reply("HTTP/1.1 200 OK", "Set-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n", "x")
        << QString() << true << u"200 OK"_s << 200 << true << u"x"_s << u"a=1; b=2"_s << QString()
        << QString();
    QTest::newRow("received cookies replace sent ones, deleted ones go")
        << reply("HTTP/1.1 200 OK", "Set-Cookie: a=9\r\nSet-Cookie: b=deleted\r\n", "x")
        << u"a=1; c=3"_s << true << u"200 OK"_s << 200 << true << u"x"_s << u"a=9; c=3"_s
        << u"a=9; c=3"_s << QString();
    QTest::newRow("no merging leaves the sent cookies alone")
        << reply("HTTP/1.1 200 OK", "Set-Cookie: a=9\r\nSet-Cookie: b=deleted\r\n", "x")
        << u"a=1; c=3"_s << false << u"200 OK"_s << 200 << true << u"x"_s << u"a=9; b=deleted"_s
        << u"a=1; c=3"_s << QString();
    QTest::newRow("redirect not followed")
        << reply("HTTP/1.1 302 Found", "Location: /next\r\n", "") << QString() << true
        << u"302 Found"_s << 302 << true << QString() << QString() << QString() << u"/next"_s;
    QTest::newRow("body that breaks off is no whole answer")
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nshort") << QString() << true
        << u"713 读取数据失败!"_s << 200 << false << u"short"_s << QString() << QString()
        << QString();
}

void TestHttpClient::readsResponse() {
    QFETCH(QByteArray, answer);
    QFETCH(QString, cookiesIn);
    QFETCH(bool, merge);
    QFETCH(QString, statusText);
    QFETCH(int, statusCode);
    QFETCH(bool, complete);
    QFETCH(QString, text);
    QFETCH(QString, cookiesOutAfter);
    QFETCH(QString, cookiesInAfter);
    QFETCH(QString, location);

    RawHttpServer server(answer);
    HttpRequest request;
    request.url = server.url(u"/"_s);
    request.cookiesIn = cookiesIn;
    request.mergeCookies = merge;
    request.disableRedirects = true;

    const HttpResponse response = HttpClient::request(request);
    QCOMPARE(response.statusText, statusText);
    QCOMPARE(response.statusCode, statusCode);
    QCOMPARE(response.complete, complete);
    QCOMPARE(response.text, text);
    QCOMPARE(response.bytes, text.toUtf8());
    QCOMPARE(response.cookiesOut, cookiesOutAfter);
    QCOMPARE(response.cookiesIn, cookiesInAfter);
    QCOMPARE(response.redirectLocation, location);
    QVERIFY(response.headers.startsWith(QString::fromLatin1(answer.left(answer.indexOf('\r')))));
}

void TestHttpClient::decodesDeclaredCharset_data() {
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("text");

    const QString chinese = u"服务器管理"_s;
    QTest::newRow("utf-8 meta tag")
        << QByteArray("<html><head><META charset=\"utf-8\"></head>") + chinese.toUtf8()
        << u"<html><head><META charset=\"utf-8\"></head>"_s + chinese;
    QTest::newRow("charset inside content")
        << QByteArray("<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">") +
               Gbk::encode(chinese)
        << u"<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">"_s + chinese;
    QTest::newRow("no meta tag reads as GBK") << Gbk::encode(chinese) << chinese;
    const QByteArray late = QByteArray(1100, ' ') + "<meta charset=utf-8>" + chinese.toUtf8();
    QTest::newRow("meta tag beyond the first 1024 bytes is not seen") << late << Gbk::decode(late);
    const QByteArray unknown = "<meta charset=no-such-charset>" + Gbk::encode(chinese);
    QTest::newRow("unknown charset reads as GBK") << unknown << Gbk::decode(unknown);
}

void TestHttpClient::decodesDeclaredCharset() {
    QFETCH(QByteArray, body);
    QFETCH(QString, text);

    RawHttpServer server(okReply(body));
    HttpRequest request;
    request.url = server.url(u"/"_s);
    const HttpResponse response = HttpClient::request(request);
    QCOMPARE(response.text, text);
    QCOMPARE(response.bytes, body);
}

void TestHttpClient::followsRedirectsUnlessDisabled_data() {
    QTest::addColumn<bool>("disable");
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("location");

    QTest::newRow("followed") << false << 0 << u"200 OK"_s << u"arrived by GET"_s << QString();
    QTest::newRow("POST continues as GET")
        << false << 1 << u"200 OK"_s << u"arrived by GET"_s << QString();
    QTest::newRow("disabled") << true << 0 << u"302 Found"_s << QString() << u"/end"_s;
}

void TestHttpClient::followsRedirectsUnlessDisabled() {
    QFETCH(bool, disable);
    QFETCH(int, method);
    QFETCH(QString, statusText);
    QFETCH(QString, text);
    QFETCH(QString, location);

    RawHttpServer server([](const QByteArray& sent, const QString&) {
        const QList<QByteArray> line = methodAndPath(sent);
        if (line.value(1) == "/start")
            return reply("HTTP/1.1 302 Found", "Location: /end\r\n", "");
        return reply("HTTP/1.1 200 OK", "", "arrived by " + line.value(0));
    });
    QVERIFY(server.isListening());

    HttpRequest request;
    request.url = server.url(u"/start"_s);
    request.method = HttpMethod(method);
    request.disableRedirects = disable;
    const HttpResponse response = HttpClient::request(request);
    QCOMPARE(response.statusText, statusText);
    QCOMPARE(response.text, text);
    QCOMPARE(response.redirectLocation, location);
    QVERIFY(response.headers.startsWith(u"HTTP/1.1 "_s + statusText + u"\r\n"_s));
}

void TestHttpClient::reportsFailedStep_data() {
    QTest::addColumn<QString>("url");
    QTest::addColumn<QString>("statusText");

    QTest::newRow("not an address") << u"no scheme here"_s << u"701 解析URL地址失败!"_s;
    QTest::newRow("neither http nor https")
        << u"ftp://127.0.0.1/file"_s << u"701 解析URL地址失败!"_s;
    QTest::newRow("connection refused")
        << u"http://127.0.0.1:%1/"_s.arg(refusing_.port()) << u"711 发送请求失败!"_s;
    QTest::newRow("peer never answers") << silent_.url(u"/"_s) << u"712 服务器未响应!"_s;
}

void TestHttpClient::reportsFailedStep() {
    QFETCH(QString, url);
    QFETCH(QString, statusText);

    HttpRequest request;
    request.url = url;
    request.timeoutSeconds = 1;
    request.cookiesIn = u"a=1"_s;
    const HttpResponse response = HttpClient::request(request);
    QCOMPARE(response.statusText, statusText);
    QCOMPARE(response.statusCode, 0);
    QVERIFY(!response.complete);
    QVERIFY(response.text.isEmpty());
    QVERIFY(response.headers.isEmpty());
    QCOMPARE(response.cookiesIn, u"a=1"_s);
}

void TestHttpClient::endsSlowOrStalledPeer_data() {
    QTest::addColumn<int>("pace");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QByteArray>("requestBody");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<int>("statusCode");

    using Pace = RawHttpServer::Pace;
    // Far more than the socket buffers on both sides take in, even where they may grow large.
    const QByteArray largeBody(64 * 1024 * 1024, 'q');
    QTest::newRow("peer that never reads the request")
        << int(Pace::NeverReads) << QByteArray() << largeBody << u"711 发送请求失败!"_s << 0;
    QTest::newRow("silence longer than the time-out after part of the body")
        << int(Pace::PauseMidway) << okReply(QByteArray(1000, 'a')) << QByteArray()
        << u"713 读取数据失败!"_s << 200;
    QTest::newRow("body that keeps coming too slowly to finish in time")
        << int(Pace::TrickledBody) << okReply(QByteArray(200, 'b')) << QByteArray()
        << u"713 读取数据失败!"_s << 200;
}

// With a one-second time-out each of these peers would hold the request far longer: the
// request must give up and keep only what arrived by then.
void TestHttpClient::endsSlowOrStalledPeer() {
    QFETCH(int, pace);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, requestBody);
    QFETCH(QString, statusText);
    QFETCH(int, statusCode);

    RawHttpServer server(answer, RawHttpServer::Pace(pace));
    HttpRequest request;
    request.url = server.url(u"/"_s);
    request.method = requestBody.isEmpty() ? HttpMethod::Get : HttpMethod::Post;
    request.bodyBytes = requestBody;
    request.timeoutSeconds = 1;
    const HttpResponse response = HttpClient::request(request);
    QCOMPARE(response.statusText, statusText);
    QCOMPARE(response.statusCode, statusCode);
    QVERIFY(!response.complete);
    const QByteArray body = bodyOf(answer);
    QVERIFY(response.bytes.size() < qMax(body.size(), qsizetype(1)));
    QVERIFY(body.startsWith(response.bytes));
}

void TestHttpClient::capsBodySize_data() {
    QTest::addColumn<int>("pace");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("statusText");
    QTest::addColumn<bool>("complete");

    using Pace = RawHttpServer::Pace;
    const QString tooLarge = u"714 返回数据过大!"_s;
    QTest::newRow("body without end")
        << int(Pace::Flood) << QByteArray("HTTP/1.1 200 OK\r\n\r\n") << tooLarge << false;
    QTest::newRow("announced length beyond the cap")
        << int(Pace::AtOnce)
        << QByteArray("HTTP/1.1 200 OK\r\nContent-Length: 104857600\r\n\r\nxyz") << tooLarge
        << false;
    QTest::newRow("body of exactly the cap")
        << int(Pace::AtOnce) << okReply(QByteArray(HttpClient::kMaxBodyBytes, 'z')) << u"200 OK"_s
        << true;
}

void TestHttpClient::capsBodySize() {
    QFETCH(int, pace);
    QFETCH(QByteArray, answer);
    QFETCH(QString, statusText);
    QFETCH(bool, complete);

    RawHttpServer server(answer, RawHttpServer::Pace(pace));
    HttpRequest request;
    request.url = server.url(u"/"_s);
    request.timeoutSeconds = 5;
    const HttpResponse response = HttpClient::request(request);
    QCOMPARE(response.statusText, statusText);
    QCOMPARE(response.statusCode, 200);
    QCOMPARE(response.complete, complete);
    QVERIFY(response.bytes.size() <= HttpClient::kMaxBodyBytes);
    if (complete)
        QCOMPARE(response.bytes.size(), bodyOf(answer).size());
}

void TestHttpClient::stopEndsTransfer_data() {
    QTest::addColumn<int>("pace");
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<QByteArray>("requestBody");
    QTest::addColumn<int>("raiseAfterMs"); // -1: raised before the request

    using Pace = RawHttpServer::Pace;
    QTest::newRow("peer that never answers")
        << int(Pace::AtOnce) << QByteArray() << u"http"_s << QByteArray() << 200;
    QTest::newRow("TLS handshake the peer never answers")
        << int(Pace::AtOnce) << QByteArray() << u"https"_s << QByteArray() << 200;
    QTest::newRow("body that trickles") << int(Pace::TrickledBody) << okReply(QByteArray(200, 'b'))
                                        << u"http"_s << QByteArray() << 500;
    QTest::newRow("peer that never reads the request")
        << int(Pace::NeverReads) << QByteArray() << u"http"_s << QByteArray(64 * 1024 * 1024, 'q')
        << 200;
    QTest::newRow("stop raised before the request")
        << int(Pace::AtOnce) << okReply("True") << u"http"_s << QByteArray() << -1;
}

// Each peer would hold the request for the whole 30-second time-out; the stop ends it, and a
// stopped request is a failure, never a response.
void TestHttpClient::stopEndsTransfer() {
    QFETCH(int, pace);
    QFETCH(QByteArray, answer);
    QFETCH(QString, scheme);
    QFETCH(QByteArray, requestBody);
    QFETCH(int, raiseAfterMs);

    RawHttpServer server(answer, RawHttpServer::Pace(pace));
    HttpRequest request;
    request.url = server.url(u"/"_s).replace(u"http://"_s, scheme + u"://"_s);
    request.method = requestBody.isEmpty() ? HttpMethod::Get : HttpMethod::Post;
    request.bodyBytes = requestBody;
    JobStop stop;
    request.stop = &stop;
    if (raiseAfterMs < 0)
        stop.raise();
    std::thread raiser([&stop, raiseAfterMs] {
        if (raiseAfterMs >= 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(raiseAfterMs));
            stop.raise();
        }
    });
    const HttpResponse response = HttpClient::request(request);
    raiser.join();
    QCOMPARE(response.statusText, u"716 请求已取消!"_s);
    QCOMPARE(response.statusCode, 0);
    QVERIFY(!response.complete);
    QVERIFY(response.bytes.isEmpty());
}

// A redirect may name an address with user info; it is not followed, because following it
// would turn the user info into credentials.
void TestHttpClient::redirectSendsNoUserInfo() {
    std::atomic<bool> credentialsArrived = false;
    QByteArray target; // set once the port is known, before the first request
    RawHttpServer server([&](const QByteArray& sent, const QString&) {
        if (methodAndPath(sent).value(1) == "/end") {
            for (const QString& line : headerLines(sent))
                credentialsArrived = credentialsArrived || line.startsWith(u"Authorization:"_s);
            return okReply("end");
        }
        return reply("HTTP/1.1 302 Found", "Location: " + target + "\r\n", "");
    });
    QVERIFY(server.isListening());
    target = server.url(u"/end"_s).replace(u"://"_s, u"://user:secret@"_s).toLatin1();

    HttpRequest request;
    request.url = server.url(u"/start"_s);
    request.timeoutSeconds = 2;
    const HttpResponse response = HttpClient::request(request);
    QVERIFY(!credentialsArrived);
    QCOMPARE(response.statusText, u"302 Found"_s);
    QCOMPARE(response.redirectLocation, QString::fromLatin1(target));
}

// Certificates are checked against the trust store (here a test authority named by
// SSL_CERT_FILE, or the system's): a server that fails the check never sees the request.
// Panels opt out, as they run on self-signed certificates.
void TestHttpClient::checksCertificatesUnlessTold_data() {
    QTest::addColumn<QString>("signer");
    QTest::addColumn<QString>("subjectAltName");
    QTest::addColumn<bool>("trustAuthority");
    QTest::addColumn<bool>("acceptAny");
    QTest::addColumn<bool>("answered");

    QTest::newRow("self-signed") << u"self"_s << QString() << true << false << false;
    QTest::newRow("self-signed, any accepted") << u"self"_s << QString() << true << true << true;
    QTest::newRow("trusted authority")
        << u"authority"_s << u"IP:127.0.0.1"_s << true << false << true;
    QTest::newRow("trusted authority, other host name")
        << u"authority"_s << u"DNS:localhost"_s << true << false << false;
    QTest::newRow("authority not trusted")
        << u"authority"_s << u"IP:127.0.0.1"_s << false << false << false;
}

void TestHttpClient::checksCertificatesUnlessTold() {
#ifdef Q_OS_WIN
    QSKIP("the Windows test build has no TLS server");
#else
    QFETCH(QString, signer);
    QFETCH(QString, subjectAltName);
    QFETCH(bool, trustAuthority);
    QFETCH(bool, acceptAny);
    QFETCH(bool, answered);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QVERIFY(writeCertificateAuthority(folder.path()));
    QVERIFY(signer == u"self"_s
                ? writeSelfSignedCertificate(folder.path())
                : writeCertificateSignedBy(folder.path(), folder.path(), subjectAltName));
    const QByteArray cert = QFile::encodeName(folder.filePath(u"cert.pem"_s));
    const QByteArray key = QFile::encodeName(folder.filePath(u"key.pem"_s));
    LoopbackServer server(std::make_unique<httplib::SSLServer>(cert.constData(), key.constData()));
    std::atomic<bool> reached = false;
    server->Post("/secure", [&reached](const httplib::Request&, httplib::Response& res) {
        reached = true;
        res.set_content("secure body", "text/plain");
    });
    QVERIFY(server.start());

    // Without SSL_CERT_FILE the system's trust store decides, which knows neither certificate.
    const QString trusted = trustAuthority ? folder.filePath(u"ca.pem"_s) : QString();
    const QByteArray previous = qgetenv("SSL_CERT_FILE");
    qputenv("SSL_CERT_FILE", QFile::encodeName(trusted));
    const auto restore = qScopeGuard([&] { qputenv("SSL_CERT_FILE", previous); });

    HttpRequest request;
    request.url = server.url(u"https"_s, u"/secure"_s);
    request.method = HttpMethod::Post;
    request.body = u"password=secret"_s;
    request.acceptAnyCertificate = acceptAny;
    const HttpResponse response = HttpClient::request(request);
    if (answered) {
        QCOMPARE(response.statusText, u"200 OK"_s);
        QCOMPARE(response.text, u"secure body"_s);
    } else {
        QCOMPARE(response.statusText, u"715 证书验证失败!"_s);
        QCOMPARE(response.statusCode, 0);
        QVERIFY(!reached);
    }
#endif
}

QTEST_GUILESS_MAIN(TestHttpClient)
#include "tst_http_client.moc"
