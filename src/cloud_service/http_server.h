#pragma once

#include "cloud_service/connection_gate.h"

#include <httplib.h>

#include <string>

// cpp-httplib's routing, request parsing and replies, with connections handled by a
// ConnectionGate instead of cpp-httplib's own loop, where every connection holds a worker
// thread from its first byte to its last and a request has no deadline as a whole.
class HttpServer : private httplib::Server {
public:
    using Limits = ConnectionGate::Limits;

    explicit HttpServer(Limits limits = {});
    // Closes the listening socket (cpp-httplib only closes it in its own stop()).
    ~HttpServer() override;

    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    using httplib::Server::Get;
    using httplib::Server::Post;
    using httplib::Server::set_error_handler;
    using httplib::Server::set_exception_handler;

    // Binds and listens with a wide backlog; port 0 takes a free one. The bound port, or -1.
    int bind(const std::string& host, int port);
    // See ConnectionGate::exemptAddress.
    void exemptAddress(const std::string& address);
    // Serve HTTPS with this PEM certificate (chain) and key; false with `error` saying which
    // file could not be used and why. Before serve().
    bool useTls(const std::string& certificate, const std::string& key, std::string& error);
    // Serves until stop(); false when serving could not start.
    bool serve();
    // From any thread.
    void stop();

private:
    ConnectionGate::Reply answer(const ConnectionGate::Request& request);

    ConnectionGate gate_;
};
