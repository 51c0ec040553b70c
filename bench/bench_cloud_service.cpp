// torvane-cloud under load on loopback, against a bare handler measured in the same run:
//  - many clients at once, each on its kept-alive connection, storing servers (`update`) or
//    reading their account's list (`down`): requests per second, the median and 99th
//    percentile of the latency, and the server process's CPU time per request (steadier than
//    the rates on a busy machine), for the service and for a bare cpp-httplib handler on the same
//    connection gate that answers every request with "True" (same request bytes). A `down`
//    answers about 20 KB, so it is also set beside a bare handler that answers as many bytes
//    as the service's `down` does: the floor that sending the reply sets. The lists do not
//    change between the `down`s, so the service answers them from the downloads it keeps;
//    the first `down` after a change reads the rows. Each server runs in a
//    process of its own (this program started again with --serve=...), apart from the
//    clients and from each other; rounds alternate between them, and the requests per second
//    are the median of each one's rounds, the latencies those of all its requests;
//  - with the accounts in PostgreSQL (--postgresql or --database=), also two instances of the
//    service on the same database, the clients shared between them: their combined requests
//    per second beside one instance's, in alternating rounds;
//  - the cost of one `info`: a wrong password always pays the full password hash; the right
//    password, once checked, is remembered and compared by a keyed digest.
//
// --clients=N concurrent clients (default: 16, then 64), --requests=N per client and round
// (default 200), --rounds=N per server and figure (default 3), --infos=N repetitions of each
// `info` measurement (default 20). --postgresql: the service keeps its accounts on a
// PostgreSQL server of the bench's own (initdb in a temporary folder, as the tests do, with
// fsync off: its figures leave out the disk's flushes); --database=postgresql://...: in that
// database, which must be new and empty.

#include "bench_support.h"
#include "cloud_service/http_server.h"
#include "core/cloud/cloud_api.h"
#include "service_on_loopback.h"

#ifdef TORVANE_POSTGRESQL_BINDIR
#include "common/private_postgres.h"
#endif

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

// The servers a load goes to: client c talks to ports[c % ports.size()], and the CPU time is
// that of all the processes together.
struct Targets {
    std::vector<int> ports;
    std::vector<qint64> pids;
};

double cpuUs(const std::vector<qint64>& pids) {
    double sum = 0;
    for (const qint64 pid : pids)
        sum += cpuUs(pid);
    return sum;
}

Round runLoad(const Targets& targets, Action action, int clients, int requestsEach) {
    std::vector<std::vector<QByteArray>> plans(static_cast<std::size_t>(clients));
    for (int c = 0; c < clients; ++c)
        for (int r = 0; r < requestsEach; ++r)
            plans[std::size_t(c)].push_back(action == Action::Update ? updateBody(c, r)
                                                                     : downBody(c));
    const char* act = action == Action::Update ? "update" : "down";
    std::vector<std::vector<double>> latencies(static_cast<std::size_t>(clients));
    std::atomic<int> failures{0};
    const double cpuBefore = cpuUs(targets.pids);
    QElapsedTimer wall;
    wall.start();
    std::vector<std::thread> threads;
    for (int c = 0; c < clients; ++c) {
        threads.emplace_back([&, c] {
            httplib::Client client("127.0.0.1",
                                   targets.ports[std::size_t(c) % targets.ports.size()]);
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
    round.cpuUsPerRequest = (cpuUs(targets.pids) - cpuBefore) / requests;
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

// The value of `--name=VALUE` among the arguments, or empty.
std::string textOption(int argc, char* argv[], const std::string& name) {
    const std::string prefix = name + "=";
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind(prefix, 0) == 0)
            return argv[i] + prefix.size();
    return {};
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

// The service on `database` (empty: cloud.db); the first instance on a database registers
// the bench's accounts, a further one (`join`) serves those.
int serveService(const std::string& database, bool join) {
    const ServiceOnLoopback service([&database](CloudService::Settings& settings) {
        liftLimits(settings);
        settings.database = database;
    });
    if (service.port() <= 0 || !waitUntilAnswering(service.port()) ||
        (!join && !registerAccounts(service)))
        return 1;
    return announceAndWait(service.port());
}

// A bare handler that answers every request with "True", or with `replyBytes` bytes when
// that is above 0.
int serveBare(int replyBytes) {
    CloudService::Settings lifted;
    liftLimits(lifted);
    HttpServer bare(lifted.connections);
    const std::string reply = replyBytes > 0 ? std::string(std::size_t(replyBytes), 'x') : "True";
    const auto answer = [&reply](const httplib::Request&, httplib::Response& response) {
        response.set_content(reply, "text/plain; charset=utf-8");
    };
    bare.Get("/admin/user_reg.php", answer);
    bare.Post("/admin/user_reg.php", answer);
    const int port = bare.bind("127.0.0.1", 0);
    if (port <= 0)
        return 1;
    std::thread serving([&bare] { bare.serve(); });
    const int result = waitUntilAnswering(port) ? announceAndWait(port) : 1;
    bare.stop();
    serving.join();
    return result;
}

// A server in a process of its own: this program with --serve=KIND and `arguments`. It stops
// when the object goes.
class ServerProcess {
public:
    explicit ServerProcess(const QString& kind, QStringList arguments = {}) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        arguments.prepend(u"--serve="_s + kind);
        process_.start(QCoreApplication::applicationFilePath(), arguments);
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
    Targets targets() const { return {{port_}, {pid()}}; }

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

// Alternating rounds of `load` on each of `targets`, the first going first in even rounds and
// last in odd ones; the figures of each.
std::vector<Figures> alternate(const std::vector<Targets>& targets, int rounds,
                               const std::function<Round(const Targets&)>& load) {
    std::vector<std::vector<Round>> results(targets.size());
    for (int r = 0; r < rounds; ++r) {
        for (std::size_t i = 0; i < targets.size(); ++i) {
            const std::size_t t = r % 2 == 0 ? i : targets.size() - 1 - i;
            results[t].push_back(load(targets[t]));
        }
    }
    std::vector<Figures> figures;
    for (const auto& result : results)
        figures.push_back(summary(result));
    return figures;
}

void printRatio(const char* name, const Figures& service, const Figures& floor) {
    std::printf("  service / %s: throughput %.2f, p99 latency %.1fx\n", name,
                service.requestsPerSecond / std::max(floor.requestsPerSecond, 1e-6),
                service.p99Ms / std::max(floor.p99Ms, 1e-6));
}

// The service against the bare handler, and for `down` also against the bare handler that
// answers as many bytes (`sizedBare`).
int compare(const ServerProcess& service, const ServerProcess& bare, const ServerProcess& sizedBare,
            Action action, int clients, int requests, int rounds) {
    std::vector<Targets> targets{service.targets(), bare.targets()};
    if (action == Action::Down)
        targets.push_back(sizedBare.targets());
    const std::vector<Figures> figures = alternate(
        targets, rounds, [&](const Targets& t) { return runLoad(t, action, clients, requests); });
    std::printf("%s, %d clients x %d requests, %d rounds each:\n",
                action == Action::Update ? "update" : "down", clients, requests, rounds);
    printFigures("torvane-cloud", figures[0]);
    printFigures("bare handler", figures[1]);
    if (action == Action::Down)
        printFigures("bare, as big", figures[2]);
    printRatio("bare", figures[0], figures[1]);
    if (action == Action::Down)
        printRatio("bare as big", figures[0], figures[2]);
    std::fflush(stdout);
    int failures = 0;
    for (const Figures& f : figures)
        failures += f.failures;
    return failures;
}

// One instance of the service against two on the same database, the clients shared between
// them.
int compareInstances(const ServerProcess& first, const ServerProcess& second, Action action,
                     int clients, int requests, int rounds) {
    const Targets both{{first.port(), second.port()}, {first.pid(), second.pid()}};
    const std::vector<Figures> figures =
        alternate({first.targets(), both}, rounds,
                  [&](const Targets& t) { return runLoad(t, action, clients, requests); });
    std::printf("%s on one database, %d clients x %d requests, %d rounds each:\n",
                action == Action::Update ? "update" : "down", clients, requests, rounds);
    printFigures("one instance", figures[0]);
    printFigures("two, together", figures[1]);
    std::printf("  two / one: throughput %.2f\n",
                figures[1].requestsPerSecond / std::max(figures[0].requestsPerSecond, 1e-6));
    std::fflush(stdout);
    return figures[0].failures + figures[1].failures;
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

// The database the bench's services share: the one given, one made on the bench's own
// PostgreSQL server, or none (cloud.db). False when one was asked for and cannot be had.
bool chooseDatabase(int argc, char* argv[], QString& database) {
    database = QString::fromStdString(textOption(argc, argv, "--database"));
    bool privateServer = false;
    for (int i = 1; i < argc; ++i)
        privateServer = privateServer || std::string(argv[i]) == "--postgresql";
    if (!privateServer)
        return true;
#ifdef TORVANE_POSTGRESQL_BINDIR
    if (PrivatePostgres* postgres = PrivatePostgres::shared())
        database = postgres->createDatabase();
#endif
    if (database.isEmpty())
        std::fprintf(stderr, "no PostgreSQL database for the bench\n");
    return !database.isEmpty();
}

} // namespace

int main(int argc, char* argv[]) {
    const std::string serve = textOption(argc, argv, "--serve");
    if (serve == "service" || serve == "joining")
        return serveService(textOption(argc, argv, "--database"), serve == "joining");
    if (serve == "bare")
        return serveBare(intOption(argc, argv, "--reply-bytes=", 0, 0));

    const QCoreApplication app(argc, argv);
    const int givenClients = intOption(argc, argv, "--clients=", 0, 0);
    const int requests = intOption(argc, argv, "--requests=", 200);
    const int rounds = intOption(argc, argv, "--rounds=", 3);
    const int infos = intOption(argc, argv, "--infos=", 20);
    const std::vector<int> clientCounts =
        givenClients > 0 ? std::vector<int>{givenClients} : std::vector<int>{16, 64};
    QString database;
    if (!chooseDatabase(argc, argv, database))
        return 1;
    const QStringList storeArguments =
        database.isEmpty() ? QStringList() : QStringList{u"--database="_s + database};

    // Limits far above this load: it measures throughput and the cost of a hash, not the
    // throttle (its wrong passwords would be held back after a few).
    const ServerProcess service(u"service"_s, storeArguments);
    const ServerProcess bare(u"bare"_s);
    if (service.port() <= 0 || bare.port() <= 0) {
        std::fprintf(stderr, "the servers did not come up\n");
        return 1;
    }
    std::printf("accounts in %s\n", database.isEmpty() ? "cloud.db (SQLite)" : "PostgreSQL");

    // Each account's first request pays the hash once, and the lists to read are filled;
    // warm both sides alike.
    for (const ServerProcess* server : {&service, &bare})
        runLoad(server->targets(), Action::Update, kWriters, kAddressesPerClient);
    httplib::Client reader("127.0.0.1", service.port());
    const std::size_t downBytes = post(reader, "down", downBody(0)).size();
    const ServerProcess sizedBare(u"bare"_s, {u"--reply-bytes=%1"_s.arg(downBytes)});
    if (sizedBare.port() <= 0)
        return 1;
    std::printf("a down answers %zu bytes\n", downBytes);
    int failures = 0;
    for (const int clients : clientCounts)
        for (const Action action : {Action::Update, Action::Down})
            failures += compare(service, bare, sizedBare, action, clients, requests, rounds);
    if (!database.isEmpty()) {
        const ServerProcess second(u"joining"_s, storeArguments);
        if (second.port() <= 0)
            return 1;
        runLoad(second.targets(), Action::Down, kWriters, 1);
        for (const int clients : clientCounts)
            for (const Action action : {Action::Update, Action::Down})
                failures += compareInstances(service, second, action, clients, requests, rounds);
    }
    measureInfo(service.port(), bare.port(), infos);
    return failures == 0 ? 0 : 1;
}
