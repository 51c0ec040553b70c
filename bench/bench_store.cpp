// Costs of the store on a long server list: the duplicate lookup by address and port that
// add, batch add and cloud download run before each insert (with the address index and on a
// copy without it), and one insert from the editor, which commits on its own.
//
// --rows=N sets the length of the list (default 10000); the CTest smoke run uses fewer.

#include "core/store/local_store.h"
#include "core/store/store_connection.h"
#include "core/support/log_sink.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

// Addresses come from the block reserved for benchmarking; nothing is ever contacted.
QString addressOf(int i) {
    return u"198.18.%1.%2"_s.arg(i / 256).arg(i % 256);
}

ServerRecord serverAt(const QString& ip) {
    ServerRecord s;
    s.ip = ip;
    s.user = u"root"_s;
    s.password = u"password"_s;
    s.port = u"22"_s;
    s.sort = u"50"_s;
    s.group = u"默认分组"_s;
    s.remark = u"备注"_s;
    s.startTime = u"2024-01-01"_s;
    s.endTime = u"2025-01-01"_s;
    s.name = u"server"_s;
    s.system = u"Linux"_s;
    return s;
}

struct Lookup {
    QString ip;
    QString port;
};

struct Setup {
    int rows = 10000;
    QString indexedPath;
    QString unindexedPath;
    QString insertPath;
    std::vector<Lookup> hits;
    std::vector<Lookup> misses;
};

Setup setup;

// The lookup's log line is made, then dropped, as with nobody looking.
const LogSink kUnread;

// The data folder's myserver.db with `rows` servers, written in one transaction as batch add
// does.
bool fillDatabase(const QString& path, int rows) {
    LocalStore::ensureDatabase(path);
    LocalStore store;
    if (!store.open(path))
        return false;
    StoreTransaction transaction(store.connection());
    for (int i = 0; i < rows; ++i) {
        if (!store.insertBatchServer(serverAt(addressOf(i)), false))
            return false;
    }
    return transaction.commit();
}

bool dropAddressIndexes(const QString& path) {
    StoreConnection db;
    if (!db.open(path))
        return false;
    const auto indexes =
        db.query(u"SELECT name FROM sqlite_master WHERE type='index' AND tbl_name='server_data'"
                 u" AND sql IS NOT NULL"_s);
    if (!indexes)
        return false;
    for (const QStringList& row : indexes->rows) {
        if (!db.execute(u"DROP INDEX \"%1\""_s.arg(row.value(0))))
            return false;
    }
    return true;
}

bool prepare(const QString& folder) {
    setup.indexedPath = QDir(folder).filePath(u"myserver.db"_s);
    setup.unindexedPath = QDir(folder).filePath(u"unindexed.db"_s);
    setup.insertPath = QDir(folder).filePath(u"inserts.db"_s);
    if (!fillDatabase(setup.indexedPath, setup.rows) ||
        !QFile::copy(setup.indexedPath, setup.unindexedPath) ||
        !QFile::copy(setup.indexedPath, setup.insertPath) ||
        !dropAddressIndexes(setup.unindexedPath))
        return false;

    // Spread over the whole list, so neither the first nor the last rows dominate.
    constexpr int kLookups = 997;
    for (int i = 0; i < kLookups; ++i) {
        const int row = int((qint64(i) * 7919) % setup.rows);
        setup.hits.push_back({addressOf(row), u"22"_s});
        setup.misses.push_back({addressOf(row), u"2222"_s});
    }
    return true;
}

void lookup(benchmark::State& state, const QString* path, const std::vector<Lookup>* lookups,
            bool expectFound) {
    LocalStore store;
    if (!store.open(*path)) {
        state.SkipWithError("cannot open the database");
        return;
    }
    size_t next = 0;
    for (auto _ : state) {
        const Lookup& l = (*lookups)[next];
        next = (next + 1) % lookups->size();
        const QString id = findServerByAddress(store, l.ip, l.port, kUnread);
        if (id.isEmpty() == expectFound) {
            state.SkipWithError("lookup gave the wrong answer");
            return;
        }
        benchmark::DoNotOptimize(id);
    }
}

void insertFromEditor(benchmark::State& state) {
    LocalStore store;
    if (!store.open(setup.insertPath)) {
        state.SkipWithError("cannot open the database");
        return;
    }
    int next = setup.rows;
    for (auto _ : state) {
        if (!store.insertServer(serverAt(addressOf(next++)))) {
            state.SkipWithError("insert failed");
            return;
        }
    }
}

void registerBenchmarks() {
    const struct {
        const char* name;
        const QString* path;
        const std::vector<Lookup>* lookups;
        bool found;
    } lookups[] = {
        {"lookup/hit/indexed", &setup.indexedPath, &setup.hits, true},
        {"lookup/miss/indexed", &setup.indexedPath, &setup.misses, false},
        {"lookup/hit/unindexed", &setup.unindexedPath, &setup.hits, true},
        {"lookup/miss/unindexed", &setup.unindexedPath, &setup.misses, false},
    };
    for (const auto& l : lookups) {
        benchmark::RegisterBenchmark(l.name, lookup, l.path, l.lookups, l.found)
            ->Unit(benchmark::kMicrosecond)
            ->UseRealTime()
            ->Repetitions(5)
            ->ReportAggregatesOnly(true);
    }
    benchmark::RegisterBenchmark("insert/editor", insertFromEditor)
        ->Unit(benchmark::kMicrosecond)
        ->UseRealTime()
        ->Repetitions(5)
        ->ReportAggregatesOnly(true);
}

// Reads --rows=N from the arguments Google Benchmark left; false on anything else.
bool readArguments(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        constexpr const char* kRows = "--rows=";
        if (std::strncmp(argv[i], kRows, std::strlen(kRows)) != 0)
            return false;
        bool ok = false;
        setup.rows = QByteArray(argv[i] + std::strlen(kRows)).toInt(&ok);
        if (!ok || setup.rows < 1)
            return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (!readArguments(argc, argv)) {
        std::fprintf(stderr, "usage: bench_store [benchmark options] [--rows=N]\n");
        return 1;
    }

    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    if (!prepare(home.path())) {
        std::fprintf(stderr, "bench_store: cannot build the test database\n");
        return 1;
    }
    std::fprintf(stderr, "bench_store: %d servers\n", setup.rows);

    registerBenchmarks();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
