#pragma once

#include "core/cloud/cloud_actions.h"

#include <QMutex>
#include <QString>

#include <optional>

// The user's account at the cloud service: the name and password every account request
// carries, and the login state that the upload and download consult. One instance lives as
// long as the main window. The account and state are written on the UI thread only and read
// from any thread.
//
// The operations that talk to the service are static and blocking: they take what the
// window collected, send it, judge the reply and store what must be stored, but leave the
// in-memory account and state to the caller, which applies them on the UI thread.
class CloudAccount {
public:
    // The login state: unchecked until the first check ends.
    enum class State { Unchecked, Connected, NotConnected };

    // The two texts of the main window's status line.
    static inline const QString kConnectedText =
        QStringLiteral("云端连接成功，可上传数据到云端或从云端下载数据");
    static inline const QString kNotConnectedText =
        QStringLiteral("当前未连接云端，如需上传数据到云端，请点击 上传到云端 按钮后配置云端账号");
    // ... and while the first check waits for the service.
    static inline const QString kConnectingText = QStringLiteral("正在连接云端…");
    // Logging out stores this password, so the next start-up check fails.
    static inline const QString kLoggedOutPassword = QStringLiteral("1");

    CloudApi::Account account() const;
    QString userName() const;
    QString password() const;
    State state() const;
    bool isConnected() const { return state() == State::Connected; }

    void setAccount(const CloudApi::Account& account);
    void setPassword(const QString& password);
    void setState(State state);

    static QString statusText(bool connected);

    // What a request to the service came to: its reply and whether it counts as success.
    struct Outcome {
        CloudApi::Reply reply;
        bool succeeded = false;
    };

    // Where the account window was opened from; a successful log in points back to it.
    enum class Origin { Settings, Upload, Download };

    // "info" with the given account; the start-up check and the log in both ask this.
    static Outcome checkConnection(const CloudApi::Service& service,
                                   const CloudApi::Account& account, const JobStop* stop = nullptr);
    // "info" with the typed account; on success the account is stored in `databasePath` as
    // the one to log in with at the next start.
    static Outcome login(const CloudApi::Service& service, const CloudApi::Account& account,
                         const QString& databasePath, const JobStop* stop = nullptr);
    // The log-in message box: the way back to the action the window was opened from, a
    // refusal of the account, or that the service did not answer (with the reason).
    static QString loginMessage(const Outcome& outcome, Origin origin);
    // Stores the logged-out password; the stored user name stays.
    static bool logout(const QString& databasePath);

    // The message for the first empty registration field, in the order the window lists
    // them (name, password, phone, code, QQ, mail); nothing when every field holds text.
    static std::optional<QString> missingRegistrationField(const CloudApi::Registration& r);
    struct Registration {
        CloudApi::Reply reply;
        CloudApi::RegistrationOutcome outcome = CloudApi::RegistrationOutcome::Failed;
    };
    // "reg" with the window's fields; nothing is stored and the account in memory is the
    // caller's to set.
    static Registration registerAccount(const CloudApi::Service& service,
                                        const CloudApi::Registration& fields,
                                        const JobStop* stop = nullptr);

    static Outcome sendSmsCode(const CloudApi::Service& service, const QString& phone,
                               const JobStop* stop = nullptr);

    // "editpass"; on success the account is stored with the NEW password, so the next
    // automatic log in uses the password the service now holds.
    static Outcome changePassword(const CloudApi::Service& service,
                                  const CloudApi::PasswordChange& change,
                                  const QString& databasePath, const JobStop* stop = nullptr);

    // The reply as a log line shows it; a request the service never answered, or answered
    // with an HTTP error status, says so.
    static QString replyForLog(const CloudApi::Reply& reply);

private:
    mutable QMutex lock_;
    CloudApi::Account account_;
    State state_ = State::Unchecked;
};
