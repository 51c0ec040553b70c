#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

// A loopback HTTP peer that keeps every request exactly as it arrived and answers each with
// the same canned bytes, at the pace chosen, then closes the connection. With no reply it
// never answers: the connection stays open until the client leaves or the server is
// destroyed.
class RawHttpServer {
public:
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
    void serve();
    void handle(int connection);
    QByteArray readRequest(int connection) const;
    void sendReply(int connection) const;
    bool sendAll(int connection, QByteArrayView bytes) const;
    bool pause(int connection, int milliseconds) const;
    void holdOpen(int connection) const;

    QByteArray reply_;
    Pace pace_;
    int listener_ = -1;
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
    int socket_ = -1;
    quint16 port_ = 0;
};
