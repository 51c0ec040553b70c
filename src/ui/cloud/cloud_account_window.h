#pragma once

#include "core/cloud/cloud_account.h"

#include <QDialog>
#include <QTimer>

#include <memory>

class CloudAccountActions;
class QPushButton;
namespace Ui {
class CloudAccountWindow;
}

// The window 云端账号配置: log in, log out, and register with an SMS code. Requests go to the
// service on a worker; while one waits, the window's buttons are disabled and the window
// cannot be closed, so every reply finds the window that asked and its message boxes and log
// lines come in the order of the action.
class CloudAccountWindow : public QDialog {
    Q_OBJECT
public:
    static constexpr int kCountdownSeconds = 60;
    static constexpr int kCountdownStepMs = 1000;
    static inline const QString kSendCodeCaption = QStringLiteral("发送验证码");

    CloudAccountWindow(CloudAccountActions& actions, QWidget* parent = nullptr);
    ~CloudAccountWindow() override;

    bool isWaiting() const { return waiting_; }

    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;

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

    void beginWaiting();
    void endWaiting();
    void startCountdown();
    void onCountdownStep();

    CloudAccountActions& actions_;
    std::unique_ptr<Ui::CloudAccountWindow> ui_;
    std::unique_ptr<Controls> c_;
    bool waiting_ = false;
    // 按钮2 stays disabled while the countdown runs, and for good once a registration
    // stopped it.
    bool smsButtonHeld_ = false;
    int secondsLeft_ = 0;
    QTimer countdown_{this};
};
