#include "common/gui_test_main.h"
#include "common/page_catcher.h"
#include "common/test_home.h"
#include "core/remote/embedded_tools.h"
#include "core/remote/tool_folder.h"
#include "core/support/log_sink.h"
#include "platform/platform.h"
#include "ui/app/main_window.h"
#include "ui/app/prompt.h"
#include "ui/app/server_list_view.h"
#include "ui/remote/ssh_launcher.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// Rows of the list used here, by index.
enum Row { Linux, Windows, CapitalWindows, NoAccount };

ServerRecord row(const QString& name, const QString& address, const QString& port,
                 const QString& user, const QString& password, const QString& system) {
    ServerRecord s;
    s.name = name;
    s.ip = address;
    s.port = port;
    s.user = user;
    s.password = password;
    s.system = system;
    return s;
}

ListRows rows(const QList<ServerRecord>& servers) {
    return ServerListModel::rowsOf(servers, QString(), QDateTime::currentDateTime());
}

QString ping() {
    return QStandardPaths::findExecutable(u"ping"_s);
}

// What a launch saw: the request, and the password file's content and permissions at that
// moment (PuTTY reads the file while it starts).
struct Launch {
    LaunchRequest request;
    QByteArray passwordFile;
    QFileDevice::Permissions passwordFilePermissions;
};

} // namespace

// Opened pages land here instead of in a browser.
class TestSessionActions : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void searchButtonsRefuseAnEmptyText_data();
    void searchButtonsRefuseAnEmptyText();
    void searchButtonsOpenConsoles_data();
    void searchButtonsOpenConsoles();
    void globalPingButtonOpensThePage();
    void menuToolsUseTheSelectedServer_data();
    void menuToolsUseTheSelectedServer();
    void copiesFillTheClipboardAndLog_data();
    void copiesFillTheClipboardAndLog();
    void loginGoesByTheSystemCell_data();
    void loginGoesByTheSystemCell();
    void remoteDesktopGetsItsFileAndThePasswordOnStandardInput();
    void sshPasswordTravelsInAPrivateFileThatIsRemoved();
    void noAccountNoSession();
    void missingClientIsReported_data();
    void missingClientIsReported();
    void missingConsoleProgramOpensNoWindow();
    void lineBreakRefusesTheSession_data();
    void lineBreakRefusesTheSession();
    void blanksAroundAddressAndPortAreDropped_data();
    void blanksAroundAddressAndPortAreDropped();

private:
    void select(int row);
    void press(const QString& button, const QString& text);
    void trigger(const QString& item);

    TestHome home_;
    std::unique_ptr<MainWindow> window_;
    QList<Launch> launches_;
    QList<PromptRequest> prompts_;
    QStringList logLines_;
    PageCatcher pages_;
};

void TestSessionActions::initTestCase() {
    QVERIFY(home_.isValid());
    QVERIFY2(!ping().isEmpty(), "ping (iputils-ping) is not installed");
}

void TestSessionActions::init() {
    launches_.clear();
    prompts_.clear();
    logLines_.clear();
    pages_.pages.clear();
    window_ = std::make_unique<MainWindow>(home_.context(), [this](const LaunchRequest& request) {
        Launch launch{request, {}, {}};
        const qsizetype option = request.arguments.indexOf(u"-pwfile"_s);
        if (option >= 0) {
            QFile file(request.arguments.value(option + 1));
            if (file.open(QIODevice::ReadOnly))
                launch.passwordFile = file.readAll();
            launch.passwordFilePermissions = file.permissions();
        }
        launches_ << launch;
        return LaunchOutcome{true, 0, {}};
    });
    window_->show();
    QVERIFY(QTest::qWaitForWindowExposed(window_.get()));
    // The start-up fill (an empty list) ends with the count line; the rows go in after it.
    QTRY_VERIFY(!window_->findChild<QLabel*>(u"透明标签2"_s)->text().isEmpty());
    window_->serverList()->model()->replaceRows(
        rows({row(u"web"_s, u"127.0.0.7"_s, u"22"_s, u"root"_s, u"p w&x"_s, u"linux"_s),
              row(u"测试"_s, u"127.0.0.5"_s, u"3389"_s, u"admin"_s, u"密 码&1"_s, u"windows"_s),
              row(u"win"_s, u"127.0.0.6"_s, u"22"_s, u"ops"_s, u"pw"_s, u"Windows"_s),
              row(u"bare"_s, u"127.0.0.8"_s, u"22"_s, QString(), u"pw"_s, u"linux"_s)}));
    Prompt::setResponder([this](const PromptRequest& request) {
        prompts_ << request;
        return QMessageBox::Ok;
    });
    home_.context().log()->setReceiver([this](const QString& line) { logLines_ << line; });
}

void TestSessionActions::cleanup() {
    Prompt::setResponder({});
    home_.context().log()->setReceiver({});
    window_.reset();
}

void TestSessionActions::select(int r) {
    ServerListView* list = window_->serverList();
    list->view()->setCurrentIndex(list->model()->index(r, ListColumn::Name));
}

void TestSessionActions::press(const QString& button, const QString& text) {
    window_->findChild<QLineEdit*>(u"查询内容编辑框"_s)->setText(text);
    auto* control = window_->findChild<QPushButton*>(button);
    QVERIFY(control->isEnabled());
    QTest::mouseClick(control, Qt::LeftButton);
}

// The menu item is found by what the user reads.
void TestSessionActions::trigger(const QString& item) {
    const QList<QAction*> actions = window_->serverList()->menu()->actions();
    const auto action = std::find_if(actions.begin(), actions.end(),
                                     [&](const QAction* a) { return a->text() == item; });
    QVERIFY(action != actions.end());
    QVERIFY((*action)->isEnabled());
    (*action)->trigger();
}

void TestSessionActions::searchButtonsRefuseAnEmptyText_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("message");
    QTest::newRow("Ping检测") << u"查询按钮1"_s << u"请现在查询内容中输入要Ping的IP"_s;
    QTest::newRow("端口Ping") << u"查询按钮2"_s
                              << u"请现在查询内容中输入要端口Ping的地址 如 127.0.0.1:80"_s;
    QTest::newRow("全球Ping") << u"查询按钮3"_s << u"请现在查询内容中输入要Ping的IP"_s;
}

void TestSessionActions::searchButtonsRefuseAnEmptyText() {
    QFETCH(QString, button);
    QFETCH(QString, message);
    press(button, QString());
    QCOMPARE(prompts_.size(), 1);
    QCOMPARE(prompts_[0].text, message);
    QCOMPARE(prompts_[0].caption, Prompt::kDefaultCaption);
    QCOMPARE(prompts_[0].buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(launches_.isEmpty());
    QVERIFY(pages_.pages.isEmpty());
}

void TestSessionActions::searchButtonsOpenConsoles_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("command");
    const QString tcping = EmbeddedTools::tcpingPath();
    QTest::newRow("ping") << u"查询按钮1"_s << u"127.0.0.1"_s
                          << QStringList{ping(), u"--"_s, u"127.0.0.1"_s};
    QTest::newRow("port ping") << u"查询按钮2"_s << u"127.0.0.1:8080"_s
                               << QStringList{tcping,  u"-n"_s,        u"100"_s,
                                              u"--"_s, u"127.0.0.1"_s, u"8080"_s};
    QTest::newRow("port ping, default port")
        << u"查询按钮2"_s << u"127.0.0.1:"_s
        << QStringList{tcping, u"-n"_s, u"100"_s, u"--"_s, u"127.0.0.1:"_s, u"80"_s};
    QTest::newRow("text is one argument") << u"查询按钮1"_s << u"1.2.3.4; rm -rf ~"_s
                                          << QStringList{ping(), u"--"_s, u"1.2.3.4; rm -rf ~"_s};
    QTest::newRow("ping, address like an option")
        << u"查询按钮1"_s << u"-c1"_s << QStringList{ping(), u"--"_s, u"-c1"_s};
    QTest::newRow("port ping, address like an option")
        << u"查询按钮2"_s << u"-n:1"_s
        << QStringList{tcping, u"-n"_s, u"100"_s, u"--"_s, u"-n"_s, u"1"_s};
    QTest::newRow("ping, blanks around")
        << u"查询按钮1"_s << u" 127.0.0.1 "_s << QStringList{ping(), u"--"_s, u"127.0.0.1"_s};
    QTest::newRow("port ping, blanks around")
        << u"查询按钮2"_s << u"127.0.0.1 : 8080 "_s
        << QStringList{tcping, u"-n"_s, u"100"_s, u"--"_s, u"127.0.0.1"_s, u"8080"_s};
}

// A console window is a terminal running the command, each word one argument.
void TestSessionActions::searchButtonsOpenConsoles() {
    QFETCH(QString, button);
    QFETCH(QString, text);
    QFETCH(QStringList, command);
    press(button, text);
    QCOMPARE(launches_.size(), 1);
    const LaunchRequest& request = launches_[0].request;
    QCOMPARE(request.program, Platform::consoleWindow({}, {}).program);
    QCOMPARE(request.arguments, QStringList{u"-e"_s} + command);
    QVERIFY(prompts_.isEmpty());
}

void TestSessionActions::globalPingButtonOpensThePage() {
    press(u"查询按钮3"_s, u"127.0.0.1"_s);
    QCOMPARE(pages_.pages, QList<QUrl>{QUrl(u"https://ping.torvane.net/ping/?ip=127.0.0.1"_s)});
    QVERIFY(launches_.isEmpty());
}

void TestSessionActions::menuToolsUseTheSelectedServer_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("page");
    QTest::newRow("Ping检测") << u"Ping检测"_s << QStringList{ping(), u"--"_s, u"127.0.0.5"_s}
                              << QString();
    QTest::newRow("TCPing检测") << u"TCPing检测"_s << QStringList{EmbeddedTools::tcpingPath(),
                                                                  u"-n"_s,
                                                                  u"100"_s,
                                                                  u"--"_s,
                                                                  u"127.0.0.5"_s,
                                                                  u"3389"_s}
                                << QString();
    QTest::newRow("全球Ping") << u"全球Ping"_s << QStringList()
                              << u"https://ping.torvane.net/ping/?ip=127.0.0.5"_s;
    QTest::newRow("全球TCPing") << u"全球TCPing"_s << QStringList()
                                << u"https://ping.torvane.net/tcping/?ip=127.0.0.5:3389"_s;
}

void TestSessionActions::menuToolsUseTheSelectedServer() {
    QFETCH(QString, item);
    QFETCH(QStringList, command);
    QFETCH(QString, page);
    select(Windows);
    trigger(item);
    if (command.isEmpty()) {
        QVERIFY(launches_.isEmpty());
        QCOMPARE(pages_.pages, QList<QUrl>{QUrl(page)});
    } else {
        QCOMPARE(launches_.size(), 1);
        QCOMPARE(launches_[0].request.arguments, QStringList{u"-e"_s} + command);
        QVERIFY(pages_.pages.isEmpty());
    }
}

void TestSessionActions::copiesFillTheClipboardAndLog_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("clipboard");
    QTest::addColumn<QString>("logLine");
    QTest::newRow("复制IP") << u"复制IP"_s << int(Windows) << u"127.0.0.5"_s
                            << u"IP 127.0.0.5 复制成功\r\n"_s;
    QTest::newRow("复制IP, no row") << u"复制IP"_s << -1 << QString() << u"IP  复制成功\r\n"_s;
    QTest::newRow("复制IP+端口") << u"复制IP+端口"_s << int(Windows) << u"127.0.0.5:3389"_s
                                 << u"IP:端口 127.0.0.5:3389 复制成功\r\n"_s;
    QTest::newRow("复制IP/端口/账号/密码")
        << u"复制IP/端口/账号/密码"_s << int(Linux)
        << u"IP:端口 127.0.0.7:22\r\n账号:root密码:p w&x"_s
        << u"IP:端口 127.0.0.7:22\r\n账号:root密码:p w&x 复制成功\r\n"_s;
}

void TestSessionActions::copiesFillTheClipboardAndLog() {
    QFETCH(QString, item);
    QFETCH(int, row);
    QFETCH(QString, clipboard);
    QFETCH(QString, logLine);
    QGuiApplication::clipboard()->setText(u"before"_s);
    select(row);
    trigger(item);
    QCOMPARE(QGuiApplication::clipboard()->text(), clipboard);
    QCOMPARE(logLines_, QStringList{logLine});
}

void TestSessionActions::loginGoesByTheSystemCell_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("client");
    QTest::newRow("windows") << int(Windows) << Platform::remoteDesktopProgram();
    QTest::newRow("Windows is not windows") << int(CapitalWindows) << Platform::puttyProgram();
    QTest::newRow("linux") << int(Linux) << Platform::puttyProgram();
}

// Double-click and the menu item are the same action.
void TestSessionActions::loginGoesByTheSystemCell() {
    QFETCH(int, row);
    QFETCH(QString, client);
    QVERIFY(!client.isEmpty());
    QTableView* view = window_->serverList()->view();
    const QRect cell = view->visualRect(view->model()->index(row, ListColumn::Name));
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    trigger(u"登录服务器"_s);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QCOMPARE(launches_.size(), 2);
    QCOMPARE(launches_[0].request.program, client);
    QCOMPARE(launches_[1].request.program, client);
}

void TestSessionActions::remoteDesktopGetsItsFileAndThePasswordOnStandardInput() {
    select(Windows);
    trigger(u"登录服务器"_s);
    QCOMPARE(launches_.size(), 1);
    const LaunchRequest& request = launches_[0].request;
    const QString file = QDir(toolFolder()).filePath(u"测试.rdp"_s);
    QCOMPARE(request.arguments,
             (QStringList{file, u"/admin"_s, u"/cert:tofu"_s, u"/from-stdin:force"_s}));
    QCOMPARE(request.standardInput, u"密 码&1\n"_s.toUtf8());

    QFile rdp(file);
    QVERIFY(rdp.open(QIODevice::ReadOnly));
    const QByteArray text = rdp.readAll();
    QVERIFY(text.contains("\r\nusername:s:admin\r\nfull address:s:127.0.0.5:3389\r\nsession bpp"));
    QVERIFY(!text.contains("password"));
    QVERIFY(logLines_.isEmpty());
    QVERIFY(prompts_.isEmpty());
}

void TestSessionActions::sshPasswordTravelsInAPrivateFileThatIsRemoved() {
    select(Linux);
    trigger(u"登录服务器"_s);
    QCOMPARE(launches_.size(), 1);
    const Launch& launch = launches_[0];
    const QStringList& arguments = launch.request.arguments;
    QCOMPARE(arguments.mid(0, 5),
             (QStringList{u"-ssh"_s, u"root@127.0.0.7"_s, u"-P"_s, u"22"_s, u"-pwfile"_s}));
    for (const QString& argument : arguments)
        QVERIFY(!argument.contains(u"p w&x"_s));
    const QString passwordFile = arguments.value(5);
    QCOMPARE(QFileInfo(passwordFile).dir().canonicalPath(), QDir(toolFolder()).canonicalPath());
    QCOMPARE(launch.passwordFile, QByteArray("p w&x\n"));
    QCOMPARE(launch.passwordFilePermissions & ~(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                QFileDevice::ReadUser | QFileDevice::WriteUser),
             QFileDevice::Permissions());

    // No host-key dialog shows up here; the file goes when the watch for it ends.
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(passwordFile), 15'000);
    QVERIFY(logLines_.isEmpty());
}

void TestSessionActions::noAccountNoSession() {
    select(NoAccount);
    trigger(u"登录服务器"_s);
    select(-1);
    trigger(u"登录服务器"_s);
    QVERIFY(launches_.isEmpty());
    QVERIFY(prompts_.isEmpty());
    QVERIFY(logLines_.isEmpty());
}

void TestSessionActions::missingClientIsReported_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("named");
    QTest::newRow("PuTTY") << int(Linux) << u"PuTTY"_s;
    QTest::newRow("Remote Desktop") << int(Windows) << u"远程桌面程序"_s;
}

void TestSessionActions::missingClientIsReported() {
    QFETCH(int, row);
    QFETCH(QString, named);
    QTemporaryDir emptyFolder;
    const QByteArray path = qgetenv("PATH");
    qputenv("PATH", QFile::encodeName(emptyFolder.path()));
    select(row);
    trigger(u"登录服务器"_s);
    qputenv("PATH", path);
    QVERIFY(launches_.isEmpty());
    QCOMPARE(prompts_.size(), 1);
    QVERIFY2(prompts_[0].text.contains(named), qPrintable(prompts_[0].text));
    QCOMPARE(logLines_.size(), 1);
    QVERIFY2(logLines_[0].contains(named), qPrintable(logLines_[0]));
    QVERIFY(logLines_[0].endsWith(u"\r\n"_s));
}

void TestSessionActions::missingConsoleProgramOpensNoWindow() {
    const QString tcping = EmbeddedTools::tcpingPath();
    QVERIFY(QFile::remove(tcping));
    select(Windows);
    trigger(u"TCPing检测"_s);
    EmbeddedTools::extract();
    QVERIFY(launches_.isEmpty());
    QCOMPARE(logLines_.size(), 1);
    QVERIFY2(logLines_[0].contains(u"-无法打开控制台窗口："_s + tcping), qPrintable(logLines_[0]));
}

void TestSessionActions::lineBreakRefusesTheSession_data() {
    QTest::addColumn<QString>("system");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("field");
    QTest::newRow("remote desktop, LF in the password")
        << u"windows"_s << u"admin"_s << u"pass\nword"_s << u"密码"_s;
    QTest::newRow("remote desktop, setting in the account")
        << u"windows"_s << u"admin\nalternate shell:s:cmd.exe"_s << u"pw"_s << u"用户名"_s;
    QTest::newRow("ssh, LF in the password")
        << u"linux"_s << u"root"_s << u"pass\nword"_s << u"密码"_s;
    QTest::newRow("ssh, CR in the password")
        << u"linux"_s << u"root"_s << u"pass\rword"_s << u"密码"_s;
}

// A line break would cut the password short or add lines to the .rdp file: nothing starts
// and nothing is written; the user is told which field to mend.
void TestSessionActions::lineBreakRefusesTheSession() {
    QFETCH(QString, system);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, field);
    window_->serverList()->model()->replaceRows(
        rows({row(u"导入"_s, u"127.0.0.5"_s, u"3389"_s, user, password, system)}));
    select(0);
    trigger(u"登录服务器"_s);
    QVERIFY(launches_.isEmpty());
    QCOMPARE(prompts_.size(), 1);
    QVERIFY2(prompts_[0].text.contains(field + u"中含有换行符"_s), qPrintable(prompts_[0].text));
    QCOMPARE(logLines_.size(), 1);
    QVERIFY2(logLines_[0].contains(u"-"_s + field + u"含有换行符"_s), qPrintable(logLines_[0]));
    QVERIFY(!QFile::exists(QDir(toolFolder()).filePath(u"导入.rdp"_s)));
    QVERIFY(QDir(toolFolder()).entryList({SshLauncher::kPasswordFilePrefix + u'*'}).isEmpty());
}

void TestSessionActions::blanksAroundAddressAndPortAreDropped_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<QStringList>("arguments");
    const QString tcping = EmbeddedTools::tcpingPath();
    QTest::newRow("Ping检测") << u"Ping检测"_s
                              << QStringList{u"-e"_s, ping(), u"--"_s, u"127.0.0.5"_s};
    QTest::newRow("TCPing检测") << u"TCPing检测"_s
                                << QStringList{u"-e"_s, tcping,         u"-n"_s,  u"100"_s,
                                               u"--"_s, u"127.0.0.5"_s, u"3389"_s};
    QTest::newRow("登录服务器") << u"登录服务器"_s
                                << QStringList{QDir(toolFolder()).filePath(u"空格.rdp"_s),
                                               u"/admin"_s, u"/cert:tofu"_s,
                                               u"/from-stdin:force"_s};
}

void TestSessionActions::blanksAroundAddressAndPortAreDropped() {
    QFETCH(QString, item);
    QFETCH(QStringList, arguments);
    window_->serverList()->model()->replaceRows(
        rows({row(u"空格"_s, u" 127.0.0.5 "_s, u"3389 "_s, u"admin"_s, u" pw "_s, u"windows"_s)}));
    select(0);
    trigger(item);
    QCOMPARE(launches_.size(), 1);
    QCOMPARE(launches_[0].request.arguments, arguments);
    if (item == u"登录服务器"_s) {
        QFile rdp(arguments[0]);
        QVERIFY(rdp.open(QIODevice::ReadOnly));
        QVERIFY(rdp.readAll().contains("\r\nfull address:s:127.0.0.5:3389\r\n"));
        QCOMPARE(launches_[0].request.standardInput, QByteArray(" pw \n"));
    }
    QVERIFY(prompts_.isEmpty());
}

TORVANE_GUI_TEST_MAIN(TestSessionActions)
#include "tst_session_actions.moc"
