// "登录服务器" on a Linux server, end to end: an OpenSSH server of the test's own on a
// loopback port, a throw-away account whose password holds a blank and "&", the system's
// PuTTY on the virtual display, and Torvane's own action through the main window. The first
// login accepts the server's host key by itself; then the server comes back with another key,
// as an impostor at that address would, and the second login must leave PuTTY's warning to
// the user: no press, and no password reaches the server.
//
// The server runs with "UsePAM no": sshd then checks the password against the shadow file
// itself, which needs no PAM service set up for it. The account is created with useradd and
// removed with userdel, so the test needs root; it removes the account and ends every
// process it started (PuTTY, the server and its session processes) even when a check fails.

#include "common/gui_test_main.h"
#include "common/test_home.h"
#include "core/remote/tool_folder.h"
#include "core/store/local_store.h"
#include "e2e/login_support.h"
#include "platform/dialog_auto_clicker.h"
#include "platform/platform.h"
#include "ui/app/main_window.h"
#include "ui/app/server_list_view.h"
#include "ui/remote/ssh_launcher.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTableView>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

#include <pwd.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The longest wait for one step; a failing QTRY waits twice that again before it reports,
// which keeps a failing run under two minutes.
constexpr int kWaitMs = 15'000;

} // namespace

using namespace LoginSupport;

class TestSshLogin : public QObject {
    Q_OBJECT
public:
    // Also here, for a run that ends before its clean-up step.
    ~TestSshLogin() override { stopEverything(); }

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void loginAcceptsTheHostKeyByItself();
    void changedHostKeyIsLeftToTheUser();

private:
    bool startServer(const QString& keyName);
    void stopServer();
    void login();
    QString serverLog() const;
    void stopEverything();
    QString logPane() const;

    TestHome home_;
    QTemporaryDir serverDir_;
    QString user_ = u"tvss"_s + randomHex().left(6);
    QString password_ = u"pa ss&"_s + randomHex();
    bool accountMade_ = false;
    quint16 port_ = 0;
    QString keyName_;
    QProcess server_;
    QList<qint64> started_;
    std::unique_ptr<MainWindow> window_;
};

void TestSshLogin::initTestCase() {
    QVERIFY(home_.isValid());
    QVERIFY(serverDir_.isValid());
    if (::geteuid() != 0)
        QSKIP("creating the throw-away account needs root");
    QVERIFY2(!Platform::puttyProgram().isEmpty(), "putty is not installed");
    QVERIFY2(QFile::exists(u"/usr/sbin/sshd"_s), "openssh-server is not installed");

    QString output;
    QVERIFY2(runCommand(u"useradd"_s,
                        {u"-M"_s, u"-d"_s, serverDir_.path(), u"-s"_s, u"/bin/sh"_s, user_},
                        &output),
             qPrintable(output));
    accountMade_ = true;
    QVERIFY2(runCommand(u"chpasswd"_s, {}, &output, (user_ + u':' + password_ + u'\n').toUtf8()),
             qPrintable(output));
    QVERIFY(startServer(u"host_key_a"_s));
}

// A server of our own on a loopback port (a free one the first time, then the same), with
// the host key `keyName` and a log of that name.
bool TestSshLogin::startServer(const QString& keyName) {
    keyName_ = keyName;
    const QDir dir(serverDir_.path());
    QString output;
    if (!runCommand(
            u"ssh-keygen"_s,
            {u"-q"_s, u"-t"_s, u"ed25519"_s, u"-N"_s, QString(), u"-f"_s, dir.filePath(keyName)},
            &output)) {
        qWarning() << output;
        return false;
    }
    if (port_ == 0) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::LocalHost))
            return false;
        port_ = probe.serverPort();
    }
    QFile config(dir.filePath(u"sshd_config"_s));
    if (!config.open(QIODevice::WriteOnly))
        return false;
    config.write(u"ListenAddress 127.0.0.1\n"
                 "Port %1\n"
                 "HostKey %2\n"
                 "PidFile %3\n"
                 "UsePAM no\n"
                 "PasswordAuthentication yes\n"
                 "KbdInteractiveAuthentication no\n"
                 "PubkeyAuthentication no\n"
                 "PermitRootLogin no\n"
                 "AllowUsers %4\n"
                 "StrictModes no\n"
                 "LogLevel VERBOSE\n"_s.arg(port_)
                     .arg(dir.filePath(keyName), dir.filePath(u"sshd.pid"_s), user_)
                     .toUtf8());
    config.close();
    // sshd refuses to start without its privilege separation folder, which the system's
    // own service would otherwise create.
    QDir().mkpath(u"/run/sshd"_s);
    server_.start(u"/usr/sbin/sshd"_s, {u"-D"_s, u"-f"_s, config.fileName(), u"-E"_s, serverLog()});
    if (!server_.waitForStarted(5000))
        return false;
    return QTest::qWaitFor([&] { return readFile(serverLog()).contains("Server listening"); },
                           10'000);
}

QString TestSshLogin::serverLog() const {
    return QDir(serverDir_.path()).filePath(keyName_ + u".log"_s);
}

// PuTTY first, so its connection closes and the server's session processes end by
// themselves; then whatever of them is left, then the server.
void TestSshLogin::stopServer() {
    for (qint64 pid : std::as_const(started_))
        endProcess(pid);
    started_.clear();
    if (server_.state() == QProcess::NotRunning)
        return;
    const QByteArray serverPid = QByteArray::number(server_.processId());
    if (!QTest::qWaitFor([&] { return processesWith("PPid:", serverPid).isEmpty(); }, 5000))
        for (qint64 pid : processesWith("PPid:", serverPid))
            endProcess(pid);
    server_.kill();
    server_.waitForFinished(5000);
}

void TestSshLogin::cleanupTestCase() {
    stopEverything();
}

// The window, PuTTY and the server, then the account.
void TestSshLogin::stopEverything() {
    window_.reset();
    stopServer();
    if (accountMade_) {
        removeThrowawayAccount(user_);
        accountMade_ = false;
    }
}

QString TestSshLogin::logPane() const {
    return window_->findChild<QPlainTextEdit*>(u"编辑框1"_s)->toPlainText();
}

void TestSshLogin::loginAcceptsTheHostKeyByItself() {
    LocalStore::ensureDatabase(home_.databasePath());
    {
        LocalStore store;
        QVERIFY(store.open(home_.databasePath()));
        ServerRecord server;
        server.name = u"e2e"_s;
        server.ip = u"127.0.0.1"_s;
        server.port = QString::number(port_);
        server.user = user_;
        server.password = password_;
        server.system = u"linux"_s;
        server.sort = u"1"_s;
        QVERIFY(store.insertServer(server));
    }
    CommandLineWatch commandLines({password_.toUtf8()});
    {
        // The watch itself sees a short-lived command line that holds its needle.
        const QString marker = u"tv-marker-"_s + randomHex();
        CommandLineWatch markers({marker.toUtf8()});
        QProcess shortLived;
        shortLived.start(u"/bin/sh"_s, {u"-c"_s, u"sleep 0.2"_s, marker});
        QVERIFY(shortLived.waitForFinished(5000));
        markers.stop();
        QVERIFY(!markers.hits().isEmpty());
    }

    window_ = std::make_unique<MainWindow>(home_.context(), [this](const LaunchRequest& request) {
        const LaunchOutcome outcome = Platform::startDetached(request);
        if (outcome.started)
            started_ << outcome.processId;
        return outcome;
    });
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    login();
    QCOMPARE(started_.size(), 1);

    QTRY_VERIFY_WITH_TIMEOUT(logPane().contains(u"-正在自动点击"_s), kWaitMs);
    const QString pane = logPane();
    const qsizetype found = pane.indexOf(u"-拦截到按钮:"_s);
    QVERIFY2(found >= 0 && found < pane.indexOf(u"-正在自动点击"_s), qPrintable(pane));

    const QString cache = QDir::home().filePath(u".putty/sshhostkeys"_s);
    const QByteArray cached = u"@%1:127.0.0.1 "_s.arg(port_).toUtf8();
    QTRY_VERIFY_WITH_TIMEOUT(readFile(cache).contains(cached), kWaitMs);

    const QByteArray accepted = (u"Accepted password for "_s + user_).toUtf8();
    QTRY_VERIFY_WITH_TIMEOUT(readFile(serverLog()).contains(accepted), kWaitMs);

    const QDir tools(toolFolder());
    const QStringList passwordFiles{SshLauncher::kPasswordFilePrefix + u'*'};
    QTRY_VERIFY_WITH_TIMEOUT(tools.entryList(passwordFiles, QDir::Files).isEmpty(), kWaitMs);

    commandLines.stop();
    QVERIFY2(commandLines.hits().isEmpty(), qPrintable(commandLines.hits().join(u'\n')));
}

void TestSshLogin::changedHostKeyIsLeftToTheUser() {
    QVERIFY2(window_, "needs the first login's window and cached key");
    const QString cache = QDir::home().filePath(u".putty/sshhostkeys"_s);
    const QByteArray cachedBefore = readFile(cache);
    stopServer();
    QVERIFY(startServer(u"host_key_b"_s));
    QString pane = logPane();
    const qsizetype pressesBefore = pane.count(u"-正在自动点击"_s);

    login();
    QCOMPARE(started_.size(), 1);
    QTRY_VERIFY_WITH_TIMEOUT(logPane().contains(SshLauncher::kChangedHostKeyLog), kWaitMs);
    // PuTTY's warning stays open for the user, who alone decides.
    const DialogTarget warning = Platform::puttyHostKeyDialog();
    QVERIFY(DialogAutoClicker::findWindow({}, warning.windowClass, warning.title));
    // Long enough for a press and a password attempt to have happened.
    QTest::qWait(3000);
    pane = logPane();
    QCOMPARE(pane.count(u"-正在自动点击"_s), pressesBefore);
    QVERIFY(DialogAutoClicker::findWindow({}, warning.windowClass, warning.title));
    const QByteArray log = readFile(serverLog());
    QVERIFY2(log.contains("Connection from"), log.constData());
    QVERIFY2(!log.contains("password for"), log.constData());
    QCOMPARE(readFile(cache), cachedBefore);
}

// "登录服务器" on the only row of the list, through the list's own menu.
void TestSshLogin::login() {
    ServerListView* list = window_->serverList();
    QTRY_COMPARE_WITH_TIMEOUT(list->model()->rowCount(), 1, kWaitMs);
    list->view()->setCurrentIndex(list->model()->index(0, 0));
    list->menuAction(ServerListView::MenuItem::Login)->trigger();
}

TORVANE_GUI_TEST_MAIN(TestSshLogin)
#include "tst_ssh_login.moc"
