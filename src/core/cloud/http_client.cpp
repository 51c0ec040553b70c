#include "core/cloud/http_client.h"

#include "core/cloud/http_headers.h"
#include "core/codec/gbk_codec.h"
#include "core/support/job_stop.h"
#include "core/support/log_categories.h"
#include "core/support/regex_matcher.h"

#include <QStringDecoder>
#include <QStringList>

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

constexpr int kDefaultTimeoutMs = 30000;
// The whole request may last one time-out per phase (name resolution, connection, sending,
// receiving): enough for a request that uses each phase's time-out in full, while a peer
// that keeps every phase alive with a trickle of bytes cannot hold it any longer.
constexpr long kPhasesPerRequest = 4;
constexpr long kMaxRedirects = 10;
// The charset of a page is looked for in its first bytes only.
constexpr qsizetype kCharsetWindow = 1024;
const QString kCharsetPattern = u"<meta.+?charset=[^\\w]?([-\\w]+)"_s;

// The error texts of the steps, as the callers and the log have always shown them.
const QString kNoHttpSupport = u"700 当前系统不支持WinHttp服务!"_s;
const QString kBadAddress = u"701 解析URL地址失败!"_s;
const QString kNoSession = u"702 创建WinHttp会话失败!"_s;
const QString kNoConnection = u"703 创建WinHttp连接失败!"_s;
const QString kNoRequest = u"704 创建WinHttp请求失败!"_s;
const QString kTimeoutsRefused = u"705 设置超时时间失败!"_s;
const QString kCredentialsRefused = u"707 设置代理凭证失败!"_s;
const QString kCertificateChecksRefused = u"忽略错误/证书错误  失败！"_s;
const QString kRedirectsRefused = u"709 重定向设置失败!"_s;
const QString kHeadersRefused = u"710 设置协议头失败!"_s;
const QString kSendFailed = u"711 发送请求失败!"_s;
const QString kNoAnswer = u"712 服务器未响应!"_s;
const QString kReadFailed = u"713 读取数据失败!"_s;
const QString kBodyTooLarge = u"714 返回数据过大!"_s;
const QString kCertificateRefused = u"715 证书验证失败!"_s;
const QString kCancelled = u"716 请求已取消!"_s;

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct UrlDeleter {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
using EasyHandle = std::unique_ptr<CURL, EasyDeleter>;
using UrlHandle = std::unique_ptr<CURLU, UrlDeleter>;
using HeaderList = std::unique_ptr<curl_slist, ListDeleter>;
using MultiHandle = std::unique_ptr<CURLM, MultiDeleter>;

// An easy handle added to a multi handle for the length of one transfer.
class Attachment {
public:
    Attachment(CURLM* multi, CURL* easy) : multi_(multi), easy_(easy) {
        added_ = curl_multi_add_handle(multi_, easy_) == CURLM_OK;
    }
    ~Attachment() {
        if (added_)
            curl_multi_remove_handle(multi_, easy_);
    }
    Attachment(const Attachment&) = delete;
    Attachment& operator=(const Attachment&) = delete;

    bool added() const { return added_; }

private:
    CURLM* multi_;
    CURL* easy_;
    bool added_ = false;
};

bool curlReady() {
    static const bool ready = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
    return ready;
}

// The address as curl takes it: UTF-8 with spaces, control characters and non-ASCII bytes
// percent-encoded; everything else (including existing escapes) left as written.
QByteArray addressBytes(const QString& url) {
    QByteArray out;
    for (const char c : url.toUtf8()) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte >= 0x7F)
            out += '%' + QByteArray::number(byte, 16).toUpper().rightJustified(2, '0');
        else
            out += c;
    }
    return out;
}

// Nothing when the address is not an http or https address. User info in the address
// ("user:secret@host") is dropped: only the credential parameters authenticate.
UrlHandle parsedAddress(const QString& url) {
    UrlHandle parsed(curl_url());
    if (!parsed ||
        curl_url_set(parsed.get(), CURLUPART_URL, addressBytes(url).constData(), 0) != CURLUE_OK)
        return nullptr;
    for (const CURLUPart part : {CURLUPART_USER, CURLUPART_PASSWORD, CURLUPART_OPTIONS}) {
        if (curl_url_set(parsed.get(), part, nullptr, 0) != CURLUE_OK)
            return nullptr;
    }
    char* scheme = nullptr;
    if (curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK)
        return nullptr;
    const QByteArray name(scheme);
    curl_free(scheme);
    return name == "http" || name == "https" ? std::move(parsed) : nullptr;
}

// The proxy address without user info, for the same reason as the request address.
QByteArray proxyAddressBytes(const QString& proxy) {
    const qsizetype at = proxy.lastIndexOf(u'@');
    if (at < 0)
        return proxy.toUtf8();
    const qsizetype schemeEnd = proxy.indexOf(u"://"_s);
    const QString scheme = schemeEnd >= 0 && schemeEnd < at ? proxy.left(schemeEnd + 3) : QString();
    return (scheme + proxy.mid(at + 1)).toUtf8();
}

int statusCodeOf(const QByteArray& statusLine) {
    const QList<QByteArray> parts = statusLine.split(' ');
    return parts.size() > 1 ? parts[1].toInt() : 0;
}

bool hasLocationLine(const QByteArray& headers) {
    return headers.toLower().contains("\nlocation:");
}

// What the transfer callbacks collect. Only the headers of the last response are kept:
// those of interim (1xx) answers and of followed redirects are replaced.
struct Transfer {
    CURL* easy = nullptr;
    bool followRedirects = true;
    QByteArray body;
    QByteArray headers;
    // The header block of the response whose body is being read has ended.
    bool finalHeadersRead = false;
    // The body was (or was announced to be) longer than HttpClient::kMaxBodyBytes.
    bool tooLarge = false;

    void addHeaderLine(QByteArrayView line) {
        if (line.startsWith("HTTP/")) {
            headers.clear();
            finalHeadersRead = false;
        }
        headers += line;
        if (line == "\r\n" || line == "\n")
            finalHeadersRead = isFinalResponse();
    }

    // False when the body goes beyond the cap; reading then stops. The announced length is
    // reserved up front: growing a large body chunk by chunk costs more than receiving it.
    bool addBody(QByteArrayView chunk) {
        if (body.isEmpty()) {
            curl_off_t announced = -1;
            curl_easy_getinfo(easy, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &announced);
            tooLarge = announced > HttpClient::kMaxBodyBytes;
            if (announced > 0 && !tooLarge)
                body.reserve(qsizetype(announced));
        }
        tooLarge = tooLarge || chunk.size() > HttpClient::kMaxBodyBytes - body.size();
        if (tooLarge)
            return false;
        body.append(chunk);
        return true;
    }

    bool isFinalResponse() const {
        const int status = statusCodeOf(headers.left(headers.indexOf('\r')));
        if (status < 200)
            return false;
        const bool redirect = status >= 300 && status < 400 && status != 304;
        return !(followRedirects && redirect && hasLocationLine(headers));
    }
};

// Returning less than was offered makes curl end the transfer.
size_t onBody(char* data, size_t size, size_t count, void* transfer) {
    const bool kept =
        static_cast<Transfer*>(transfer)->addBody(QByteArrayView(data, qsizetype(size * count)));
    return kept ? size * count : 0;
}

size_t onHeader(char* data, size_t size, size_t count, void* transfer) {
    static_cast<Transfer*>(transfer)->addHeaderLine(QByteArrayView(data, qsizetype(size * count)));
    return size * count;
}

bool namesHeader(const QStringList& lines, const QString& name) {
    return std::any_of(lines.cbegin(), lines.cend(), [&](const QString& line) {
        const qsizetype colon = line.indexOf(u':');
        return colon >= 0 &&
               QStringView(line).left(colon).trimmed().compare(name, Qt::CaseInsensitive) == 0;
    });
}

// The charset that the page's meta tag names, looked for in its first bytes. Each thread
// keeps its matcher, so the pattern is compiled once per thread rather than per request.
QString declaredCharset(const QByteArray& body) {
    thread_local RegexMatcher matcher;
    if (!matcher.execute(kCharsetPattern, Gbk::decode(body.left(kCharsetWindow))))
        return {};
    return matcher.subMatchText(1, 1);
}

// The body as text: decoded by the charset the page declares when that charset is known,
// else as GBK.
QString bodyText(const QByteArray& body) {
    const QString charset = declaredCharset(body);
    if (!charset.isEmpty()) {
        QStringDecoder decoder(charset.toLatin1().constData());
        if (decoder.isValid())
            return decoder.decode(body);
    }
    return Gbk::decode(body);
}

// One request on its own easy handle. Each step either succeeds or leaves the error text of
// its step in the response; handles are released when the call object goes away.
class Call {
public:
    explicit Call(const HttpRequest& request) : request_(request) {
        response_.cookiesIn = request.cookiesIn;
        response_.cookiesOut = request.cookiesOut;
        transfer_.followRedirects = !request.disableRedirects;
        body_ = request.bodyBytes.isEmpty() ? Gbk::encode(request.body) : request.bodyBytes;
    }

    HttpResponse run() {
        if (!curlReady())
            return failed(kNoHttpSupport);
        address_ = parsedAddress(request_.url);
        if (!address_)
            return failed(kBadAddress);
        easy_.reset(curl_easy_init());
        transfer_.easy = easy_.get();
        if (!easy_ || !setBasics())
            return failed(kNoSession);
        if (!setTimeouts())
            return failed(kTimeoutsRefused);
        if (!set(CURLOPT_CURLU, address_.get()))
            return failed(kNoConnection);
        if (!setMethod())
            return failed(kNoRequest);
        if (!setCredentials())
            return failed(kCredentialsRefused);
        if (!setCertificateChecks())
            return failed(kCertificateChecksRefused);
        if (!setRedirects())
            return failed(kRedirectsRefused);
        if (!setHeaders())
            return failed(kHeadersRefused);
        return perform();
    }

private:
    template <typename Value> bool set(CURLoption option, Value value) {
        return curl_easy_setopt(easy_.get(), option, value) == CURLE_OK;
    }

    template <typename Value> Value info(CURLINFO what) const {
        Value value{};
        curl_easy_getinfo(easy_.get(), what, &value);
        return value;
    }

    HttpResponse failed(const QString& text) {
        response_.statusText = text;
        return response_;
    }

    // No proxy unless one is given: the environment's proxy settings are not used. Signals
    // are off because calls run on worker threads. An address with user info that a
    // redirect names is refused rather than turned into credentials.
    bool setBasics() {
        proxy_ = proxyAddressBytes(request_.proxyAddress);
        return set(CURLOPT_NOSIGNAL, 1L) && set(CURLOPT_PROXY, proxy_.constData()) &&
               set(CURLOPT_DISALLOW_USERNAME_IN_URL, 1L) &&
               set(CURLOPT_PROTOCOLS_STR, "http,https") &&
               set(CURLOPT_HTTP_VERSION, long(CURL_HTTP_VERSION_1_1)) &&
               set(CURLOPT_WRITEFUNCTION, onBody) && set(CURLOPT_WRITEDATA, &transfer_) &&
               set(CURLOPT_HEADERFUNCTION, onHeader) && set(CURLOPT_HEADERDATA, &transfer_);
    }

    // The trust store curl was built with does not follow OpenSSL's environment variables;
    // they are passed on here so that a private authority (a test's, a company's) can be
    // trusted without touching the system's store. On Windows curl checks with Schannel
    // against the Windows certificate store, where such an authority is added instead.
    bool setCertificateChecks() {
        if (request_.acceptAnyCertificate)
            return set(CURLOPT_SSL_VERIFYPEER, 0L) && set(CURLOPT_SSL_VERIFYHOST, 0L);
#ifndef Q_OS_WIN
        authorityFile_ = qgetenv("SSL_CERT_FILE");
        authorityFolder_ = qgetenv("SSL_CERT_DIR");
#endif
        return set(CURLOPT_SSL_VERIFYPEER, 1L) && set(CURLOPT_SSL_VERIFYHOST, 2L) &&
               set(CURLOPT_ERRORBUFFER, errorDetail_) &&
               (authorityFile_.isEmpty() || set(CURLOPT_CAINFO, authorityFile_.constData())) &&
               (authorityFolder_.isEmpty() || set(CURLOPT_CAPATH, authorityFolder_.constData()));
    }

    // Each phase gets the time-out: connecting (name resolution included) here, and every
    // wait for the peer while sending and receiving in runTransfer(). The whole request has
    // its overall deadline on top.
    bool setTimeouts() {
        phaseTimeoutMs_ =
            request_.timeoutSeconds > 0 ? long(request_.timeoutSeconds) * 1000 : kDefaultTimeoutMs;
        return set(CURLOPT_CONNECTTIMEOUT_MS, phaseTimeoutMs_) &&
               set(CURLOPT_TIMEOUT_MS, phaseTimeoutMs_ * kPhasesPerRequest);
    }

    bool setMethod() {
        const QString verb = httpVerb(request_.method);
        if (verb == u"HEAD"_s)
            return set(CURLOPT_NOBODY, 1L);
        verb_ = verb.toLatin1();
        const bool sendsBody = verb == u"POST"_s || !body_.isEmpty();
        if (sendsBody && (!set(CURLOPT_POSTFIELDSIZE_LARGE, curl_off_t(body_.size())) ||
                          !set(CURLOPT_POSTFIELDS, body_.constData())))
            return false;
        uploadSize_ = sendsBody ? body_.size() : 0;
        if (verb == u"GET"_s && !sendsBody)
            return true;
        return verb == u"POST"_s || set(CURLOPT_CUSTOMREQUEST, verb_.constData());
    }

    bool setCredentials() {
        serverUser_ = request_.serverUser.toUtf8();
        serverPassword_ = request_.serverPassword.toUtf8();
        proxyUser_ = request_.proxyUser.toUtf8();
        proxyPassword_ = request_.proxyPassword.toUtf8();
        const bool server = !serverUser_.isEmpty() && !serverPassword_.isEmpty();
        const bool proxy = !proxyUser_.isEmpty() && !proxyPassword_.isEmpty();
        if (server && (!set(CURLOPT_HTTPAUTH, long(CURLAUTH_BASIC)) ||
                       !set(CURLOPT_USERNAME, serverUser_.constData()) ||
                       !set(CURLOPT_PASSWORD, serverPassword_.constData())))
            return false;
        return !proxy || (set(CURLOPT_PROXYAUTH, long(CURLAUTH_BASIC)) &&
                          set(CURLOPT_PROXYUSERNAME, proxyUser_.constData()) &&
                          set(CURLOPT_PROXYPASSWORD, proxyPassword_.constData()));
    }

    bool setRedirects() {
        if (request_.disableRedirects)
            return set(CURLOPT_FOLLOWLOCATION, 0L);
        return set(CURLOPT_FOLLOWLOCATION, 1L) && set(CURLOPT_MAXREDIRS, kMaxRedirects) &&
               set(CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    }

    // The block's lines, then empty "Name:" lines that stop curl from adding its own Accept,
    // Content-Type and "Expect: 100-continue" where the block does not name them.
    bool setHeaders() {
        QStringList lines = buildHeaderBlock(request_).split(u"\r\n"_s, Qt::SkipEmptyParts);
        for (const QString& name : {u"Accept"_s, u"Content-Type"_s, u"Expect"_s}) {
            if (!namesHeader(lines, name))
                lines << name + u':';
        }
        for (const QString& line : std::as_const(lines)) {
            // Appending keeps the head of a list that exists; the first append creates it.
            curl_slist* head = curl_slist_append(headers_.get(), line.toUtf8().constData());
            if (!head)
                return false;
            if (!headers_)
                headers_.reset(head);
        }
        return set(CURLOPT_HTTPHEADER, headers_.get());
    }

    HttpResponse perform() {
        const CURLcode code = runTransfer();
        if (code == CURLE_ABORTED_BY_CALLBACK && stopRaised())
            return failed(kCancelled);
        if (transfer_.tooLarge)
            readResponse(kBodyTooLarge);
        else if (code == CURLE_LOGIN_DENIED && !transfer_.headers.isEmpty())
            // A redirect named an address with user info and was not followed: the redirect
            // itself is the answer.
            readResponse(QString());
        else if (isCertificateFailure(code)) {
            qCWarning(lcCloud) << "certificate refused:" << request_.url << errorDetail_;
            return failed(kCertificateRefused);
        } else if (code != CURLE_OK && !transfer_.finalHeadersRead)
            return failed(sendFailed(code) ? kSendFailed : kNoAnswer);
        else
            readResponse(code == CURLE_OK ? QString() : kReadFailed);
        return response_;
    }

    // Drives the transfer itself so that it ends as soon as no byte has moved either way for
    // the phase time-out. (curl's own low-speed check judges an average over several seconds:
    // it notices a stall late, and never a peer that trickles a byte now and then; the
    // overall deadline ends that one.) A request with a stop looks at it before each step
    // and waits at most kStopCheckMs for the peer, in every phase: connecting, the TLS
    // handshake, sending and receiving.
    CURLcode runTransfer() {
        const MultiHandle multi(curl_multi_init());
        if (!multi)
            return CURLE_OUT_OF_MEMORY;
        const Attachment attachment(multi.get(), easy_.get());
        if (!attachment.added())
            return CURLE_FAILED_INIT;
        using Clock = std::chrono::steady_clock;
        const std::chrono::milliseconds phaseTimeout(phaseTimeoutMs_);
        curl_off_t moved = bytesMoved();
        Clock::time_point lastMove = Clock::now();
        for (int running = 1;;) {
            if (stopRaised())
                return CURLE_ABORTED_BY_CALLBACK;
            if (curl_multi_perform(multi.get(), &running) != CURLM_OK)
                return CURLE_FAILED_INIT;
            if (running == 0)
                break;
            const Clock::time_point now = Clock::now();
            if (const curl_off_t nowMoved = bytesMoved(); nowMoved != moved) {
                moved = nowMoved;
                lastMove = now;
            }
            const std::chrono::duration<double, std::milli> left = lastMove + phaseTimeout - now;
            if (left.count() <= 0)
                return CURLE_OPERATION_TIMEDOUT;
            // curl shortens the wait by itself for its own deadlines.
            int waitMs = int(std::ceil(left.count()));
            if (request_.stop)
                waitMs = std::min(waitMs, HttpClient::kStopCheckMs);
            if (curl_multi_poll(multi.get(), nullptr, 0, waitMs, nullptr) != CURLM_OK)
                return CURLE_FAILED_INIT;
        }
        int queued = 0;
        const CURLMsg* done = curl_multi_info_read(multi.get(), &queued);
        return done && done->msg == CURLMSG_DONE ? done->data.result : CURLE_FAILED_INIT;
    }

    bool stopRaised() const {
        return request_.stop && request_.stop->isRaised();
    }

    // Bytes of requests and responses so far; any change means the peer is still there.
    curl_off_t bytesMoved() const {
        return info<long>(CURLINFO_REQUEST_SIZE) + info<long>(CURLINFO_HEADER_SIZE) +
               info<curl_off_t>(CURLINFO_SIZE_UPLOAD_T) +
               info<curl_off_t>(CURLINFO_SIZE_DOWNLOAD_T);
    }

    static bool isCertificateFailure(CURLcode code) {
        return code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CACERT_BADFILE ||
               code == CURLE_SSL_ISSUER_ERROR;
    }

    // The request never left completely: the connection, the TLS handshake or the sending of
    // the request failed or stalled. A peer that has answered anything had the request.
    bool sendFailed(CURLcode code) const {
        if (code == CURLE_SEND_ERROR)
            return true;
        if (info<long>(CURLINFO_HEADER_SIZE) > 0)
            return false;
        return info<long>(CURLINFO_REQUEST_SIZE) == 0 ||
               info<curl_off_t>(CURLINFO_SIZE_UPLOAD_T) < uploadSize_;
    }

    // A body that broke off or went beyond the cap keeps the failure text: the response is
    // then incomplete and must not look like a whole answer. No failure: the whole body came.
    void readResponse(const QString& failure) {
        long status = 0;
        curl_easy_getinfo(easy_.get(), CURLINFO_RESPONSE_CODE, &status);
        response_.statusCode = int(status);
        response_.complete = failure.isEmpty();
        response_.headers = QString::fromUtf8(transfer_.headers);
        response_.statusText = response_.complete ? statusTextOf(response_.headers) : failure;
        response_.redirectLocation = redirectLocationOf(response_.headers);
        response_.cookiesOut = appendReceivedCookies(request_.cookiesOut, response_.headers);
        if (request_.mergeCookies && !request_.cookiesIn.isEmpty()) {
            response_.cookiesOut = mergeCookieText(request_.cookiesIn, response_.cookiesOut);
            response_.cookiesIn = response_.cookiesOut;
        }
        response_.bytes = std::move(transfer_.body);
        response_.text = bodyText(response_.bytes);
    }

    const HttpRequest& request_;
    HttpResponse response_;
    Transfer transfer_;
    QByteArray body_;
    curl_off_t uploadSize_ = 0;
    long phaseTimeoutMs_ = kDefaultTimeoutMs;
    QByteArray verb_;
    QByteArray proxy_;
    QByteArray serverUser_;
    QByteArray serverPassword_;
    QByteArray proxyUser_;
    QByteArray proxyPassword_;
    QByteArray authorityFile_;
    QByteArray authorityFolder_;
    char errorDetail_[CURL_ERROR_SIZE] = {};
    UrlHandle address_;
    HeaderList headers_;
    EasyHandle easy_; // declared last: cleaned up first, before what it points to
};

} // namespace

namespace HttpClient {

HttpResponse request(const HttpRequest& request) {
    return Call(request).run();
}

} // namespace HttpClient
