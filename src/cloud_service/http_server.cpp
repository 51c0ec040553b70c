#include "cloud_service/http_server.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>

namespace {

// cpp-httplib keeps its listening socket to itself (a protected member). Named through a class
// derived from the server, the member can be read from any server object, plain or TLS.
struct ListeningSocket : httplib::Server {
    static socket_t of(const httplib::Server& server) {
        return server.*(&ListeningSocket::svr_sock_);
    }
};

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

std::unique_ptr<httplib::Server> makeHttpServer(const std::string& certificate,
                                                const std::string& key, std::string& error) {
    if (certificate.empty() && key.empty())
        return std::make_unique<httplib::Server>();
    return std::make_unique<httplib::SSLServer>(
        [&](SSL_CTX& context) { return useTlsFiles(context, certificate, key, error); });
}

bool widenBacklog(httplib::Server& server, int connections) {
    return ::listen(ListeningSocket::of(server), connections) == 0;
}
