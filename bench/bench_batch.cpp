// Batch add and export on a long list, as the user pays for them:
//  - the core add of a batch into a file that already holds as many servers, one write
//    transaction per slice as the window runs it, commits and log lines included, against
//    the floor of the same rows in the same slices: a bare prepared INSERT plus the indexed
//    duplicate lookup, commits included too (mean, median and p99 per line; the two are
//    run in turn, several times);
//  - how the core add grows with the batch's length, into the same full file;
//  - the batch window driven to the end in a process of its own (list filled, log pane
//    connected): the time from "开始添加" until the file holds every line, and that
//    process's peak memory, against the core add of the same lines;
//  - the export of the whole list.
//
// --rows=N sets the list's length and the longest batch (default 10000); --runs=N the
// repetitions of the core measures (default 3). The CTest smoke run uses fewer.

#include "bench_support.h"
#include "core/app_context.h"
#include "core/store/batch_export.h"
#include "core/store/batch_import.h"
#include "core/store/local_store.h"
#include "core/store/store_changes.h"
#include "core/store/store_connection.h"
#include "core/support/gbk_codec.h"
#include "core/support/log_sink.h"
#include "ui/app/application.h"
#include "ui/app/list_table.h"
#include "ui/app/log_pane.h"
#include "ui/app/server_list_view.h"
#include "ui/store/batch_window.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Addresses from the block reserved for benchmarking; nothing is ever contacted.
QString line(int i) {
    return u"香港----服务器%1----198.18.%2.%3----root----password----22----linux----备注----"
           u"2024-6-6 9:5:7----2025-6-6 9:5:7----50"_s.arg(i)
               .arg(i / 256 % 256)
               .arg(i % 256) +
           (i >= 65536 ? u"x%1"_s.arg(i / 65536) : QString());
}

QStringList lines(int from, int to) {
    QStringList result;
    for (int i = from; i < to; ++i)
        result << line(i);
    return result;
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

// The floor: each line's values bound to a prepared INSERT after a prepared duplicate lookup
// on the address index, in the same slices, each slice one BEGIN IMMEDIATE ... COMMIT.
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
    std::vector<QStringList> fields;
    int i = from;
    for (qsizetype count : slices)
        for (qsizetype k = 0; k < count; ++k)
            fields.push_back(line(i++).split(u"----"_s));
    std::vector<double> perLine;
    size_t next = 0;
    for (qsizetype count : slices) {
        QElapsedTimer t;
        t.start();
        sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        for (qsizetype k = 0; k < count; ++k) {
            const QStringList& f = fields[next++];
            const int order[] = {2, 3, 4, 5, 10, 0, 7, 8, 9, 1, 6};
            QByteArray bytes[11];
            for (int c = 0; c < 11; ++c)
                bytes[c] = Gbk::encode(f[order[c]]);
            sqlite3_bind_text(lookup, 1, bytes[0].constData(), int(bytes[0].size()), SQLITE_STATIC);
            sqlite3_bind_text(lookup, 2, bytes[3].constData(), int(bytes[3].size()), SQLITE_STATIC);
            const bool exists = sqlite3_step(lookup) == SQLITE_ROW;
            sqlite3_reset(lookup);
            if (exists)
                continue;
            for (int c = 0; c < 11; ++c)
                sqlite3_bind_text(insert, c + 1, bytes[c].constData(), int(bytes[c].size()),
                                  SQLITE_STATIC);
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

qint64 serverCount(const QString& path) {
    StoreConnection db;
    if (!db.open(path))
        return -1;
    const auto rows = db.query(u"SELECT count(*) FROM server_data"_s);
    return rows && !rows->rows.isEmpty() ? rows->rows.first().value(0).toLongLong() : -1;
}

// The window measure, in a process of its own so that its memory is the window's: the main
// window's list (filled with the file's servers) and log pane, the batch window on top, the
// lines pasted, "开始添加" pressed; prints the time until the file holds every line and the
// process's peak memory.
int runWindow(int count, int from) {
    setUpApplication(*qApp);
    AppContext context(AppContext::settingsFromEnvironment());
    ListTable table;
    table.resize(1056, 469);
    ServerListView list(&table, context);
    QPlainTextEdit logEdit;
    LogPane pane(&logEdit);
    pane.connectLogSink(*context.log());
    {
        LocalStore store;
        if (!store.open(context.databasePath()))
            return 1;
        const auto cells = readListRows(store, reloadQuery());
        if (!cells)
            return 1;
        QList<ListRow> rows;
        for (const ListCells& row : *cells)
            rows << ListRow{row};
        list.model()->replaceRows(std::move(rows));
    }
    table.show();
    logEdit.show();
    const qint64 before = serverCount(context.databasePath());

    // As in the main window, the batch's reported change reads the list again.
    QObject::connect(&context.storeChanges(), &StoreChanges::changed, &list,
                     [&list] { list.reload(); });
    BatchWindow window(&list, context);
    window.show();
    window.setText(lines(from, from + count).join(u"\r\n"_s));
    QCoreApplication::processEvents();
    QSignalSpy finished(&window, &BatchWindow::addingFinished);
    QElapsedTimer t;
    t.start();
    window.addLines();
    while (finished.isEmpty() && t.elapsed() < 600000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    const qint64 after = serverCount(context.databasePath());
    std::printf("%.1f %.1f %lld\n", ms, peakMemoryMb(), static_cast<long long>(after - before));
    return after - before == count ? 0 : 1;
}

struct WindowRun {
    double ms = -1;
    double peakMb = 0;
    bool complete = false;
};

WindowRun windowRun(const QString& baseFile, int count, int from) {
    QTemporaryDir home;
    QFile::copy(baseFile, home.filePath(u"myserver.db"_s));
    QProcess child;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"TORVANE_HOME"_s, home.path());
    child.setProcessEnvironment(env);
    child.start(QCoreApplication::applicationFilePath(),
                {u"--window=%1"_s.arg(count), u"--from=%1"_s.arg(from)});
    if (!child.waitForFinished(900000))
        return {};
    const QList<QByteArray> out = child.readAllStandardOutput().trimmed().split(' ');
    if (out.size() < 3)
        return {};
    return {out[0].toDouble(), out[1].toDouble(), child.exitCode() == 0};
}

QString copyOf(const QString& base, const QString& folder, const QString& name) {
    const QString path = folder + u'/' + name;
    QFile::remove(path);
    QFile::copy(base, path);
    return path;
}

} // namespace

int main(int argc, char* argv[]) {
    const int rows = intOption(argc, argv, "--rows=", 10000, 100);
    const int runs = intOption(argc, argv, "--runs=", 3);
    const int windowLines = intOption(argc, argv, "--window=", 0, 0);
    QApplication app(argc, argv);
    if (windowLines > 0)
        return runWindow(windowLines, intOption(argc, argv, "--from=", 0, 0));

    QTemporaryDir home;
    const QString file = home.filePath(u"myserver.db"_s);
    LocalStore::ensureDatabase(file);
    coreAdd(file, 0, rows, nullptr); // the list that is already there
    const QString base = home.filePath(u"base.db"_s);
    QFile::copy(file, base);

    // Core add against its floor, in turn, each into a fresh copy of the full file.
    std::vector<double> core, floor;
    for (int run = 0; run < runs; ++run) {
        std::vector<qsizetype> slices;
        const auto c = coreAdd(copyOf(base, home.path(), u"core.db"_s), rows, 2 * rows, &slices);
        core.insert(core.end(), c.begin(), c.end());
        const auto f = floorAdd(copyOf(base, home.path(), u"floor.db"_s), rows, slices);
        floor.insert(floor.end(), f.begin(), f.end());
    }
    const Figures fc = figures(core);
    const Figures ff = figures(floor);
    std::printf("core batch add of %d lines into %d servers, commits included, %d runs in turn "
                "with the floor:\n"
                "  batch add: mean %.1f us, median %.1f us, p99 %.1f us per line\n"
                "  floor (prepared INSERT + indexed duplicate lookup): mean %.1f us, median "
                "%.1f us, p99 %.1f us per line\n"
                "  batch / floor: mean %.2fx, median %.2fx, p99 %.2fx\n",
                rows, rows, runs, fc.mean, fc.median, fc.p99, ff.mean, ff.median, ff.p99,
                fc.mean / ff.mean, fc.median / ff.median, fc.p99 / ff.p99);

    // Growth into the full file: the core add, then the window, of a quarter, half and the
    // whole batch; the window against the core add of the same lines.
    bool everyLine = true;
    for (int n : {rows / 4, rows / 2, rows}) {
        QElapsedTimer t;
        t.start();
        coreAdd(copyOf(base, home.path(), u"growth.db"_s), rows, rows + n, nullptr);
        const double coreMs = double(t.nsecsElapsed()) / 1e6;
        const WindowRun w = windowRun(base, n, rows);
        std::printf("batch of %5d lines into %d servers: core %.0f ms (%.1f us/line); window "
                    "%.0f ms (%.1f us/line, window / core = %.2fx), peak memory %.1f MB%s\n",
                    n, rows, coreMs, coreMs * 1e3 / n, w.ms, w.ms * 1e3 / n, w.ms / coreMs,
                    w.peakMb, w.complete ? "" : " — NOT every line in the file");
        everyLine = everyLine && w.complete;
    }

    // Export of the whole list.
    LocalStore s;
    if (!s.open(file))
        return 1;
    const auto all = readListRows(s, reloadQuery());
    QElapsedTimer t;
    t.start();
    const bool written = BatchExport::writeExportFile(home.path(), BatchExport::exportText(*all));
    std::printf("export of %lld rows: %.0f ms (%s)\n", static_cast<long long>(all->size()),
                double(t.nsecsElapsed()) / 1e6, written ? "written" : "NOT written");
    return written && everyLine ? 0 : 1;
}
