#include "cloud_service/tls_server_context.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

namespace {

// OpenSSL's reasons for the last failure, and the queue left empty for the next one.
std::string openSslReason() {
    std::string reason;
    while (const unsigned long code = ERR_get_error()) {
        char text[256];
        ERR_error_string_n(code, text, sizeof text);
        if (!reason.empty())
            reason += "; ";
        reason += text;
    }
    return reason.empty() ? "unknown reason" : reason;
}

// Never asks for a passphrase: the service usually runs without a terminal, and a prompt
// would wait for ever. An encrypted key is refused instead.
int noPassphrase(char*, int, int, void*) {
    return 0;
}

bool useTlsFiles(SSL_CTX& context, const std::string& certificate, const std::string& key,
                 std::string& error) {
    SSL_CTX_set_min_proto_version(&context, TLS1_2_VERSION);
    SSL_CTX_set_options(&context, SSL_OP_NO_COMPRESSION | SSL_OP_NO_RENEGOTIATION);
    // Replies are written from a buffer that may grow between two tries of one write.
    SSL_CTX_set_mode(&context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                                   SSL_MODE_RELEASE_BUFFERS);
    SSL_CTX_set_default_passwd_cb(&context, noPassphrase);
    if (SSL_CTX_use_certificate_chain_file(&context, certificate.c_str()) != 1) {
        error = "cannot use the TLS certificate " + certificate + ": " + openSslReason();
        return false;
    }
    // Also refused when the key does not belong to the certificate loaded before it.
    if (SSL_CTX_use_PrivateKey_file(&context, key.c_str(), SSL_FILETYPE_PEM) != 1) {
        error = "cannot use the TLS key " + key + ": " + openSslReason();
        return false;
    }
    return true;
}

} // namespace

std::shared_ptr<TlsServerContext>
TlsServerContext::load(const std::string& certificate, const std::string& key, std::string& error) {
    ERR_clear_error();
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr) {
        error = "cannot set up TLS: " + openSslReason();
        return nullptr;
    }
    if (!useTlsFiles(*context, certificate, key, error)) {
        SSL_CTX_free(context);
        return nullptr;
    }
    return std::shared_ptr<TlsServerContext>(new TlsServerContext(context));
}

TlsServerContext::~TlsServerContext() {
    SSL_CTX_free(context_);
}
