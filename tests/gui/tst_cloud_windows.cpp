// The windows 云端账号配置 and 修改云端密码 without a cloud service: their controls, the
// registration's field checks, and what a service that cannot be reached leads to. The
// conversations with a real service are in tests/e2e/tst_cloud_account.cpp.

#include "common/gui_test_main.h"
#include "common/main_window_start.h"
#include "common/test_home.h"
#include "core/cloud/cloud_account.h"
#include "ui/app/application.h"
#include "ui/app/main_window.h"
#include "ui/app/prompt.h"
#include "ui/cloud/change_password_window.h"
#include "ui/cloud/cloud_account_actions.h"
#include "ui/cloud/cloud_account_window.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// One message box as the user would have seen it, with the log pane at that moment, so a
// test can tell whether a log line came before or after the box.
struct SeenPrompt {
    QString text;
    QString caption;
    QString logAtThatMoment;
};

} // namespace

class TestCloudWindows : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void accountWindowControls_data();
    void accountWindowControls();
    void passwordWindowControls_data();
    void passwordWindowControls();
    void cloudConfigButtonOpensAccountWindow();
    void registrationStopsAtFirstEmptyField_data();
    void registrationStopsAtFirstEmptyField();
    void smsCodeNeedsPhone();
    void forgottenPassword();
    void unreachableServiceLogIn();
    void unreachableServiceRegistrationAndSms();
    void unreachableServicePasswordChange();

private:
    QString logText() const;
    void setText(QWidget* window, const QString& name, const QString& text);
    void click(QWidget* window, const QString& name);

    TestHome home_;
    std::unique_ptr<MainWindow> main_;
    QList<SeenPrompt> prompts_;
};

void TestCloudWindows::initTestCase() {
    QVERIFY(home_.isValid());
}

void TestCloudWindows::init() {
    prompts_.clear();
    Prompt::setResponder([this](const PromptRequest& r) {
        prompts_ << SeenPrompt{r.text, r.caption, logText()};
        return QMessageBox::Ok;
    });
    main_ = std::make_unique<MainWindow>(home_.context());
    QVERIFY(showAndWaitForFirstFill(*main_));
    // The start-up check has answered once the status line no longer says it is connecting.
    auto* status = main_->findChild<QLabel*>(u"透明标签1"_s);
    QTRY_VERIFY(!status->text().isEmpty() && status->text() != CloudAccount::kConnectingText);
}

void TestCloudWindows::cleanup() {
    Prompt::setResponder({});
    main_.reset();
}

QString TestCloudWindows::logText() const {
    return main_ ? main_->findChild<QPlainTextEdit*>(u"编辑框1"_s)->toPlainText() : QString();
}

void TestCloudWindows::setText(QWidget* window, const QString& name, const QString& text) {
    auto* edit = window->findChild<QLineEdit*>(name);
    QVERIFY2(edit, qPrintable(name));
    edit->setText(text);
}

void TestCloudWindows::click(QWidget* window, const QString& name) {
    auto* button = window->findChild<QAbstractButton*>(name);
    QVERIFY2(button, qPrintable(name));
    QVERIFY2(button->isEnabled(), qPrintable(name));
    button->click();
}

namespace {

void addControlColumns() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
}

void controlRow(const QString& name, const char* kind, const QString& caption = {}) {
    QTest::newRow(name.toUtf8().constData()) << name << QString::fromLatin1(kind) << caption;
}

// The control exists with its kind and caption, lies inside its parent, and overlaps none of
// its visible siblings.
void checkControl(QWidget* window, const QString& name, const QString& kind,
                  const QString& caption) {
    auto* control = window->findChild<QWidget*>(name);
    QVERIFY2(control, qPrintable(name));
    QCOMPARE(QString::fromLatin1(control->metaObject()->className()), kind);
    if (auto* button = qobject_cast<QAbstractButton*>(control))
        QCOMPARE(button->text(), caption);
    if (auto* label = qobject_cast<QLabel*>(control))
        QCOMPARE(label->text(), caption);
    if (auto* group = qobject_cast<QGroupBox*>(control))
        QCOMPARE(group->title(), caption);
    QWidget* parent = control->parentWidget();
    QVERIFY2(parent->rect().contains(control->geometry()), qPrintable(name));
    for (QWidget* sibling : parent->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (sibling != control && !sibling->isHidden())
            QVERIFY2(!sibling->geometry().intersects(control->geometry()),
                     qPrintable(name + u" / "_s + sibling->objectName()));
    }
}

const QString kLoginNote = u"云端登录成功后，每次打开软件将会自动登录\n\n"
                           u"点击退出云端后，将不会自动登录\n\n"
                           u"点击退出云端后关闭软件，下次打开软件将不会自动登陆"_s;

} // namespace

void TestCloudWindows::accountWindowControls_data() {
    addControlColumns();
    controlRow(u"分组框1"_s, "QGroupBox", u"云端账号配置"_s);
    controlRow(u"标签1"_s, "QLabel", u"客户账号"_s);
    controlRow(u"登录账号编辑框"_s, "QLineEdit");
    controlRow(u"标签2"_s, "QLabel", u"客户密码"_s);
    controlRow(u"登录密码编辑框"_s, "QLineEdit");
    controlRow(u"按钮1"_s, "QPushButton", u"登录云端"_s);
    controlRow(u"按钮6"_s, "QPushButton", u"退出云端"_s);
    controlRow(u"透明标签1"_s, "QLabel", kLoginNote);
    controlRow(u"分组框2"_s, "QGroupBox", u"云端账号注册"_s);
    controlRow(u"标签3"_s, "QLabel", u"客户账号"_s);
    controlRow(u"注册账号编辑框"_s, "QLineEdit");
    controlRow(u"标签4"_s, "QLabel", u"客户密码"_s);
    controlRow(u"注册密码编辑框"_s, "QLineEdit");
    controlRow(u"标签5"_s, "QLabel", u"客户手机"_s);
    controlRow(u"注册手机编辑框"_s, "QLineEdit");
    controlRow(u"标签6"_s, "QLabel", u"验证码"_s);
    controlRow(u"注册验证码编辑框"_s, "QLineEdit");
    controlRow(u"按钮2"_s, "QPushButton", u"发送验证码"_s);
    controlRow(u"标签7"_s, "QLabel", u"客户QQ"_s);
    controlRow(u"客户QQ编辑框"_s, "QLineEdit");
    controlRow(u"标签8"_s, "QLabel", u"客户邮箱"_s);
    controlRow(u"客户邮箱编辑框"_s, "QLineEdit");
    controlRow(u"按钮3"_s, "QPushButton", u"立即注册"_s);
    controlRow(u"按钮4"_s, "QPushButton", u"修改密码"_s);
    controlRow(u"按钮5"_s, "QPushButton", u"忘记密码"_s);
}

void TestCloudWindows::accountWindowControls() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    CloudAccountWindow window(*main_->cloudAccount(), main_.get());
    QCOMPARE(window.windowTitle(), u"云端账号配置"_s);
    QCOMPARE(window.size(), QSize(668, 414));
    checkControl(&window, name, kind, caption);
}

void TestCloudWindows::passwordWindowControls_data() {
    addControlColumns();
    controlRow(u"分组框1"_s, "QGroupBox", u"云端密码修改"_s);
    controlRow(u"标签2"_s, "QLabel", u"当前密码"_s);
    controlRow(u"当前密码编辑框"_s, "QLineEdit");
    controlRow(u"标签1"_s, "QLabel", u"新密码"_s);
    controlRow(u"新密码编辑框"_s, "QLineEdit");
    controlRow(u"标签3"_s, "QLabel", u"确认密码"_s);
    controlRow(u"确认密码编辑框"_s, "QLineEdit");
    controlRow(u"按钮1"_s, "QPushButton", u"确认修改"_s);
}

void TestCloudWindows::passwordWindowControls() {
    QFETCH(QString, name);
    QFETCH(QString, kind);
    QFETCH(QString, caption);
    ChangePasswordWindow window(*main_->cloudAccount(), main_.get());
    QCOMPARE(window.windowTitle(), u"修改云端密码"_s);
    QCOMPARE(window.size(), QSize(332, 240));
    checkControl(&window, name, kind, caption);
}

// "云端配置" opens the account window modally with the account's name filled in; 按钮6 shows
// only for a connected account, and "修改密码" opens the second window over it.
void TestCloudWindows::cloudConfigButtonOpensAccountWindow() {
    main_->cloudAccount()->account().setAccount({u"用户甲"_s, u"pw"_s});
    QString seenName;
    bool logoutVisible = true;
    QString secondTitle;
    QTimer::singleShot(0, this, [&] {
        auto* dialog = qobject_cast<CloudAccountWindow*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        seenName = dialog->findChild<QLineEdit*>(u"登录账号编辑框"_s)->text();
        logoutVisible = dialog->findChild<QWidget*>(u"按钮6"_s)->isVisible();
        QTimer::singleShot(0, this, [&, dialog] {
            secondTitle = QApplication::activeModalWidget()->windowTitle();
            QApplication::activeModalWidget()->close();
            dialog->close();
        });
        dialog->findChild<QAbstractButton*>(u"按钮4"_s)->click();
    });
    click(main_.get(), u"按钮15"_s);
    QCOMPARE(seenName, u"用户甲"_s);
    QVERIFY(!logoutVisible);
    QCOMPARE(secondTitle, u"修改云端密码"_s);

    main_->cloudAccount()->account().setState(CloudAccount::State::Connected);
    CloudAccountWindow window(*main_->cloudAccount(), main_.get());
    window.show();
    QVERIFY(window.findChild<QWidget*>(u"按钮6"_s)->isVisible());
}

void TestCloudWindows::registrationStopsAtFirstEmptyField_data() {
    QTest::addColumn<QStringList>("fields"); // name, password, phone, code, QQ, mail
    QTest::addColumn<QString>("message");
    QTest::newRow("all empty") << QStringList{{}, {}, {}, {}, {}, {}} << u"请先输入客户账号"_s;
    QTest::newRow("password") << QStringList{u"a"_s, {}, {}, {}, {}, {}} << u"请先输入客户密码"_s;
    QTest::newRow("phone and QQ empty")
        << QStringList{u"a"_s, u"b"_s, {}, u"1"_s, {}, u"m"_s} << u"请先输入手机号"_s;
    QTest::newRow("code") << QStringList{u"a"_s, u"b"_s, u"1"_s, {}, u"q"_s, u"m"_s}
                          << u"请先输入验证码"_s;
    QTest::newRow("QQ") << QStringList{u"a"_s, u"b"_s, u"1"_s, u"2"_s, {}, u"m"_s}
                        << u"请先输入QQ"_s;
    QTest::newRow("mail") << QStringList{u"a"_s, u"b"_s, u"1"_s, u"2"_s, u"q"_s, {}}
                          << u"请先输入邮箱"_s;
}

void TestCloudWindows::registrationStopsAtFirstEmptyField() {
    QFETCH(QStringList, fields);
    QFETCH(QString, message);
    CloudAccountWindow window(*main_->cloudAccount(), main_.get());
    const QStringList names{u"注册账号编辑框"_s,   u"注册密码编辑框"_s, u"注册手机编辑框"_s,
                            u"注册验证码编辑框"_s, u"客户QQ编辑框"_s,   u"客户邮箱编辑框"_s};
    for (int i = 0; i < names.size(); ++i)
        setText(&window, names[i], fields[i]);
    const QString logBefore = logText();
    click(&window, u"按钮3"_s);
    // Nothing was sent: no wait, no log line.
    QVERIFY(!window.isWaiting());
    QCOMPARE(prompts_.size(), 1);
    QCOMPARE(prompts_[0].text, message);
    QCOMPARE(prompts_[0].caption, u"信息："_s);
    QCOMPARE(logText(), logBefore);
}

void TestCloudWindows::smsCodeNeedsPhone() {
    CloudAccountWindow window(*main_->cloudAccount(), main_.get());
    click(&window, u"按钮2"_s);
    QVERIFY(!window.isWaiting());
    QCOMPARE(prompts_.size(), 1);
    QCOMPARE(prompts_[0].text, u"请先输入手机号"_s);
}

void TestCloudWindows::forgottenPassword() {
    CloudAccountWindow window(*main_->cloudAccount(), main_.get());
    click(&window, u"按钮5"_s);
    QCOMPARE(prompts_.size(), 1);
    QCOMPARE(prompts_[0].text, u"忘记密码请联系客服"_s);
}

// The test's service address has nothing listening: the box says the service did not answer
// and why (not that the password is wrong), after it the log names the missing answer, and
// the window stays open.
void TestCloudWindows::unreachableServiceLogIn() {
    CloudAccountWindow window(*main_->cloudAccount(), main_.get());
    window.show();
    setText(&window, u"登录账号编辑框"_s, u"甲"_s);
    setText(&window, u"登录密码编辑框"_s, u"pw"_s);
    click(&window, u"按钮1"_s);
    QTRY_VERIFY(!window.isWaiting());
    QCOMPARE(prompts_.size(), 1);
    QCOMPARE(prompts_[0].text,
             u"通信失败，云端没有应答（711 发送请求失败!），请检查网络或稍后再试"_s);
    QVERIFY(!prompts_[0].logAtThatMoment.contains(u"-云端返回："_s));
    QVERIFY(logText().contains(u"-云端返回：（云端未应答："_s));
    QVERIFY(window.isVisible());
    // The typed account stays in memory, not connected.
    const CloudAccount& account = main_->cloudAccount()->account();
    QCOMPARE(account.userName(), u"甲"_s);
    QCOMPARE(account.password(), u"pw"_s);
    QCOMPARE(account.state(), CloudAccount::State::NotConnected);
    QCOMPARE(main_->findChild<QLabel*>(u"透明标签1"_s)->text(), CloudAccount::kNotConnectedText);
}

void TestCloudWindows::unreachableServiceRegistrationAndSms() {
    CloudAccountWindow window(*main_->cloudAccount(), main_.get());
    window.show();
    for (const auto& [name, text] : {std::pair{u"注册账号编辑框"_s, u"a"_s},
                                     {u"注册密码编辑框"_s, u"b"_s},
                                     {u"注册手机编辑框"_s, u"13800000000"_s},
                                     {u"注册验证码编辑框"_s, u"123456"_s},
                                     {u"客户QQ编辑框"_s, u"10000"_s},
                                     {u"客户邮箱编辑框"_s, u"a@example.com"_s}})
        setText(&window, name, text);

    // Registration: the log line comes first, then the message box.
    click(&window, u"按钮3"_s);
    QTRY_VERIFY(!window.isWaiting());
    QCOMPARE(prompts_.size(), 1);
    QCOMPARE(prompts_[0].text, u"注册失败,请看日志跟踪"_s);
    QVERIFY(prompts_[0].logAtThatMoment.contains(u"-注册结果："_s));

    // The code request: the message box first, then the log line; the button stays offered.
    click(&window, u"按钮2"_s);
    QTRY_VERIFY(!window.isWaiting());
    QCOMPARE(prompts_.size(), 2);
    QCOMPARE(prompts_[1].text, u"发送失败,请看日志跟踪"_s);
    QVERIFY(!prompts_[1].logAtThatMoment.contains(u"-短信发送结果："_s));
    QVERIFY(logText().contains(u"-短信发送结果："_s));
    auto* sendCode = window.findChild<QAbstractButton*>(u"按钮2"_s);
    QVERIFY(sendCode->isEnabled());
    QCOMPARE(sendCode->text(), u"发送验证码"_s);
    // Nothing reached the account in memory.
    QCOMPARE(main_->cloudAccount()->account().userName(), QString());
}

void TestCloudWindows::unreachableServicePasswordChange() {
    main_->cloudAccount()->account().setAccount({u"甲"_s, u"old"_s});
    ChangePasswordWindow window(*main_->cloudAccount(), main_.get());
    window.show();
    setText(&window, u"当前密码编辑框"_s, u"typed"_s);
    setText(&window, u"新密码编辑框"_s, u"new"_s);
    click(&window, u"按钮1"_s);
    QVERIFY(window.isWaiting());
    QVERIFY(!window.findChild<QWidget*>(u"按钮1"_s)->isEnabled());
    QTRY_VERIFY(!window.isWaiting());
    QCOMPARE(prompts_.size(), 1);
    QCOMPARE(prompts_[0].text, u"修改失败，请看日志跟踪"_s);
    QVERIFY(logText().contains(u"-云端返回："_s));
    QVERIFY(window.isVisible());
    // The typed current password is the one in memory now; the new one is not.
    QCOMPARE(main_->cloudAccount()->account().password(), u"typed"_s);
}

TORVANE_GUI_TEST_MAIN(TestCloudWindows)

#include "tst_cloud_windows.moc"
