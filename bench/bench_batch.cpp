// Batch add and export on a long list, as the user pays for them:
//  - the core add of a batch into a file that already holds as many servers, one write
//    transaction per slice as the window runs it, commits and log lines included, against
//    the floor of the same rows in the same slices: a bare prepared INSERT plus the indexed
//    duplicate lookup, commits included too, with the values already in the store's GBK form
//    (the encoding is reported apart) (mean, median and p99 per line; run in turn, --runs
//    times);
//  - the real batch window over the real main window, in a process of its own: the main window
//    starts on the file and fills its list with its own reload, then the lines are put in the
//    batch window and "开始添加" pressed; the time until the file holds every line against the
//    core add of the same lines, the longest wait of the UI thread meanwhile as an outside
//    pinger sees it (bench/stall_pinger.h), and that process's memory: the list's own (resident
//    after the fill less before it), the peak from the press on, and the highest resident
//    figure while the box is read, while the slices are added and in the second after (the
//    reload starts there), with the heap in use as glibc counts it beside them (resident
//    memory beyond it is the allocator's free store or no heap at all; its highest figure per
//    phase with "--heap" only, as sampling it holds up the batch); --runs times, the run of
//    the median time shown with the median longest wait;
//  - the export of the whole list.
// Every line has an address of its own (loopback addresses at a port nothing listens on: the
// window's probe passes get their refusals at once and contact nothing outside the machine).
//
// Without "--rows=N" it runs lists and batches of 1,000, 10,000 and 50,000 lines, each in a
// process of its own ("--sizes=A,B" for others); the window fills its list at the reload's
// 10 ms a row first (500 s at 50,000), or at once with "--direct-fill" (the rows a reload
// reads, put in the list in one go). --runs=N repeats the core and window measures (default 3).

#include "bench_sizes.h"
#include "bench_support.h"
#include "core/app_context.h"
#include "core/codec/gbk_codec.h"
#include "core/store/batch_export.h"
#include "core/store/batch_import.h"
#include "core/store/local_store.h"
#include "core/store/server_queries.h"
#include "core/store/store_connection.h"
#include "core/support/log_sink.h"
#include "direct_fill.h"
#include "stall_pinger.h"
#include "ui/app/application.h"
#include "ui/app/main_window.h"
#include "ui/app/server_list_view.h"
#include "ui/store/batch_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <numeric>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// A line of its own for every i: its address (and so its duplicate key) is unique, and its
// end date falls in the weeks around today.
QString line(int i) {
    const QDate end = QDate::currentDate().addDays(i % 90 - 30);
    return u"香港----服务器%1----127.%2.%3.%4----root----password----1----linux----备注----"
           u"2024-6-6 9:5:7----%5-%6-%7 9:5:7----50"_s.arg(i)
               .arg(1 + i / 65536)
               .arg(i / 256 % 256)
               .arg(i % 256)
               .arg(end.year())
               .arg(end.month())
               .arg(end.day());
}

QStringList lines(int from, int to) {
    QStringList result;
    for (int i = from; i < to; ++i)
        result << line(i);
    return result;
}

// Lines [from, to) as one text, CR LF between them, as a paste puts them in the box: made in
// one piece, without a list of lines or a join beside it, so the process's memory with the
// box full is the box's, not the bench's.
QString batchText(int from, int to) {
    qsizetype size = 0;
    for (int i = from; i < to; ++i)
        size += line(i).size() + 2;
    QString text;
    text.reserve(size);
    for (int i = from; i < to; ++i) {
        if (i > from)
            text += u"\r\n"_s;
        text += line(i);
    }
    return text;
}

struct Figures {
    double mean = 0, median = 0, p99 = 0;
};

Figures figures(std::vector<double> v) {
    if (v.empty())
        return {};
    const double sum = std::accumulate(v.begin(), v.end(), 0.0);
    return {sum / double(v.size()), median(v), percentile(v, 0.99)};
}

// Per-line cost of each line of a slice: the slice's time (commit included) over its lines.
void addSliceCosts(std::vector<double>& perLine, qint64 nsecs, qsizetype count) {
    for (qsizetype k = 0; k < count; ++k)
        perLine.push_back(double(nsecs) / 1e3 / double(count));
}

// The batch of lines [from, to) through BatchAdder, slice by slice as the window runs it
// (without the pauses between slices, which are idle time). Returns the per-line costs and
// the slice lengths, so the floor can be run in the same slices.
std::vector<double> coreAdd(const QString& path, int from, int to, std::vector<qsizetype>* slices) {
    LocalStore store;
    if (!store.open(path))
        return {};
    std::vector<double> perLine;
    const LogSink log; // the log lines are made, then dropped
    BatchImport::BatchAdder adder(lines(from, to));
    while (!adder.isDone()) {
        const qsizetype before = adder.processed();
        QElapsedTimer t;
        t.start();
        static_cast<void>(adder.nextSlice(store, BatchImport::BatchAdder::kSlice, log));
        const qint64 ns = t.nsecsElapsed();
        addSliceCosts(perLine, ns, adder.processed() - before);
        if (slices)
            slices->push_back(adder.processed() - before);
    }
    return perLine;
}

// The values of lines [from, from + count) in the store's GBK form, in the order the floor's
// INSERT binds them (address, account, password, port, sort, group, remark, start, end, name,
// system).
using EncodedLine = std::array<QByteArray, 11>;
std::vector<EncodedLine> encodedLines(int from, qsizetype count) {
    std::vector<EncodedLine> result;
    result.reserve(size_t(count));
    for (int i = from; i < from + count; ++i) {
        const QStringList f = line(i).split(u"----"_s);
        const int order[] = {2, 3, 4, 5, 10, 0, 7, 8, 9, 1, 6};
        EncodedLine bytes;
        for (int c = 0; c < 11; ++c)
            bytes[size_t(c)] = Gbk::encode(f[order[c]]);
        result.push_back(std::move(bytes));
    }
    return result;
}

// The floor: each line's values bound to a prepared INSERT after a prepared duplicate lookup
// on the address index, in the same slices, each slice one BEGIN IMMEDIATE ... COMMIT. The
// values are split and encoded before the clock runs: the floor is the store's own work.
std::vector<double> floorAdd(const QString& path, int from, const std::vector<qsizetype>& slices) {
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_stmt* insert = nullptr;
    sqlite3_stmt* lookup = nullptr;
    sqlite3_prepare_v2(
        db,
        "INSERT INTO server_data (server_ip, server_user, server_pass, server_port, sort, "
        "server_class, remark, start_time, end_time, server_name, server_system, baota_url, "
        "baota_user, baota_pass, baota_apikey) VALUES (?,?,?,?,?,?,?,?,?,?,?,'0','0','0','0')",
        -1, &insert, nullptr);
    sqlite3_prepare_v2(
        db, "SELECT id FROM server_data WHERE server_ip=? AND server_port=? ORDER BY id LIMIT 1",
        -1, &lookup, nullptr);
    const std::vector<EncodedLine> lines =
        encodedLines(from, std::accumulate(slices.begin(), slices.end(), qsizetype(0)));
    std::vector<double> perLine;
    size_t next = 0;
    for (qsizetype count : slices) {
        QElapsedTimer t;
        t.start();
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        for (qsizetype k = 0; k < count; ++k) {
            const EncodedLine& bytes = lines[next++];
            sqlite3_bind_text(lookup, 1, bytes[0].constData(), int(bytes[0].size()), SQLITE_STATIC);
            sqlite3_bind_text(lookup, 2, bytes[3].constData(), int(bytes[3].size()), SQLITE_STATIC);
            const bool exists = sqlite3_step(lookup) == SQLITE_ROW;
            sqlite3_reset(lookup);
            if (exists)
                continue;
            for (int c = 0; c < 11; ++c)
                sqlite3_bind_text(insert, c + 1, bytes[size_t(c)].constData(),
                                  int(bytes[size_t(c)].size()), SQLITE_STATIC);
            sqlite3_step(insert);
            sqlite3_reset(insert);
        }
        sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
        addSliceCosts(perLine, t.nsecsElapsed(), count);
    }
    sqlite3_finalize(insert);
    sqlite3_finalize(lookup);
    sqlite3_close(db);
    return perLine;
}

// What the floor leaves out: splitting the lines and encoding their values, per line.
double encodingUsPerLine(int from, int count) {
    QElapsedTimer t;
    t.start();
    const auto lines = encodedLines(from, count);
    return double(t.nsecsElapsed()) / 1e3 / double(lines.size());
}

qint64 serverCount(const QString& path) {
    StoreConnection db;
    if (!db.open(path))
        return -1;
    const auto rows = db.query(u"SELECT count(*) FROM server_data"_s);
    return rows && !rows->rows.isEmpty() ? rows->rows.first().value(0).toLongLong() : -1;
}

// The phases of the window measure whose resident memory is watched apart.
enum Phase { Reading, Adding, Tail, PhaseCount };

// The window measure, in a process of its own so that its memory is the window's: the main
// window starts on the file in TORVANE_HOME and fills its list (at once with "--direct-fill");
// the batch window opens over it, the lines go into its box and "开始添加" is pressed. Prints
// the time until the batch ended, the pinger's longest wait from the press until a second
// after the end (the reload the batch asks for starts there), its UI thread's own share, the
// resident memory before the start, after the fill and with the lines in the box, the peak,
// the lines added, and the highest resident memory while the box is read, while the slices are
// added and in the second after.
int runWindow(int count, int from, bool directFill, bool sampleHeap) {
    setUpApplication(*qApp);
    AppContext context(AppContext::settingsFromEnvironment());
    MainWindow window(context, [](const LaunchRequest&) { return LaunchOutcome{}; });
    const double bareMb = residentMb();
    const double bareHeapMb = heapInUseMb();
    QSignalSpy reloaded(window.serverList(), &ServerListView::reloaded);
    window.show();
    const qint64 fillLimitMs = qint64(count) * 30 + 60000;
    if (directFill ? !fillDirectly(*window.serverList(), context.databasePath(), fillLimitMs)
                   : !waitFor([&] { return !reloaded.isEmpty(); }, fillLimitMs))
        return 1;
    const double filledMb = residentMb();
    const double filledHeapMb = heapInUseMb();
    const qint64 before = serverCount(context.databasePath());

    BatchWindow batch(window.serverList(), context, &window);
    batch.show();
    batch.setText(batchText(from, from + count));
    QCoreApplication::processEvents();
    const double boxMb = residentMb();
    const double boxHeapMb = heapInUseMb();
    QSignalSpy finished(&batch, &BatchWindow::addingFinished);
    QSignalSpy rowsAdded(window.serverList()->model(), &QAbstractItemModel::rowsInserted);
    resetPeakMemory(); // the peak of the batch, not of the fill before it
    PhasePeaks peaks(PhaseCount, sampleHeap);
    StallPinger pinger;
    QElapsedTimer t;
    t.start();
    pinger.start();
    batch.addLines();
    waitFor(
        [&] {
            if (!rowsAdded.isEmpty())
                peaks.setPhase(Adding);
            return !finished.isEmpty();
        },
        900000);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    peaks.setPhase(Tail);
    QElapsedTimer tail;
    tail.start();
    waitFor([&] { return tail.elapsed() >= 1000; }, 1000);
    pinger.stop();
    peaks.stop();
    // Read before the count below, whose connection is the bench's, not the window's.
    const double peakMb = peakMemoryMb();
    const qint64 after = serverCount(context.databasePath());
    std::printf("%.1f %.1f %.1f %.1f %.1f %.1f %lld %.1f %.1f %.1f %.1f %.1f %.1f %.1f %.1f %.1f "
                "%.1f\n",
                ms, pinger.worstMs(), pinger.worstCpuMs(), bareMb, filledMb, peakMb,
                static_cast<long long>(after - before), boxMb, peaks.peakMb(Reading),
                peaks.peakMb(Adding), peaks.peakMb(Tail), bareHeapMb, filledHeapMb, boxHeapMb,
                peaks.heapPeakMb(Reading), peaks.heapPeakMb(Adding), peaks.heapPeakMb(Tail));
    return after - before == count ? 0 : 1;
}

struct WindowRun {
    double ms = -1;
    double worstWaitMs = 0;
    double worstWaitCpuMs = 0;
    double bareMb = 0;
    double filledMb = 0;
    double peakMb = 0;
    bool complete = false;
    double boxMb = 0;
    std::array<double, PhaseCount> phasePeakMb{};
    // The heap in use (glibc's count) before the fill, after it, with the box full, and its
    // highest sample in each phase.
    double bareHeapMb = 0;
    double filledHeapMb = 0;
    double boxHeapMb = 0;
    std::array<double, PhaseCount> phaseHeapPeakMb{};
};

WindowRun windowRun(const QString& baseFile, int count, int from, bool directFill,
                    bool sampleHeap) {
    QTemporaryDir home;
    QFile::copy(baseFile, home.filePath(u"myserver.db"_s));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TORVANE_HOME"_s, home.path());
    env.insert(u"XDG_RUNTIME_DIR"_s, home.path());
    env.insert(u"TORVANE_CLOUD_URL"_s, u"http://127.0.0.1:1"_s);
    child.setProcessEnvironment(env);
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    QStringList arguments = {u"--window=%1"_s.arg(count), u"--from=%1"_s.arg(from)};
    if (directFill)
        arguments << u"--direct-fill"_s;
    if (sampleHeap)
        arguments << u"--heap"_s;
    child.start(QCoreApplication::applicationFilePath(), arguments);
    if (!child.waitForFinished(-1))
        return {};
    const QList<QByteArray> out = child.readAllStandardOutput().trimmed().split(' ');
    if (out.size() < 17)
        return {};
    return {out[0].toDouble(),
            out[1].toDouble(),
            out[2].toDouble(),
            out[3].toDouble(),
            out[4].toDouble(),
            out[5].toDouble(),
            child.exitCode() == 0,
            out[7].toDouble(),
            {out[8].toDouble(), out[9].toDouble(), out[10].toDouble()},
            out[11].toDouble(),
            out[12].toDouble(),
            out[13].toDouble(),
            {out[14].toDouble(), out[15].toDouble(), out[16].toDouble()}};
}

QString copyOf(const QString& base, const QString& folder, const QString& name) {
    const QString path = folder + u'/' + name;
    QFile::remove(path);
    QFile::copy(base, path);
    return path;
}

int runRows(int rows, int runs, bool directFill, bool sampleHeap) {
    QTemporaryDir home;
    const QString file = home.filePath(u"myserver.db"_s);
    LocalStore::ensureDatabase(file);
    coreAdd(file, 0, rows, nullptr); // the list that is already there
    const QString base = home.filePath(u"base.db"_s);
    QFile::copy(file, base);

    // Core add against its floor, in turn, each into a fresh copy of the full file.
    std::vector<double> core, floor, coreMs;
    for (int run = 0; run < runs; ++run) {
        std::vector<qsizetype> slices;
        QElapsedTimer t;
        t.start();
        const auto c = coreAdd(copyOf(base, home.path(), u"core.db"_s), rows, 2 * rows, &slices);
        coreMs.push_back(double(t.nsecsElapsed()) / 1e6);
        core.insert(core.end(), c.begin(), c.end());
        const auto f = floorAdd(copyOf(base, home.path(), u"floor.db"_s), rows, slices);
        floor.insert(floor.end(), f.begin(), f.end());
    }
    const Figures fc = figures(core);
    const Figures ff = figures(floor);
    std::printf("core batch add of %d lines into %d servers, commits included, %d runs in turn "
                "with the floor:\n"
                "  batch add: mean %.1f us, median %.1f us, p99 %.1f us per line; whole batch "
                "median %.0f ms\n"
                "  floor (prepared INSERT + indexed duplicate lookup, values encoded before): "
                "mean %.1f us, median %.1f us, p99 %.1f us per line\n"
                "  batch / floor: mean %.2fx, median %.2fx, p99 %.2fx (splitting and encoding a "
                "line, which the floor leaves out: %.1f us)\n",
                rows, rows, runs, fc.mean, fc.median, fc.p99, median(coreMs), ff.mean, ff.median,
                ff.p99, fc.mean / ff.mean, fc.median / ff.median, fc.p99 / ff.p99,
                encodingUsPerLine(rows, std::min(rows, 10000)));

    // The same batch through the real windows, against the core add's whole batch: the run
    // of the median time of --runs, with the median of their longest UI waits.
    std::vector<WindowRun> windowRuns;
    std::vector<double> windowMs, waits, waitCpu;
    for (int run = 0; run < runs; ++run) {
        windowRuns.push_back(windowRun(base, rows, rows, directFill, sampleHeap));
        windowMs.push_back(windowRuns.back().ms);
        waits.push_back(windowRuns.back().worstWaitMs);
        waitCpu.push_back(windowRuns.back().worstWaitCpuMs);
    }
    WindowRun w = *std::find_if(windowRuns.begin(), windowRuns.end(),
                                [&](const WindowRun& r) { return r.ms == median(windowMs); });
    w.worstWaitMs = median(waits);
    w.worstWaitCpuMs = median(waitCpu);
    w.complete = std::all_of(windowRuns.begin(), windowRuns.end(),
                             [](const WindowRun& r) { return r.complete; });
    std::printf(
        "batch window over the main window, %d lines into its filled list of %d: %.0f ms "
        "(window / core = %.2fx)%s\n"
        "  longest UI wait %.1f ms (UI thread's own %.1f ms)\n"
        "  memory: %.1f MB before the fill, %.1f MB after it (the list's own %.1f MB), "
        "%.1f MB with the lines in the box; peak %.1f MB (%.2fx the list's own above "
        "the fill)\n"
        "  highest resident: %.1f MB reading the box, %.1f MB adding, %.1f MB in the "
        "second after\n"
        "  heap in use (glibc): %.1f MB before the fill, %.1f MB after it, %.1f MB with "
        "the lines in the box\n",
        rows, rows, w.ms, w.ms / median(coreMs), w.complete ? "" : " — NOT every line in the file",
        w.worstWaitMs, w.worstWaitCpuMs, w.bareMb, w.filledMb, w.filledMb - w.bareMb, w.boxMb,
        w.peakMb, (w.peakMb - w.filledMb) / (w.filledMb - w.bareMb), w.phasePeakMb[Reading],
        w.phasePeakMb[Adding], w.phasePeakMb[Tail], w.bareHeapMb, w.filledHeapMb, w.boxHeapMb);
    if (sampleHeap)
        std::printf("  highest heap in use: %.1f MB reading the box, %.1f MB adding, %.1f MB in "
                    "the second after (sampled: the times above are slowed by it)\n",
                    w.phaseHeapPeakMb[Reading], w.phaseHeapPeakMb[Adding], w.phaseHeapPeakMb[Tail]);

    // Export of the whole list.
    LocalStore s;
    if (!s.open(file))
        return 1;
    const auto all = readServers(s, reloadQuery());
    QElapsedTimer t;
    t.start();
    const bool written = BatchExport::writeExportFile(home.path(), BatchExport::exportText(*all));
    std::printf("export of %lld rows: %.0f ms (%s)\n", static_cast<long long>(all->size()),
                double(t.nsecsElapsed()) / 1e6, written ? "written" : "NOT written");
    return written && w.complete ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (const int windowLines = intOption(argc, argv, "--window=", 0, 0); windowLines > 0)
        return runWindow(windowLines, intOption(argc, argv, "--from=", 0, 0),
                         hasFlag(argc, argv, "--direct-fill"), hasFlag(argc, argv, "--heap"));
    if (const std::vector<int> sizes = benchSizes(argc, argv); !sizes.empty())
        return runEachSize(argc, argv, sizes);
    return runRows(intOption(argc, argv, "--rows=", 1000, 100), intOption(argc, argv, "--runs=", 3),
                   hasFlag(argc, argv, "--direct-fill"), hasFlag(argc, argv, "--heap"));
}
