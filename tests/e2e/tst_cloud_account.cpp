// The cloud account end to end: the real client (main window and account windows) against a
// real torvane-cloud that the test starts on loopback. Registration codes are read from the
// service's log. A "restart" is a new MainWindow on the same data folder, which runs the
// start-up check with the stored account.

#include "common/cloud_service_fixture.h"
#include "common/gui_test_main.h"
#include "common/main_window_start.h"
#include "common/test_home.h"
#include "core/cloud/cloud_account.h"
#include "core/store/local_store.h"
#include "ui/app/application.h"
#include "ui/app/main_window.h"
#include "ui/app/prompt.h"
#include "ui/cloud/change_password_window.h"
#include "ui/cloud/cloud_account_actions.h"
#include "ui/cloud/cloud_account_window.h"

#include <QAbstractButton>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString kConnected = CloudAccount::kConnectedText;
const QString kNotConnected = CloudAccount::kNotConnectedText;

struct SeenPrompt {
    QString text;
    QString logAtThatMoment;
};

struct NewAccount {
    QString name;
    QString password;
    QString phone;
};

} // namespace

class TestCloudAccount : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void accountLifetime_data();
    void accountLifetime();
    void wrongPassword();
    void takenName();
    void wrongSmsCode();
    void smsCountdownRunsOutAndCannotResend();
    void serviceDown();
    void slowServiceLeavesTheWindowUsable_data();
    void slowServiceLeavesTheWindowUsable();
    void logInWhileStartupCheckWaits();
    void logInPointsBackToTheAction_data();
    void logInPointsBackToTheAction();

private:
    void restart();
    QString logText() const;
    QString status() const;
    static void type(QWidget* window, const QString& name, const QString& text);
    static void press(QWidget* window, const QString& name);
    // Sends for a code, registers with it and checks the answer; the window stays open.
    void registerThroughWindow(CloudAccountWindow& window, const NewAccount& account);
    // Sends for a code and answers with `code` (or the service's own when empty).
    void fillRegistration(CloudAccountWindow& window, const NewAccount& account,
                          const QString& code = {});
    void logInThroughWindow(const QString& name, const QString& password);

    TestHome home_;
    // Every registration and every stale or wrong password here comes from this one address,
    // more SMS codes and failed log ins than the service allows one address within an hour.
    CloudServiceFixture cloud_{{u"--sms-codes-per-address"_s, u"1000"_s,
                                u"--login-failures-per-address"_s, u"1000"_s,
                                u"--login-failures-per-account"_s, u"1000"_s}};
    std::unique_ptr<MainWindow> main_;
    QList<SeenPrompt> prompts_;
    int nextPhone_ = 0;
};

void TestCloudAccount::initTestCase() {
    QVERIFY(home_.isValid());
    QVERIFY(cloud_.start());
    home_.setCloudAddress(cloud_.url());
}

void TestCloudAccount::init() {
    prompts_.clear();
    Prompt::setResponder([this](const PromptRequest& r) {
        prompts_ << SeenPrompt{r.text, logText()};
        return QMessageBox::Ok;
    });
    // Every test starts without a stored account.
    LocalStore::ensureDatabase(home_.databasePath());
    LocalStore store;
    QVERIFY(store.open(home_.databasePath()));
    QVERIFY(store.writeCloudAccount({}));
    store.close();
    restart();
}

void TestCloudAccount::cleanup() {
    main_.reset();
    Prompt::setResponder({});
}

void TestCloudAccount::restart() {
    main_.reset();
    main_ = std::make_unique<MainWindow>(home_.context());
    // The check starts once the window exists; listen before that.
    QSignalSpy checked(main_->cloudAccount(), &CloudAccountActions::connectionChecked);
    QVERIFY(showAndWaitForFirstFill(*main_));
    QVERIFY(checked.count() == 1 || checked.wait(20000));
}

QString TestCloudAccount::logText() const {
    return main_ ? main_->findChild<QPlainTextEdit*>(u"编辑框1"_s)->toPlainText() : QString();
}

QString TestCloudAccount::status() const {
    return main_->findChild<QLabel*>(u"透明标签1"_s)->text();
}

void TestCloudAccount::type(QWidget* window, const QString& name, const QString& text) {
    auto* edit = window->findChild<QLineEdit*>(name);
    QVERIFY2(edit, qPrintable(name));
    edit->setText(text);
}

void TestCloudAccount::press(QWidget* window, const QString& name) {
    auto* button = window->findChild<QAbstractButton*>(name);
    QVERIFY2(button, qPrintable(name));
    QVERIFY2(button->isEnabled(), qPrintable(name));
    button->click();
}

void TestCloudAccount::fillRegistration(CloudAccountWindow& window, const NewAccount& account,
                                        const QString& code) {
    type(&window, u"注册手机编辑框"_s, account.phone);
    const qsizetype before = prompts_.size();
    press(&window, u"按钮2"_s);
    QTRY_VERIFY(!window.isWaiting());
    QCOMPARE(prompts_.size(), before + 1);
    QCOMPARE(prompts_.last().text, u"发送成功"_s);
    auto* sendCode = window.findChild<QAbstractButton*>(u"按钮2"_s);
    QVERIFY(!sendCode->isEnabled());
    QCOMPARE(sendCode->text(), u"59秒后重发"_s);

    const QString sent = cloud_.smsCode(account.phone);
    QCOMPARE(sent.size(), 6);
    type(&window, u"注册账号编辑框"_s, account.name);
    type(&window, u"注册密码编辑框"_s, account.password);
    type(&window, u"注册验证码编辑框"_s, code.isEmpty() ? sent : code);
    type(&window, u"客户QQ编辑框"_s, u"10000"_s);
    type(&window, u"客户邮箱编辑框"_s, u"user@example.com"_s);
}

void TestCloudAccount::registerThroughWindow(CloudAccountWindow& window,
                                             const NewAccount& account) {
    fillRegistration(window, account);
    press(&window, u"按钮3"_s);
    QTRY_VERIFY(!window.isWaiting());
    QCOMPARE(prompts_.last().text, u"注册成功"_s);
    // Registered, not logged in: the fields wait for "登录云端" and nothing is stored.
    QCOMPARE(window.findChild<QLineEdit*>(u"登录账号编辑框"_s)->text(), account.name);
    QCOMPARE(window.findChild<QLineEdit*>(u"登录密码编辑框"_s)->text(), account.password);
    QCOMPARE(main_->cloudAccount()->account().userName(), account.name);
    QCOMPARE(main_->cloudAccount()->account().password(), account.password);
    QCOMPARE(LocalStore::ensureDatabase(home_.databasePath()).username, QString());
    // The countdown stopped where it was; the button stays disabled.
    auto* sendCode = window.findChild<QAbstractButton*>(u"按钮2"_s);
    QVERIFY(!window.findChild<QTimer*>(u"验证码倒计时"_s)->isActive());
    QVERIFY(sendCode->text().endsWith(u"秒后重发"_s));
    QVERIFY(!sendCode->isEnabled());
}

void TestCloudAccount::logInThroughWindow(const QString& name, const QString& password) {
    CloudAccountWindow window(*main_->cloudAccount(), main_.get());
    window.show();
    type(&window, u"登录账号编辑框"_s, name);
    type(&window, u"登录密码编辑框"_s, password);
    press(&window, u"按钮1"_s);
    QTRY_VERIFY(!window.isWaiting());
    QCOMPARE(prompts_.last().text, u"通信成功，请再次点击 上传到云端 按钮开始上传"_s);
    QVERIFY(!window.isVisible());
    QCOMPARE(status(), kConnected);
}

void TestCloudAccount::accountLifetime_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("newPassword");
    QTest::newRow("plain") << u"alice"_s << u"secret1"_s << u"secret2"_s;
    QTest::newRow("form characters, blank and Chinese")
        << u"用户 乙&x=1"_s << u"a&b=c+d%20 密码"_s << u"新 密码&=+%41"_s;
    QTest::newRow("digits with a leading zero") << u"carol"_s << u"007"_s << u"0123"_s;
}

// Register, log in, restart (automatic log in), log out, restart (not connected), log in,
// change the password, restart (still logs in, with the new password).
void TestCloudAccount::accountLifetime() {
    QFETCH(QString, name);
    QFETCH(QString, password);
    QFETCH(QString, newPassword);
    const NewAccount account{name, password, u"1390000%1"_s.arg(nextPhone_++, 4, 10, QChar(u'0'))};

    // No stored account: the failed check writes no log line.
    QCOMPARE(status(), kNotConnected);
    QVERIFY(!logText().contains(u"-云端返回："_s));

    {
        CloudAccountWindow window(*main_->cloudAccount(), main_.get());
        window.show();
        registerThroughWindow(window, account);
        press(&window, u"按钮1"_s);
        QTRY_VERIFY(!window.isWaiting());
        QCOMPARE(prompts_.last().text, u"通信成功，请再次点击 上传到云端 按钮开始上传"_s);
        // The log line follows the message box; the window closes.
        QVERIFY(!prompts_.last().logAtThatMoment.contains(u"-云端返回："_s));
        QVERIFY(logText().contains(u"-云端返回：True"_s));
        QVERIFY(!window.isVisible());
        QCOMPARE(status(), kConnected);
        QVERIFY(main_->cloudAccount()->account().isConnected());
    }
    QCOMPARE(LocalStore::ensureDatabase(home_.databasePath()).password, password);

    restart();
    QCOMPARE(status(), kConnected);
    QVERIFY(logText().contains(u"-云端返回：True"_s));
    QCOMPARE(main_->cloudAccount()->account().userName(), name);

    {
        CloudAccountWindow window(*main_->cloudAccount(), main_.get());
        window.show();
        QCOMPARE(window.findChild<QLineEdit*>(u"登录账号编辑框"_s)->text(), name);
        QVERIFY(window.findChild<QWidget*>(u"按钮6"_s)->isVisible());
        press(&window, u"按钮6"_s);
        // The stored password is cleared on the store's thread.
        QTRY_COMPARE(prompts_.isEmpty() ? QString() : prompts_.last().text, u"云端已经退出"_s);
        QVERIFY(!window.findChild<QWidget*>(u"按钮6"_s)->isVisible());
        QCOMPARE(main_->cloudAccount()->account().userName(), QString());
        // Log out leaves the state alone.
        QVERIFY(main_->cloudAccount()->account().isConnected());
    }

    restart();
    QCOMPARE(status(), kNotConnected);
    QVERIFY(logText().contains(u"-云端返回：False"_s));
    QCOMPARE(LocalStore::ensureDatabase(home_.databasePath()).username, name);

    logInThroughWindow(name, password);
    {
        ChangePasswordWindow window(*main_->cloudAccount(), main_.get());
        window.show();
        type(&window, u"当前密码编辑框"_s, password);
        type(&window, u"新密码编辑框"_s, newPassword);
        type(&window, u"确认密码编辑框"_s, newPassword);
        press(&window, u"按钮1"_s);
        QTRY_VERIFY(!window.isWaiting());
        QCOMPARE(prompts_.last().text, u"密码修改成功"_s);
        // One more reply line than while the message box was up.
        QCOMPARE(logText().count(u"-云端返回："_s),
                 prompts_.last().logAtThatMoment.count(u"-云端返回："_s) + 1);
        QVERIFY(logText().endsWith(u"-云端返回：True\n"_s));
        QVERIFY(window.isVisible());
        QCOMPARE(main_->cloudAccount()->account().password(), newPassword);
    }

    restart();
    QCOMPARE(status(), kConnected);
    QCOMPARE(main_->cloudAccount()->account().password(), newPassword);
    // The old password no longer opens the account.
    QVERIFY(!CloudAccount::checkConnection(home_.cloud(), {name, password}).succeeded);
}

void TestCloudAccount::wrongPassword() {
    {
        CloudAccountWindow window(*main_->cloudAccount(), main_.get());
        window.show();
        registerThroughWindow(window, {u"dave"_s, u"right"_s, u"13700000001"_s});
    }
    CloudAccountWindow window(*main_->cloudAccount(), main_.get());
    window.show();
    type(&window, u"登录账号编辑框"_s, u"dave"_s);
    type(&window, u"登录密码编辑框"_s, u"wrong"_s);
    press(&window, u"按钮1"_s);
    QTRY_VERIFY(!window.isWaiting());
    QCOMPARE(prompts_.last().text, u"通信失败，请检查账号或密码是否正确"_s);
    QVERIFY(logText().contains(u"-云端返回：False"_s));
    QVERIFY(window.isVisible());
    QCOMPARE(status(), kNotConnected);
    QCOMPARE(main_->cloudAccount()->account().state(), CloudAccount::State::NotConnected);
    // The typed account is in memory; nothing was stored.
    QCOMPARE(main_->cloudAccount()->account().password(), u"wrong"_s);
    QCOMPARE(LocalStore::ensureDatabase(home_.databasePath()).username, QString());
}

void TestCloudAccount::takenName() {
    {
        CloudAccountWindow window(*main_->cloudAccount(), main_.get());
        window.show();
        registerThroughWindow(window, {u"erin"_s, u"pw1"_s, u"13700000002"_s});
    }
    CloudAccountWindow window(*main_->cloudAccount(), main_.get());
    window.show();
    fillRegistration(window, {u"erin"_s, u"pw2"_s, u"13700000003"_s});
    const qsizetype before = prompts_.size();
    press(&window, u"按钮3"_s);
    QTRY_VERIFY(!window.isWaiting());
    QCOMPARE(prompts_.size(), before);
    QVERIFY(logText().endsWith(u"-客户账号已经存在\n"_s));
    // The first owner keeps the name and the password.
    QVERIFY(CloudAccount::checkConnection(home_.cloud(), {u"erin"_s, u"pw1"_s}).succeeded);
}

void TestCloudAccount::wrongSmsCode() {
    CloudAccountWindow window(*main_->cloudAccount(), main_.get());
    window.show();
    fillRegistration(window, {u"frank"_s, u"pw"_s, u"13700000004"_s});
    const QString sent = cloud_.smsCode(u"13700000004"_s);
    type(&window, u"注册验证码编辑框"_s, sent == u"000000" ? u"111111"_s : u"000000"_s);
    const qsizetype before = prompts_.size();
    press(&window, u"按钮3"_s);
    QTRY_VERIFY(!window.isWaiting());
    QCOMPARE(prompts_.size(), before);
    QVERIFY(logText().endsWith(u"-验证码错误\n"_s));
    QVERIFY(!CloudAccount::checkConnection(home_.cloud(), {u"frank"_s, u"pw"_s}).succeeded);
    // The countdown goes on: the code request is still held back.
    QVERIFY(window.findChild<QTimer*>(u"验证码倒计时"_s)->isActive());
}

// The caption counts 59 down to 0, then the button is offered again; a code requested again
// for the same phone within the minute is refused by the service and reported.
void TestCloudAccount::smsCountdownRunsOutAndCannotResend() {
    CloudAccountWindow window(*main_->cloudAccount(), main_.get());
    window.show();
    type(&window, u"注册手机编辑框"_s, u"13700000005"_s);
    press(&window, u"按钮2"_s);
    QTRY_VERIFY(!window.isWaiting());
    QCOMPARE(prompts_.last().text, u"发送成功"_s);

    auto* sendCode = window.findChild<QAbstractButton*>(u"按钮2"_s);
    auto* countdown = window.findChild<QTimer*>(u"验证码倒计时"_s);
    QStringList captions{sendCode->text()};
    connect(countdown, &QTimer::timeout, this, [&] { captions << sendCode->text(); });
    countdown->setInterval(1);
    QTRY_VERIFY(!countdown->isActive());
    QCOMPARE(captions.size(), 61);
    QCOMPARE(captions.first(), u"59秒后重发"_s);
    QCOMPARE(captions[59], u"0秒后重发"_s);
    QCOMPARE(captions.last(), u"发送验证码"_s);
    QVERIFY(sendCode->isEnabled());

    press(&window, u"按钮2"_s);
    QTRY_VERIFY(!window.isWaiting());
    QCOMPARE(prompts_.last().text, u"发送失败,请看日志跟踪"_s);
    QVERIFY(logText().contains(u"-短信发送结果：False"_s));
    QVERIFY(sendCode->isEnabled());
}

// A stopped service: the start-up check with a stored account says not connected and logs the
// missing answer.
void TestCloudAccount::serviceDown() {
    CloudServiceFixture stopped;
    QVERIFY(stopped.start());
    const QString address = stopped.url();
    stopped.stop();
    {
        LocalStore store;
        QVERIFY(store.open(home_.databasePath()));
        QVERIFY(store.writeCloudAccount({u"grace"_s, u"pw"_s}));
    }
    home_.setCloudAddress(address);
    restart();
    home_.setCloudAddress(cloud_.url());
    QCOMPARE(status(), kNotConnected);
    QCOMPARE(main_->cloudAccount()->account().state(), CloudAccount::State::NotConnected);
    QVERIFY(logText().contains(u"-云端返回：（云端未应答："_s));
}

void TestCloudAccount::slowServiceLeavesTheWindowUsable_data() {
    QTest::addColumn<bool>("byEsc");
    QTest::newRow("close button") << false;
    QTest::newRow("Esc") << true;
}

// A service that takes the connection and does not answer: the window keeps working while the
// log in waits and shows that it waits. Closing it (or Esc) cancels the log in: the window
// closes at once, the request drops its connection, and nothing of the log in is shown,
// logged or stored.
void TestCloudAccount::slowServiceLeavesTheWindowUsable() {
    QFETCH(bool, byEsc);
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    QList<QTcpSocket*> held;
    connect(&silent, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket* socket = silent.nextPendingConnection())
            held << socket;
    });
    home_.setCloudAddress(u"http://127.0.0.1:%1"_s.arg(silent.serverPort()));

    CloudAccountWindow window(*main_->cloudAccount(), main_.get());
    window.show();
    type(&window, u"登录账号编辑框"_s, u"heidi"_s);
    type(&window, u"登录密码编辑框"_s, u"pw"_s);
    const int promptsBefore = int(prompts_.size());
    const QString logBefore = logText();
    const CloudAccount::State stateBefore = main_->cloudAccount()->account().state();
    press(&window, u"按钮1"_s);
    QTRY_VERIFY(!held.isEmpty());
    QVERIFY(window.isWaiting());
    QVERIFY(!window.findChild<QWidget*>(u"按钮1"_s)->isEnabled());
    // The UI thread is free: timers tick and the main window takes a search text.
    QTest::qWait(200);
    main_->findChild<QLineEdit*>(u"查询内容编辑框"_s)->setText(u"abc"_s);
    QVERIFY(window.isWaiting());

    if (byEsc)
        QTest::keyClick(&window, Qt::Key_Escape);
    else
        window.close();
    QVERIFY(!window.isVisible());
    QTRY_VERIFY(std::all_of(held.cbegin(), held.cend(), [](QTcpSocket* socket) {
        return socket->state() == QAbstractSocket::UnconnectedState;
    }));
    QTest::qWait(200);
    home_.setCloudAddress(cloud_.url());
    QCOMPARE(prompts_.size(), promptsBefore);
    // The search's reload may have ended meanwhile and written its rental reminder; the
    // cancelled request wrote nothing.
    const QString log = logText();
    QVERIFY(log.startsWith(logBefore));
    const QStringList added = log.mid(logBefore.size()).split(u'\n', Qt::SkipEmptyParts);
    QVERIFY2(std::all_of(added.cbegin(), added.cend(),
                         [](const QString& line) { return line.contains(u"-租期提醒："_s); }),
             qPrintable(added.join(u'\n')));
    QCOMPARE(main_->cloudAccount()->account().state(), stateBefore);
    QCOMPARE(LocalStore::ensureDatabase(home_.databasePath()).username, QString());
    qDeleteAll(held);
}

// The start-up check with the stored account is still waiting when the user logs in with
// another one: the older answer neither overturns the log in's state nor its status line,
// and its log line still appears.
void TestCloudAccount::logInWhileStartupCheckWaits() {
    {
        CloudAccountWindow window(*main_->cloudAccount(), main_.get());
        window.show();
        registerThroughWindow(window, {u"ivan"_s, u"pw"_s, u"13700000006"_s});
    }
    {
        LocalStore store;
        QVERIFY(store.open(home_.databasePath()));
        QVERIFY(store.writeCloudAccount({u"old"_s, u"stale"_s}));
    }
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    QList<QTcpSocket*> held;
    connect(&silent, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket* socket = silent.nextPendingConnection())
            held << socket;
    });
    home_.setCloudAddress(u"http://127.0.0.1:%1"_s.arg(silent.serverPort()));
    main_.reset();
    main_ = std::make_unique<MainWindow>(home_.context());
    QSignalSpy checked(main_->cloudAccount(), &CloudAccountActions::connectionChecked);
    main_->show();
    QTRY_VERIFY(!held.isEmpty());
    QCOMPARE(status(), CloudAccount::kConnectingText);
    home_.setCloudAddress(cloud_.url());

    logInThroughWindow(u"ivan"_s, u"pw"_s);
    for (QTcpSocket* socket : held)
        socket->abort();
    QVERIFY(checked.wait(20000));
    QCOMPARE(status(), kConnected);
    QVERIFY(main_->cloudAccount()->account().isConnected());
    QVERIFY(logText().contains(u"-云端返回：（云端未应答："_s));
    qDeleteAll(held);
}

void TestCloudAccount::logInPointsBackToTheAction_data() {
    QTest::addColumn<QString>("button");
    QTest::addColumn<QString>("message");
    QTest::newRow("上传到云端") << u"按钮1"_s << u"通信成功，请再次点击 上传到云端 按钮开始上传"_s;
    QTest::newRow("从云端下载") << u"按钮12"_s << u"通信成功，请再次点击 从云端下载 按钮开始下载"_s;
}

// Not connected, the upload and the download open the account window; the log in there
// sends the user back to the button they came from.
void TestCloudAccount::logInPointsBackToTheAction() {
    QFETCH(QString, button);
    QFETCH(QString, message);
    {
        CloudAccountWindow window(*main_->cloudAccount(), main_.get());
        window.show();
        registerThroughWindow(window, {u"judy"_s + button, u"pw"_s,
                                       u"1350000%1"_s.arg(nextPhone_++, 4, 10, QChar(u'0'))});
    }
    main_->cloudAccount()->account().setState(CloudAccount::State::NotConnected);
    QTimer::singleShot(0, this, [&] {
        auto* dialog = qobject_cast<CloudAccountWindow*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        type(dialog, u"登录账号编辑框"_s, u"judy"_s + button);
        type(dialog, u"登录密码编辑框"_s, u"pw"_s);
        press(dialog, u"按钮1"_s);
    });
    // Upload asks first; the responder says OK.
    press(main_.get(), button);
    QCOMPARE(prompts_.last().text, message);
    QCOMPARE(status(), kConnected);
}

TORVANE_GUI_TEST_MAIN(TestCloudAccount)

#include "tst_cloud_account.moc"
