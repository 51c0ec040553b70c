// What a reachability probe costs, against its floor measured in the same run:
//  - one probe of an open loopback port (tcping started, connect, exit, output read),
//  - an in-process connect to the same port (the network part alone),
//  - a bare start of a trivial program (the process part alone);
// run in turn, and the ratio probe / (bare start + connect);
// then a probe pass over a list of loopback servers, with the peaks of threads, child
// processes and open file descriptors while it runs.
//
// --rows=N sets the list's length for the pass (default 1000: about 100 s, as probes start
// 100 ms apart); --runs=N the repetitions of the single measurements (default 30).

#include "bench_support.h"
#include "core/remote/command_runner.h"
#include "core/remote/embedded_tools.h"
#include "core/remote/tcping_check.h"
#include "ui/app/server_list_model.h"
#include "ui/remote/reachability_probe.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// A loopback listener that accepts and closes every connection on its own thread, so the
// backlog never fills during a long pass.
class Listener {
public:
    Listener() {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(fd_, 1024);
        socklen_t length = sizeof address;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] {
            while (!stop_) {
                const int client = accept(fd_, nullptr, nullptr);
                if (client >= 0)
                    close(client);
            }
        });
    }
    ~Listener() {
        stop_ = true;
        shutdown(fd_, SHUT_RDWR);
        close(fd_);
        thread_.join();
    }
    quint16 port() const { return port_; }

private:
    int fd_ = -1;
    quint16 port_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

quint16 closedPort() {
    Listener probe;
    return probe.port(); // released when `probe` goes away
}

bool connectOnce(quint16 port) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

double elapsedMs(const std::function<void()>& work) {
    QElapsedTimer t;
    t.start();
    work();
    return double(t.nsecsElapsed()) / 1e6;
}

int countEntries(const QString& folder) {
    return int(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

// Children of this process, from /proc.
int countChildren() {
    const QString self = QString::number(getpid());
    int children = 0;
    for (const QString& pid : QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat(u"/proc/%1/stat"_s.arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        const QList<QByteArray> fields = line.mid(close + 2).split(' ');
        if (fields.size() > 1 && QString::fromLatin1(fields[1]) == self)
            ++children;
    }
    return children;
}

} // namespace

int main(int argc, char* argv[]) {
    const int rows = intOption(argc, argv, "--rows=", 1000);
    const int runs = intOption(argc, argv, "--runs=", 30);
    QApplication app(argc, argv);
    QTemporaryDir runtime;
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    EmbeddedTools::extract();

    Listener listener;
    const QString open = QString::number(listener.port());
    const QString closed = QString::number(closedPort());

    // The three contenders in turn, so load from other work on the machine falls on all of
    // them alike.
    std::vector<double> probes, connects, starts;
    for (int i = 0; i < runs; ++i) {
        probes.push_back(elapsedMs([&] { TcpingCheck::portAnswers(u"127.0.0.1"_s, open); }));
        connects.push_back(elapsedMs([&] { connectOnce(listener.port()); }));
        starts.push_back(elapsedMs([] { CommandRunner::run(u"/bin/true"_s, {}); }));
    }
    const double probeMs = median(probes);
    const double connectMs = median(connects);
    const double startMs = median(starts);
    std::printf("one probe of an open loopback port: median %.3f ms\n", probeMs);
    std::printf("in-process connect to the same port: median %.3f ms\n", connectMs);
    std::printf("bare start of /bin/true: median %.3f ms\n", startMs);
    std::printf("probe / (bare start + in-process connect) = %.2fx (medians of %d runs in turn)\n",
                probeMs / (startMs + connectMs), runs);

    // A pass over `rows` servers, half answering, half refusing.
    ServerListModel model;
    QList<ServerRecord> servers;
    for (int r = 0; r < rows; ++r) {
        ServerRecord server;
        server.id = QString::number(r + 6);
        server.ip = u"127.0.0.1"_s;
        server.port = r % 2 ? closed : open;
        servers << server;
    }
    model.replaceRows(ServerListModel::rowsOf(servers, QString(), QDateTime::currentDateTime()));
    ReachabilityProbe probe(&model);
    int peakThreads = 0, peakChildren = 0, peakFds = 0;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        peakThreads = std::max(peakThreads, countEntries(u"/proc/self/task"_s));
        peakChildren = std::max(peakChildren, countChildren());
        peakFds = std::max(peakFds, countEntries(u"/proc/self/fd"_s));
    });
    const int baseThreads = countEntries(u"/proc/self/task"_s);
    const int baseFds = countEntries(u"/proc/self/fd"_s);
    auto painted = [&] {
        int n = 0;
        for (int r = 0; r < model.rowCount(); ++r)
            n += model.statusImage(r) >= 0;
        return n;
    };
    QElapsedTimer passClock;
    passClock.start();
    sampler.start(20);
    probe.probeAll();
    while (painted() < rows && passClock.elapsed() < rows * 200 + 10000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    sampler.stop();
    int online = 0;
    for (int r = 0; r < model.rowCount(); ++r)
        online += model.statusImage(r) == ReachabilityProbe::kOnlineImage;
    std::printf("pass over %d rows: %.1f s, %d painted (%d green), peaks: %d threads (%d before), "
                "%d child processes, %d file descriptors (%d before)\n",
                rows, double(passClock.elapsed()) / 1000.0, painted(), online, peakThreads,
                baseThreads, peakChildren, peakFds, baseFds);
    return painted() == rows ? 0 : 1;
}
