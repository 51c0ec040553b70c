#pragma once

#include "core/cloud/cloud_account.h"
#include "ui/cloud/window_requests.h"

#include <QDialog>
#include <QTimer>

#include <memory>

class CloudAccountActions;
class QPushButton;
namespace Ui {
class CloudAccountWindow;
}

// The window 云端账号配置: log in, log out, and register with an SMS code. Requests go to the
// service on a worker; while one waits, the window's buttons are disabled, so its message
// boxes and log lines come in the order of the action. Closing the window (or Esc) while a
// request waits cancels the request: the window closes at once and the reply is dropped.
class CloudAccountWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr int kCountdownSeconds = 60;
    static constexpr int kCountdownStepMs = 1000;
    static inline const QString kSendCodeCaption = QStringLiteral("发送验证码");

    CloudAccountWindow(CloudAccountActions& actions, QWidget* parent = nullptr,
                       CloudAccount::Origin origin = CloudAccount::Origin::Settings);
    ~CloudAccountWindow() override;

    bool isWaiting() const { return waiting_; }

    void reject() override;

private:
    struct Controls;
    void login();
    void onLoginAnswered(const CloudAccount::Outcome& outcome);
    void logout();
    void registerAccount();
    void onRegistrationAnswered(const CloudAccount::Registration& result,
                                const CloudApi::Registration& fields);
    void sendSmsCode();
    void onSmsAnswered(const CloudAccount::Outcome& outcome);
    void openChangePassword();

    // Runs `work(stop)` on a worker with the window waiting, then `deliver` on the UI thread.
    template <typename Work, typename Deliver> void ask(Work work, Deliver deliver) {
        beginWaiting();
        requests_.run(this, std::move(work), std::move(deliver));
    }
    void beginWaiting();
    void endWaiting();
    void startCountdown();
    void onCountdownStep();

    CloudAccountActions& actions_;
    CloudAccount::Origin origin_;
    std::unique_ptr<Ui::CloudAccountWindow> ui_;
    std::unique_ptr<Controls> c_;
    bool waiting_ = false;
    // 按钮2 stays disabled while the countdown runs, and for good once a registration
    // stopped it.
    bool smsButtonHeld_ = false;
    int secondsLeft_ = 0;
    QTimer countdown_{this};
    // Declared last: going first, it waits for a request still under way before the rest goes.
    WindowRequests requests_;
};
