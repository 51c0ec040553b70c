#include "ui/cloud/cloud_account_actions.h"

#include "core/app_context.h"
#include "core/support/run_then_deliver.h"
#include "core/support/time_text.h"
#include "ui/app/log_pane.h"
#include "ui/cloud/cloud_account_window.h"

#include <QLabel>
#include <QThreadPool>

using namespace Qt::StringLiterals;

CloudAccountActions::CloudAccountActions(QWidget* window, LogPane* log, QLabel* status,
                                         AppContext& context)
    : QObject(window), window_(window), log_(log), status_(status), context_(context) {}

CloudApi::Service CloudAccountActions::service() const {
    return {context_.cloudAddress()};
}

void CloudAccountActions::checkConnection(std::function<void(bool connected)> then) {
    const CloudApi::Account asked = account_.account();
    if (account_.state() == CloudAccount::State::Unchecked)
        status_->setText(CloudAccount::kConnectingText);
    runThenDeliver(
        *QThreadPool::globalInstance(), this,
        [asked, service = service()] { return CloudAccount::checkConnection(service, asked); },
        [asked, then = std::move(then)](CloudAccountActions* self,
                                        const CloudAccount::Outcome& outcome) {
            // A log in or log out that happened while this check waited has decided the
            // state since; this older answer must not overturn it.
            const CloudApi::Account now = self->account_.account();
            if (now.username == asked.username && now.password == asked.password) {
                self->account_.setState(outcome.succeeded ? CloudAccount::State::Connected
                                                          : CloudAccount::State::NotConnected);
                self->showStatus(outcome.succeeded);
            }
            if (!asked.username.isEmpty())
                self->logLine(u"-云端返回："_s + CloudAccount::replyForLog(outcome.reply));
            Q_EMIT self->connectionChecked();
            if (then)
                then(self->account_.isConnected());
        });
}

void CloudAccountActions::openWindow(CloudAccount::Origin origin) {
    CloudAccountWindow dialog(*this, window_, origin);
    dialog.exec();
}

void CloudAccountActions::logLine(const QString& message) {
    log_->append(timeText() + message + u"\r\n"_s);
}

void CloudAccountActions::showStatus(bool connected) {
    status_->setText(CloudAccount::statusText(connected));
}
