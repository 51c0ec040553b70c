#include "ui/cloud/cloud_account_window.h"

#include "core/app_context.h"
#include "core/store/store_queue.h"
#include "ui/app/prompt.h"
#include "ui/cloud/change_password_window.h"
#include "ui/cloud/cloud_account_actions.h"

#include "ui_cloud_account_window.h"

using namespace Qt::StringLiterals;

struct CloudAccountWindow::Controls {
    QLineEdit* loginName;
    QLineEdit* loginPassword;
    QPushButton* login;
    QPushButton* logout;
    QLineEdit* name;
    QLineEdit* password;
    QLineEdit* phone;
    QLineEdit* smsCode;
    QPushButton* sendCode;
    QLineEdit* qq;
    QLineEdit* mail;
    QPushButton* registerNow;
    QPushButton* changePassword;
    QPushButton* forgotPassword;
};

CloudAccountWindow::CloudAccountWindow(CloudAccountActions& actions, QWidget* parent,
                                       CloudAccount::Origin origin)
    : QDialog(parent), actions_(actions), origin_(origin),
      ui_(std::make_unique<Ui::CloudAccountWindow>()) {
    ui_->setupUi(this);
    setModal(true);
    setFixedSize(size());
    c_ = std::make_unique<Controls>(Controls{
        ui_->登录账号编辑框, ui_->登录密码编辑框, ui_->按钮1, ui_->按钮6, ui_->注册账号编辑框,
        ui_->注册密码编辑框, ui_->注册手机编辑框, ui_->注册验证码编辑框, ui_->按钮2,
        ui_->客户QQ编辑框, ui_->客户邮箱编辑框, ui_->按钮3, ui_->按钮4, ui_->按钮5});

    c_->loginName->setText(actions_.account().userName());
    c_->logout->setVisible(actions_.account().isConnected());

    countdown_.setObjectName(u"验证码倒计时"_s);
    countdown_.setInterval(kCountdownStepMs);
    connect(&countdown_, &QTimer::timeout, this, &CloudAccountWindow::onCountdownStep);

    connect(c_->login, &QPushButton::clicked, this, &CloudAccountWindow::login);
    connect(c_->logout, &QPushButton::clicked, this, &CloudAccountWindow::logout);
    connect(c_->registerNow, &QPushButton::clicked, this, &CloudAccountWindow::registerAccount);
    connect(c_->sendCode, &QPushButton::clicked, this, &CloudAccountWindow::sendSmsCode);
    connect(c_->changePassword, &QPushButton::clicked, this,
            &CloudAccountWindow::openChangePassword);
    connect(c_->forgotPassword, &QPushButton::clicked, this,
            [this] { Prompt::inform(this, u"忘记密码请联系客服"_s); });
}

CloudAccountWindow::~CloudAccountWindow() = default;

// Esc and the close button both come here, also while a request waits: it is cancelled.
void CloudAccountWindow::reject() {
    requests_.cancel();
    countdown_.stop();
    QDialog::reject();
}

void CloudAccountWindow::beginWaiting() {
    waiting_ = true;
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setEnabled(false);
    setCursor(Qt::BusyCursor);
}

void CloudAccountWindow::endWaiting() {
    waiting_ = false;
    for (QPushButton* button : findChildren<QPushButton*>())
        button->setEnabled(button != c_->sendCode || !smsButtonHeld_);
    unsetCursor();
}

void CloudAccountWindow::login() {
    // The typed account becomes the one in memory whether or not the service accepts it.
    const CloudApi::Account typed{c_->loginName->text(), c_->loginPassword->text()};
    actions_.account().setAccount(typed);
    ask([typed, service = actions_.service(), path = actions_.context().databasePath()](
            const JobStop* stop) { return CloudAccount::login(service, typed, path, stop); },
        [](CloudAccountWindow* self, const CloudAccount::Outcome& outcome) {
            self->onLoginAnswered(outcome);
        });
}

void CloudAccountWindow::onLoginAnswered(const CloudAccount::Outcome& outcome) {
    endWaiting();
    actions_.account().setState(outcome.succeeded ? CloudAccount::State::Connected
                                                  : CloudAccount::State::NotConnected);
    actions_.showStatus(outcome.succeeded);
    Prompt::inform(this, CloudAccount::loginMessage(outcome, origin_));
    actions_.logLine(u"-云端返回："_s + CloudAccount::replyForLog(outcome.reply));
    if (outcome.succeeded)
        accept();
}

// Only the stored password changes, so the next start-up check fails; the login state stays
// as it was. The store is written on its own thread, the window waiting.
void CloudAccountWindow::logout() {
    beginWaiting();
    StoreQueue::run(
        this, [path = actions_.context().databasePath()] { return CloudAccount::logout(path); },
        [](CloudAccountWindow* self, bool) {
            self->endWaiting();
            self->actions_.account().setAccount({});
            self->c_->logout->hide();
            Prompt::inform(self, u"云端已经退出"_s);
        });
}

void CloudAccountWindow::registerAccount() {
    const CloudApi::Registration fields{c_->name->text(),  c_->password->text(),
                                        c_->phone->text(), c_->smsCode->text(),
                                        c_->qq->text(),    c_->mail->text()};
    if (const auto missing = CloudAccount::missingRegistrationField(fields)) {
        Prompt::inform(this, *missing);
        return;
    }
    ask([fields, service = actions_.service()](
            const JobStop* stop) { return CloudAccount::registerAccount(service, fields, stop); },
        [fields](CloudAccountWindow* self, const CloudAccount::Registration& result) {
            self->onRegistrationAnswered(result, fields);
        });
}

// A new account is not logged in: its name and password wait in the log-in fields for
// "登录云端".
void CloudAccountWindow::onRegistrationAnswered(const CloudAccount::Registration& result,
                                                const CloudApi::Registration& fields) {
    using Outcome = CloudApi::RegistrationOutcome;
    if (result.outcome == Outcome::Registered && countdown_.isActive()) {
        countdown_.stop();
        smsButtonHeld_ = true;
    }
    endWaiting();
    switch (result.outcome) {
    case Outcome::Registered:
        actions_.account().setAccount({fields.username, fields.password});
        c_->loginName->setText(fields.username);
        c_->loginPassword->setText(fields.password);
        Prompt::inform(this, u"注册成功"_s);
        break;
    case Outcome::WrongSmsCode:
        actions_.logLine(u"-验证码错误"_s);
        break;
    case Outcome::NameTaken:
        actions_.logLine(u"-客户账号已经存在"_s);
        break;
    case Outcome::Failed:
        actions_.logLine(u"-注册结果："_s + CloudAccount::replyForLog(result.reply));
        Prompt::inform(this, u"注册失败,请看日志跟踪"_s);
        break;
    }
}

void CloudAccountWindow::sendSmsCode() {
    const QString phone = c_->phone->text();
    if (phone.isEmpty()) {
        Prompt::inform(this, u"请先输入手机号"_s);
        return;
    }
    ask([phone, service = actions_.service()](
            const JobStop* stop) { return CloudAccount::sendSmsCode(service, phone, stop); },
        [](CloudAccountWindow* self, const CloudAccount::Outcome& outcome) {
            self->onSmsAnswered(outcome);
        });
}

void CloudAccountWindow::onSmsAnswered(const CloudAccount::Outcome& outcome) {
    smsButtonHeld_ = outcome.succeeded;
    endWaiting();
    if (!outcome.succeeded) {
        Prompt::inform(this, u"发送失败,请看日志跟踪"_s);
        actions_.logLine(u"-短信发送结果："_s + CloudAccount::replyForLog(outcome.reply));
        return;
    }
    Prompt::inform(this, u"发送成功"_s);
    startCountdown();
}

// The caption counts the seconds until a new code may be asked for: 59 at once, then one
// less every second down to 0, and a second later the button is offered again.
void CloudAccountWindow::startCountdown() {
    secondsLeft_ = kCountdownSeconds - 1;
    c_->sendCode->setText(QString::number(secondsLeft_) + u"秒后重发"_s);
    countdown_.start();
}

void CloudAccountWindow::onCountdownStep() {
    if (secondsLeft_ > 0) {
        --secondsLeft_;
        c_->sendCode->setText(QString::number(secondsLeft_) + u"秒后重发"_s);
        return;
    }
    countdown_.stop();
    smsButtonHeld_ = false;
    c_->sendCode->setText(kSendCodeCaption);
    c_->sendCode->setEnabled(!waiting_);
}

void CloudAccountWindow::openChangePassword() {
    ChangePasswordWindow dialog(actions_, this);
    dialog.exec();
}
