#include "raw_http_server.h"

#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

using namespace Qt::StringLiterals;

namespace {

constexpr int kPollMs = 50;
constexpr auto kRequestDeadline = std::chrono::seconds(5);

// A TCP socket bound to 127.0.0.1 on a free port.
int boundLoopbackSocket(quint16& port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

bool readable(int fd) {
    pollfd entry{fd, POLLIN, 0};
    return ::poll(&entry, 1, kPollMs) > 0;
}

// The whole request is in when the header block has ended and Content-Length bytes follow it.
bool isComplete(const QByteArray& request) {
    const qsizetype end = request.indexOf("\r\n\r\n");
    if (end < 0)
        return false;
    qsizetype length = 0;
    for (const QByteArray& line : request.left(end).split('\n')) {
        if (line.toLower().startsWith("content-length:"))
            length = line.mid(15).trimmed().toLongLong();
    }
    return request.size() >= end + 4 + length;
}

} // namespace

RawHttpServer::RawHttpServer(QByteArray reply) : reply_(std::move(reply)) {
    listener_ = boundLoopbackSocket(port_);
    if (listener_ >= 0 && ::listen(listener_, 8) != 0) {
        ::close(listener_);
        listener_ = -1;
    }
    if (listener_ >= 0)
        thread_ = std::thread([this] { serve(); });
}

RawHttpServer::~RawHttpServer() {
    stopping_ = true;
    if (thread_.joinable())
        thread_.join();
    if (listener_ >= 0)
        ::close(listener_);
}

QString RawHttpServer::url(const QString& path) const {
    return u"http://127.0.0.1:%1%2"_s.arg(port_).arg(path);
}

QByteArray RawHttpServer::takeRequest() {
    std::unique_lock guard(lock_);
    if (!arrived_.wait_for(guard, kRequestDeadline, [this] { return !requests_.empty(); }))
        return {};
    QByteArray request = std::move(requests_.front());
    requests_.pop_front();
    return request;
}

void RawHttpServer::serve() {
    while (!stopping_) {
        if (!readable(listener_))
            continue;
        const int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0)
            handle(connection);
    }
}

void RawHttpServer::handle(int connection) {
    const QByteArray request = readRequest(connection);
    {
        std::lock_guard guard(lock_);
        requests_.push_back(request);
    }
    arrived_.notify_all();
    if (reply_.isEmpty()) {
        holdOpen(connection);
    } else {
        const ssize_t sent =
            ::send(connection, reply_.constData(), size_t(reply_.size()), MSG_NOSIGNAL);
        static_cast<void>(sent);
        ::shutdown(connection, SHUT_WR);
        // Let the client read everything before the socket goes away.
        while (!stopping_ && readable(connection)) {
            char sink[512];
            if (::recv(connection, sink, sizeof sink, 0) <= 0)
                break;
        }
    }
    ::close(connection);
}

QByteArray RawHttpServer::readRequest(int connection) const {
    QByteArray request;
    const auto deadline = std::chrono::steady_clock::now() + kRequestDeadline;
    while (!stopping_ && !isComplete(request) && std::chrono::steady_clock::now() < deadline) {
        if (!readable(connection))
            continue;
        char buffer[4096];
        const ssize_t got = ::recv(connection, buffer, sizeof buffer, 0);
        if (got <= 0)
            break;
        request.append(buffer, got);
    }
    return request;
}

// Stays silent until the client gives up (closes) or the server is destroyed.
void RawHttpServer::holdOpen(int connection) const {
    while (!stopping_) {
        if (!readable(connection))
            continue;
        char sink[512];
        if (::recv(connection, sink, sizeof sink, 0) <= 0)
            return;
    }
}

RefusingPort::RefusingPort() {
    socket_ = boundLoopbackSocket(port_);
}

RefusingPort::~RefusingPort() {
    if (socket_ >= 0)
        ::close(socket_);
}
