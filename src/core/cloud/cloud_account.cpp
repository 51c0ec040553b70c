#include "core/cloud/cloud_account.h"

#include "core/store/local_store.h"

using namespace Qt::StringLiterals;

CloudApi::Account CloudAccount::account() const {
    QMutexLocker guard(&lock_);
    return account_;
}

QString CloudAccount::userName() const {
    return account().username;
}

QString CloudAccount::password() const {
    return account().password;
}

CloudAccount::State CloudAccount::state() const {
    QMutexLocker guard(&lock_);
    return state_;
}

void CloudAccount::setAccount(const CloudApi::Account& account) {
    QMutexLocker guard(&lock_);
    account_ = account;
}

void CloudAccount::setPassword(const QString& password) {
    QMutexLocker guard(&lock_);
    account_.password = password;
}

void CloudAccount::setState(State state) {
    QMutexLocker guard(&lock_);
    state_ = state;
}

QString CloudAccount::statusText(bool connected) {
    return connected ? kConnectedText : kNotConnectedText;
}

CloudAccount::Outcome CloudAccount::checkConnection(const CloudApi::Service& service,
                                                    const CloudApi::Account& account,
                                                    const JobStop* stop) {
    Outcome outcome{CloudApi::checkAccount(service, account, stop)};
    outcome.succeeded = CloudApi::succeeded(outcome.reply);
    return outcome;
}

namespace {

// The account row has no failure report of its own: a write that fails leaves the stored
// copy as it was, and the account in memory is updated all the same.
void storeAccount(const QString& databasePath, const CloudApi::Account& account) {
    LocalStore store;
    if (store.open(databasePath))
        store.writeCloudAccount({account.username, account.password});
}

} // namespace

CloudAccount::Outcome CloudAccount::login(const CloudApi::Service& service,
                                          const CloudApi::Account& account,
                                          const QString& databasePath, const JobStop* stop) {
    Outcome outcome = checkConnection(service, account, stop);
    if (outcome.succeeded)
        storeAccount(databasePath, account);
    return outcome;
}

QString CloudAccount::loginMessage(const Outcome& outcome, Origin origin) {
    const CloudApi::Reply& reply = outcome.reply;
    if (outcome.succeeded) {
        return origin == Origin::Download ? u"通信成功，请再次点击 从云端下载 按钮开始下载"_s
                                          : u"通信成功，请再次点击 上传到云端 按钮开始上传"_s;
    }
    if (!reply.failure.isEmpty())
        return u"通信失败，云端没有应答（%1），请检查网络或稍后再试"_s.arg(reply.failure);
    if (reply.errorStatus != 0)
        return u"通信失败，云端出错（HTTP %1），请稍后再试"_s.arg(reply.errorStatus);
    return u"通信失败，请检查账号或密码是否正确"_s;
}

bool CloudAccount::logout(const QString& databasePath) {
    LocalStore store;
    return store.open(databasePath) && store.writeCloudPassword(kLoggedOutPassword);
}

std::optional<QString> CloudAccount::missingRegistrationField(const CloudApi::Registration& r) {
    const std::pair<const QString*, QString> order[] = {
        {&r.username, u"请先输入客户账号"_s},
        {&r.password, u"请先输入客户密码"_s},
        {&r.phone, u"请先输入手机号"_s},
        {&r.smsCode, u"请先输入验证码"_s},
        {&r.qq, u"请先输入QQ"_s},
        {&r.mail, u"请先输入邮箱"_s},
    };
    for (const auto& [field, message] : order) {
        if (field->isEmpty())
            return message;
    }
    return std::nullopt;
}

CloudAccount::Registration CloudAccount::registerAccount(const CloudApi::Service& service,
                                                         const CloudApi::Registration& fields,
                                                         const JobStop* stop) {
    Registration result{CloudApi::registerAccount(service, fields, stop)};
    result.outcome = CloudApi::registrationOutcome(result.reply);
    return result;
}

CloudAccount::Outcome CloudAccount::sendSmsCode(const CloudApi::Service& service,
                                                const QString& phone, const JobStop* stop) {
    Outcome outcome{CloudApi::sendSmsCode(service, phone, stop)};
    outcome.succeeded = CloudApi::succeeded(outcome.reply);
    return outcome;
}

CloudAccount::Outcome CloudAccount::changePassword(const CloudApi::Service& service,
                                                   const CloudApi::PasswordChange& change,
                                                   const QString& databasePath,
                                                   const JobStop* stop) {
    Outcome outcome{CloudApi::changePassword(service, change, stop)};
    outcome.succeeded = CloudApi::succeeded(outcome.reply);
    if (outcome.succeeded)
        storeAccount(databasePath, {change.username, change.newPassword});
    return outcome;
}

QString CloudAccount::replyForLog(const CloudApi::Reply& reply) {
    if (!reply.failure.isEmpty())
        return reply.text + u"（云端未应答：%1）"_s.arg(reply.failure);
    if (reply.errorStatus != 0)
        return reply.text + u"（云端返回 HTTP %1）"_s.arg(reply.errorStatus);
    return reply.text;
}
