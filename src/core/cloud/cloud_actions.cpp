#include "core/cloud/cloud_actions.h"

#include "core/store/line_formats.h"

using namespace Qt::StringLiterals;

namespace CloudApi {

Reply checkAccount(const Service& service, const Account& account, const JobStop* stop) {
    return request(service, u"info"_s, HttpMethod::Post, accountBody(account), stop);
}

Reply registerAccount(const Service& service, const Registration& registration,
                      const JobStop* stop) {
    return request(service, u"reg"_s, HttpMethod::Post,
                   {{u"username"_s, registration.username},
                    {u"password"_s, registration.password},
                    {u"phone"_s, registration.phone},
                    {u"vcode"_s, registration.smsCode},
                    {u"qq"_s, registration.qq},
                    {u"mail"_s, registration.mail}},
                   stop);
}

Reply sendSmsCode(const Service& service, const QString& phone, const JobStop* stop) {
    return request(service, u"sendsms"_s, HttpMethod::Post, {{u"phone"_s, phone}}, stop);
}

Reply changePassword(const Service& service, const PasswordChange& change, const JobStop* stop) {
    return request(service, u"editpass"_s, HttpMethod::Post,
                   {{u"username"_s, change.username},
                    {u"password"_s, change.currentPassword},
                    {u"newpass"_s, change.newPassword},
                    {u"okpass"_s, change.repeatedPassword}},
                   stop);
}

Reply uploadGroup(const Service& service, const Account& account, const GroupRecord& group,
                  const JobStop* stop) {
    return request(service, u"update_class"_s, HttpMethod::Post,
                   accountBody(account, {{u"server_class"_s, group.name}, {u"sort"_s, group.sort}}),
                   stop);
}

FormFields serverFields(const ServerRecord& server) {
    return {{u"server_class"_s, server.group},   {u"server_name"_s, server.name},
            {u"server_ip"_s, server.ip},         {u"start_time"_s, server.startTime},
            {u"end_time"_s, server.endTime},     {u"remark"_s, server.remark},
            {u"system"_s, server.system},        {u"sort"_s, server.sort},
            {u"server_port"_s, server.port},     {u"server_user"_s, server.user},
            {u"server_pass"_s, server.password}, {u"baota_url"_s, server.panelUrl},
            {u"baota_user"_s, server.panelUser}, {u"baota_pass"_s, server.panelPassword},
            {u"baota_apikey"_s, server.panelKey}};
}

Reply uploadServer(const Service& service, const Account& account, const ServerRecord& server,
                   const JobStop* stop) {
    return request(service, u"update"_s, HttpMethod::Post,
                   accountBody(account, serverFields(server)), stop);
}

Reply downloadGroups(const Service& service, const Account& account, const JobStop* stop) {
    return request(service, u"down_class"_s, HttpMethod::Post, accountBody(account), stop);
}

Reply downloadServers(const Service& service, const Account& account, const JobStop* stop) {
    return request(service, u"down"_s, HttpMethod::Post, accountBody(account), stop);
}

Reply clearCloudCopy(const Service& service, const Account& account, const JobStop* stop) {
    return request(service, u"del_data"_s, HttpMethod::Post, accountBody(account), stop);
}

Reply publicAddress(const Service& service) {
    return request(service, u"get_ip"_s, HttpMethod::Get);
}

Reply announcements(const Service& service, const JobStop* stop) {
    return request(service, u"asfsgds"_s, HttpMethod::Get, {}, stop);
}

RegistrationOutcome registrationOutcome(const Reply& reply) {
    if (succeeded(reply))
        return RegistrationOutcome::Registered;
    if (!reply.answered())
        return RegistrationOutcome::Failed;
    if (reply.text.contains(u"vcodeerror"_s))
        return RegistrationOutcome::WrongSmsCode;
    if (reply.text.contains(u"userisok"_s))
        return RegistrationOutcome::NameTaken;
    return RegistrationOutcome::Failed;
}

bool succeededUnlessFalse(const Reply& reply) {
    return reply.answered() && !reply.text.contains(u"False"_s);
}

bool blockAccepted(const Reply& reply) {
    if (!reply.answered())
        return false;
    const QString firstLine = splitFields(trimLineBreaks(reply.text), u"\r\n"_s).value(0);
    return firstLine.contains(ServerLine::kSeparator) || !firstLine.startsWith(u"False"_s);
}

} // namespace CloudApi
