#pragma once

#include "core/cloud/cloud_account.h"

#include <QObject>

#include <functional>

class AppContext;
class LogPane;
class QLabel;
class QWidget;

// The cloud account as the main window offers it: the account itself, the start-up
// connection check, the status line 透明标签1 and the account window behind "云端配置".
// The account windows reach the log pane and the status line through here.
class CloudAccountActions : public QObject {
    Q_OBJECT
public:
    CloudAccountActions(QWidget* window, LogPane* log, QLabel* status, AppContext& context);

    // The service the account belongs to and the data folder it is stored in.
    AppContext& context() const { return context_; }
    CloudApi::Service service() const;

    CloudAccount& account() { return account_; }
    const CloudAccount& account() const { return account_; }

    // Asks the service with the account in memory, on a worker; the state, the status line
    // and (when a user name is stored) the log line follow when the reply arrives, then
    // `then` with whether the account is connected now. Until the first check has answered,
    // the status line says it is connecting.
    void checkConnection(std::function<void(bool connected)> then = {});
    // The window 云端账号配置, modal; a successful log in points back to `origin`.
    void openWindow(CloudAccount::Origin origin = CloudAccount::Origin::Settings);

    // A log line "<time>-message", appended at once, so it keeps its place among the
    // message boxes of the same action.
    void logLine(const QString& message);
    void showStatus(bool connected);

Q_SIGNALS:
    // The start-up check has applied its reply.
    void connectionChecked();

private:
    QWidget* window_;
    LogPane* log_;
    QLabel* status_;
    AppContext& context_;
    CloudAccount account_;
};
