#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

// A loopback HTTP peer that keeps every request exactly as it arrived and answers each with
// the same canned bytes, or with the bytes its responder makes of the request, at the pace
// chosen, then closes the connection. With no reply it never answers: the connection stays
// open until the client leaves or the server is destroyed. Plain sockets, on Linux and on
// Windows (Winsock), where the tests have no other HTTP server.
class RawHttpServer {
public:
    // The whole reply to one request, as it arrived, from the peer at `peerAddress`.
    using Responder =
        std::function<QByteArray(const QByteArray& request, const QString& peerAddress)>;

    // How the reply goes out. The slow and endless paces stop as soon as the client leaves.
    enum class Pace {
        AtOnce,
        // The head at once, then the body one byte every 100 ms.
        TrickledBody,
        // The head and half the body, three seconds of silence, then the rest.
        PauseMidway,
        // The reply, then filler bytes until the client leaves or kFloodBytes have gone.
        Flood,
        // Neither reads nor answers, with a small receive buffer: a large request body
        // cannot be sent. No request is recorded.
        NeverReads,
    };
    static constexpr qint64 kFloodBytes = 64 * 1024 * 1024;

    explicit RawHttpServer(QByteArray reply = {}, Pace pace = Pace::AtOnce);
    explicit RawHttpServer(Responder responder);
    ~RawHttpServer();
    RawHttpServer(const RawHttpServer&) = delete;
    RawHttpServer& operator=(const RawHttpServer&) = delete;

    bool isListening() const { return listener_ >= 0; }
    quint16 port() const { return port_; }
    QString url(const QString& path) const;

    // The oldest request not taken yet, waiting up to five seconds for one; empty when none
    // came.
    QByteArray takeRequest();

private:
    void listen();
    void serve();
    void handle(qintptr connection, const QString& peerAddress);
    QByteArray readRequest(qintptr connection) const;
    void sendReply(qintptr connection, QByteArrayView reply) const;
    bool sendAll(qintptr connection, QByteArrayView bytes) const;
    bool pause(qintptr connection, int milliseconds) const;
    void holdOpen(qintptr connection) const;

    QByteArray reply_;
    Responder responder_;
    Pace pace_ = Pace::AtOnce;
    // A socket descriptor, -1 when there is none.
    qintptr listener_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stopping_{false};
    std::mutex lock_;
    std::condition_variable arrived_;
    std::deque<QByteArray> requests_;
    std::thread thread_;
};

// A loopback port on which nothing listens: connecting to it is refused. The port stays bound
// for the life of the object, so nothing else takes it meanwhile.
class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    quint16 port() const { return port_; }

private:
    qintptr socket_ = -1;
    quint16 port_ = 0;
};
