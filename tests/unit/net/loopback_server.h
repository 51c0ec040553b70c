#pragma once

#include <QString>

#include <httplib.h>

#include <chrono>
#include <memory>
#include <thread>

// A cpp-httplib server on 127.0.0.1 and a free port, serving on its own thread from start()
// until the object goes away. Routes are added before start().
class LoopbackServer {
public:
    explicit LoopbackServer(
        std::unique_ptr<httplib::Server> server = std::make_unique<httplib::Server>())
        : server_(std::move(server)) {}

    ~LoopbackServer() {
        if (thread_.joinable()) {
            server_->stop();
            thread_.join();
        }
    }

    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    httplib::Server* operator->() { return server_.get(); }

    // Binds and starts serving; false when the port could not be bound or the server did not
    // come up within five seconds.
    bool start() {
        if (!server_->is_valid())
            return false;
        port_ = server_->bind_to_any_port("127.0.0.1");
        if (port_ <= 0)
            return false;
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!server_->is_running() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return server_->is_running();
    }

    QString url(const QString& scheme, const QString& path) const {
        return QStringLiteral("%1://127.0.0.1:%2%3").arg(scheme).arg(port_).arg(path);
    }

private:
    std::unique_ptr<httplib::Server> server_;
    int port_ = 0;
    std::thread thread_;
};
