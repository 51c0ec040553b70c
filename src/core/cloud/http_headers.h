#pragma once

#include "core/cloud/http_client.h"

// The header texts of HttpClient: the request header block it sends and what it reads from
// the raw response headers.

// The request header block: `extraHeaders`, then the default lines they do not name (when
// wanted), names rewritten (when wanted), "Connection: keep-alive" dropped, then the cookie
// line. Lines are CR LF separated.
QString buildHeaderBlock(const HttpRequest& request);

// Rewrites each "name:rest" line with every "-"-separated piece of the name starting with an
// upper-case ASCII letter ("x-requested-with" -> "X-Requested-With"); lines without ":" are
// dropped. The result has no trailing CR LF.
QString normalizeHeaderBlock(const QString& block);

// "200 OK" from "HTTP/1.1 200 OK\r\n...".
QString statusTextOf(const QString& rawHeaders);

// The value of the last "Location: " line; empty when there is none.
QString redirectLocationOf(const QString& rawHeaders);

// `cookies` followed by the name=value of every "Set-Cookie" line, "; " between them.
QString appendReceivedCookies(const QString& cookies, const QString& rawHeaders);

// Cookies kept from `sent` and replaced by those `received` (received ones first), without
// deleted cookies ("name=deleted") or repeated items, joined with "; ".
QString mergeCookieText(const QString& sent, const QString& received);
