// How the server list behaves on a long list, set up as in the main window (the probe pass
// connected to the list): the longest stall of the event loop (the worst gap of a repeating
// 1 ms timer, in wall time and in the UI thread's own processor time) while a reload, a sort by ID
// and by 服务器IP, and a search run, each observed until its whole fill is in the list and the
// probe pass it starts is under way; the sort time per kind of key; and the process's peak memory,
// which is the list's and the view's own (the bench keeps no copy of the rows).
//
// --rows=N sets the length of the list (default 10000); --runs=N the repetitions (default 3),
// reported as median and worst. A reload fills at its 10 ms pace, so a run takes a while:
// about rows x 10 ms for the reload and about 11 s for the search. The CTest smoke run uses
// fewer rows.

#include "bench_support.h"
#include "core/app_context.h"
#include "core/remote/embedded_tools.h"
#include "core/store/local_store.h"
#include "core/store/store_connection.h"
#include "core/support/list_sort.h"
#include "ui/app/application.h"
#include "ui/app/list_table.h"
#include "ui/app/server_list_view.h"
#include "ui/remote/reachability_probe.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

#include <time.h>

using namespace Qt::StringLiterals;

namespace {

void writeServers(const QString& path, int rows) {
    LocalStore::ensureDatabase(path);
    LocalStore store;
    if (!store.open(path))
        return;
    StoreTransaction transaction(store.connection());
    QRandomGenerator random(42);
    const QStringList groups = {u"默认分组"_s, u"香港"_s, u"美国"_s, u"日本东京"_s, u"007"_s};
    for (int i = 0; i < rows; ++i) {
        ServerRecord s;
        // Loopback addresses on a port nothing listens on: the probe pass gets its refusals
        // at once and nothing outside the machine is contacted.
        s.ip = u"127.0.%1.%2"_s.arg(i / 256).arg(i % 256);
        s.user = u"root"_s;
        s.password = u"password"_s;
        s.port = u"1"_s;
        s.sort = QString::number(random.bounded(100));
        s.group = groups[random.bounded(int(groups.size()))];
        s.remark = u"备注 %1"_s.arg(random.bounded(1000));
        s.startTime = u"2024-6-6 9:05:07"_s;
        s.endTime = u"2025-6-6 9:05:07"_s;
        s.name = u"服务器%1号"_s.arg(i);
        s.system = i % 3 ? u"linux"_s : u"windows"_s;
        static_cast<void>(store.insertBatchServer(s, false));
    }
    static_cast<void>(transaction.commit());
}

// The UI thread's own processor time: on a shared machine a gap of the timer is also time
// the thread sat runnable while other processes ran; its processor time within the gap is the
// stall that the program itself caused.
qint64 threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// The longest gap of a 1 ms timer while `start`'s work runs until `done`, and for `tailMs`
// after it (the probe pass that follows), or until `limitMs`: in wall time, and in the UI
// thread's processor time. Also the time until `done`.
struct Observed {
    double worstStallMs = 0;
    double worstStallCpuMs = 0;
    double doneMs = 0;
};

Observed observe(const std::function<void()>& start, const std::function<bool()>& done, int tailMs,
                 int limitMs) {
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 worst = 0;
    qint64 lastCpu = threadCpuNs();
    qint64 worstCpu = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 cpu = threadCpuNs();
        worst = std::max(worst, now - last);
        worstCpu = std::max(worstCpu, cpu - lastCpu);
        last = now;
        lastCpu = cpu;
    });
    clock.start();
    tick.start(1);
    start();
    qint64 doneAt = -1;
    while (clock.elapsed() < limitMs) {
        if (doneAt < 0 && done())
            doneAt = clock.nsecsElapsed();
        if (doneAt >= 0 && clock.nsecsElapsed() - doneAt >= qint64(tailMs) * 1000000)
            break;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    worst = std::max(worst, clock.nsecsElapsed() - last);
    worstCpu = std::max(worstCpu, threadCpuNs() - lastCpu);
    return {double(worst) / 1e6, double(worstCpu) / 1e6,
            double(doneAt < 0 ? clock.nsecsElapsed() : doneAt) / 1e6};
}

void report(const char* what, const std::vector<Observed>& runs) {
    std::vector<double> stalls, cpu, times;
    for (const Observed& o : runs) {
        stalls.push_back(o.worstStallMs);
        cpu.push_back(o.worstStallCpuMs);
        times.push_back(o.doneMs);
    }
    std::printf(
        "%s (%zu runs): longest event-loop stall median %.2f ms, worst %.2f ms; UI thread's "
        "own time in its longest stall median %.2f ms, worst %.2f ms; whole fill median "
        "%.0f ms\n",
        what, runs.size(), median(stalls), *std::max_element(stalls.begin(), stalls.end()),
        median(cpu), *std::max_element(cpu.begin(), cpu.end()), median(times));
    std::printf("  per run, wall / UI thread (ms):");
    for (const Observed& o : runs)
        std::printf(" %.1f/%.1f", o.worstStallMs, o.worstStallCpuMs);
    std::printf("\n");
}

} // namespace

int main(int argc, char* argv[]) {
    const int rows = intOption(argc, argv, "--rows=", 10000);
    const int runs = intOption(argc, argv, "--runs=", 3);

    QApplication app(argc, argv);
    setUpApplication(app);
    QTemporaryDir home;
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    const AppContext context({home.path(), u"http://127.0.0.1:1"_s});
    EmbeddedTools::extract();
    writeServers(context.databasePath(), rows);

    ListTable view;
    view.resize(1056, 469);
    ServerListView list(&view, context);
    ReachabilityProbe probe(list.model());
    QObject::connect(&list, &ServerListView::probeAllRequested, &probe,
                     &ReachabilityProbe::probeAll);
    QObject::connect(&list, &ServerListView::probeRowRequested, &probe, &ReachabilityProbe::start);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        std::printf("the list's window was never shown; paint costs are missing\n");

    QSignalSpy finished(&list, &ServerListView::fillFinished);
    auto run = [&](const std::function<void()>& start, int tailMs, int limitMs) {
        finished.clear();
        return observe(
            start, [&] { return !finished.isEmpty(); }, tailMs, limitMs);
    };
    const int fillLimitMs = rows * ServerListView::kReloadPaceMs * 3 + 60000;
    std::vector<Observed> reloads, byId, byAddress, searches;
    for (int r = 0; r < runs; ++r) {
        reloads.push_back(run([&] { list.reload(); }, 300, fillLimitMs));
        if (r == 0) {
            // Sort time per kind of key, on the worker that sorts.
            for (const auto& [column, name] :
                 {std::pair{0, "ID (number)"}, std::pair{1, "分组 (integer)"},
                  std::pair{3, "服务器IP (GBK bytes)"}, std::pair{6, "备注 (GBK bytes)"}}) {
                QList<QString> keys;
                for (const ListRow& row : list.model()->rows())
                    keys << row.cells[column];
                std::vector<double> ms;
                for (int k = 0; k < 7; ++k) {
                    QElapsedTimer t;
                    t.start();
                    ListSort::sortOrder(keys, column);
                    ms.push_back(double(t.nsecsElapsed()) / 1e6);
                }
                std::printf("sort by %s: median %.2f ms for %d rows (worker)\n", name, median(ms),
                            rows);
            }
        }
        byId.push_back(run([&] { list.sortByColumn(0); }, 500, 60000));
        byAddress.push_back(run([&] { list.sortByColumn(3); }, 500, 60000));
        // About one row in ninety matches: a search fill is paced at 100 ms a row.
        searches.push_back(
            run([&] { list.search(u"备注"_s, u"备注 77"_s, QString()); }, 300, fillLimitMs));
    }
    std::printf("%d rows, probe pass connected:\n", rows);
    report("reload (read, paced fill, probe pass)", reloads);
    report("sort by ID (column 0)", byId);
    report("sort by 服务器IP (column 3)", byAddress);
    report("search 备注 \"备注 77\" (read, paced fill of its rows, a probe per row)", searches);
    std::printf("peak memory of the process: %.1f MB\n", peakMemoryMb());
    return 0;
}
