// Upload, download and the download merge:
//  - upload and download of --rows servers against torvane-cloud on loopback, with the pause
//    between uploaded rows set to 0: the time per row that the client and the service add
//    beyond that pause;
//  - the same download from the real main window ("从云端下载"), which shows each merged
//    slice's servers at once: its time, and the longest wait of the UI thread meanwhile as an
//    outside pinger sees it (bench/stall_pinger.h), until a second after the download ended;
//  - the download merge of as many server lines (--lines to set another count) into an empty
//    store, against the batch add of the same lines in the same run (median of --runs,
//    default 3), and the merge of the same lines over a store that holds them all (every
//    line an overwrite).
//
// Without "--rows=N" it runs 1,000, 10,000 and 50,000 servers, each in a process of its own
// ("--sizes=A,B" for others).

#include "bench_sizes.h"
#include "bench_support.h"
#include "core/app_context.h"
#include "core/cloud/cloud_download.h"
#include "core/cloud/cloud_upload.h"
#include "core/cloud/password_sealer.h"
#include "core/store/batch_import.h"
#include "core/store/line_formats.h"
#include "core/store/local_store.h"
#include "core/store/store_connection.h"
#include "core/support/log_sink.h"
#include "service_on_loopback.h"
#include "stall_pinger.h"
#include "ui/app/application.h"
#include "ui/app/main_window.h"
#include "ui/cloud/cloud_account_actions.h"
#include "ui/cloud/cloud_sync_actions.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <thread>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

const CloudApi::Account kAccount{u"bench_sync"_s, u"密码&=% x"_s};

QString sealed(const QString& plain) {
    return PasswordSealer::seal(plain, PasswordSealer::kSealingKey);
}

// Loopback addresses, one of its own for every i, at a port nothing listens on: the window
// probes the servers it lists, and gets its refusals at once.
ServerRecord server(int i) {
    ServerRecord s;
    s.group = u"香港"_s;
    s.name = u"服务器%1"_s.arg(i);
    s.ip = u"127.%1.%2.%3"_s.arg(1 + i / 65536).arg(i / 256 % 256).arg(i % 256);
    s.user = u"root"_s;
    s.password = u"pass&=%1 中"_s.arg(i);
    s.port = u"1"_s;
    s.system = u"linux"_s;
    s.remark = u"备注"_s;
    s.startTime = u"2024-6-6 9:5:7"_s;
    s.endTime = u"2025-6-6 9:5:7"_s;
    s.sort = u"50"_s;
    s.panelUrl = u"https://%1:8888/entry"_s.arg(s.ip);
    s.panelUser = u"admin"_s;
    s.panelPassword = u"面板%1"_s.arg(i);
    s.panelKey = u"KEY%1"_s.arg(i);
    return s;
}

// The line as the service hands it out: fifteen fields, the secret ones sealed.
QString cloudLine(int i) {
    ServerRecord s = server(i);
    s.password = sealed(s.password);
    s.panelPassword = sealed(s.panelPassword);
    s.panelKey = sealed(s.panelKey);
    return ServerLine::format(s);
}

double msSince(const QElapsedTimer& t) {
    return double(t.nsecsElapsed()) / 1e6;
}

// A new empty store in its own folder: its path, or nothing when it could not be made.
QString freshStore(const QTemporaryDir& folder) {
    if (!folder.isValid())
        return {};
    const QString path = folder.filePath(u"myserver.db"_s);
    LocalStore::ensureDatabase(path);
    return QFile::exists(path) ? path : QString();
}

// Log lines are made, then dropped, as they are with nobody looking.
const LogSink kUnread;

// The batch add as the batch window runs it: one transaction per slice.
double batchAddMs(const QStringList& lines) {
    QTemporaryDir folder;
    LocalStore store;
    if (!store.open(freshStore(folder)))
        return -1;
    QElapsedTimer t;
    t.start();
    BatchImport::BatchAdder adder(lines);
    while (!adder.isDone())
        if (!adder.nextSlice(store, BatchImport::BatchAdder::kSlice, kUnread).written)
            return -1;
    return msSince(t);
}

struct MergeTimes {
    double intoEmptyMs = -1;
    double overwriteMs = -1;
};

MergeTimes mergeMs(const QString& block) {
    QTemporaryDir folder;
    const QString path = freshStore(folder);
    if (path.isEmpty())
        return {};
    JobStop stop;
    MergeTimes times;
    QElapsedTimer t;
    t.start();
    if (CloudDownload::mergeBlock(path, kUnread, block, CloudDownload::mergeServerLine, stop))
        times.intoEmptyMs = msSince(t);
    t.restart();
    if (CloudDownload::mergeBlock(path, kUnread, block, CloudDownload::mergeServerLine, stop))
        times.overwriteMs = msSince(t);
    return times;
}

// Registers the bench account; the SMS code comes through a program that writes it to a file.
bool registerAccount(const ServiceOnLoopback& service, const CloudApi::Service& at) {
    const QString phone = u"13800009999"_s;
    if (!CloudApi::succeeded(CloudApi::sendSmsCode(at, phone)))
        return false;
    const QString code = service.lastSmsCode();
    return CloudApi::succeeded(CloudApi::registerAccount(
        at, {kAccount.username, kAccount.password, phone, code, u"1"_s, u"m"_s}));
}

// "从云端下载" in the main window, logged in with the bench account, into an empty store.
bool downloadInWindow(const QString& serviceAddress, int rows) {
    QTemporaryDir folder;
    const QString path = freshStore(folder);
    if (path.isEmpty())
        return false;
    qputenv("XDG_RUNTIME_DIR", folder.path().toUtf8());
    {
        LocalStore store;
        if (!store.open(path) || !store.writeCloudAccount({kAccount.username, kAccount.password}))
            return false;
    }
    AppContext context({folder.path(), serviceAddress});
    MainWindow window(context, [](const LaunchRequest&) { return LaunchOutcome{}; });
    QSignalSpy checked(window.cloudAccount(), &CloudAccountActions::connectionChecked);
    window.show();
    if (!waitFor([&] { return !checked.isEmpty(); }, 30000) ||
        !window.cloudAccount()->account().isConnected())
        return false;
    QSignalSpy finished(window.cloudSync(), &CloudSyncActions::downloadFinished);
    StallPinger pinger;
    QElapsedTimer t;
    t.start();
    pinger.start();
    window.cloudSync()->download();
    waitFor([&] { return !finished.isEmpty(); }, 900000);
    const double ms = msSince(t);
    QElapsedTimer tail;
    tail.start();
    waitFor([&] { return tail.elapsed() >= 1000; }, 1000);
    pinger.stop();
    std::printf("  download in the main window %8.1f ms  %7.3f ms a row  longest UI wait %.1f ms "
                "(UI thread's own %.1f ms)\n",
                ms, ms / rows, pinger.worstMs(), pinger.worstCpuMs());
    return !finished.isEmpty();
}

int benchAgainstService(int rows) {
    const ServiceOnLoopback service;
    if (service.port() <= 0)
        return 1;
    QTemporaryDir folder;
    if (freshStore(folder).isEmpty())
        return 1;
    const AppContext context({folder.path(), u"http://127.0.0.1:%1"_s.arg(service.port())});
    const CloudApi::Service at{context.cloudAddress()};
    bool up = false;
    for (int i = 0; i < 500 && !up; ++i) {
        up = CloudApi::publicAddress(at).answered();
        if (!up)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!up || !registerAccount(service, at)) {
        std::fprintf(stderr, "the service did not come up\n");
        return 1;
    }
    CloudAccount account;
    account.setAccount(kAccount);
    account.setState(CloudAccount::State::Connected);

    QList<ServerRecord> listed;
    for (int i = 0; i < rows; ++i)
        listed << server(i);
    CloudUpload::setPacing(std::chrono::milliseconds(0));
    JobStop stop;
    QElapsedTimer t;
    t.start();
    CloudUpload::uploadServers(context, account, listed, stop);
    const double uploadMs = msSince(t);

    t.restart();
    const CloudApi::Reply reply = CloudApi::downloadServers(at, account.account());
    const double requestMs = msSince(t);
    const qsizetype lines = splitFields(trimLineBreaks(reply.text), u"\r\n"_s).size();
    t.restart();
    const bool downloaded = CloudDownload::downloadServers(context, account, stop);
    const double downloadMs = msSince(t);
    StoreConnection db;
    const auto stored =
        db.open(context.databasePath()) ? db.allRows(u"server_data"_s) : std::nullopt;
    const qsizetype storedRows = stored ? stored->rows.size() : 0;

    std::printf("%d servers against torvane-cloud on loopback, pacing 0 (normally %lld ms a "
                "row):\n",
                rows, static_cast<long long>(CloudUpload::kPacing.count()));
    std::printf("  upload, one request a row   %8.1f ms  %7.3f ms a row\n", uploadMs,
                uploadMs / rows);
    std::printf("  download (request + merge)  %8.1f ms  %7.3f ms a row  (the request alone "
                "%.1f ms, %lld lines)\n",
                downloadMs, downloadMs / rows, requestMs, static_cast<long long>(lines));
    if (!downloaded || lines != rows || storedRows != rows) {
        std::fprintf(stderr, "the round trip lost rows: %lld lines, %lld stored\n",
                     static_cast<long long>(lines), static_cast<long long>(storedRows));
        return 1;
    }
    return downloadInWindow(u"http://127.0.0.1:%1"_s.arg(service.port()), rows) ? 0 : 1;
}

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    if (const std::vector<int> sizes = benchSizes(argc, argv); !sizes.empty())
        return runEachSize(argc, argv, sizes);
    setUpApplication(app);
    const int rows = intOption(argc, argv, "--rows=", 1000);
    const int lineCount = intOption(argc, argv, "--lines=", rows);
    const int runs = intOption(argc, argv, "--runs=", 3);

    if (const int failed = benchAgainstService(rows))
        return failed;

    QStringList lines;
    for (int i = 0; i < lineCount; ++i)
        lines << cloudLine(i);
    const QString block = lines.join(u"\r\n"_s);
    std::vector<double> batch;
    std::vector<double> merge;
    std::vector<double> overwrite;
    for (int r = 0; r < runs; ++r) {
        batch.push_back(batchAddMs(lines));
        const MergeTimes m = mergeMs(block);
        merge.push_back(m.intoEmptyMs);
        overwrite.push_back(m.overwriteMs);
    }
    const double batchMs = median(batch);
    const double mergeMsMedian = median(merge);
    if (batchMs < 0 || mergeMsMedian < 0 || median(overwrite) < 0) {
        std::fprintf(stderr, "a store could not be written\n");
        return 1;
    }
    std::printf("%d lines into an empty store, median of %d:\n", lineCount, runs);
    std::printf("  batch add                   %8.1f ms  %7.2f us a line\n", batchMs,
                batchMs * 1e3 / lineCount);
    std::printf("  download merge              %8.1f ms  %7.2f us a line  = %.2fx the batch "
                "add (goal: within 1.5x)\n",
                mergeMsMedian, mergeMsMedian * 1e3 / lineCount, mergeMsMedian / batchMs);
    std::printf("  download merge, overwrites  %8.1f ms  %7.2f us a line\n", median(overwrite),
                median(overwrite) * 1e3 / lineCount);
    return 0;
}
