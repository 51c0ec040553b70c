// How the server list behaves on a long list: the UI thread's own work per filled row (the
// pacing pauses aside), the longest stall of the event loop while the list is read, filled,
// sorted and searched (measured as the worst gap of a repeating 1 ms timer), the sort time
// per kind of key, and the process's peak memory.
//
// --rows=N sets the length of the list (default 10000); the CTest smoke run uses fewer.
// Prints one line per figure; medians where a figure is repeated.

#include "bench_options.h"
#include "core/store/local_store.h"
#include "core/support/list_sort.h"
#include "ui/app/application.h"
#include "ui/app/list_table.h"
#include "ui/app/server_list_view.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>

using namespace Qt::StringLiterals;

namespace {

void writeServers(int rows) {
    LocalStore::ensureDatabase();
    LocalStore store;
    if (!store.open())
        return;
    StoreTransaction transaction(store);
    QRandomGenerator random(42);
    const QStringList groups = {u"默认分组"_s, u"香港"_s, u"美国"_s, u"日本东京"_s, u"007"_s};
    for (int i = 0; i < rows; ++i) {
        ServerRecord s;
        // Addresses from the block reserved for benchmarking; nothing is contacted.
        s.ip = u"198.18.%1.%2"_s.arg(i / 256).arg(i % 256);
        s.user = u"root"_s;
        s.password = u"password"_s;
        s.port = u"22"_s;
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

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Runs `start`, then keeps the event loop going until `done` or `limitMs`, with a 1 ms timer
// whose worst gap between two ticks is returned in ms.
double worstStall(const std::function<void()>& start, const std::function<bool()>& done,
                  int limitMs) {
    QElapsedTimer clock;
    qint64 last = 0;
    qint64 worst = 0;
    QTimer tick;
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        worst = std::max(worst, now - last);
        last = now;
    });
    clock.start();
    tick.start(1);
    start();
    while (!done() && clock.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    worst = std::max(worst, clock.nsecsElapsed() - last);
    return double(worst) / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    const int rows = intOption(argc, argv, "--rows=", 10000);

    QApplication app(argc, argv);
    setUpApplication(app);
    QTemporaryDir home;
    qputenv("TORVANE_HOME", home.path().toUtf8());
    writeServers(rows);

    ListTable view;
    view.resize(1056, 469);
    ServerListView list(&view);
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        std::printf("the list's window was never shown; paint costs are missing\n");

    LocalStore store;
    if (!store.open())
        return 1;
    const QList<ListCells> cells = *readListRows(store, reloadQuery());

    // The work of one fill step, without the pause: append a row and let the view catch up.
    std::vector<double> perRow;
    for (const ListCells& row : cells) {
        QElapsedTimer t;
        t.start();
        list.model()->appendRow(row);
        QCoreApplication::processEvents();
        perRow.push_back(double(t.nsecsElapsed()) / 1e3);
    }
    std::printf("fill step per row (UI thread): median %.1f us, worst %.1f us over %d rows "
                "(pause between rows: %d ms)\n",
                median(perRow), *std::max_element(perRow.begin(), perRow.end()), rows,
                ServerListView::kReloadPaceMs);

    // Sort time per kind of key, on the worker that sorts.
    for (const auto& [column, name] :
         {std::pair{0, "ID (number)"}, std::pair{1, "分组 (integer)"},
          std::pair{3, "服务器IP (GBK bytes)"}, std::pair{6, "备注 (GBK bytes)"}}) {
        QList<QString> keys;
        for (const ListCells& row : cells)
            keys << row[column];
        std::vector<double> ms;
        for (int run = 0; run < 7; ++run) {
            QElapsedTimer t;
            t.start();
            ListSort::sortOrder(keys, column);
            ms.push_back(double(t.nsecsElapsed()) / 1e6);
        }
        std::printf("sort by %s: median %.2f ms for %d rows\n", name, median(ms), rows);
    }

    // Event-loop stalls: a header click on the full list, a reload (read on a worker, then the
    // first rows of the paced fill) and a search.
    QSignalSpy finished(&list, &ServerListView::fillFinished);
    for (int column : {0, 3}) {
        finished.clear();
        const double stall = worstStall([&] { list.sortByColumn(column); },
                                        [&] { return !finished.isEmpty(); }, 60000);
        std::printf("longest event-loop stall, sort by column %d: %.2f ms\n", column, stall);
    }
    const double reloadStall = worstStall([&] { list.reload(); }, [] { return false; }, 3000);
    std::printf("longest event-loop stall, reload (read + first 3 s of fill): %.2f ms\n",
                reloadStall);
    const double searchStall = worstStall([&] { list.search(u"综合查询"_s, QString(), QString()); },
                                          [] { return false; }, 2000);
    std::printf("longest event-loop stall, search (read + first 2 s of fill): %.2f ms\n",
                searchStall);

    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("peak memory: %.1f MB\n", double(usage.ru_maxrss) / 1024.0);
    return 0;
}
