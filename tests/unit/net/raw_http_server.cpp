#include "raw_http_server.h"

#include <QList>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <chrono>

using namespace Qt::StringLiterals;

namespace {

constexpr int kPollMs = 50;
constexpr auto kRequestDeadline = std::chrono::seconds(5);
constexpr int kTrickleGapMs = 100;
constexpr int kMidwayPauseMs = 3000;
// Small enough that a request body of a few MiB fills it and the client's send buffer.
constexpr int kNeverReadsBuffer = 4096;

// What differs between POSIX sockets and Winsock, in one place.
#ifdef _WIN32
using Socket = SOCKET;
using Length = int;

bool socketsReady() {
    static const bool ready = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ready;
}

Socket streamSocket() {
    return socketsReady() ? ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                         WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT)
                          : INVALID_SOCKET;
}

void closeSocket(qintptr fd) {
    ::closesocket(Socket(fd));
}

bool makeNonBlocking(qintptr fd) {
    u_long on = 1;
    return ::ioctlsocket(Socket(fd), FIONBIO, &on) == 0;
}

bool wouldBlock() {
    return ::WSAGetLastError() == WSAEWOULDBLOCK;
}

int pollOne(qintptr fd, short events) {
    WSAPOLLFD entry{Socket(fd), events, 0};
    return ::WSAPoll(&entry, 1, kPollMs);
}

// Winsock reports a closed or reset connection as a hang-up or an error, or as a readable
// socket whose next read would end the stream. Request bytes still waiting are no sign either
// way, so then it only waits.
bool peerLeft(qintptr fd) {
    WSAPOLLFD entry{Socket(fd), POLLRDNORM, 0};
    if (::WSAPoll(&entry, 1, kPollMs) <= 0)
        return false;
    char next = 0;
    if ((entry.revents & (POLLHUP | POLLERR)) != 0 || ::recv(Socket(fd), &next, 1, MSG_PEEK) == 0)
        return true;
    ::Sleep(kPollMs);
    return false;
}

constexpr int kSendFlags = 0;
constexpr int kShutWrite = SD_SEND;
#else
using Socket = int;
using Length = socklen_t;

Socket streamSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}

void closeSocket(qintptr fd) {
    ::close(int(fd));
}

bool makeNonBlocking(qintptr fd) {
    const int flags = ::fcntl(int(fd), F_GETFL);
    return flags >= 0 && ::fcntl(int(fd), F_SETFL, flags | O_NONBLOCK) == 0;
}

bool wouldBlock() {
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

int pollOne(qintptr fd, short events) {
    pollfd entry{int(fd), events, 0};
    return ::poll(&entry, 1, kPollMs);
}

// Waits up to one poll interval for the peer to hang up.
bool peerLeft(qintptr fd) {
    pollfd entry{int(fd), POLLRDHUP, 0};
    return ::poll(&entry, 1, kPollMs) > 0;
}

constexpr int kSendFlags = MSG_NOSIGNAL;
constexpr int kShutWrite = SHUT_WR;
#endif

// A TCP socket bound to 127.0.0.1 on a free port; -1 when there is none.
qintptr boundLoopbackSocket(quint16& port) {
    const Socket fd = streamSocket();
    if (qintptr(fd) < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    Length length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closeSocket(qintptr(fd));
        return -1;
    }
    port = ntohs(address.sin_port);
    return qintptr(fd);
}

bool readable(qintptr fd) {
    return pollOne(fd, POLLIN) > 0;
}

// A connection with its peer's address; -1 when none was waiting.
qintptr acceptConnection(qintptr listener, QString& peerAddress) {
    sockaddr_in peer{};
    Length length = sizeof peer;
    const Socket fd = ::accept(Socket(listener), reinterpret_cast<sockaddr*>(&peer), &length);
    if (qintptr(fd) < 0)
        return -1;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &peer.sin_addr, text, sizeof text);
    peerAddress = QString::fromLatin1(text);
    return qintptr(fd);
}

int receive(qintptr fd, char* buffer, int size) {
    return int(::recv(Socket(fd), buffer, size, 0));
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
    listen();
}

RawHttpServer::RawHttpServer(Responder responder) : responder_(std::move(responder)) {
    listen();
}

void RawHttpServer::listen() {
    listener_ = boundLoopbackSocket(port_);
    if (listener_ >= 0 && pace_ == Pace::NeverReads)
        ::setsockopt(Socket(listener_), SOL_SOCKET, SO_RCVBUF,
                     reinterpret_cast<const char*>(&kNeverReadsBuffer), sizeof kNeverReadsBuffer);
    if (listener_ >= 0 && ::listen(Socket(listener_), 8) != 0) {
        closeSocket(listener_);
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
        closeSocket(listener_);
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
        QString peerAddress;
        const qintptr connection = acceptConnection(listener_, peerAddress);
        if (connection >= 0 && makeNonBlocking(connection))
            handle(connection, peerAddress);
        else if (connection >= 0)
            closeSocket(connection);
    }
}

void RawHttpServer::handle(qintptr connection, const QString& peerAddress) {
    if (pace_ == Pace::NeverReads) {
        while (pause(connection, kPollMs)) {
        }
        closeSocket(connection);
        return;
    }
    const QByteArray request = readRequest(connection);
    {
        std::lock_guard guard(lock_);
        requests_.push_back(request);
    }
    arrived_.notify_all();
    const QByteArray reply = responder_ ? responder_(request, peerAddress) : reply_;
    if (reply.isEmpty()) {
        holdOpen(connection);
    } else {
        sendReply(connection, reply);
        ::shutdown(Socket(connection), kShutWrite);
        // Let the client read everything before the socket goes away.
        while (!stopping_ && readable(connection)) {
            char sink[512];
            if (receive(connection, sink, sizeof sink) <= 0)
                break;
        }
    }
    closeSocket(connection);
}

QByteArray RawHttpServer::readRequest(qintptr connection) const {
    QByteArray request;
    const auto deadline = std::chrono::steady_clock::now() + kRequestDeadline;
    while (!stopping_ && !isComplete(request) && std::chrono::steady_clock::now() < deadline) {
        if (!readable(connection))
            continue;
        char buffer[4096];
        const int got = receive(connection, buffer, sizeof buffer);
        if (got == 0 || (got < 0 && !wouldBlock()))
            break;
        if (got < 0)
            continue;
        request.append(buffer, got);
    }
    return request;
}

void RawHttpServer::sendReply(qintptr connection, QByteArrayView reply) const {
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
bool RawHttpServer::sendAll(qintptr connection, QByteArrayView bytes) const {
    while (!bytes.isEmpty()) {
        if (stopping_)
            return false;
        if (pollOne(connection, POLLOUT) <= 0)
            continue;
        const int sent =
            int(::send(Socket(connection), bytes.data(), int(bytes.size()), kSendFlags));
        if (sent < 0 && !wouldBlock())
            return false;
        if (sent > 0)
            bytes = bytes.sliced(sent);
    }
    return true;
}

// Waits without reading; false as soon as the client leaves or the server is stopping.
bool RawHttpServer::pause(qintptr connection, int milliseconds) const {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!stopping_ && std::chrono::steady_clock::now() < until) {
        if (peerLeft(connection))
            return false;
    }
    return !stopping_;
}

// Stays silent until the client gives up (closes) or the server is destroyed.
void RawHttpServer::holdOpen(qintptr connection) const {
    while (!stopping_) {
        if (!readable(connection))
            continue;
        char sink[512];
        const int got = receive(connection, sink, sizeof sink);
        if (got == 0 || (got < 0 && !wouldBlock()))
            return;
    }
}

RefusingPort::RefusingPort() {
    socket_ = boundLoopbackSocket(port_);
}

RefusingPort::~RefusingPort() {
    if (socket_ >= 0)
        closeSocket(socket_);
}
