#pragma once

#include "core/cloud/cloud_api.h"
#include "core/store/records.h"

// The actions of the cloud service, one function each, and how their replies are judged.
// Every call blocks until the reply arrives; the callers log the outcome. A raised `stop`
// ends the request as a failure (its window closed, its jobs shut down).
namespace CloudApi {

// The registration window's fields; they, not the stored account, go into "reg".
struct Registration {
    QString username;
    QString password;
    QString phone;
    QString smsCode;
    QString qq;
    QString mail;
};

// The change-password window's fields; the current password is the one typed there.
struct PasswordChange {
    QString username;
    QString currentPassword;
    QString newPassword;
    QString repeatedPassword;
};

// "info": the account exists and the password matches when succeeded().
Reply checkAccount(const Service& service, const Account& account, const JobStop* stop = nullptr);
// "reg": judged by registrationOutcome().
Reply registerAccount(const Service& service, const Registration& registration,
                      const JobStop* stop = nullptr);
// "sendsms": the code was sent when succeeded().
Reply sendSmsCode(const Service& service, const QString& phone, const JobStop* stop = nullptr);
// "editpass": succeeded() when changed.
Reply changePassword(const Service& service, const PasswordChange& change,
                     const JobStop* stop = nullptr);
// "update_class": one group; succeeded() when stored, else the reply is shown in the log.
Reply uploadGroup(const Service& service, const Account& account, const GroupRecord& group,
                  const JobStop* stop = nullptr);
// The form fields of one server in "update", in the order the service has always read them.
FormFields serverFields(const ServerRecord& server);
// "update": one server, its password, panel password and API key already sealed by the
// caller; succeeded() when stored, else the reply (such as "server_ipisok") is logged.
Reply uploadServer(const Service& service, const Account& account, const ServerRecord& server,
                   const JobStop* stop = nullptr);
// "down_class" and "down": a block of group or server lines when blockAccepted().
Reply downloadGroups(const Service& service, const Account& account, const JobStop* stop = nullptr);
Reply downloadServers(const Service& service, const Account& account,
                      const JobStop* stop = nullptr);
// "del_data": the cloud copy was cleared when succeededUnlessFalse().
Reply clearCloudCopy(const Service& service, const Account& account, const JobStop* stop = nullptr);
// "get_ip": the caller's public address as the service sees it; not judged.
Reply publicAddress(const Service& service);
// "asfsgds": the announcements and links.
Reply announcements(const Service& service, const JobStop* stop = nullptr);

enum class RegistrationOutcome { Registered, WrongSmsCode, NameTaken, Failed };

// "True" registered; otherwise "vcodeerror" before "userisok" before any other failure.
RegistrationOutcome registrationOutcome(const Reply& reply);

// The judgement of the clearing: the service answered and did not say "False"; an empty
// answer counts as success, no answer never does.
bool succeededUnlessFalse(const Reply& reply);

// The judgement of a download: the service answered, and its first line is data. A first
// line that holds no "----" and starts with "False" is the service's refusal; a data line
// never is, whatever its values say (a group named "Falsehood"). An empty block is data.
bool blockAccepted(const Reply& reply);

} // namespace CloudApi
