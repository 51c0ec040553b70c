#include "core/cloud/http_headers.h"

#include <QStringList>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString kLineBreak = u"\r\n"_s;
const QString kCookieSeparator = u"; "_s;

struct DefaultHeader {
    QString searchKey;
    QString line;
    bool postOnly;
};

// Browser-like lines that the cloud service and the panels have always been sent.
const QList<DefaultHeader>& defaultHeaders() {
    static const QList<DefaultHeader> headers{
        {u"User-Agent: "_s,
         u"User-Agent: Mozilla/5.0 (compatible; MSIE 9.0; Windows NT 6.1; WOW64; Trident/5.0)"_s,
         false},
        {u"Accept: "_s, u"Accept: text/html, application/xhtml+xml, */*"_s, false},
        {u"Accept-Encoding: "_s, u"Accept-Encoding: gbk, GB2312"_s, false},
        {u"Accept-Language: "_s, u"Accept-Language: zh-cn"_s, false},
        {u"Content-Type:"_s, u"Content-Type: application/x-www-form-urlencoded"_s, true},
        {u"Cache-Control: "_s, u"Cache-Control: no-cache"_s, false},
    };
    return headers;
}

QString withDefaultHeaders(QString block, HttpMethod method) {
    for (const DefaultHeader& header : defaultHeaders()) {
        if (header.postOnly && method != HttpMethod::Post)
            continue;
        if (!block.contains(header.searchKey, Qt::CaseInsensitive))
            block += header.line + kLineBreak;
    }
    return block;
}

// The stack manages connection reuse itself, so a keep-alive request is not passed on.
QString withoutKeepAlive(QString block) {
    const QString connection = u"Connection"_s;
    if (!block.contains(connection))
        return block;
    const QString prefix = u"Connection: "_s;
    for (const QString& line : block.split(kLineBreak)) {
        if (!line.startsWith(connection))
            continue;
        const qsizetype at = line.indexOf(prefix);
        if (at >= 0 && line.mid(at + prefix.size()) == u"keep-alive"_s)
            block.remove(u"Connection: keep-alive\r\n"_s);
        break;
    }
    return block;
}

// Appends the cookie line unless the block already carries one. `cookies` may be a whole
// "Cookie: ..." line.
QString withCookieLine(QString block, const QString& cookies) {
    const QString key = u"Cookie:"_s;
    if (cookies.isEmpty() || block.contains(key, Qt::CaseInsensitive))
        return block;
    const QString line =
        cookies.contains(key, Qt::CaseInsensitive) ? cookies : u"Cookie: "_s + cookies;
    return block + kLineBreak + line + kLineBreak;
}

QString capitalisedPiece(QString piece) {
    if (!piece.isEmpty() && piece[0] >= u'a' && piece[0] <= u'z')
        piece[0] = QChar(piece[0].unicode() - u'a' + u'A');
    return piece;
}

QString capitalisedName(const QString& name) {
    QStringList pieces = name.split(u'-');
    for (QString& piece : pieces)
        piece = capitalisedPiece(piece);
    return pieces.join(u'-');
}

// Blanks around cookie texts: the ASCII space and the full-width space.
QString trimmedBlanks(const QString& text) {
    const auto isBlank = [](QChar c) { return c == u' ' || c == u'\u3000'; };
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

// name=value of one "Set-Cookie" line, without its attributes.
QString cookieOfLine(const QString& line) {
    const QString key = u"Set-Cookie:"_s;
    if (!line.contains(u';'))
        return trimmedBlanks(QString(line).remove(key, Qt::CaseInsensitive));
    const qsizetype start = line.indexOf(key) + key.size();
    return trimmedBlanks(line.mid(start, line.indexOf(u';', start) - start));
}

QString headerName(const QString& line) {
    const qsizetype colon = line.indexOf(u": "_s);
    return colon < 0 ? QString() : line.left(colon);
}

QStringList cookieItems(const QString& text) {
    QString trimmed = trimmedBlanks(text);
    if (trimmed.endsWith(u';'))
        trimmed += u' ';
    return trimmed.split(kCookieSeparator, Qt::SkipEmptyParts);
}

QString cookieName(const QString& item) {
    const qsizetype equals = item.indexOf(u'=');
    return (equals < 0 ? item : item.left(equals)).trimmed();
}

bool hasCookieNamed(const QStringList& items, const QString& name) {
    return std::any_of(items.cbegin(), items.cend(),
                       [&](const QString& item) { return cookieName(item) == name; });
}

} // namespace

QString httpVerb(HttpMethod method) {
    static const QStringList verbs{u"GET"_s,     u"POST"_s,   u"HEAD"_s,  u"PUT"_s,
                                   u"OPTIONS"_s, u"DELETE"_s, u"TRACE"_s, u"CONNECT"_s};
    const int code = int(method);
    return code >= 0 && code < verbs.size() ? verbs[code] : verbs[0];
}

QString buildHeaderBlock(const HttpRequest& request) {
    QString block = request.extraHeaders.isEmpty() ? QString() : request.extraHeaders + kLineBreak;
    if (request.addDefaultHeaders)
        block = withDefaultHeaders(block, request.method);
    if (request.normalizeHeaderCase)
        block = normalizeHeaderBlock(block);
    return withCookieLine(withoutKeepAlive(block), request.cookiesIn);
}

QString normalizeHeaderBlock(const QString& block) {
    QString out;
    for (const QString& line : block.split(kLineBreak)) {
        const qsizetype colon = line.indexOf(u':');
        if (colon < 0)
            continue;
        out += capitalisedName(line.left(colon));
        out += QStringView(line).sliced(colon);
        out += kLineBreak;
    }
    out.chop(kLineBreak.size());
    return out;
}

QString statusTextOf(const QString& rawHeaders) {
    constexpr qsizetype kStatusStart = 9; // after "HTTP/1.1 "
    const qsizetype end = rawHeaders.indexOf(kLineBreak, kStatusStart);
    return rawHeaders.mid(kStatusStart, end < 0 ? -1 : end - kStatusStart);
}

QString redirectLocationOf(const QString& rawHeaders) {
    const QString key = u"Location: "_s;
    QString location;
    for (const QString& line : rawHeaders.split(kLineBreak)) {
        if (QStringView(line).left(key.size()).compare(key, Qt::CaseInsensitive) == 0)
            location = line.mid(key.size());
    }
    return location;
}

// An earlier response's cookies may end without "; " (it is removed at the end), so one is put
// between them and the new ones instead of gluing two cookies together.
QString appendReceivedCookies(const QString& cookies, const QString& rawHeaders) {
    QString out = cookies;
    for (const QString& line : rawHeaders.split(kLineBreak)) {
        if (headerName(line) != u"Set-Cookie"_s)
            continue;
        const QString cookie = cookieOfLine(line);
        if (cookie.isEmpty())
            continue;
        if (!out.isEmpty() && !out.endsWith(kCookieSeparator))
            out += kCookieSeparator;
        out += cookie + kCookieSeparator;
    }
    if (out.endsWith(kCookieSeparator))
        out.chop(kCookieSeparator.size());
    return out;
}

QString mergeCookieText(const QString& sent, const QString& received) {
    QStringList merged = cookieItems(received);
    for (const QString& item : cookieItems(sent)) {
        if (!hasCookieNamed(merged, cookieName(item)))
            merged << item;
    }
    QStringList kept;
    for (const QString& item : std::as_const(merged)) {
        if (!item.endsWith(u"=deleted"_s) && !kept.contains(item))
            kept << item;
    }
    return kept.join(kCookieSeparator);
}
