#pragma once

#include <QByteArray>
#include <QString>

class JobStop;

// The verb of a request, by the code callers pass; a code outside 0..7 means GET.
enum class HttpMethod : int {
    Get = 0,
    Post = 1,
    Head = 2,
    Put = 3,
    Options = 4,
    Delete = 5,
    Trace = 6,
    Connect = 7,
};

// The verb text of a method code.
QString httpVerb(HttpMethod method);

// One request. Only `url` is required; the system's own callers set the method and, for POST,
// the body, and leave the rest at these defaults.
struct HttpRequest {
    QString url; // "http://..." or "https://..."
    HttpMethod method = HttpMethod::Get;
    QString body;         // sent as its GBK bytes
    QByteArray bodyBytes; // sent as they are instead of `body` when not empty
    // Cookies to send, as name=value pairs separated by "; ".
    QString cookiesIn;
    // Text the received cookies are appended to.
    QString cookiesOut;
    // Further request header lines, separated by CR LF.
    QString extraHeaders;
    bool disableRedirects = false;
    // HTTP Basic authentication at the server and at the proxy; used when both are given.
    // Nothing else authenticates: user info in `url` or `proxyAddress` is never sent.
    QString serverUser;
    QString serverPassword;
    QString proxyAddress; // "host:port"; empty: no proxy (the environment's proxy is ignored)
    QString proxyUser;
    QString proxyPassword;
    // Time-out of each phase (connecting, and every wait for the peer while sending and
    // receiving); 0 or less means 30 seconds. The whole request ends after four of them.
    int timeoutSeconds = 0;
    // Raised while the request runs (its window closed, its jobs shut down): the transfer
    // ends within HttpClient::kStopCheckMs and the request fails with "716 请求已取消!".
    // Never raised: none. Must outlive the request.
    const JobStop* stop = nullptr;
    // Merge the received cookies with `cookiesIn`, into both cookie texts of the response.
    bool mergeCookies = true;
    // Add the browser-like default header lines that `extraHeaders` does not name.
    bool addDefaultHeaders = true;
    // Rewrite header names as Word-Word before sending.
    bool normalizeHeaderCase = true;
    // Take any server certificate, as panels need: they run on self-signed ones. Otherwise
    // the chain and the host name are checked against the system's trust store, or against
    // the one that OpenSSL's SSL_CERT_FILE / SSL_CERT_DIR name when they are set.
    bool acceptAnyCertificate = false;
};

// What came back. When a step fails before a response arrives, only `statusText` (the
// numbered error text) and the two cookie texts (as sent) are set.
struct HttpResponse {
    QString text;     // the body as text: decoded by the charset its HTML names, else as GBK
    QByteArray bytes; // the body exactly as received
    QString headers;  // the raw response headers, status line first, CR LF separated
    // "200 OK", "404 Not Found"...; or the error text of the step that failed.
    QString statusText;
    int statusCode = 0; // 0 when no HTTP response arrived
    // True when the whole response arrived. False also when the body broke off or stalled
    // ("713 读取数据失败!" in `statusText`) or went beyond HttpClient::kMaxBodyBytes
    // ("714 返回数据过大!"): `text` and `bytes` then hold what was read.
    bool complete = false;
    QString redirectLocation; // value of a "Location: " header
    QString cookiesIn;        // the request's cookies, replaced by the merged text when merging
    QString cookiesOut;       // the request's `cookiesOut` with the received cookies
};

namespace HttpClient {

// How often a request with a stop looks at it while it waits for the peer.
constexpr int kStopCheckMs = 50;

// The largest body a request reads: a cloud or panel reply is far smaller, and a peer that
// sends more must not exhaust memory. A longer body ends the request with "714 返回数据过大!".
constexpr qsizetype kMaxBodyBytes = qsizetype{16} * 1024 * 1024;

// Performs one request with its own connection and returns when the body has been read, a
// step has failed or a time-out has expired. Blocking; callable from any thread, calls share
// nothing. Redirects are followed unless disabled, except to an address with user info (the
// redirect is then the answer). A certificate that fails its check ends the request before
// anything is sent ("715 证书验证失败!"). HTTP error statuses are answers, not failures.
HttpResponse request(const HttpRequest& request);

} // namespace HttpClient
