// torvane-cloud with slow clients on loopback: the requests per second a client that sends its
// requests at once gets served, with no slow connections open and with --slow of them. Each
// slow connection comes from a loopback address of its own and sends its request's header
// one byte every 2 s, as a slow or hostile client does; one the service closes is opened again
// at once, so that many stay open. The good client asks `info` for its account, once on one
// kept-alive connection and once on a new connection per request.
//
// For comparison, the same figures for a bare handler served by cpp-httplib's own connection
// loop with 32 worker threads, the arrangement torvane-cloud had before it read requests in a
// gate of its own: there every slow connection holds a worker.
//
// --slow=N slow connections (default 200), --rounds=N rounds per figure (default 5),
// --round-ms=N length of a round (default 1000). Each figure is the median of its rounds.

#include "bench_support.h"
#include "common/loopback_connection.h"
#include "core/cloud/cloud_api.h"
#include "service_on_loopback.h"

#include <httplib.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QElapsedTimer>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr auto kBytePause = std::chrono::milliseconds(2000);
constexpr auto kTick = std::chrono::milliseconds(20);
// A request of the good client that gets no answer in this time ends its round.
constexpr int kGoodClientTimeoutSeconds = 2;
constexpr std::size_t kPlainWorkers = 32;
const std::string kPath = "/admin/user_reg.php?act=info";
const std::string kSlowHeader = "POST " + kPath +
                                " HTTP/1.1\r\nHost: 127.0.0.1\r\nUser-Agent: slow\r\n"
                                "Content-Type: application/x-www-form-urlencoded\r\n"
                                "Content-Length: 100\r\n\r\n";

// The loopback address of slow connection `index`: 127.1.x.y, never the good client's
// 127.0.0.1.
std::string slowAddress(std::size_t index) {
    return "127.1." + std::to_string(index / 250) + "." + std::to_string(index % 250 + 1);
}

// The slow connections, driven by a thread of their own until the object goes.
class SlowCrowd {
public:
    SlowCrowd(int port, int count) : port_(port) {
        const auto now = std::chrono::steady_clock::now();
        for (int i = 0; i < count; ++i) {
            // Spread over the pause, so bytes arrive at the server all the time.
            const auto first = now + kBytePause * i / std::max(count, 1);
            connections_.push_back({-1, slowAddress(std::size_t(i)), 0, first});
        }
        thread_ = std::thread([this] { run(); });
    }

    ~SlowCrowd() {
        stop_ = true;
        thread_.join();
        for (const Connection& connection : connections_)
            if (connection.socket >= 0)
                ::close(connection.socket);
    }

    SlowCrowd(const SlowCrowd&) = delete;
    SlowCrowd& operator=(const SlowCrowd&) = delete;

    int open() const { return open_; }
    // Connections the server closed (deadline, refusal) since the crowd started.
    int closedByServer() const { return closed_; }

private:
    struct Connection {
        int socket = -1;
        std::string address;
        std::size_t sent = 0;
        std::chrono::steady_clock::time_point nextByte;
    };

    void run() {
        while (!stop_) {
            const auto now = std::chrono::steady_clock::now();
            int open = 0;
            for (Connection& connection : connections_) {
                step(connection, now);
                open += connection.socket >= 0 ? 1 : 0;
            }
            open_ = open;
            std::this_thread::sleep_for(kTick);
        }
    }

    void step(Connection& connection, std::chrono::steady_clock::time_point now) {
        if (connection.socket >= 0 && closedByPeer(connection.socket)) {
            ::close(connection.socket);
            connection.socket = -1;
            ++closed_;
        }
        if (connection.socket < 0) {
            connection.socket =
                connectFromLoopback(connection.address.c_str(), std::uint16_t(port_), true);
            connection.sent = 0;
        }
        if (connection.socket < 0 || now < connection.nextByte)
            return;
        connection.nextByte = now + kBytePause;
        // Not connected yet: the byte goes with the next one.
        if (connection.sent < kSlowHeader.size() &&
            ::send(connection.socket, kSlowHeader.data() + connection.sent, 1, MSG_NOSIGNAL) == 1) {
            ++connection.sent;
        }
    }

    static bool closedByPeer(int socket) {
        char buffer[1024];
        const ssize_t received = ::recv(socket, buffer, sizeof buffer, MSG_DONTWAIT);
        return received == 0 ||
               (received < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != ENOTCONN);
    }

    int port_;
    std::vector<Connection> connections_;
    std::atomic<int> open_{0};
    std::atomic<int> closed_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

// Requests per second the good client gets answered "True" in one round.
double goodClientRound(int port, const std::string& body, bool keptAlive, int roundMs) {
    std::unique_ptr<httplib::Client> client;
    QElapsedTimer round;
    round.start();
    int served = 0;
    while (round.elapsed() < roundMs) {
        if (!client || !keptAlive) {
            client = std::make_unique<httplib::Client>("127.0.0.1", port);
            client->set_keep_alive(keptAlive);
            // As the program's own client does; otherwise the body, written after the header,
            // waits for the server's delayed acknowledgement on a kept-alive connection.
            client->set_tcp_nodelay(true);
            client->set_connection_timeout(kGoodClientTimeoutSeconds, 0);
            client->set_read_timeout(kGoodClientTimeoutSeconds, 0);
        }
        const auto reply = client->Post(kPath.c_str(), body, "application/x-www-form-urlencoded");
        if (!reply || reply->body != "True")
            break;
        ++served;
    }
    return served / (double(round.nsecsElapsed()) / 1e9);
}

struct Figures {
    double keptAlive = 0;
    double newConnections = 0;
};

Figures goodClient(int port, const std::string& body, int rounds, int roundMs) {
    std::vector<double> keptAlive;
    std::vector<double> fresh;
    for (int r = 0; r < rounds; ++r) {
        keptAlive.push_back(goodClientRound(port, body, true, roundMs));
        fresh.push_back(goodClientRound(port, body, false, roundMs));
    }
    return {median(keptAlive), median(fresh)};
}

struct Comparison {
    Figures quiet;
    Figures crowded;
    double openDuring = 0;
    int closedByServer = 0;
};

// The good client's figures without and then with the slow crowd.
Comparison measure(int port, const std::string& body, int slow, int rounds, int roundMs) {
    Comparison comparison;
    comparison.quiet = goodClient(port, body, rounds, roundMs);
    const SlowCrowd crowd(port, slow);
    // Every connection has been opened and has sent its first byte.
    std::this_thread::sleep_for(kBytePause + std::chrono::milliseconds(500));
    comparison.crowded = goodClient(port, body, rounds, roundMs);
    comparison.openDuring = crowd.open();
    comparison.closedByServer = crowd.closedByServer();
    return comparison;
}

void report(const char* server, const Comparison& c, int slow) {
    std::printf("%s (%d slow connections open at the end, %d closed by the server and opened "
                "again):\n",
                server, int(c.openDuring), c.closedByServer);
    std::printf("  kept-alive connection   %8.0f requests/s quiet  %8.0f with %d slow  = %.2f\n",
                c.quiet.keptAlive, c.crowded.keptAlive, slow,
                c.crowded.keptAlive / std::max(c.quiet.keptAlive, 1e-9));
    std::printf("  new connection each     %8.0f requests/s quiet  %8.0f with %d slow  = %.2f\n",
                c.quiet.newConnections, c.crowded.newConnections, slow,
                c.crowded.newConnections / std::max(c.quiet.newConnections, 1e-9));
}

bool registerAccount(const ServiceOnLoopback& service, const CloudApi::Account& account) {
    httplib::Client client("127.0.0.1", service.port());
    const std::string phone = "13800000001";
    const auto sent = client.Post("/admin/user_reg.php?act=sendsms", "phone=" + phone,
                                  "application/x-www-form-urlencoded");
    if (!sent || sent->body != "True")
        return false;
    const QByteArray body = CloudApi::formBody({{u"username"_s, account.username},
                                                {u"password"_s, account.password},
                                                {u"phone"_s, QString::fromStdString(phone)},
                                                {u"vcode"_s, service.lastSmsCode()},
                                                {u"qq"_s, u"1"_s},
                                                {u"mail"_s, u"m"_s}});
    const auto registered = client.Post("/admin/user_reg.php?act=reg", body.toStdString(),
                                        "application/x-www-form-urlencoded");
    return registered && registered->body == "True";
}

} // namespace

int main(int argc, char* argv[]) {
    const int slow = intOption(argc, argv, "--slow=", 200);
    const int rounds = intOption(argc, argv, "--rounds=", 5);
    const int roundMs = intOption(argc, argv, "--round-ms=", 1000);

    // The service with its own limits: the request time and the connections per address.
    const ServiceOnLoopback service;
    const CloudApi::Account account{u"good"_s, u"good-pw"_s};
    if (service.port() <= 0 || !registerAccount(service, account)) {
        std::fprintf(stderr, "the service did not come up\n");
        return 1;
    }
    const std::string body = CloudApi::formBody(CloudApi::accountBody(account)).toStdString();
    const Comparison gated = measure(service.port(), body, slow, rounds, roundMs);

    httplib::Server plain;
    plain.new_task_queue = [] { return new httplib::ThreadPool(kPlainWorkers); };
    plain.set_tcp_nodelay(true);
    plain.Post("/admin/user_reg.php", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("True", "text/plain; charset=utf-8");
    });
    const int plainPort = plain.bind_to_any_port("127.0.0.1");
    std::thread plainThread([&plain] { plain.listen_after_bind(); });
    const Comparison ungated = measure(plainPort, body, slow, rounds, roundMs);
    plain.stop();
    plainThread.join();

    std::printf("a good client's info requests, median of %d rounds of %d ms, %d slow "
                "connections sending a header byte every 2 s:\n",
                rounds, roundMs, slow);
    report("torvane-cloud", gated, slow);
    report("bare handler, cpp-httplib's own loop, 32 workers", ungated, slow);
    const bool held = gated.crowded.keptAlive >= gated.quiet.keptAlive / 2 &&
                      gated.crowded.newConnections >= gated.quiet.newConnections / 2;
    std::printf("torvane-cloud serves the good client at least half as fast with the slow "
                "connections: %s\n",
                held ? "yes" : "no");
    return 0;
}
