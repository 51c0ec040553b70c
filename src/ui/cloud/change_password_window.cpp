#include "ui/cloud/change_password_window.h"

#include "core/app_context.h"
#include "ui/app/prompt.h"
#include "ui/cloud/cloud_account_actions.h"

#include "ui_change_password_window.h"

using namespace Qt::StringLiterals;

ChangePasswordWindow::ChangePasswordWindow(CloudAccountActions& actions, QWidget* parent)
    : QDialog(parent), actions_(actions), ui_(std::make_unique<Ui::ChangePasswordWindow>()) {
    ui_->setupUi(this);
    setModal(true);
    setFixedSize(size());
    connect(ui_->按钮1, &QPushButton::clicked, this, &ChangePasswordWindow::changePassword);
}

ChangePasswordWindow::~ChangePasswordWindow() = default;

// Esc and the close button both come here, also while the change waits: it is cancelled.
void ChangePasswordWindow::reject() {
    requests_.cancel();
    QDialog::reject();
}

void ChangePasswordWindow::changePassword() {
    CloudAccount& account = actions_.account();
    // The typed current password becomes the one in memory, whatever the service answers.
    account.setPassword(ui_->当前密码编辑框->text());
    const CloudApi::PasswordChange change{account.userName(), account.password(),
                                          ui_->新密码编辑框->text(), ui_->确认密码编辑框->text()};
    waiting_ = true;
    ui_->按钮1->setEnabled(false);
    setCursor(Qt::BusyCursor);
    requests_.run(
        this,
        [change, service = actions_.service(),
         path = actions_.context().databasePath()](const JobStop* stop) {
            return CloudAccount::changePassword(service, change, path, stop);
        },
        [newPassword = change.newPassword](ChangePasswordWindow* self,
                                           const CloudAccount::Outcome& outcome) {
            self->onAnswered(outcome, newPassword);
        });
}

// After a change the service knows only the new password, so that is the one kept in memory
// (and stored by the change) for the next request and the next automatic log in.
void ChangePasswordWindow::onAnswered(const CloudAccount::Outcome& outcome,
                                      const QString& newPassword) {
    waiting_ = false;
    ui_->按钮1->setEnabled(true);
    unsetCursor();
    if (outcome.succeeded) {
        actions_.account().setState(CloudAccount::State::Connected);
        actions_.account().setPassword(newPassword);
    }
    Prompt::inform(this, outcome.succeeded ? u"密码修改成功"_s : u"修改失败，请看日志跟踪"_s);
    actions_.logLine(u"-云端返回："_s + CloudAccount::replyForLog(outcome.reply));
}
