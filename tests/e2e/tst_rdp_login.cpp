// "登录服务器" on a Windows server, end to end: a private xrdp with an Xvnc session on a
// loopback port, a throw-away account whose password holds a blank and "&", the system's
// FreeRDP on the virtual display, and Torvane's own action through the main window.
//
// Both xrdp daemons run in a mount and pid namespace of their own (unshare): our settings
// are mounted over /etc/xrdp, and an empty memory file system over /run and /tmp holds their
// pid files, sockets, logs, certificate and the account's home. The test reads those files
// through /proc/<pid>/root. Ending the namespace's first process ends every process in it and
// drops those files with it; the namespace also ends when the test dies, even by SIGKILL
// (unshare gets SIGKILL when the test goes, and takes its child with it). The account and
// any FreeRDP of a run that was killed are swept away when the next run starts. The account
// is made with useradd, so the test needs root.

#include "common/gui_test_main.h"
#include "common/test_home.h"
#include "core/remote/tool_folder.h"
#include "core/store/local_store.h"
#include "e2e/login_support.h"
#include "platform/platform.h"
#include "ui/app/main_window.h"
#include "ui/app/prompt.h"
#include "ui/app/server_list_view.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcess>
#include <QSet>
#include <QTableView>
#include <QTcpServer>
#include <QTest>

#include <pwd.h>
#include <sys/prctl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace LoginSupport;

namespace {

// The longest wait for one step; a refusal takes about 4 s (the login delay of PAM).
constexpr int kWaitMs = 15'000;

// Accounts of this test are the prefix and the id of the test process that made them.
const QString kAccountPrefix = u"tvrdp"_s;
// In the namespace: the folder of our settings, logs, certificate and the account's home.
const QString kWork = u"/run/tvrdp"_s;

bool isRunningTest(qint64 pid) {
    return readFile(u"/proc/%1/comm"_s.arg(pid)).trimmed() ==
           QCoreApplication::applicationName().toLocal8Bit().left(15);
}

quint16 freeLoopbackPort() {
    QTcpServer probe;
    return probe.listen(QHostAddress::LocalHost) ? probe.serverPort() : 0;
}

// The namespace's script: mounts, settings, certificate, then both daemons in the
// foreground. It holds no password.
QString serverScript(const QString& user, quint16 port, quint16 sesmanPort, int display) {
    return uR"(set -e
mount -t tmpfs -o mode=0755 tvrdp /run
mount -t tmpfs -o mode=1777 tvrdp /tmp
W=%1
mkdir -p $W/etc $W/home /run/xrdp/sockdir
chmod 1777 /run/xrdp/sockdir
cp /etc/xrdp/km-*.ini /etc/xrdp/xrdp_keyboard.ini /etc/xrdp/rsakeys.ini $W/etc/
openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 \
    -keyout $W/etc/key.pem -out $W/etc/cert.pem 2>/dev/null
cat > $W/etc/xrdp.ini <<END
[Globals]
ini_version=1
fork=false
port=tcp://127.0.0.1:%3
use_vsock=false
security_layer=tls
crypt_level=high
certificate=$W/etc/cert.pem
key_file=$W/etc/key.pem
ssl_protocols=TLSv1.2, TLSv1.3
autorun=Xvnc
allow_channels=true
max_bpp=32
[Logging]
LogFile=$W/xrdp.log
LogLevel=INFO
EnableSyslog=false
[Xvnc]
name=Xvnc
lib=libvnc.so
username=ask
password=ask
ip=127.0.0.1
port=-1
END
cat > $W/etc/sesman.ini <<END
[Globals]
ListenAddress=127.0.0.1
ListenPort=%4
EnableUserWindowManager=false
DefaultWindowManager=$W/etc/session.sh
[Security]
AllowRootLogin=false
MaxLoginRetry=4
AlwaysGroupCheck=false
[Sessions]
X11DisplayOffset=%5
MaxSessions=4
KillDisconnected=true
DisconnectedTimeLimit=0
IdleTimeLimit=0
Policy=Default
[Logging]
LogFile=$W/sesman.log
LogLevel=INFO
EnableSyslog=false
[Xvnc]
param=Xvnc
param=-bs
param=-nolisten
param=tcp
param=-localhost
param=-dpi
param=96
[Chansrv]
FuseMountName=thinclient_drives
[SessionVariables]
END
printf '#!/bin/sh\nid -un > %1/home/marker\nexec sleep 600\n' > $W/etc/session.sh
chmod 755 $W/etc/session.sh
chown %2 $W/home
mount --bind $W/etc /etc/xrdp
/usr/sbin/xrdp-sesman --nodaemon &
/usr/sbin/xrdp --nodaemon &
wait
)"_s.arg(kWork, user)
        .arg(port)
        .arg(sesmanPort)
        .arg(display);
}

// A namespace link of /proc, such as "pid:[4026531836]".
QString namespaceLink(const QString& path) {
    return QFileInfo(QFile::symLinkTarget(path)).fileName();
}

QList<qint64> processesIn(const QString& pidNamespace) {
    QList<qint64> found;
    for (qint64 pid : allProcesses())
        if (namespaceLink(u"/proc/%1/ns/pid"_s.arg(pid)) == pidNamespace)
            found << pid;
    return found;
}

// The TCP sockets that processes of the pid namespace listen on, as the local address column
// of /proc/net/tcp and tcp6 (hexadecimal, words in host order).
QStringList listeningAddresses(const QString& pidNamespace) {
    QSet<QByteArray> sockets;
    for (qint64 pid : processesIn(pidNamespace)) {
        const QDir fds(u"/proc/%1/fd"_s.arg(pid));
        for (const QString& fd : fds.entryList(QDir::System | QDir::NoDotAndDotDot)) {
            const QString target = QFile::symLinkTarget(fds.filePath(fd));
            if (target.contains(u"socket:["_s))
                sockets << target.section(u'[', 1).chopped(1).toLocal8Bit();
        }
    }
    QStringList found;
    for (const char* table : {"/proc/net/tcp", "/proc/net/tcp6"})
        for (const QByteArray& line : readFile(QString::fromLatin1(table)).split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 9 && fields[3] == "0A" && sockets.contains(fields[9]))
                found << QString::fromLatin1(fields[1].split(':').value(0));
        }
    return found;
}

// 127.0.0.0/8, ::1, or 127.0.0.0/8 mapped into IPv6.
bool isLoopback(const QString& hexAddress) {
    if (hexAddress.size() == 8)
        return hexAddress.endsWith(u"7F"_s);
    return hexAddress == u"00000000000000000000000001000000"_s ||
           (hexAddress.startsWith(u"0000000000000000FFFF0000"_s) && hexAddress.endsWith(u"7F"_s));
}

} // namespace

class TestRdpLogin : public QObject {
    Q_OBJECT
public:
    // Also here, for a run that ends before its clean-up step.
    ~TestRdpLogin() override { stopEverything(); }

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void lineBreakInThePasswordIsRefusedBeforeAnyLaunch();
    void wrongPasswordIsRefusedByTheServer();
    void loginReachesTheSession();

private:
    static void sweepStaleRuns();
    bool startServer();
    QString serverFile(const QString& name) const;
    QString serverLogs();
    QString serverNamespace() const;
    int rowNamed(const QString& name) const;
    void login(const QString& serverName);
    void endSessions();
    void stopEverything();

    TestHome home_;
    QString user_ = kAccountPrefix + QString::number(::getpid());
    QString password_ = u"pa ss&"_s + randomHex();
    QString wrongPassword_ = u"wr ong&"_s + randomHex();
    bool accountMade_ = false;
    quint16 port_ = 0;
    QProcess server_;
    QList<qint64> started_;
    QList<PromptRequest> prompts_;
    std::unique_ptr<CommandLineWatch> commandLines_;
    std::unique_ptr<MainWindow> window_;
};

void TestRdpLogin::initTestCase() {
    QVERIFY(home_.isValid());
    if (::geteuid() != 0)
        QSKIP("creating the throw-away account and the namespace needs root");
    QVERIFY2(!Platform::remoteDesktopProgram().isEmpty(), "xfreerdp is not installed");
    QVERIFY2(QFile::exists(u"/usr/sbin/xrdp"_s) && QFile::exists(u"/usr/bin/Xvnc"_s),
             "xrdp or tigervnc-standalone-server is not installed");
    QString output;
    if (!runCommand(u"unshare"_s, {u"--pid"_s, u"--fork"_s, u"--mount-proc"_s, u"true"_s}, &output))
        QSKIP(qPrintable(u"private namespaces are not allowed here: "_s + output));
    sweepStaleRuns();
    // A later run knows this folder as ours by the id in it.
    QFile owner(QDir::home().filePath(u"tvrdp-owner"_s));
    QVERIFY(owner.open(QIODevice::WriteOnly));
    owner.write(QByteArray::number(::getpid()));
    owner.close();

    QVERIFY2(runCommand(u"useradd"_s,
                        {u"-M"_s, u"-d"_s, kWork + u"/home"_s, u"-s"_s, u"/bin/sh"_s, user_},
                        &output),
             qPrintable(output));
    accountMade_ = true;
    QVERIFY2(runCommand(u"chpasswd"_s, {}, &output, (user_ + u':' + password_ + u'\n').toUtf8()),
             qPrintable(output));
    commandLines_ = std::make_unique<CommandLineWatch>(
        QList<QByteArray>{password_.toUtf8(), wrongPassword_.toUtf8()});
    QVERIFY2(startServer(), qPrintable(serverLogs()));

    LocalStore::ensureDatabase(home_.databasePath());
    {
        LocalStore store;
        QVERIFY(store.open(home_.databasePath()));
        const QStringList passwords{password_, wrongPassword_, u"pa ss&\nsecond line"_s};
        const QStringList names{user_, user_ + u"-wrong"_s, user_ + u"-break"_s};
        for (qsizetype i = 0; i < names.size(); ++i) {
            ServerRecord server;
            server.name = names[i];
            server.ip = u"127.0.0.1"_s;
            server.port = QString::number(port_);
            server.user = user_;
            server.password = passwords[i];
            server.system = u"windows"_s;
            server.sort = QString::number(i + 1);
            QVERIFY(store.insertServer(server));
        }
    }
    Prompt::setResponder([this](const PromptRequest& request) {
        prompts_ << request;
        return QMessageBox::Ok;
    });
    window_ = std::make_unique<MainWindow>(home_.context(), [this](const LaunchRequest& request) {
        const LaunchOutcome outcome = Platform::startDetached(request);
        if (outcome.started)
            started_ << outcome.processId;
        return outcome;
    });
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    QTRY_COMPARE_WITH_TIMEOUT(window_->serverList()->model()->rowCount(), 3, kWaitMs);
}

// A run that was killed left its account, perhaps a FreeRDP and its temporary folder; runs
// still going (another checkout on this machine) are left alone.
void TestRdpLogin::sweepStaleRuns() {
    QStringList stale;
    ::setpwent();
    while (const passwd* account = ::getpwent()) {
        const QString name = QString::fromLocal8Bit(account->pw_name);
        bool isNumber = false;
        const qint64 pid = name.mid(kAccountPrefix.size()).toLongLong(&isNumber);
        if (name.startsWith(kAccountPrefix) && isNumber && !isRunningTest(pid))
            stale << name;
    }
    ::endpwent();
    for (const QString& name : stale) {
        // Its FreeRDP runs on "<account>.rdp" or "<account>-wrong.rdp".
        const QByteArray rdpFile = (u'/' + name + u".rdp"_s).toLocal8Bit();
        const QByteArray otherRdpFile = (u'/' + name + u'-').toLocal8Bit();
        for (qint64 pid : allProcesses()) {
            const QByteArray line = readFile(u"/proc/%1/cmdline"_s.arg(pid));
            if (line.contains(rdpFile) || line.contains(otherRdpFile))
                endProcess(pid);
        }
        QString output;
        runCommand(u"userdel"_s, {u"-f"_s, name}, &output);
    }
    const QDir temp = QDir::temp();
    const QStringList folders = temp.entryList({QCoreApplication::applicationName() + u"-*"_s},
                                               QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString& folder : folders) {
        bool isNumber = false;
        const qint64 pid =
            readFile(temp.filePath(folder + u"/home/tvrdp-owner"_s)).toLongLong(&isNumber);
        if (isNumber && !isRunningTest(pid))
            QDir(temp.filePath(folder)).removeRecursively();
    }
}

bool TestRdpLogin::startServer() {
    port_ = freeLoopbackPort();
    const quint16 sesmanPort = freeLoopbackPort();
    // Displays above the usual ones; the namespace's own /tmp hides the others' lock files.
    const int display = 300 + ::getpid() % 600;
    // The namespace dies with this test: SIGKILL reaches unshare when the test goes, and
    // unshare's --kill-child passes it on to the namespace's first process.
    server_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    server_.setProcessChannelMode(QProcess::MergedChannels);
    server_.start(u"unshare"_s,
                  {u"--pid"_s, u"--fork"_s, u"--mount-proc"_s, u"--kill-child"_s, u"/bin/sh"_s,
                   u"-c"_s, serverScript(user_, port_, sesmanPort, display)});
    if (!server_.waitForStarted(5000))
        return false;
    return QTest::qWaitFor(
        [&] {
            return readFile(serverFile(u"xrdp.log"_s)).contains("listening to port") &&
                   readFile(serverFile(u"sesman.log"_s)).contains("starting xrdp-sesman");
        },
        kWaitMs);
}

// A file of the namespace, seen from outside through unshare's root.
QString TestRdpLogin::serverFile(const QString& name) const {
    return u"/proc/%1/root%2/%3"_s.arg(server_.processId()).arg(kWork, name);
}

QString TestRdpLogin::serverLogs() {
    return QString::fromLocal8Bit(readFile(serverFile(u"xrdp.log"_s)) + "\n" +
                                  readFile(serverFile(u"sesman.log"_s)) + "\n" + server_.readAll());
}

QString TestRdpLogin::serverNamespace() const {
    return namespaceLink(u"/proc/%1/ns/pid_for_children"_s.arg(server_.processId()));
}

int TestRdpLogin::rowNamed(const QString& name) const {
    const ServerListView* list = window_->serverList();
    for (int row = 0; row < list->model()->rowCount(); ++row)
        if (list->cell(row, ListColumn::Name) == name)
            return row;
    return -1;
}

void TestRdpLogin::login(const QString& serverName) {
    ServerListView* list = window_->serverList();
    const int row = rowNamed(serverName);
    QVERIFY(row >= 0);
    list->view()->setCurrentIndex(list->model()->index(row, ListColumn::Name));
    list->menuAction(ServerListView::MenuItem::Login)->trigger();
}

// FreeRDP stays open after a login or a refusal; it is ended after each test, and
// KillDisconnected then ends the session.
void TestRdpLogin::endSessions() {
    for (qint64 pid : std::as_const(started_))
        endProcess(pid);
    started_.clear();
}

void TestRdpLogin::cleanup() {
    endSessions();
}

void TestRdpLogin::cleanupTestCase() {
    if (commandLines_) {
        commandLines_->stop();
        QVERIFY2(commandLines_->hits().isEmpty(), qPrintable(commandLines_->hits().join(u'\n')));
    }
    const QString pidNamespace = serverNamespace();
    stopEverything();
    QVERIFY(!pidNamespace.isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(processesIn(pidNamespace).isEmpty(), 5000);
    QVERIFY(!::getpwnam(user_.toLocal8Bit().constData()));
}

void TestRdpLogin::stopEverything() {
    window_.reset();
    Prompt::setResponder({});
    endSessions();
    if (server_.state() != QProcess::NotRunning) {
        server_.kill();
        server_.waitForFinished(5000);
    }
    if (accountMade_) {
        removeThrowawayAccount(user_);
        accountMade_ = false;
    }
}

// A password cut at its line break would be a wrong one, and the rest of it a line of its
// own: nothing starts, the user is told.
void TestRdpLogin::lineBreakInThePasswordIsRefusedBeforeAnyLaunch() {
    login(user_ + u"-break"_s);
    QVERIFY(started_.isEmpty());
    QCOMPARE(prompts_.size(), 1);
    QVERIFY2(prompts_[0].text.contains(u"换行符"_s), qPrintable(prompts_[0].text));
    QVERIFY(!QFile::exists(QDir(toolFolder()).filePath(user_ + u"-break.rdp"_s)));
}

void TestRdpLogin::wrongPasswordIsRefusedByTheServer() {
    login(user_ + u"-wrong"_s);
    QCOMPARE(started_.size(), 1);
    const QByteArray failed = (u"login failed for user "_s + user_).toUtf8();
    QTRY_VERIFY2_WITH_TIMEOUT(readFile(serverFile(u"xrdp.log"_s)).contains(failed),
                              qPrintable(serverLogs()), kWaitMs);
    QVERIFY(!readFile(serverFile(u"xrdp.log"_s)).contains("login successful"));
    QVERIFY(!QFile::exists(serverFile(u"home/marker"_s)));
}

void TestRdpLogin::loginReachesTheSession() {
    login(user_);
    QCOMPARE(started_.size(), 1);
    const QByteArray successful = (u"login successful for user "_s + user_).toUtf8();
    QTRY_VERIFY2_WITH_TIMEOUT(readFile(serverFile(u"xrdp.log"_s)).contains(successful),
                              qPrintable(serverLogs()), kWaitMs);
    const QByteArray started = (u"Session started successfully for user "_s + user_).toUtf8();
    QTRY_VERIFY2_WITH_TIMEOUT(readFile(serverFile(u"sesman.log"_s)).contains(started),
                              qPrintable(serverLogs()), kWaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(readFile(serverFile(u"home/marker"_s)).trimmed(), user_.toUtf8(),
                              kWaitMs);

    const QStringList listening = listeningAddresses(serverNamespace());
    QVERIFY2(listening.size() >= 2, qPrintable(listening.join(u' '))); // xrdp and sesman
    for (const QString& address : listening)
        QVERIFY2(isLoopback(address), qPrintable(address));
}

TORVANE_GUI_TEST_MAIN(TestRdpLogin)
#include "tst_rdp_login.moc"
