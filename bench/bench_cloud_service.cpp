// torvane-cloud under load on loopback, against a bare handler measured in the same run:
//  - many clients at once, each on its kept-alive connection, storing servers (`update`) or
//    reading their account's list (`down`): requests per second, the median and 99th
//    percentile of the latency, and the server process's CPU time per request (steadier than
//    the rates on a busy machine), for the service and for a bare cpp-httplib handler on the same
//    connection gate that answers every request with "True" (same request bytes). Each server
//    runs in a process of its own (this program started again with --serve=service or
//    --serve=bare), apart from the clients and from each other; rounds alternate between the
//    two, and the requests per second are the median of each one's rounds, the latencies
//    those of all its requests;
//  - the cost of one `info`: a wrong password always pays the full password hash; the right
//    password, once checked, is remembered and compared by a keyed digest.
//
// --clients=N concurrent clients (default: 16, then 64), --requests=N per client and round
// (default 200), --rounds=N per server and figure (default 3), --infos=N repetitions of each
// `info` measurement (default 20).

#include "bench_support.h"
#include "cloud_service/http_server.h"
#include "core/cloud/cloud_api.h"
#include "service_on_loopback.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProcess>

#include <httplib.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int kAccounts = 4;
// Clients c and c + kWriters store the same addresses, so each account's list has the same
// length whatever the number of clients.
constexpr int kWriters = 16;
constexpr int kAddressesPerClient = 20;
constexpr int kUnlimited = 1000000;
constexpr int kStartMs = 30000;

enum class Action { Update, Down };

struct Round {
    double requestsPerSecond = 0;
    double cpuUsPerRequest = 0;
    std::vector<double> latenciesMs;
    int failures = 0;
};

void liftLimits(CloudService::Settings& settings) {
    settings.connections.connectionsPerAddress = kUnlimited;
    settings.throttle.loginsPerAddress.allowance = kUnlimited;
    settings.throttle.loginsPerAccount.allowance = kUnlimited;
}

std::string post(httplib::Client& client, const char* act, const QByteArray& body,
                 int* status = nullptr) {
    const auto result = client.Post((std::string("/admin/user_reg.php?act=") + act).c_str(),
                                    body.toStdString(), "application/x-www-form-urlencoded");
    if (status != nullptr)
        *status = result ? result->status : 0;
    return result ? result->body : std::string();
}

bool waitUntilAnswering(int port) {
    httplib::Client client("127.0.0.1", port);
    for (int i = 0; i < 500; ++i) {
        if (client.Get("/admin/user_reg.php?act=get_ip"))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

CloudApi::Account account(int index) {
    return {u"bench%1"_s.arg(index), u"密码 %1&x"_s.arg(index)};
}

QByteArray updateBody(int client, int request) {
    const CloudApi::Account owner = account(client % kAccounts);
    const QString ip = u"10.%1.%2.1"_s.arg(client % kWriters).arg(request % kAddressesPerClient);
    return CloudApi::formBody(
        CloudApi::accountBody(owner, {{u"server_class"_s, u"默认分组"_s},
                                      {u"server_name"_s, u"香港 %1"_s.arg(request)},
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
                                      {u"baota_apikey"_s, u"9C9F9E5F50137C3"_s}}));
}

QByteArray downBody(int client) {
    return CloudApi::formBody(CloudApi::accountBody(account(client % kAccounts)));
}

// The CPU time the process has used so far, user and system, in microseconds (0 where /proc
// cannot tell).
double cpuUs(qint64 pid) {
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string stat;
    std::getline(file, stat);
    // The fields after the command name, which is in parentheses and may hold blanks.
    std::istringstream fields(stat.substr(std::min(stat.size(), stat.rfind(')') + 2)));
    std::string field;
    double ticks = 0;
    // utime and stime are the 12th and 13th fields after the name.
    for (int i = 1; i <= 13 && fields >> field; ++i)
        if (i >= 12)
            ticks += std::atof(field.c_str());
    return ticks * 1e6 / double(sysconf(_SC_CLK_TCK));
}

Round runLoad(int port, Action action, int clients, int requestsEach, qint64 serverPid) {
    std::vector<std::vector<QByteArray>> plans(static_cast<std::size_t>(clients));
    for (int c = 0; c < clients; ++c)
        for (int r = 0; r < requestsEach; ++r)
            plans[std::size_t(c)].push_back(action == Action::Update ? updateBody(c, r)
                                                                     : downBody(c));
    const char* act = action == Action::Update ? "update" : "down";
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients));
    std::atomic<int> failures{0};
    const double cpuBefore = cpuUs(serverPid);
    QElapsedTimer wall;
    wall.start();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            httplib::Client client("127.0.0.1", port);
            client.set_keep_alive(true);
            client.set_tcp_nodelay(true);
            client.set_read_timeout(60, 0);
            for (const QByteArray& body : plans[std::size_t(c)]) {
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
    Round round;
    const double requests = double(clients) * requestsEach;
    round.requestsPerSecond = requests / (double(wall.nsecsElapsed()) / 1e9);
    round.cpuUsPerRequest = (cpuUs(serverPid) - cpuBefore) / requests;
    for (const auto& l : latencies)
        round.latenciesMs.insert(round.latenciesMs.end(), l.begin(), l.end());
    round.failures = failures.load();
    return round;
}

// Registers the bench accounts; the SMS codes come through a program that writes them to
// a file.
bool registerAccounts(const ServiceOnLoopback& service) {
    httplib::Client client("127.0.0.1", service.port());
    for (int a = 0; a < kAccounts; ++a) {
        const QString phone = u"1380000%1"_s.arg(a, 4, 10, QChar(u'0'));
        if (post(client, "sendsms", CloudApi::formBody({{u"phone"_s, phone}})) != "True")
            return false;
        const CloudApi::Account owner = account(a);
        if (post(client, "reg",
                 CloudApi::formBody({{u"username"_s, owner.username},
                                     {u"password"_s, owner.password},
                                     {u"phone"_s, phone},
                                     {u"vcode"_s, service.lastSmsCode()},
                                     {u"qq"_s, u"1"_s},
                                     {u"mail"_s, u"m"_s}})) != "True") {
            return false;
        }
    }
    return true;
}

// In the server's process: tells the parent the port, then serves until the parent closes
// this process's standard input (or ends).
int announceAndWait(int port) {
    std::printf("port %d\n", port);
    std::fflush(stdout);
    while (std::fgetc(stdin) != EOF) {
    }
    return 0;
}

int serveService() {
    const ServiceOnLoopback service(liftLimits);
    if (service.port() <= 0 || !waitUntilAnswering(service.port()) || !registerAccounts(service))
        return 1;
    return announceAndWait(service.port());
}

int serveBare() {
    CloudService::Settings lifted;
    liftLimits(lifted);
    HttpServer bare(lifted.connections);
    const auto answerTrue = [](const httplib::Request&, httplib::Response& response) {
        response.set_content("True", "text/plain; charset=utf-8");
    };
    bare.Get("/admin/user_reg.php", answerTrue);
    bare.Post("/admin/user_reg.php", answerTrue);
    const int port = bare.bind("127.0.0.1", 0);
    if (port <= 0)
        return 1;
    std::thread serving([&bare] { bare.serve(); });
    const int result = waitUntilAnswering(port) ? announceAndWait(port) : 1;
    bare.stop();
    serving.join();
    return result;
}

// A server in a process of its own: this program with --serve=KIND. It stops when the object
// goes.
class ServerProcess {
public:
    explicit ServerProcess(const QString& kind) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QCoreApplication::applicationFilePath(), {u"--serve="_s + kind});
        QElapsedTimer waited;
        waited.start();
        while (!process_.canReadLine() && process_.state() != QProcess::NotRunning &&
               waited.elapsed() < kStartMs)
            process_.waitForReadyRead(100);
        const QByteArray line = process_.readLine().trimmed();
        if (line.startsWith("port "))
            port_ = line.mid(5).toInt();
    }
    ~ServerProcess() {
        process_.closeWriteChannel();
        if (!process_.waitForFinished(10000)) {
            process_.kill();
            process_.waitForFinished(5000);
        }
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;

    int port() const { return port_; }
    qint64 pid() const { return process_.processId(); }

private:
    QProcess process_;
    int port_ = 0;
};

struct Figures {
    double requestsPerSecond = 0;
    double cpuUsPerRequest = 0;
    double medianMs = 0;
    double p99Ms = 0;
    int failures = 0;
};

Figures summary(const std::vector<Round>& rounds) {
    Figures figures;
    std::vector<double> rates;
    std::vector<double> cpu;
    std::vector<double> all;
    for (const Round& round : rounds) {
        rates.push_back(round.requestsPerSecond);
        cpu.push_back(round.cpuUsPerRequest);
        all.insert(all.end(), round.latenciesMs.begin(), round.latenciesMs.end());
        figures.failures += round.failures;
    }
    figures.requestsPerSecond = median(rates);
    figures.cpuUsPerRequest = median(cpu);
    figures.medianMs = median(all);
    figures.p99Ms = percentile(all, 0.99);
    return figures;
}

void printFigures(const char* name, const Figures& figures) {
    std::printf("  %-14s %7.0f requests/s  median %6.2f ms  p99 %7.2f ms  CPU %5.0f us/request"
                "  failures %d\n",
                name, figures.requestsPerSecond, figures.medianMs, figures.p99Ms,
                figures.cpuUsPerRequest, figures.failures);
}

// Rounds alternate between the two servers, and so does which of them goes first.
int compare(const ServerProcess& serviceServer, const ServerProcess& bareServer, Action action,
            int clients, int requests, int rounds) {
    const auto load = [&](const ServerProcess& server) {
        return runLoad(server.port(), action, clients, requests, server.pid());
    };
    std::vector<Round> service;
    std::vector<Round> bare;
    for (int r = 0; r < rounds; ++r) {
        if (r % 2 == 0)
            bare.push_back(load(bareServer));
        service.push_back(load(serviceServer));
        if (r % 2 == 1)
            bare.push_back(load(bareServer));
    }
    const Figures serviceFigures = summary(service);
    const Figures bareFigures = summary(bare);
    std::printf("%s, %d clients x %d requests, %d rounds each:\n",
                action == Action::Update ? "update" : "down", clients, requests, rounds);
    printFigures("torvane-cloud", serviceFigures);
    printFigures("bare handler", bareFigures);
    std::printf("  service / bare: throughput %.2f, p99 latency %.1fx\n",
                serviceFigures.requestsPerSecond / std::max(bareFigures.requestsPerSecond, 1e-6),
                serviceFigures.p99Ms / std::max(bareFigures.p99Ms, 1e-6));
    std::fflush(stdout);
    return serviceFigures.failures + bareFigures.failures;
}

double medianMs(int runs, const std::function<void()>& action) {
    std::vector<double> samples;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        action();
        samples.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    return median(samples);
}

void measureInfo(int servicePort, int barePort, int infos) {
    httplib::Client serviceClient("127.0.0.1", servicePort);
    httplib::Client bareClient("127.0.0.1", barePort);
    for (httplib::Client* client : {&serviceClient, &bareClient}) {
        client->set_keep_alive(true);
        client->set_tcp_nodelay(true);
    }
    const CloudApi::Account owner = account(0);
    const QByteArray right = CloudApi::formBody(CloudApi::accountBody(owner));
    const QByteArray wrong =
        CloudApi::formBody(CloudApi::accountBody({owner.username, owner.password + u"x"_s}));
    const double bareMs = medianMs(infos, [&] { post(bareClient, "info", right); });
    const double hashedMs = medianMs(infos, [&] { post(serviceClient, "info", wrong); });
    const double rememberedMs = medianMs(infos, [&] { post(serviceClient, "info", right); });
    std::printf("one info, median of %d:\n", infos);
    std::printf("  full password hash (wrong password)  %8.2f ms  = %6.0fx a bare request\n",
                hashedMs, hashedMs / std::max(bareMs, 1e-6));
    std::printf("  remembered password (right one)      %8.2f ms  = %6.1fx a bare request\n",
                rememberedMs, rememberedMs / std::max(bareMs, 1e-6));
    std::printf("  bare request                         %8.2f ms\n", bareMs);
}

std::optional<QString> serveOption(int argc, char* argv[]) {
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind("--serve=", 0) == 0)
            return QString::fromUtf8(argv[i] + 8);
    return std::nullopt;
}

} // namespace

int main(int argc, char* argv[]) {
    if (const auto kind = serveOption(argc, argv))
        return *kind == u"service"_s ? serveService() : serveBare();

    const QCoreApplication app(argc, argv);
    const int givenClients = intOption(argc, argv, "--clients=", 0, 0);
    const int requests = intOption(argc, argv, "--requests=", 200);
    const int rounds = intOption(argc, argv, "--rounds=", 3);
    const int infos = intOption(argc, argv, "--infos=", 20);
    const std::vector<int> clientCounts =
        givenClients > 0 ? std::vector<int>{givenClients} : std::vector<int>{16, 64};

    // Limits far above this load: it measures throughput and the cost of a hash, not the
    // throttle (its wrong passwords would be held back after a few).
    const ServerProcess service(u"service"_s);
    const ServerProcess bare(u"bare"_s);
    if (service.port() <= 0 || bare.port() <= 0) {
        std::fprintf(stderr, "the servers did not come up\n");
        return 1;
    }

    // Each account's first request pays the hash once, and the lists to read are filled;
    // warm both sides alike.
    for (const ServerProcess* server : {&service, &bare})
        runLoad(server->port(), Action::Update, kWriters, kAddressesPerClient, server->pid());
    int failures = 0;
    for (const int clients : clientCounts)
        for (const Action action : {Action::Update, Action::Down})
            failures += compare(service, bare, action, clients, requests, rounds);
    measureInfo(service.port(), bare.port(), infos);
    return failures == 0 ? 0 : 1;
}
