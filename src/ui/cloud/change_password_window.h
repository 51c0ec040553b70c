#pragma once

#include "core/cloud/cloud_account.h"
#include "ui/cloud/window_requests.h"

#include <QDialog>

#include <memory>

class CloudAccountActions;
namespace Ui {
class ChangePasswordWindow;
}

// The window 修改云端密码. The fields go to the service as typed, without checks of their
// own; while the reply is awaited the button is disabled. Closing the window (or Esc) then
// cancels the request.
class ChangePasswordWindow : public QDialog {
    Q_OBJECT
public:
    ChangePasswordWindow(CloudAccountActions& actions, QWidget* parent = nullptr);
    ~ChangePasswordWindow() override;

    bool isWaiting() const { return waiting_; }

    void reject() override;

private:
    void changePassword();
    void onAnswered(const CloudAccount::Outcome& outcome, const QString& newPassword);

    CloudAccountActions& actions_;
    std::unique_ptr<Ui::ChangePasswordWindow> ui_;
    bool waiting_ = false;
    // Declared last: going first, it waits for a request still under way before the rest goes.
    WindowRequests requests_;
};
