// How the windows behave while another process holds myserver.db's lock: a second process
// takes the file's exclusive lock and keeps it for --hold-ms=N (default 8000), while the main
// window is used as a person would: "添加分组" with a group added, then "添加服务器" opened and,
// after the lock is gone, a server added in it. Reported: the UI thread's longest stall (the
// worst gap of a repeating 1 ms timer, in wall time and in the UI thread's own processor time)
// from the lock's start until every action has answered, and the boxes the windows showed.
//
// The lock is held by this program started again with --hold-lock=MS PATH. The CTest smoke run
// holds it briefly.

#include "bench_support.h"
#include "core/app_context.h"
#include "core/store/local_store.h"
#include "core/store/store_connection.h"
#include "ui/app/application.h"
#include "ui/app/main_window.h"
#include "ui/app/prompt.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <cstring>
#include <functional>

#include <time.h>

using namespace Qt::StringLiterals;

namespace {

// The other process: takes the exclusive lock, says so on its output, keeps it, lets it go.
int holdLock(int ms, const QString& path) {
    StoreConnection db;
    if (!db.open(path) || !db.execute(u"BEGIN EXCLUSIVE"_s)) {
        std::printf("no lock\n");
        return 1;
    }
    std::printf("locked\n");
    std::fflush(stdout);
    QThread::msleep(ms);
    static_cast<void>(db.execute(u"COMMIT"_s));
    return 0;
}

qint64 threadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1000000000 + t.tv_nsec;
}

void runLoopFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

template <typename T> T* child(QWidget* parent, const char16_t* name) {
    return parent ? parent->findChild<T*>(QString::fromUtf16(name)) : nullptr;
}

// The step of a person's use at `atMs` after the lock was taken.
struct Step {
    int atMs;
    std::function<void()> act;
};

} // namespace

int main(int argc, char* argv[]) {
    for (int i = 1; i + 1 < argc; ++i)
        if (std::strncmp(argv[i], "--hold-lock=", 12) == 0)
            return holdLock(std::atoi(argv[i] + 12), QString::fromLocal8Bit(argv[i + 1]));
    const int holdMs = intOption(argc, argv, "--hold-ms=", 8000);

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
    QStringList boxes;
    Prompt::setResponder([&](const PromptRequest& r) {
        boxes << r.text;
        return QMessageBox::Ok;
    });
    MainWindow window(context);
    window.show();
    auto* countLine = child<QLabel>(&window, u"透明标签2");
    QElapsedTimer startup;
    startup.start();
    while (countLine->text().isEmpty() && startup.elapsed() < 30000)
        runLoopFor(50);
    runLoopFor(500);

    QProcess holder;
    holder.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    holder.start(QCoreApplication::applicationFilePath(),
                 {u"--hold-lock=%1"_s.arg(holdMs), context.databasePath()});
    if (!holder.waitForReadyRead(10000) || !holder.readLine().startsWith("locked")) {
        std::printf("the second process could not take the lock\n");
        return 1;
    }

    // Each step finds the window the step before it opened; a step that cannot find it does
    // nothing, so a late window shows as a missing box rather than a crash.
    auto modal = [] { return QApplication::activeModalWidget(); };
    const QList<Step> steps = {
        {100, [&] { child<QPushButton>(&window, u"按钮2")->click(); }},
        {300,
         [&] {
             if (auto* name = child<QLineEdit>(modal(), u"编辑框1")) {
                 name->setText(u"锁住时添加"_s);
                 child<QPushButton>(modal(), u"按钮1")->click();
             }
         }},
        {500,
         [&] {
             if (modal())
                 modal()->close();
         }},
        {700, [&] { child<QPushButton>(&window, u"按钮3")->click(); }},
        {holdMs + 500,
         [&] {
             if (auto* address = child<QLineEdit>(modal(), u"服务器IP输入框")) {
                 address->setText(u"198.18.0.1"_s);
                 child<QPushButton>(modal(), u"按钮1")->click();
             }
         }},
        {holdMs + 1000,
         [&] {
             if (modal())
                 modal()->close();
         }},
    };

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
    int stepsRun = 0;
    for (const Step& step : steps)
        QTimer::singleShot(step.atMs, &window, [&stepsRun, act = step.act] {
            act();
            ++stepsRun;
        });
    clock.start();
    tick.start(1);
    // Until the lock is gone, every step has run and its answer has had time to come.
    qint64 allDoneAt = -1;
    while (clock.elapsed() < holdMs + 60000) {
        if (allDoneAt < 0 && stepsRun == steps.size() && holder.state() == QProcess::NotRunning)
            allDoneAt = clock.elapsed();
        if (allDoneAt >= 0 && clock.elapsed() - allDoneAt > 1500)
            break;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
    }
    tick.stop();
    holder.waitForFinished(1000);

    std::printf("another process held the lock for %d ms; the window was used meanwhile:\n",
                holdMs);
    std::printf("  longest UI-thread stall %.1f ms (the UI thread's own time in it %.1f ms), over "
                "%.1f s\n",
                double(worst) / 1e6, double(worstCpu) / 1e6, double(clock.elapsed()) / 1000);
    std::printf("  boxes shown:");
    for (const QString& text : std::as_const(boxes))
        std::printf(" [%s]", text.toUtf8().constData());
    std::printf("\n");
    return 0;
}
