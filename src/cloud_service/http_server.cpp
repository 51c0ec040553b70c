#include "cloud_service/http_server.h"

#include "cloud_service/tls_server_context.h"

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

// cpp-httplib listens with a backlog of five connections; many clients connecting at once
// would overflow it and their requests fail.
constexpr int kListenBacklog = 1024;

// One request the gate has read whole, as cpp-httplib reads a connection: the request's bytes
// come from memory and the reply goes into a string the gate writes out.
class BufferedExchange final : public httplib::Stream {
public:
    BufferedExchange(const ConnectionGate::Request& request, std::string& reply)
        : request_(request), reply_(reply) {}

    bool is_readable() const override { return position_ < request_.bytes.size(); }
    bool is_writable() const override { return true; }

    ssize_t read(char* ptr, size_t size) override {
        const std::size_t count = std::min(size, request_.bytes.size() - position_);
        std::memcpy(ptr, request_.bytes.data() + position_, count);
        position_ += count;
        return ssize_t(count);
    }

    ssize_t write(const char* ptr, size_t size) override {
        reply_.append(ptr, size);
        return ssize_t(size);
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        ip = request_.peerAddress;
        port = request_.peerPort;
    }

    void get_local_ip_and_port(std::string& ip, int& port) const override {
        ip = request_.localAddress;
        port = request_.localPort;
    }

    // The gate owns the socket; nothing here may read from it or write to it.
    socket_t socket() const override { return INVALID_SOCKET; }

private:
    const ConnectionGate::Request& request_;
    std::string& reply_;
    std::size_t position_ = 0;
};

} // namespace

HttpServer::HttpServer(Limits limits)
    : gate_(limits, [this](const ConnectionGate::Request& request) { return answer(request); }) {
    set_payload_max_length(limits.bodyBytes);
    // What the replies' Keep-Alive header announces.
    set_keep_alive_timeout(std::max<time_t>(
        1, time_t(std::chrono::duration_cast<std::chrono::seconds>(limits.idleTime).count())));
    set_keep_alive_max_count(limits.requestsPerConnection);
}

HttpServer::~HttpServer() {
    const socket_t listening = svr_sock_.exchange(INVALID_SOCKET);
    if (listening != INVALID_SOCKET)
        ::close(listening);
}

int HttpServer::bind(const std::string& host, int port) {
    const int bound = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : -1);
    if (bound > 0 && ::listen(svr_sock_, kListenBacklog) != 0)
        return -1;
    return bound;
}

void HttpServer::exemptAddress(const std::string& address) {
    gate_.exemptAddress(address);
}

bool HttpServer::useTls(const std::string& certificate, const std::string& key,
                        std::string& error) {
    auto tls = TlsServerContext::load(certificate, key, error);
    if (!tls)
        return false;
    gate_.useTls(std::move(tls));
    return true;
}

bool HttpServer::serve() {
    return gate_.serve(svr_sock_);
}

void HttpServer::stop() {
    gate_.stop();
}

ConnectionGate::Reply HttpServer::answer(const ConnectionGate::Request& request) {
    ConnectionGate::Reply reply;
    BufferedExchange exchange(request, reply.bytes);
    bool closedByClient = false;
    const bool answered =
        process_request(exchange, request.lastOnConnection, closedByClient, nullptr);
    reply.close = !answered || closedByClient || request.lastOnConnection;
    return reply;
}
