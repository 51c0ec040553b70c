// How the main window's server list behaves on a long list: the longest wait of the UI thread,
// as an outside pinger sees it (bench/stall_pinger.h), while the window starts and fills its
// list, while a reload runs, while the list is sorted by each shown column and while a search
// runs, each observed until its whole fill is in the list and the probe pass it starts is
// under way; the sort time per kind of key on the worker; and the process's memory.
//
// It runs the real main window on a file of servers on loopback addresses at a port nothing
// listens on (the probe passes get their refusals at once and nothing outside the machine is
// contacted), with its cloud address on loopback too. End dates spread over the weeks around
// today, so rows are tinted amber, red or not at all.
//
// Without "--rows=N" it runs 1,000, 10,000 and 50,000 rows, each in a process of its own
// ("--sizes=A,B" for others). --runs=N repeats the reload, sorts and search (default 1); each
// reports the median over the runs of its longest UI wait, and the worst run's. A
// reload fills at its 10 ms pace, so each takes about rows x 10 ms (500 s at 50,000), the
// search about 11 rows in 1,000 at 100 ms each. With "--direct-fill" the first fill puts the
// rows a reload reads in the list in one go, and neither it nor a reload is measured. The
// CTest smoke run uses few rows.

#include "bench_sizes.h"
#include "bench_support.h"
#include "core/app_context.h"
#include "core/store/local_store.h"
#include "core/store/store_connection.h"
#include "core/support/list_sort.h"
#include "direct_fill.h"
#include "stall_pinger.h"
#include "ui/app/application.h"
#include "ui/app/main_window.h"
#include "ui/app/server_list_model.h"
#include "ui/app/server_list_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

using namespace Qt::StringLiterals;

namespace {

// The columns the list shows, ID to 排序.
constexpr int kShownColumns = 10;

void writeServers(const QString& path, int rows) {
    LocalStore::ensureDatabase(path);
    LocalStore store;
    if (!store.open(path))
        return;
    StoreTransaction transaction(store.connection());
    QRandomGenerator random(42);
    const QStringList groups = {u"默认分组"_s, u"香港"_s, u"美国"_s, u"日本东京"_s, u"007"_s};
    const QDate today = QDate::currentDate();
    for (int i = 0; i < rows; ++i) {
        ServerRecord s;
        s.ip = u"127.%1.%2.%3"_s.arg(1 + i / 65536).arg(i / 256 % 256).arg(i % 256);
        s.user = u"root"_s;
        s.password = u"password"_s;
        s.port = u"1"_s;
        s.sort = QString::number(random.bounded(100));
        s.group = groups[random.bounded(int(groups.size()))];
        s.remark = u"备注 %1"_s.arg(random.bounded(1000));
        s.startTime = u"2024-6-6 9:05:07"_s;
        const QDate end = today.addDays(random.bounded(-30, 60));
        s.endTime = u"%1-%2-%3 9:05:07"_s.arg(end.year()).arg(end.month()).arg(end.day());
        s.name = u"服务器%1号"_s.arg(i);
        s.system = i % 3 ? u"linux"_s : u"windows"_s;
        static_cast<void>(store.insertBatchServer(s, false));
    }
    static_cast<void>(transaction.commit());
}

struct Observed {
    double worstMs = 0;
    double worstCpuMs = 0;
    double doneMs = 0;
};

// The pinger's longest wait while `start`'s work runs until `done`, and for `tailMs` after it
// (the probe pass that follows), or until `limitMs`; and the time until `done`.
Observed observe(StallPinger& pinger, const std::function<void()>& start,
                 const std::function<bool()>& done, int tailMs, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    pinger.start();
    start();
    qint64 doneAt = -1;
    while (clock.elapsed() < limitMs) {
        if (doneAt < 0 && done())
            doneAt = clock.nsecsElapsed();
        if (doneAt >= 0 && clock.nsecsElapsed() - doneAt >= qint64(tailMs) * 1000000)
            break;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    pinger.stop();
    return {pinger.worstMs(), pinger.worstCpuMs(),
            double(doneAt < 0 ? clock.nsecsElapsed() : doneAt) / 1e6};
}

void report(const QString& what, const std::vector<Observed>& runs) {
    std::vector<double> stalls, cpu, times;
    for (const Observed& o : runs) {
        stalls.push_back(o.worstMs);
        cpu.push_back(o.worstCpuMs);
        times.push_back(o.doneMs);
    }
    std::printf("  %-34s longest UI wait %7.1f ms (UI thread's own %6.1f ms), worst run %7.1f ms "
                "(own %6.1f ms)  done in %8.0f ms\n",
                what.toUtf8().constData(), median(stalls), median(cpu),
                *std::max_element(stalls.begin(), stalls.end()),
                *std::max_element(cpu.begin(), cpu.end()), median(times));
}

// Every shown column's texts, in the list's order.
std::vector<QList<QString>> shownTexts(const ServerListModel& model) {
    std::vector<QList<QString>> texts(kShownColumns);
    for (int column = 0; column < kShownColumns; ++column)
        for (int r = 0; r < model.rowCount(); ++r)
            texts[size_t(column)] << model.index(r, column).data().toString();
    return texts;
}

// Sort time per kind of key, on the worker that sorts; the keys are the shown texts of the
// whole list (taken after the first fill: a search leaves only its matches).
void reportSortTimes(const std::vector<QList<QString>>& texts) {
    for (const auto& [column, name] :
         {std::pair{0, "ID (number)"}, std::pair{1, "分组 (integer)"},
          std::pair{3, "服务器IP (GBK bytes)"}, std::pair{6, "备注 (GBK bytes)"},
          std::pair{7, "系统 (GBK bytes)"}, std::pair{9, "排序 (GBK bytes)"}}) {
        const QList<QString>& keys = texts[size_t(column)];
        std::vector<double> ms;
        for (int k = 0; k < 3; ++k) {
            QElapsedTimer t;
            t.start();
            ListSort::sortOrder(keys, column);
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::printf("  sort by %-22s %8.2f ms for %lld rows (worker, median of 3)\n", name,
                    median(ms), static_cast<long long>(keys.size()));
    }
}

int runRows(int rows, int runs, bool directFill) {
    QTemporaryDir home;
    qputenv("XDG_RUNTIME_DIR", home.path().toUtf8());
    AppContext context({home.path(), u"http://127.0.0.1:1"_s});
    writeServers(context.databasePath(), rows);

    StallPinger pinger;
    const int fillLimitMs = rows * ServerListView::kReloadPaceMs * 3 + 60000;
    std::unique_ptr<MainWindow> window;
    QSignalSpy* finished = nullptr;
    const double bareMb = residentMb();
    Observed startup;
    if (directFill) {
        window = std::make_unique<MainWindow>(context,
                                              [](const LaunchRequest&) { return LaunchOutcome{}; });
        window->show();
        if (!fillDirectly(*window->serverList(), context.databasePath(), fillLimitMs))
            return 1;
    } else {
        startup = observe(
            pinger,
            [&] {
                window = std::make_unique<MainWindow>(
                    context, [](const LaunchRequest&) { return LaunchOutcome{}; });
                finished = new QSignalSpy(window->serverList(), &ServerListView::reloaded);
                window->show();
            },
            [&] { return finished && !finished->isEmpty(); }, 300, fillLimitMs);
        delete finished;
    }
    ServerListView* list = window->serverList();
    const double filledMb = residentMb();
    const std::vector<QList<QString>> texts = shownTexts(*list->model());

    QSignalSpy fills(list, &ServerListView::fillFinished);
    auto run = [&](const std::function<void()>& start, int tailMs, int limitMs) {
        fills.clear();
        return observe(
            pinger, start, [&] { return !fills.isEmpty(); }, tailMs, limitMs);
    };
    std::vector<Observed> reloads, searches;
    std::vector<std::vector<Observed>> sorts(kShownColumns);
    for (int r = 0; r < runs; ++r) {
        if (!directFill)
            reloads.push_back(run([&] { list->reload(); }, 300, fillLimitMs));
        for (int column = 0; column < kShownColumns; ++column)
            sorts[column].push_back(run([&] { list->sortByColumn(column); }, 500, 60000));
        // About one row in ninety matches: a search fill is paced at 100 ms a row.
        searches.push_back(
            run([&] { list->search(u"备注"_s, u"备注 77"_s, QString()); }, 300, fillLimitMs));
    }
    std::printf("%d rows in the main window, probe passes running, %d run(s):\n", rows, runs);
    if (!directFill) {
        report(u"start-up and its reload"_s, {startup});
        report(u"reload"_s, reloads);
    }
    for (int column = 0; column < kShownColumns; ++column)
        report(u"sort by %1"_s.arg(ServerListModel::caption(column)), sorts[column]);
    report(u"search 备注 \"备注 77\""_s, searches);
    reportSortTimes(texts);
    std::printf("  memory: %.1f MB resident before the first fill, %.1f MB after it (the list's "
                "own %.1f MB), peak %.1f MB\n",
                bareMb, filledMb, filledMb - bareMb, peakMemoryMb());
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (const std::vector<int> sizes = benchSizes(argc, argv); !sizes.empty())
        return runEachSize(argc, argv, sizes);
    setUpApplication(app);
    return runRows(intOption(argc, argv, "--rows=", 1000), intOption(argc, argv, "--runs=", 1),
                   hasFlag(argc, argv, "--direct-fill"));
}
