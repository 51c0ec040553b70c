// Batch add and export on a long list: the cost per line of adding servers from text into a
// file that already holds as many, against a bare prepared INSERT of the same rows in the
// same run; how the whole batch grows with its length; and the export of the list.
//
// --rows=N sets the list's length (default 10000); the CTest smoke run uses fewer.

#include "bench_options.h"
#include "core/store/batch_export.h"
#include "core/store/batch_import.h"
#include "core/store/local_store.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
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

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// Adds lines [from, to) the way the batch window does: one transaction per slice.
std::vector<double> addLines(LocalStore& store, int from, int to) {
    std::vector<double> perLine;
    perLine.reserve(size_t(to - from));
    constexpr int kSlice = 500;
    for (int start = from; start < to; start += kSlice) {
        StoreTransaction transaction(store);
        for (int i = start; i < std::min(to, start + kSlice); ++i) {
            QElapsedTimer t;
            t.start();
            static_cast<void>(BatchImport::addLine(store, line(i)));
            perLine.push_back(double(t.nsecsElapsed()) / 1e3);
        }
        static_cast<void>(transaction.commit());
    }
    return perLine;
}

std::vector<double> bareInserts(const QString& path, int from, int to) {
    sqlite3* db = nullptr;
    sqlite3_open(path.toUtf8().constData(), &db);
    sqlite3_stmt* stmt = nullptr;
    const char* sql =
        "INSERT INTO server_data (server_ip, server_user, server_pass, server_port, sort, "
        "server_class, remark, start_time, end_time, server_name, server_system, baota_url, "
        "baota_user, baota_pass, baota_apikey) VALUES (?,?,?,?,?,?,?,?,?,?,?,'0','0','0','0')";
    sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr);
    std::vector<double> perRow;
    sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
    for (int i = from; i < to; ++i) {
        const QStringList f = line(i).split(u"----"_s);
        QElapsedTimer t;
        t.start();
        const int order[] = {2, 3, 4, 5, 10, 0, 7, 8, 9, 1, 6};
        QList<QByteArray> bytes;
        for (int k = 0; k < 11; ++k)
            bytes << f[order[k]].toUtf8();
        for (int k = 0; k < 11; ++k)
            sqlite3_bind_text(stmt, k + 1, bytes[k].constData(), int(bytes[k].size()),
                              SQLITE_STATIC);
        sqlite3_step(stmt);
        sqlite3_reset(stmt);
        perRow.push_back(double(t.nsecsElapsed()) / 1e3);
        if ((i - from) % 500 == 499) {
            sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
            sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
        }
    }
    sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    sqlite3_finalize(stmt);
    sqlite3_close(db);
    return perRow;
}

} // namespace

int main(int argc, char* argv[]) {
    const int rows = intOption(argc, argv, "--rows=", 10000, 100);
    QCoreApplication app(argc, argv);
    QTemporaryDir home;
    qputenv("TORVANE_HOME", home.path().toUtf8());
    LocalStore::ensureDatabase();

    LocalStore store;
    if (!store.open())
        return 1;
    addLines(store, 0, rows); // the list that is already there
    const std::vector<double> batch = addLines(store, rows, 2 * rows);
    store.close();

    // The bare INSERT into a copy of the same file, with the same rows again.
    const QString copy = home.filePath(u"bare.db"_s);
    QFile::copy(LocalStore::databasePath(), copy);
    {
        LocalStore c;
        if (!c.open(copy) || !c.execute(u"DELETE FROM server_data WHERE id > %1"_s.arg(rows + 5)))
            return 1;
    }
    const std::vector<double> bare = bareInserts(copy, rows, 2 * rows);
    std::printf("batch add into %d servers: median %.1f us per line; bare prepared INSERT: "
                "median %.1f us per row (batch / bare = %.1fx)\n",
                rows, median(batch), median(bare), median(batch) / median(bare));

    // Growth: the same batch at a quarter, half and the whole length, each into a fresh file.
    for (int n : {rows / 4, rows / 2, rows}) {
        QTemporaryDir fresh;
        qputenv("TORVANE_HOME", fresh.path().toUtf8());
        LocalStore::ensureDatabase();
        LocalStore s;
        if (!s.open())
            return 1;
        QElapsedTimer t;
        t.start();
        addLines(s, 0, n);
        std::printf("batch of %d lines into an empty file: %.0f ms\n", n, double(t.elapsed()));
    }
    qputenv("TORVANE_HOME", home.path().toUtf8());

    // Export of the whole list.
    LocalStore s;
    if (!s.open())
        return 1;
    const auto all = readListRows(s, reloadQuery());
    QElapsedTimer t;
    t.start();
    const bool written = BatchExport::writeExportFile(BatchExport::exportText(*all));
    std::printf("export of %lld rows: %.0f ms (%s)\n", static_cast<long long>(all->size()),
                double(t.nsecsElapsed()) / 1e6, written ? "written" : "NOT written");
    return written ? 0 : 1;
}
