#include "cloud_service/connection_gate.h"

#include "cloud_service/request_frame.h"
#include "cloud_service/service_log.h"
#include "cloud_service/tls_server_context.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>

namespace {

// TLS's largest record, so that one read takes a whole record and OpenSSL never holds
// received bytes that epoll cannot tell about.
constexpr std::size_t kReadChunk = std::size_t{16} * 1024;
constexpr int kEventsPerWait = 256;
// Event tags of the two descriptors that are not connections; connection ids start above.
constexpr std::uint64_t kWakeTag = 0;
constexpr std::uint64_t kListenTag = 1;
// When no deadline is near, the loop still wakes this often.
constexpr auto kLongestWait = std::chrono::seconds(60);
// Chunks read from one connection before the others get their turn.
constexpr int kChunksPerTurn = 4;
constexpr int kAcceptsPerTurn = 64;
// After the process ran out of files, accepting pauses this long instead of spinning.
constexpr auto kAcceptPause = std::chrono::milliseconds(100);
// Files kept for the database, the SMS program and the log when connections are counted.
constexpr std::size_t kFilesKeptFree = 64;
constexpr std::string_view kBlockEnd = "\r\n\r\n";
const std::string kContinue = "HTTP/1.1 100 Continue\r\n\r\n";

// A reply the gate writes itself, before or instead of a worker, after which it closes the
// connection. The text is a refusal the client shows like the service's own.
std::string cannedReply(int status, const char* reason, const std::string& text) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason +
           "\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Length: " +
           std::to_string(text.size()) + "\r\nConnection: close\r\n\r\n" + text;
}

const std::string& busyReply() {
    static const std::string reply =
        cannedReply(503, "Service Unavailable", "False:云端繁忙，请稍后再试");
    return reply;
}

const std::string& crowdedAddressReply() {
    static const std::string reply =
        cannedReply(503, "Service Unavailable", "False:此地址的连接过多，请稍后再试");
    return reply;
}

const std::string& timeoutReply() {
    static const std::string reply = cannedReply(408, "Request Timeout", "False:请求未能按时发完");
    return reply;
}

const std::string& frameReply(RequestFrame::State state) {
    static const std::string malformed = cannedReply(400, "Bad Request", "False:请求无法处理");
    static const std::string tooLong =
        cannedReply(431, "Request Header Fields Too Large", "False:请求头过长");
    static const std::string lengthRequired =
        cannedReply(411, "Length Required", "False:请求须带 Content-Length");
    if (state == RequestFrame::State::HeadersTooLong)
        return tooLong;
    if (state == RequestFrame::State::LengthRequired)
        return lengthRequired;
    return malformed;
}

// The address as text (an IPv4 address mapped into IPv6 as plain IPv4) and the port.
bool describe(const sockaddr_storage& address, std::string& text, int& port) {
    char buffer[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        sockaddr_in v4{};
        std::memcpy(&v4, &address, sizeof v4);
        port = ntohs(v4.sin_port);
        if (inet_ntop(AF_INET, &v4.sin_addr, buffer, sizeof buffer) == nullptr)
            return false;
    } else if (address.ss_family == AF_INET6) {
        sockaddr_in6 v6{};
        std::memcpy(&v6, &address, sizeof v6);
        port = ntohs(v6.sin6_port);
        const bool mapped = IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr);
        const void* bytes = mapped ? static_cast<const void*>(&v6.sin6_addr.s6_addr[12])
                                   : static_cast<const void*>(&v6.sin6_addr);
        if (inet_ntop(mapped ? AF_INET : AF_INET6, bytes, buffer, sizeof buffer) == nullptr)
            return false;
    } else {
        return false;
    }
    text = buffer;
    return true;
}

std::size_t openFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY)
        return std::size_t(-1);
    return std::size_t(limit.rlim_cur);
}

// Writes what the socket takes at once; a reply before closing is best effort.
void sendOnce(int socket, const std::string& bytes) {
    [[maybe_unused]] const ssize_t sent =
        ::send(socket, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
}

// What a read or write on a plain socket moved, as receive() and transmit() report it.
long plainResult(ssize_t result) {
    if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return -1;
    return result < 0 ? 0 : long(result);
}

// The same for an SSL_read or SSL_write. `waitsForOtherWay` is set when the call must wait
// for the socket's other direction: `otherWay` is SSL_ERROR_WANT_WRITE for a read and
// SSL_ERROR_WANT_READ for a write.
long tlsResult(SSL* tls, int result, int otherWay, bool& waitsForOtherWay) {
    const int error = result > 0 ? SSL_ERROR_NONE : SSL_get_error(tls, result);
    waitsForOtherWay = error == otherWay;
    if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE)
        return -1;
    return result > 0 ? result : 0;
}

} // namespace

bool isIpAddress(const std::string& text) {
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET, text.c_str(), address) == 1 ||
           inet_pton(AF_INET6, text.c_str(), address) == 1;
}

struct ConnectionGate::Connection {
    enum class Phase {
        Waiting,  // for the first byte of a request
        Reading,  // a request, until it is complete
        Skipping, // an oversized body, which is dropped
        Working,  // a worker has the request
        Writing,  // the reply
        Closed,
    };

    std::uint64_t id = 0;
    int socket = -1;
    std::string peerAddress;
    int peerPort = 0;
    std::string localAddress;
    int localPort = 0;
    Phase phase = Phase::Waiting;
    Clock::time_point deadline;
    std::string in;
    // Received bytes already searched for the end of the header block.
    std::size_t scanned = 0;
    std::optional<RequestFrame> frame;
    bool continueSent = false;
    std::size_t skipLeft = 0;
    std::string out;
    std::size_t sent = 0;
    bool closeAfterWrite = false;
    std::size_t served = 0;
    // The events epoll reports for it.
    std::uint32_t watched = 0;
    // Taken out of epoll: the peer went away while a worker had its request.
    bool unwatched = false;
    // The connection's TLS session, when the gate serves HTTPS. A TLS read may have to write
    // first (during the handshake) and a write may have to read; each waits for that.
    SSL* tls = nullptr;
    bool readWaitsToWrite = false;
    bool writeWaitsToRead = false;

    bool hasOutput() const { return sent < out.size(); }

    bool reads() const {
        return phase == Phase::Waiting || phase == Phase::Reading || phase == Phase::Skipping;
    }
    bool hasDeadline() const { return phase != Phase::Working && phase != Phase::Closed; }
};

ConnectionGate::ConnectionGate(Limits limits, Handler handler)
    : limits_(limits), handler_(std::move(handler)),
      wakeFd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)), epollFd_(epoll_create1(EPOLL_CLOEXEC)) {}

ConnectionGate::~ConnectionGate() {
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
    if (epollFd_ >= 0)
        ::close(epollFd_);
}

void ConnectionGate::exemptAddress(const std::string& address) {
    exempt_.insert(address);
}

void ConnectionGate::useTls(std::shared_ptr<TlsServerContext> tls) {
    tls_ = std::move(tls);
}

bool ConnectionGate::serve(int listeningSocket) {
    const int flags = listeningSocket < 0 ? -1 : fcntl(listeningSocket, F_GETFL);
    if (wakeFd_ < 0 || epollFd_ < 0 || flags < 0 ||
        fcntl(listeningSocket, F_SETFL, flags | O_NONBLOCK) != 0 ||
        !control(EPOLL_CTL_ADD, wakeFd_, EPOLLIN, kWakeTag) ||
        !control(EPOLL_CTL_ADD, listeningSocket, EPOLLIN, kListenTag)) {
        return false;
    }
    const std::size_t files = openFileLimit();
    maxConnections_ = std::min(limits_.connections,
                               files > 2 * kFilesKeptFree ? files - kFilesKeptFree : files / 2);
    startWorkers();
    nextExpiry_ = Clock::now() + kLongestWait;
    runLoop(listeningSocket);
    stopWorkers();
    for (auto& [id, connection] : connections_)
        if (connection->phase != Connection::Phase::Closed)
            close(*connection);
    connections_.clear();
    closed_.clear();
    control(EPOLL_CTL_DEL, listeningSocket, 0, kListenTag);
    control(EPOLL_CTL_DEL, wakeFd_, 0, kWakeTag);
    return true;
}

void ConnectionGate::stop() {
    stopping_ = true;
    wake();
}

void ConnectionGate::wake() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(wakeFd_, &one, sizeof one);
}

bool ConnectionGate::control(int operation, int socket, std::uint32_t events, std::uint64_t tag) {
    epoll_event event{};
    event.events = events;
    event.data.u64 = tag;
    return epoll_ctl(epollFd_, operation, socket, &event) == 0;
}

void ConnectionGate::runLoop(int listeningSocket) {
    epoll_event events[kEventsPerWait];
    bool accepting = true;
    while (!stopping_) {
        Clock::time_point now = Clock::now();
        if (!accepting && now >= acceptPausedUntil_)
            accepting = control(EPOLL_CTL_MOD, listeningSocket, EPOLLIN, kListenTag);
        const int ready = epoll_wait(epollFd_, events, kEventsPerWait, waitMs(now, accepting));
        if (ready < 0 && errno != EINTR) {
            ServiceLog::line(std::string("waiting for connections failed: ") +
                             std::strerror(errno));
            return;
        }
        now = Clock::now();
        bool canAccept = false;
        for (int i = 0; i < ready; ++i) {
            const std::uint64_t tag = events[i].data.u64;
            if (tag == kWakeTag) {
                std::uint64_t count = 0;
                [[maybe_unused]] const ssize_t read = ::read(wakeFd_, &count, sizeof count);
            } else if (tag == kListenTag) {
                canAccept = true;
            } else if (const auto found = connections_.find(tag); found != connections_.end()) {
                handle(*found->second, events[i].events, now);
            }
        }
        takeReplies(now);
        if (canAccept && !acceptAll(listeningSocket, now)) {
            // Out of files: pause instead of being woken for the same connection again and
            // again.
            accepting = !control(EPOLL_CTL_MOD, listeningSocket, 0, kListenTag);
            acceptPausedUntil_ = now + kAcceptPause;
        }
        if (now >= nextExpiry_)
            expire(now);
        dropClosed();
    }
}

int ConnectionGate::waitMs(Clock::time_point now, bool accepting) const {
    Clock::time_point next = std::min(nextExpiry_, now + kLongestWait);
    if (!accepting)
        next = std::min(next, acceptPausedUntil_);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - now).count();
    return int(std::max<std::int64_t>(wait, 0));
}

void ConnectionGate::handle(Connection& connection, std::uint32_t events, Clock::time_point now) {
    if (connection.phase == Connection::Phase::Closed)
        return;
    if (connection.phase == Connection::Phase::Working && (events & (EPOLLERR | EPOLLHUP)) != 0) {
        // epoll reports these whatever it watches; the reply will find the peer gone.
        control(EPOLL_CTL_DEL, connection.socket, 0, connection.id);
        connection.unwatched = true;
        return;
    }
    const bool readable = (events & (EPOLLIN | EPOLLERR | EPOLLHUP)) != 0;
    const bool writable = (events & (EPOLLOUT | EPOLLERR | EPOLLHUP)) != 0;
    if (connection.hasOutput() && (connection.writeWaitsToRead ? readable : writable))
        writeTo(connection, now);
    if (connection.reads() && (connection.readWaitsToWrite ? writable : readable))
        readFrom(connection, now);
    watch(connection);
}

void ConnectionGate::watch(Connection& connection) {
    if (connection.phase == Connection::Phase::Closed || connection.unwatched)
        return;
    std::uint32_t wanted = 0;
    if (connection.reads())
        wanted |= connection.readWaitsToWrite ? EPOLLOUT : EPOLLIN;
    if (connection.hasOutput())
        wanted |= connection.writeWaitsToRead ? EPOLLIN : EPOLLOUT;
    if (wanted != connection.watched &&
        control(EPOLL_CTL_MOD, connection.socket, wanted, connection.id)) {
        connection.watched = wanted;
    }
}

void ConnectionGate::setDeadline(Connection& connection, Clock::time_point deadline) {
    connection.deadline = deadline;
    nextExpiry_ = std::min(nextExpiry_, deadline);
}

bool ConnectionGate::acceptAll(int listeningSocket, Clock::time_point now) {
    for (int i = 0; i < kAcceptsPerTurn; ++i) {
        const int socket = accept4(listeningSocket, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (socket >= 0) {
            admit(socket, now);
            continue;
        }
        if (errno == EINTR || errno == ECONNABORTED)
            continue;
        return errno != EMFILE && errno != ENFILE && errno != ENOBUFS && errno != ENOMEM;
    }
    return true;
}

void ConnectionGate::admit(int socket, Clock::time_point now) {
    auto connection = std::make_unique<Connection>();
    sockaddr_storage peer{};
    sockaddr_storage local{};
    socklen_t peerLength = sizeof peer;
    socklen_t localLength = sizeof local;
    if (getpeername(socket, reinterpret_cast<sockaddr*>(&peer), &peerLength) != 0 ||
        getsockname(socket, reinterpret_cast<sockaddr*>(&local), &localLength) != 0 ||
        !describe(peer, connection->peerAddress, connection->peerPort) ||
        !describe(local, connection->localAddress, connection->localPort)) {
        ::close(socket);
        return;
    }
    if (connections_.size() >= maxConnections_) {
        if (!refusedForTotal_)
            ServiceLog::line("connections refused: " + std::to_string(connections_.size()) +
                             " open, the most the service holds");
        refusedForTotal_ = true;
        refuse(socket, busyReply());
        return;
    }
    if (connections_.size() <= maxConnections_ / 2)
        refusedForTotal_ = false;
    const std::string& address = connection->peerAddress;
    std::size_t& open = perAddress_[address];
    if (open >= limits_.connectionsPerAddress && exempt_.count(address) == 0) {
        if (refusedAddresses_.insert(address).second)
            ServiceLog::line("connections from " + address + " refused: " + std::to_string(open) +
                             " open, the most one address may hold");
        refuse(socket, crowdedAddressReply());
        return;
    }
    ++open;
    const int noDelay = 1;
    // A reply goes out in one write; waiting for more to fill the packet only delays it.
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    connection->id = nextId_++;
    connection->socket = socket;
    connection->watched = EPOLLIN;
    if (tls_) {
        connection->tls = SSL_new(tls_->native());
        if (connection->tls == nullptr || SSL_set_fd(connection->tls, socket) != 1) {
            SSL_free(connection->tls);
            ::close(socket);
            release(address);
            return;
        }
        SSL_set_accept_state(connection->tls);
    }
    if (!control(EPOLL_CTL_ADD, socket, connection->watched, connection->id)) {
        SSL_free(connection->tls);
        ::close(socket);
        release(address);
        return;
    }
    awaitRequest(*connection, now);
    connections_.emplace(connection->id, std::move(connection));
}

// Before a connection is admitted the gate writes its refusal in plain text; a TLS client
// could not read it and is only closed.
void ConnectionGate::refuse(int socket, const std::string& cannedReply) {
    if (!tls_)
        sendOnce(socket, cannedReply);
    ::close(socket);
}

long ConnectionGate::receive(Connection& connection, char* buffer, std::size_t size) {
    if (connection.tls == nullptr)
        return plainResult(::recv(connection.socket, buffer, size, 0));
    ERR_clear_error();
    return tlsResult(connection.tls, SSL_read(connection.tls, buffer, int(size)),
                     SSL_ERROR_WANT_WRITE, connection.readWaitsToWrite);
}

long ConnectionGate::transmit(Connection& connection, const char* bytes, std::size_t size) {
    if (connection.tls == nullptr)
        return plainResult(::send(connection.socket, bytes, size, MSG_NOSIGNAL));
    ERR_clear_error();
    return tlsResult(connection.tls, SSL_write(connection.tls, bytes, int(size)),
                     SSL_ERROR_WANT_READ, connection.writeWaitsToRead);
}

void ConnectionGate::readFrom(Connection& connection, Clock::time_point now) {
    char buffer[kReadChunk];
    for (int chunk = 0; chunk < kChunksPerTurn && connection.reads(); ++chunk) {
        const long received = receive(connection, buffer, sizeof buffer);
        if (received < 0)
            return;
        if (received == 0) {
            close(connection);
            return;
        }
        const auto length = std::size_t(received);
        if (connection.phase == Connection::Phase::Skipping) {
            connection.skipLeft -= std::min(length, connection.skipLeft);
            if (connection.skipLeft == 0)
                dispatch(connection, 0);
            continue;
        }
        if (connection.phase == Connection::Phase::Waiting) {
            connection.phase = Connection::Phase::Reading;
            setDeadline(connection, now + limits_.requestTime);
        }
        connection.in.append(buffer, length);
        frame(connection, now);
        if (length < sizeof buffer)
            return;
    }
}

void ConnectionGate::frame(Connection& connection, Clock::time_point now) {
    if (!connection.frame) {
        // Only the new bytes (and the three before them) can complete the blank line.
        const std::size_t from = connection.scanned < 3 ? 0 : connection.scanned - 3;
        const bool ended = connection.in.find(kBlockEnd, from) != std::string::npos;
        connection.scanned = connection.in.size();
        if (!ended && connection.in.size() < limits_.headerBytes)
            return;
        RequestFrame frame = frameRequest(connection.in, limits_.headerBytes);
        if (frame.state != RequestFrame::State::Complete) {
            closeWith(connection, frameReply(frame.state));
            return;
        }
        connection.frame = std::move(frame);
    }
    const RequestFrame& frame = *connection.frame;
    const std::size_t bodyReceived = connection.in.size() - frame.headerBytes;
    if (frame.bodyBytes > limits_.bodyBytes) {
        // Its handler refuses it without reading it; the client, unless it waits for
        // "100 Continue", is sending it all the same and reads the refusal only after that.
        if (frame.expectsContinue || bodyReceived >= frame.bodyBytes) {
            dispatch(connection, 0);
            return;
        }
        connection.skipLeft = frame.bodyBytes - bodyReceived;
        connection.in.resize(frame.headerBytes);
        connection.phase = Connection::Phase::Skipping;
        return;
    }
    if (bodyReceived >= frame.bodyBytes) {
        dispatch(connection, frame.bodyBytes);
        return;
    }
    if (frame.expectsContinue && !connection.continueSent) {
        connection.continueSent = true;
        connection.out += kContinue;
        writeTo(connection, now);
    }
}

void ConnectionGate::dispatch(Connection& connection, std::size_t bodyBytes) {
    RequestFrame& frame = *connection.frame;
    const bool oversized = frame.bodyBytes > bodyBytes;
    Job job{connection.id, {}};
    job.request.bytes = std::move(frame.headers);
    job.request.bytes.append(connection.in, frame.headerBytes, bodyBytes);
    job.request.peerAddress = connection.peerAddress;
    job.request.peerPort = connection.peerPort;
    job.request.localAddress = connection.localAddress;
    job.request.localPort = connection.localPort;
    ++connection.served;
    job.request.lastOnConnection = oversized || connection.served >= limits_.requestsPerConnection;
    connection.closeAfterWrite = job.request.lastOnConnection;
    connection.in.erase(0, oversized ? connection.in.size() : frame.headerBytes + bodyBytes);
    connection.frame.reset();
    connection.scanned = 0;
    connection.continueSent = false;
    connection.phase = Connection::Phase::Working;
    {
        std::lock_guard guard(lock_);
        jobs_.push_back(std::move(job));
    }
    jobReady_.notify_one();
}

void ConnectionGate::writeTo(Connection& connection, Clock::time_point now) {
    while (connection.hasOutput()) {
        const long sent = transmit(connection, connection.out.data() + connection.sent,
                                   connection.out.size() - connection.sent);
        if (sent < 0)
            return;
        if (sent == 0) {
            close(connection);
            return;
        }
        connection.sent += std::size_t(sent);
    }
    connection.out.clear();
    connection.sent = 0;
    if (connection.phase != Connection::Phase::Writing)
        return;
    if (connection.closeAfterWrite)
        close(connection);
    else
        awaitRequest(connection, now);
}

void ConnectionGate::awaitRequest(Connection& connection, Clock::time_point now) {
    if (connection.in.empty()) {
        connection.phase = Connection::Phase::Waiting;
        setDeadline(connection, now + limits_.idleTime);
        return;
    }
    // The client sent its next request before this reply.
    connection.phase = Connection::Phase::Reading;
    setDeadline(connection, now + limits_.requestTime);
    frame(connection, now);
}

void ConnectionGate::takeReplies(Clock::time_point now) {
    std::deque<Done> done;
    {
        std::lock_guard guard(lock_);
        done.swap(done_);
    }
    for (Done& finished : done) {
        const auto found = connections_.find(finished.connection);
        if (found == connections_.end())
            continue;
        Connection& connection = *found->second;
        connection.out += finished.reply.bytes;
        connection.closeAfterWrite = connection.closeAfterWrite || finished.reply.close;
        connection.phase = Connection::Phase::Writing;
        setDeadline(connection, now + limits_.requestTime);
        writeTo(connection, now);
        watch(connection);
    }
}

void ConnectionGate::expire(Clock::time_point now) {
    nextExpiry_ = now + kLongestWait;
    for (auto& [id, connection] : connections_) {
        if (!connection->hasDeadline())
            continue;
        if (now < connection->deadline) {
            nextExpiry_ = std::min(nextExpiry_, connection->deadline);
            continue;
        }
        if (connection->phase == Connection::Phase::Reading ||
            connection->phase == Connection::Phase::Skipping) {
            closeWith(*connection, timeoutReply());
        } else {
            close(*connection);
        }
    }
}

void ConnectionGate::closeWith(Connection& connection, const std::string& cannedReply) {
    // A reply before closing is best effort: what the socket takes at once.
    transmit(connection, cannedReply.data(), cannedReply.size());
    // Closing a socket with unread bytes resets the connection, and the client may lose the
    // reply; what has arrived is read first.
    char buffer[kReadChunk];
    for (int chunk = 0; chunk < kChunksPerTurn; ++chunk)
        if (receive(connection, buffer, sizeof buffer) <= 0)
            break;
    close(connection);
}

void ConnectionGate::close(Connection& connection) {
    if (connection.tls != nullptr) {
        // Tells the peer the stream ended on purpose, if the socket takes it at once.
        ERR_clear_error();
        SSL_shutdown(connection.tls);
        SSL_free(connection.tls);
        connection.tls = nullptr;
    }
    // Closing the descriptor also takes it out of epoll.
    ::close(connection.socket);
    connection.phase = Connection::Phase::Closed;
    closed_.push_back(connection.id);
    release(connection.peerAddress);
}

void ConnectionGate::release(const std::string& address) {
    const auto open = perAddress_.find(address);
    if (open != perAddress_.end() && --open->second == 0) {
        perAddress_.erase(open);
        refusedAddresses_.erase(address);
    }
}

void ConnectionGate::dropClosed() {
    for (const std::uint64_t id : closed_)
        connections_.erase(id);
    closed_.clear();
}

void ConnectionGate::startWorkers() {
    workersStop_ = false;
    for (std::size_t i = 0; i < std::max<std::size_t>(limits_.workers, 1); ++i)
        workers_.emplace_back([this] { work(); });
}

void ConnectionGate::stopWorkers() {
    {
        std::lock_guard guard(lock_);
        workersStop_ = true;
        jobs_.clear();
    }
    jobReady_.notify_all();
    for (std::thread& worker : workers_)
        worker.join();
    workers_.clear();
    done_.clear();
}

void ConnectionGate::work() {
    for (;;) {
        Job job;
        {
            std::unique_lock guard(lock_);
            jobReady_.wait(guard, [this] { return workersStop_ || !jobs_.empty(); });
            if (workersStop_)
                return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        Reply reply;
        try {
            reply = handler_(job.request);
        } catch (...) {
            reply = {{}, true};
        }
        {
            std::lock_guard guard(lock_);
            done_.push_back({job.connection, std::move(reply)});
        }
        wake();
    }
}
