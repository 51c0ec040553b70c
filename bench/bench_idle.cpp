// How quietly the main window idles: started as Torvane starts (an empty data folder, a cloud
// address that answers nothing), left alone until its start-up work has ended, then watched
// for a while with nobody touching it: the process's wake-ups per second (the context switches
// of all its threads: each is a thread that slept and was woken, or was made to wait), those of
// the UI thread alone, and the processor time the process used, as a share of one core.
//
// Watched twice: resting where it opens, and hidden at the screen's top edge, where it keeps
// looking for the pointer. --seconds=N sets how long each watch lasts (default 20). The CTest
// smoke run watches briefly.

#include "bench_support.h"
#include "core/app_context.h"
#include "core/cloud/cloud_account.h"
#include "ui/app/application.h"
#include "ui/app/main_window.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMap>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <functional>

#include <time.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Context switches so far, per thread of this process.
QMap<QString, qint64> switchesPerThread() {
    QMap<QString, qint64> result;
    const QDir tasks(u"/proc/self/task"_s);
    for (const QString& tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(tid + u"/status"_s));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        qint64 switches = 0;
        for (const QByteArray& row : status.readAll().split('\n'))
            if (row.startsWith("voluntary_ctxt_switches:") ||
                row.startsWith("nonvoluntary_ctxt_switches:"))
                switches += row.mid(row.indexOf(':') + 1).trimmed().toLongLong();
        result.insert(tid, switches);
    }
    return result;
}

qint64 processCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

// Runs the event loop for `ms` as the program's own loop runs it: no polling of ours wakes it.
void idleFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done` holds, looking every 50 ms, at most `limitMs`.
bool waitUntil(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > limitMs)
            return false;
        idleFor(50);
    }
    return true;
}

// Lets the window idle for `seconds` and prints what it cost.
void watch(const QString& state, int seconds) {
    const QString uiThread = QString::number(getpid());
    const QMap<QString, qint64> before = switchesPerThread();
    const qint64 cpuBefore = processCpuNs();
    QElapsedTimer clock;
    clock.start();
    idleFor(seconds * 1000);
    const double elapsedS = double(clock.nsecsElapsed()) / 1e9;
    const double cpuMs = double(processCpuNs() - cpuBefore) / 1e6;
    const QMap<QString, qint64> after = switchesPerThread();

    // Threads that ended meanwhile (an idle pool thread expires) are left out rather than
    // counted negative.
    qint64 all = 0;
    for (auto it = after.cbegin(); it != after.cend(); ++it)
        if (before.contains(it.key()))
            all += it.value() - before.value(it.key());
    const qint64 ui = after.value(uiThread) - before.value(uiThread);
    std::printf("main window %s, idle for %.1f s (%lld threads): %.1f wake-ups/s in all, %.1f on "
                "the UI thread; processor time %.1f ms = %.3f %% of one core\n",
                state.toUtf8().constData(), elapsedS, static_cast<long long>(after.size()),
                double(all) / elapsedS, double(ui) / elapsedS, cpuMs,
                cpuMs / (elapsedS * 1000) * 100);
}

} // namespace

int main(int argc, char* argv[]) {
    const int seconds = intOption(argc, argv, "--seconds=", 20);

    QTemporaryDir home;
    const QDir root(home.path());
    for (const char* sub : {"data", "run", "home"})
        root.mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(root.filePath(u"run"_s),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(root.filePath(u"run"_s)));
    qputenv("HOME", QFile::encodeName(root.filePath(u"home"_s)));

    QApplication app(argc, argv);
    setUpApplication(app);
    // A closed loopback port: the start-up cloud check and the announcements fail at once.
    AppContext context({root.filePath(u"data"_s), u"http://127.0.0.1:1"_s});
    MainWindow window(context);
    window.show();
    auto* countLine = window.findChild<QLabel*>(u"透明标签2"_s);
    auto* cloudStatus = window.findChild<QLabel*>(u"透明标签1"_s);
    // Start-up has ended once the empty list's probe pass wrote its count and the cloud check
    // answered; a little longer lets the last deliveries and repaints go by.
    const bool settled = waitUntil(
        [&] {
            return countLine && cloudStatus && !countLine->text().isEmpty() &&
                   !cloudStatus->text().isEmpty() &&
                   cloudStatus->text() != CloudAccount::kConnectingText;
        },
        30000);
    if (!settled)
        std::printf("start-up did not end within 30 s; the figures include it\n");
    idleFor(1000);

    watch(u"resting"_s, seconds);
    // Pushed against the top edge with the pointer away, it hides to a strip and keeps
    // looking for the pointer.
    QCursor::setPos(1500, 1000);
    window.move(100, 0);
    idleFor(1000);
    watch(u"hidden at the top edge"_s, seconds);
    return 0;
}
