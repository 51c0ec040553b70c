#include "raw_http_server.h"

#include <QList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

using namespace Qt::StringLiterals;

namespace {

constexpr int kPollMs = 50;
constexpr auto kRequestDeadline = std::chrono::seconds(5);
constexpr int kTrickleGapMs = 100;
constexpr int kMidwayPauseMs = 3000;
// Small enough that a request body of a few MiB fills it and the client's send buffer.
constexpr int kNeverReadsBuffer = 4096;

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

RawHttpServer::RawHttpServer(QByteArray reply, Pace pace) : reply_(std::move(reply)), pace_(pace) {
    listener_ = boundLoopbackSocket(port_);
    if (listener_ >= 0 && pace_ == Pace::NeverReads)
        ::setsockopt(listener_, SOL_SOCKET, SO_RCVBUF, &kNeverReadsBuffer,
                     sizeof kNeverReadsBuffer);
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
    if (pace_ == Pace::NeverReads) {
        while (pause(connection, kPollMs)) {
        }
        ::close(connection);
        return;
    }
    const QByteArray request = readRequest(connection);
    {
        std::lock_guard guard(lock_);
        requests_.push_back(request);
    }
    arrived_.notify_all();
    if (reply_.isEmpty()) {
        holdOpen(connection);
    } else {
        sendReply(connection);
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

void RawHttpServer::sendReply(int connection) const {
    const QByteArrayView reply(reply_);
    const qsizetype blankLine = reply.indexOf("\r\n\r\n");
    const qsizetype bodyStart = blankLine < 0 ? reply.size() : blankLine + 4;
    switch (pace_) {
    case Pace::TrickledBody:
        if (!sendAll(connection, reply.first(bodyStart)))
            return;
        for (qsizetype i = bodyStart; i < reply.size(); ++i) {
            if (!pause(connection, kTrickleGapMs) || !sendAll(connection, reply.sliced(i, 1)))
                return;
        }
        return;
    case Pace::PauseMidway: {
        const qsizetype middle = bodyStart + (reply.size() - bodyStart) / 2;
        if (sendAll(connection, reply.first(middle)) && pause(connection, kMidwayPauseMs))
            sendAll(connection, reply.sliced(middle));
        return;
    }
    case Pace::Flood: {
        const QByteArray filler(64 * 1024, 'x');
        bool sending = sendAll(connection, reply);
        for (qint64 sent = 0; sending && sent < kFloodBytes; sent += filler.size())
            sending = sendAll(connection, filler);
        return;
    }
    case Pace::AtOnce:
    case Pace::NeverReads:
        sendAll(connection, reply);
        return;
    }
}

// False when the client left before everything was sent, or the server is stopping.
bool RawHttpServer::sendAll(int connection, QByteArrayView bytes) const {
    while (!bytes.isEmpty()) {
        if (stopping_)
            return false;
        pollfd entry{connection, POLLOUT, 0};
        if (::poll(&entry, 1, kPollMs) <= 0)
            continue;
        const ssize_t sent =
            ::send(connection, bytes.data(), size_t(bytes.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        if (sent > 0)
            bytes = bytes.sliced(sent);
    }
    return true;
}

// Waits without reading; false as soon as the client leaves or the server is stopping.
bool RawHttpServer::pause(int connection, int milliseconds) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!stopping_ && std::chrono::steady_clock::now() < until) {
        pollfd entry{connection, POLLRDHUP, 0};
        if (::poll(&entry, 1, kPollMs) > 0)
            return false;
    }
    return !stopping_;
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
