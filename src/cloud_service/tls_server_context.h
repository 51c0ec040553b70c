#pragma once

#include <memory>
#include <string>

struct ssl_ctx_st;

// The service's TLS identity: a PEM certificate (the server's own first, then its
// intermediates) and its unencrypted key, loaded once; every accepted connection gets its
// own session from it. TLS 1.2 at least, no compression, no renegotiation.
class TlsServerContext {
public:
    // Nothing, with `error` saying which file could not be used and why.
    static std::shared_ptr<TlsServerContext> load(const std::string& certificate,
                                                  const std::string& key, std::string& error);
    ~TlsServerContext();

    TlsServerContext(const TlsServerContext&) = delete;
    TlsServerContext& operator=(const TlsServerContext&) = delete;

    ssl_ctx_st* native() const { return context_; }

private:
    explicit TlsServerContext(ssl_ctx_st* context) : context_(context) {}

    ssl_ctx_st* context_;
};
