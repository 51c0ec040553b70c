// The header texts of the HTTP client: the exact request block (line breaks included) and
// the cookie, status and location texts read from response headers.

#include "core/cloud/http_headers.h"

#include <QTest>

using namespace Qt::StringLiterals;

namespace {

const QString kDefaultsWithoutContentType =
    u"User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)\r\n"
    u"Accept: text/html, application/xhtml+xml, */*\r\n"
    u"Accept-Encoding: gbk, GB2312\r\n"
    u"Accept-Language: zh-cn\r\n"
    u"Cache-Control: no-cache"_s;

} // namespace

class TestHttpHeaders : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void buildHeaderBlock_data();
    void buildHeaderBlock();
    void normalizeHeaderBlock_data();
    void normalizeHeaderBlock();
    void mergeCookieText_data();
    void mergeCookieText();
    void appendReceivedCookies_data();
    void appendReceivedCookies();
    void statusAndLocation_data();
    void statusAndLocation();
};

void TestHttpHeaders::buildHeaderBlock_data() {
    QTest::addColumn<int>("method");
    QTest::addColumn<QString>("extraHeaders");
    QTest::addColumn<QString>("cookies");
    QTest::addColumn<bool>("addDefaults");
    QTest::addColumn<bool>("normalize");
    QTest::addColumn<QString>("block");

    QTest::newRow("GET defaults, no trailing line break")
        << 0 << QString() << QString() << true << true << kDefaultsWithoutContentType;
    QTest::newRow("POST adds the form content type before Cache-Control")
        << 1 << QString() << QString() << true << true
        << QString(kDefaultsWithoutContentType)
               .replace(u"Cache-Control"_s,
                        u"Content-Type: application/x-www-form-urlencoded\r\nCache-Control"_s);
    QTest::newRow("cookie line brings its own line breaks")
        << 0 << QString() << u"a=1"_s << true << true
        << kDefaultsWithoutContentType + u"\r\nCookie: a=1\r\n"_s;
    QTest::newRow("keep-alive followed by a line break is dropped")
        << 0 << u"Connection: keep-alive"_s << QString() << true << true
        << kDefaultsWithoutContentType;
    QTest::newRow("keep-alive as the last normalised line stays")
        << 0 << u"Connection: keep-alive"_s << QString() << false << true
        << u"Connection: keep-alive"_s;
    QTest::newRow("lines without a colon are dropped when normalising")
        << 0 << u"junk\r\nx-a: 1"_s << QString() << false << true << u"X-A: 1"_s;
    QTest::newRow("without normalising the block keeps its line breaks")
        << 0 << u"x-a: 1"_s << u"a=1"_s << false << false << u"x-a: 1\r\n\r\nCookie: a=1\r\n"_s;
    QTest::newRow("search for a default ignores case")
        << 0 << u"cache-control: max-age=0"_s << QString() << true << true
        << u"Cache-Control: max-age=0\r\n"_s +
               QString(kDefaultsWithoutContentType).remove(u"\r\nCache-Control: no-cache"_s);
}

void TestHttpHeaders::buildHeaderBlock() {
    QFETCH(int, method);
    QFETCH(QString, extraHeaders);
    QFETCH(QString, cookies);
    QFETCH(bool, addDefaults);
    QFETCH(bool, normalize);
    QFETCH(QString, block);

    HttpRequest request;
    request.method = HttpMethod(method);
    request.extraHeaders = extraHeaders;
    request.cookiesIn = cookies;
    request.addDefaultHeaders = addDefaults;
    request.normalizeHeaderCase = normalize;
    QCOMPARE(::buildHeaderBlock(request), block);
}

void TestHttpHeaders::normalizeHeaderBlock_data() {
    QTest::addColumn<QString>("block");
    QTest::addColumn<QString>("normalized");

    QTest::newRow("pieces capitalised") << u"user-agent: X\r\nx-requested-with: Y\r\ncookie: a=1"_s
                                        << u"User-Agent: X\r\nX-Requested-With: Y\r\nCookie: a=1"_s;
    QTest::newRow("rest after the first colon untouched")
        << u"referer:http://a-b/c:d"_s << u"Referer:http://a-b/c:d"_s;
    QTest::newRow("only ASCII letters change") << u"1-x-é: v"_s << u"1-X-é: v"_s;
    QTest::newRow("empty lines and lines without colon dropped")
        << u"\r\na: 1\r\n\r\nnone\r\n"_s << u"A: 1"_s;
    QTest::newRow("empty block") << QString() << QString();
}

void TestHttpHeaders::normalizeHeaderBlock() {
    QFETCH(QString, block);
    QFETCH(QString, normalized);
    QCOMPARE(::normalizeHeaderBlock(block), normalized);
}

void TestHttpHeaders::mergeCookieText_data() {
    QTest::addColumn<QString>("sent");
    QTest::addColumn<QString>("received");
    QTest::addColumn<QString>("merged");

    QTest::newRow("received replace, deleted dropped")
        << u"a=1; c=3"_s << u"a=9; b=deleted"_s << u"a=9; c=3"_s;
    QTest::newRow("nothing received keeps what was sent")
        << u"a=1; b=2"_s << QString() << u"a=1; b=2"_s;
    QTest::newRow("nothing sent") << QString() << u"x=1"_s << u"x=1"_s;
    QTest::newRow("blanks and trailing semicolons") << u"  a=1;"_s << u"b=2;  "_s << u"b=2; a=1"_s;
    QTest::newRow("exact repeats once") << u"a=1; a=1"_s << u"b=2; b=2"_s << u"b=2; a=1"_s;
    QTest::newRow("names compare exactly") << u"A=1; a=2"_s << u"a=3"_s << u"a=3; A=1"_s;
    QTest::newRow("item without value") << u"flag; a=1"_s << u"flag"_s << u"flag; a=1"_s;
}

void TestHttpHeaders::mergeCookieText() {
    QFETCH(QString, sent);
    QFETCH(QString, received);
    QFETCH(QString, merged);
    QCOMPARE(::mergeCookieText(sent, received), merged);
}

void TestHttpHeaders::appendReceivedCookies_data() {
    QTest::addColumn<QString>("cookies");
    QTest::addColumn<QString>("headers");
    QTest::addColumn<QString>("result");

    QTest::newRow("attributes cut off")
        << QString() << u"HTTP/1.1 200 OK\r\nSet-Cookie: a=1; path=/\r\nSet-Cookie: b=2\r\n\r\n"_s
        << u"a=1; b=2"_s;
    QTest::newRow("appended to an earlier response's cookies")
        << u"x=0"_s << u"HTTP/1.1 200 OK\r\nSet-Cookie: a=1\r\n\r\n"_s << u"x=0; a=1"_s;
    QTest::newRow("name compares exactly")
        << QString() << u"HTTP/1.1 200 OK\r\nset-cookie: a=1\r\n\r\n"_s << QString();
    QTest::newRow("full-width blanks trimmed")
        << QString() << u"HTTP/1.1 200 OK\r\nSet-Cookie: \u3000a=1\u3000\r\n\r\n"_s << u"a=1"_s;
    QTest::newRow("none received") << u"x=0; "_s << u"HTTP/1.1 200 OK\r\n\r\n"_s << u"x=0"_s;
}

void TestHttpHeaders::appendReceivedCookies() {
    QFETCH(QString, cookies);
    QFETCH(QString, headers);
    QFETCH(QString, result);
    QCOMPARE(::appendReceivedCookies(cookies, headers), result);
}

void TestHttpHeaders::statusAndLocation_data() {
    QTest::addColumn<QString>("headers");
    QTest::addColumn<QString>("status");
    QTest::addColumn<QString>("location");

    QTest::newRow("ok") << u"HTTP/1.1 200 OK\r\nServer: x\r\n\r\n"_s << u"200 OK"_s << QString();
    QTest::newRow("reason with blanks")
        << u"HTTP/1.1 404 Not Found\r\n\r\n"_s << u"404 Not Found"_s << QString();
    QTest::newRow("last location wins, any case")
        << u"HTTP/1.1 302 Found\r\nLocation: /a\r\nlocation: /b\r\n\r\n"_s << u"302 Found"_s
        << u"/b"_s;
}

void TestHttpHeaders::statusAndLocation() {
    QFETCH(QString, headers);
    QFETCH(QString, status);
    QFETCH(QString, location);
    QCOMPARE(statusTextOf(headers), status);
    QCOMPARE(redirectLocationOf(headers), location);
}

QTEST_GUILESS_MAIN(TestHttpHeaders)
#include "tst_http_headers.moc"
