// torvane-cloud under load on loopback, against the limit measured in the same run:
//  - many clients at once, each on its kept-alive connection, storing servers (`update`) and
//    reading their lists (`down`, every fourth request): requests per second and the 99th
//    percentile of the latency, for the service and for a bare cpp-httplib handler that
//    answers every request with "True" (same connection handling, same request bytes), and
//    for that handler on cpp-httplib's own connection loop with 32 worker threads, which
//    torvane-cloud used before it read requests in a gate of its own;
//  - the cost of one `info`: a wrong password always pays the full password hash; the right
//    password, once checked, is remembered and compared by a keyed digest.
// Each server runs in a process of its own, apart from the clients, and the three take turns,
// round after round, so load from other work on the machine falls on all of them alike; the
// figures are the medians over the rounds.
//
// --clients=N concurrent clients (default 16), --requests=N per client (default 300),
// --rounds=N turns of the three (default 3), --infos=N repetitions of each `info`
// measurement (default 20).

#include "bench_support.h"
#include "cloud_service/http_server.h"
#include "core/cloud/cloud_api.h"
#include "service_on_loopback.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>

#include <httplib.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <memory>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int kAccounts = 4;
constexpr int kAddressesPerClient = 20;
constexpr int kUnlimited = 1000000;
constexpr std::size_t kPlainWorkers = 32;

struct Load {
    double requestsPerSecond = 0;
    double p99Ms = 0;
    int failures = 0;
};

void liftLimits(CloudService::Settings& settings) {
    settings.connections.connectionsPerAddress = kUnlimited;
    settings.throttle.loginsPerAddress.allowance = kUnlimited;
    settings.throttle.loginsPerAccount.allowance = kUnlimited;
}

// A server object serving on its own thread on 127.0.0.1 and a free port.
class Running {
public:
    Running(std::function<int()> bind, std::function<void()> serve, std::function<void()> stop)
        : stop_(std::move(stop)) {
        port_ = bind();
        if (port_ > 0)
            thread_ = std::thread(std::move(serve));
    }
    ~Running() {
        if (thread_.joinable()) {
            stop_();
            thread_.join();
        }
    }
    int port() const { return port_; }

private:
    std::function<void()> stop_;
    int port_ = -1;
    std::thread thread_;
};

bool waitUntilAnswering(int port) {
    httplib::Client client("127.0.0.1", port);
    for (int i = 0; i < 500; ++i) {
        if (client.Get("/admin/user_reg.php?act=get_ip"))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::string post(httplib::Client& client, const char* act, const QByteArray& body,
                 int* status = nullptr) {
    const auto result = client.Post((std::string("/admin/user_reg.php?act=") + act).c_str(),
                                    body.toStdString(), "application/x-www-form-urlencoded");
    if (status != nullptr)
        *status = result ? result->status : 0;
    return result ? result->body : std::string();
}

CloudApi::Account account(int index) {
    return {u"bench%1"_s.arg(index), u"密码 %1&x"_s.arg(index)};
}

// What one client sends, in order: updates of its own addresses, every fourth a list read.
std::vector<std::pair<const char*, QByteArray>> clientRequests(int client, int count) {
    const CloudApi::Account owner = account(client % kAccounts);
    std::vector<std::pair<const char*, QByteArray>> requests;
    for (int r = 0; r < count; ++r) {
        if (r % 4 == 3) {
            requests.emplace_back("down", CloudApi::formBody(CloudApi::accountBody(owner)));
            continue;
        }
        const QString ip = u"10.%1.%2.1"_s.arg(client).arg(r % kAddressesPerClient);
        requests.emplace_back("update",
                              CloudApi::formBody(CloudApi::accountBody(
                                  owner, {{u"server_class"_s, u"默认分组"_s},
                                          {u"server_name"_s, u"香港 %1"_s.arg(r)},
                                          {u"server_ip"_s, ip},
                                          {u"start_time"_s, u"2024-1-1 8:0:0"_s},
                                          {u"end_time"_s, u"2025-1-1 8:0:0"_s},
                                          {u"remark"_s, u"无"_s},
                                          {u"system"_s, u"linux"_s},
                                          {u"sort"_s, u"50"_s},
                                          {u"server_port"_s, u"22"_s},
                                          {u"server_user"_s, u"root"_s},
                                          {u"server_pass"_s, u"9C9F9E5F50137C3"_s},
                                          {u"baota_url"_s, u"https://"_s + ip + u":8888/x"_s},
                                          {u"baota_user"_s, u"bt"_s},
                                          {u"baota_pass"_s, u"9C9F9E5F50137C3"_s},
                                          {u"baota_apikey"_s, u"9C9F9E5F50137C3"_s}})));
    }
    return requests;
}

Load runLoad(int port, int clients, int requestsEach) {
    std::vector<std::vector<std::pair<const char*, QByteArray>>> plans;
    for (int c = 0; c < clients; ++c)
        plans.push_back(clientRequests(c, requestsEach));
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients));
    std::atomic<int> failures{0};
    QElapsedTimer wall;
    wall.start();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            client.set_read_timeout(60, 0);
            for (const auto& [act, body] : plans[std::size_t(c)]) {
                QElapsedTimer timer;
                timer.start();
                int status = 0;
                const std::string reply = post(client, act, body, &status);
                latencies[std::size_t(c)].push_back(double(timer.nsecsElapsed()) / 1e6);
                if (status != 200 || reply.rfind("False", 0) == 0)
                    ++failures;
            }
        });
    }
    for (std::thread& t : threads)
        t.join();
    const double seconds = double(wall.nsecsElapsed()) / 1e9;
    std::vector<double> all;
    for (const auto& l : latencies)
        all.insert(all.end(), l.begin(), l.end());
    return {double(all.size()) / seconds, percentile(all, 0.99), failures.load()};
}

double medianMs(int runs, const std::function<void()>& action) {
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        action();
        samples.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return percentile(samples, 0.5);
}

// Registers the bench accounts; the SMS codes come through a program that writes them to
// a file.
bool registerAccounts(const ServiceOnLoopback& service) {
    httplib::Client client("127.0.0.1", service.port());
    for (int a = 0; a < kAccounts; ++a) {
        const QString phone = u"1380000%1"_s.arg(a, 4, 10, QChar(u'0'));
        if (post(client, "sendsms", CloudApi::formBody({{u"phone"_s, phone}})) != "True")
            return false;
        const QString code = service.lastSmsCode();
        const CloudApi::Account owner = account(a);
        if (post(client, "reg",
                 CloudApi::formBody({{u"username"_s, owner.username},
                                     {u"password"_s, owner.password},
                                     {u"phone"_s, phone},
                                     {u"vcode"_s, code},
                                     {u"qq"_s, u"1"_s},
                                     {u"mail"_s, u"m"_s}})) != "True") {
            return false;
        }
    }
    return true;
}

} // namespace

// The server named by `kind` ("service", "bare" or "plain") on 127.0.0.1 and a free port,
// in this process: prints the port (after registering the bench accounts, for the service)
// and serves until its standard input ends.
int serve(const std::string& kind) {
    CloudService::Settings lifted;
    liftLimits(lifted);
    const auto answerTrue = [](const httplib::Request&, httplib::Response& response) {
        response.set_content("True", "text/plain; charset=utf-8");
    };
    const auto waitForTheEnd = [](int port) {
        std::printf("%d\n", port);
        std::fflush(stdout);
        for (std::string line; std::getline(std::cin, line);) {
        }
        return port > 0 ? 0 : 1;
    };
    if (kind == "service") {
        // Limits far above this load: it measures throughput and the cost of a hash, not the
        // throttle (its wrong passwords would be held back after a few).
        const ServiceOnLoopback service(liftLimits);
        const bool up =
            service.port() > 0 && waitUntilAnswering(service.port()) && registerAccounts(service);
        return waitForTheEnd(up ? service.port() : -1);
    }
    if (kind == "bare") {
        HttpServer bare(lifted.connections);
        bare.Get("/admin/user_reg.php", answerTrue);
        bare.Post("/admin/user_reg.php", answerTrue);
        const Running run([&] { return bare.bind("127.0.0.1", 0); }, [&] { bare.serve(); },
                          [&] { bare.stop(); });
        return waitForTheEnd(run.port());
    }
    httplib::Server plain;
    plain.new_task_queue = [] { return new httplib::ThreadPool(kPlainWorkers); };
    plain.set_tcp_nodelay(true);
    plain.Get("/admin/user_reg.php", answerTrue);
    plain.Post("/admin/user_reg.php", answerTrue);
    const Running run([&] { return plain.bind_to_any_port("127.0.0.1"); },
                      [&] { plain.listen_after_bind(); }, [&] { plain.stop(); });
    return waitForTheEnd(run.port());
}

// A server of serve() in a child process; ends it when it goes.
class ServerProcess {
public:
    explicit ServerProcess(const char* kind) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QCoreApplication::applicationFilePath(),
                       {QStringLiteral("--serve=%1").arg(QString::fromLatin1(kind))});
        if (process_.waitForReadyRead(60000))
            port_ = process_.readLine().trimmed().toInt();
        if (port_ > 0 && !waitUntilAnswering(port_))
            port_ = -1;
    }
    ~ServerProcess() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(10000))
            process_.kill();
    }
    int port() const { return port_; }

private:
    QProcess process_;
    int port_ = -1;
};

// The medians over the rounds.
Load medianLoad(const std::vector<Load>& rounds) {
    std::vector<double> rates, p99s;
    int failures = 0;
    for (const Load& l : rounds) {
        rates.push_back(l.requestsPerSecond);
        p99s.push_back(l.p99Ms);
        failures += l.failures;
    }
    return {median(rates), median(p99s), failures};
}

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    for (int i = 1; i < argc; ++i)
        if (std::strncmp(argv[i], "--serve=", 8) == 0)
            return serve(argv[i] + 8);
    const int clients = intOption(argc, argv, "--clients=", 16);
    const int requests = intOption(argc, argv, "--requests=", 300);
    const int rounds = intOption(argc, argv, "--rounds=", 3);
    const int infos = intOption(argc, argv, "--infos=", 20);

    const ServerProcess service("service");
    const ServerProcess bare("bare");
    const ServerProcess plain("plain");
    if (service.port() <= 0 || bare.port() <= 0 || plain.port() <= 0) {
        std::fprintf(stderr, "the servers did not come up\n");
        return 1;
    }

    // Each account's first request pays the hash once; warm all three alike.
    for (const ServerProcess* server : {&plain, &bare, &service})
        runLoad(server->port(), kAccounts, 4);
    std::vector<Load> plainRounds, bareRounds, serviceRounds;
    for (int r = 0; r < rounds; ++r) {
        plainRounds.push_back(runLoad(plain.port(), clients, requests));
        bareRounds.push_back(runLoad(bare.port(), clients, requests));
        serviceRounds.push_back(runLoad(service.port(), clients, requests));
    }
    const Load plainLoad = medianLoad(plainRounds);
    const Load bareLoad = medianLoad(bareRounds);
    const Load serviceLoad = medianLoad(serviceRounds);
    std::printf("update and down, %d clients x %d requests on loopback, each server in a process "
                "of its own, medians of %d rounds in turn:\n",
                clients, requests, rounds);
    std::printf("  torvane-cloud  %8.0f requests/s  p99 %7.2f ms  failures %d\n",
                serviceLoad.requestsPerSecond, serviceLoad.p99Ms, serviceLoad.failures);
    std::printf("  bare handler   %8.0f requests/s  p99 %7.2f ms  failures %d\n",
                bareLoad.requestsPerSecond, bareLoad.p99Ms, bareLoad.failures);
    std::printf("  bare handler on cpp-httplib's own loop  %8.0f requests/s  p99 %7.2f ms  "
                "failures %d\n",
                plainLoad.requestsPerSecond, plainLoad.p99Ms, plainLoad.failures);
    std::printf("  service / bare: throughput %.2f, p99 latency %.1fx\n",
                serviceLoad.requestsPerSecond / bareLoad.requestsPerSecond,
                serviceLoad.p99Ms / std::max(bareLoad.p99Ms, 1e-6));

    httplib::Client serviceClient("127.0.0.1", service.port());
    httplib::Client bareClient("127.0.0.1", bare.port());
    for (httplib::Client* client : {&serviceClient, &bareClient}) {
        client->set_keep_alive(true);
        client->set_tcp_nodelay(true);
    }
    const CloudApi::Account owner = account(0);
    const QByteArray right = CloudApi::formBody(CloudApi::accountBody(owner));
    const QByteArray wrong =
        CloudApi::formBody(CloudApi::accountBody({owner.username, owner.password + u"x"_s}));
    // In turn, one of each at a time.
    std::vector<double> bareSamples, hashedSamples, rememberedSamples;
    for (int i = 0; i < infos; ++i) {
        bareSamples.push_back(medianMs(1, [&] { post(bareClient, "info", right); }));
        hashedSamples.push_back(medianMs(1, [&] { post(serviceClient, "info", wrong); }));
        rememberedSamples.push_back(medianMs(1, [&] { post(serviceClient, "info", right); }));
    }
    const double bareMs = median(bareSamples);
    const double hashedMs = median(hashedSamples);
    const double rememberedMs = median(rememberedSamples);
    std::printf("one info, median of %d:\n", infos);
    std::printf("  full password hash (wrong password)  %8.2f ms  = %6.0fx a bare request\n",
                hashedMs, hashedMs / std::max(bareMs, 1e-6));
    std::printf("  remembered password (right one)      %8.2f ms  = %6.1fx a bare request\n",
                rememberedMs, rememberedMs / std::max(bareMs, 1e-6));
    std::printf("  bare request                         %8.2f ms\n", bareMs);
    return serviceLoad.failures == 0 && bareLoad.failures == 0 && plainLoad.failures == 0 ? 0 : 1;
}
