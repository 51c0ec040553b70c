#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

class TlsServerContext;

// True for an IPv4 or IPv6 address in text form.
bool isIpAddress(const std::string& text);

// Stands between the listening socket and the worker threads. One thread accepts every
// connection and reads each request whole, header block and body, within a deadline; only a
// complete request goes to a worker, and the worker's reply comes back to that thread, which
// writes it out. A client that sends slowly, or not at all, holds a socket and a little
// memory until its deadline, never a worker, so a few hundred of them cannot keep the
// workers from the clients that send their requests at once.
//
// One peer address holds a bounded number of connections; further ones are answered 503 and
// closed. Requests are HTTP/1.1 with a Content-Length (or none); the gate answers
// "Expect: 100-continue" itself. With a TLS context, every connection speaks TLS, its
// handshake and records read and written by the same thread. Linux only (epoll, eventfd).
class ConnectionGate {
public:
    struct Limits {
        // Headers and body of one request, from its first byte; also the time its reply may
        // take to be written.
        std::chrono::milliseconds requestTime{10000};
        // How long a connection may wait for its (next) request's first byte.
        std::chrono::milliseconds idleTime{5000};
        std::size_t connectionsPerAddress = 16;
        // Open at once; also kept below the process's limit of open files.
        std::size_t connections = 1024;
        std::size_t workers = 32;
        // A larger body is read and dropped, and the request goes on without it (its handler
        // answers 413).
        std::size_t bodyBytes = std::size_t(1) << 20;
        std::size_t headerBytes = std::size_t{16} * 1024;
        // Requests one connection may carry before it is closed.
        std::size_t requestsPerConnection = 100;
    };

    // One complete request as a worker gets it.
    struct Request {
        std::string bytes; // header block and body
        std::string peerAddress;
        int peerPort = 0;
        std::string localAddress;
        int localPort = 0;
        bool lastOnConnection = false;
    };

    // The reply's bytes, and whether the connection ends after them.
    struct Reply {
        std::string bytes;
        bool close = false;
    };

    using Handler = std::function<Reply(const Request&)>;

    ConnectionGate(Limits limits, Handler handler);
    ~ConnectionGate();

    ConnectionGate(const ConnectionGate&) = delete;
    ConnectionGate& operator=(const ConnectionGate&) = delete;

    // Connections from this address are not held to the per-address limit (a reverse proxy
    // that brings every client's requests). Call before serve().
    void exemptAddress(const std::string& address);
    // Serve HTTPS with this identity. Call before serve().
    void useTls(std::shared_ptr<TlsServerContext> tls);

    // Accepts from the bound, listening socket and serves until stop(); false when it could
    // not start. The socket stays open.
    bool serve(int listeningSocket);
    // Ends serve() from any thread; requests in the workers' hands are finished first.
    void stop();

private:
    struct Connection;
    using Clock = std::chrono::steady_clock;

    bool control(int operation, int socket, std::uint32_t events, std::uint64_t tag);
    void runLoop(int listeningSocket);
    int waitMs(Clock::time_point now, bool accepting) const;
    void handle(Connection& connection, std::uint32_t events, Clock::time_point now);
    void watch(Connection& connection);
    // False when the process has run out of files.
    bool acceptAll(int listeningSocket, Clock::time_point now);
    void admit(int socket, Clock::time_point now);
    void refuse(int socket, const std::string& cannedReply);
    // What one read or write moved: a count, 0 when the connection ended or failed, or -1
    // when the socket is not ready for it.
    long receive(Connection& connection, char* buffer, std::size_t size);
    long transmit(Connection& connection, const char* bytes, std::size_t size);
    void readFrom(Connection& connection, Clock::time_point now);
    void frame(Connection& connection, Clock::time_point now);
    void dispatch(Connection& connection, std::size_t bodyBytes);
    void writeTo(Connection& connection, Clock::time_point now);
    void takeReplies(Clock::time_point now);
    void setDeadline(Connection& connection, Clock::time_point deadline);
    void expire(Clock::time_point now);
    void awaitRequest(Connection& connection, Clock::time_point now);
    void closeWith(Connection& connection, const std::string& cannedReply);
    void close(Connection& connection);
    void release(const std::string& address);
    void dropClosed();

    void work();
    void startWorkers();
    void stopWorkers();
    void wake();

    Limits limits_;
    Handler handler_;
    std::set<std::string> exempt_;
    std::shared_ptr<TlsServerContext> tls_;
    int wakeFd_ = -1;
    int epollFd_ = -1;
    std::atomic<bool> stopping_{false};

    // Owned by the loop's thread.
    std::unordered_map<std::uint64_t, std::unique_ptr<Connection>> connections_;
    std::vector<std::uint64_t> closed_; // dropped after the events of one wait
    // No deadline is due before this; the deadlines are looked at again then.
    Clock::time_point nextExpiry_{};
    std::unordered_map<std::string, std::size_t> perAddress_;
    std::set<std::string> refusedAddresses_; // logged once while they stay at their limit
    bool refusedForTotal_ = false;
    std::size_t maxConnections_ = 0;
    std::uint64_t nextId_ = 2; // 0 and 1 tag the wake-up and listening descriptors
    Clock::time_point acceptPausedUntil_{};

    // Shared with the workers.
    struct Job {
        std::uint64_t connection = 0;
        Request request;
    };
    struct Done {
        std::uint64_t connection = 0;
        Reply reply;
    };
    std::mutex lock_;
    std::condition_variable jobReady_;
    std::deque<Job> jobs_;
    std::deque<Done> done_;
    bool workersStop_ = false;
    std::vector<std::thread> workers_;
};
