#include "cloud_service/cloud_service.h"

#include "cloud_service/form_body.h"
#include "cloud_service/http_server.h"
#include "cloud_service/service_log.h"

#include <malloc.h>
#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <vector>

namespace {

constexpr const char* kScriptPath = "/admin/user_reg.php";
constexpr const char* kHealthPath = "/health";
constexpr const char* kAnnouncementsFile = "announcements.txt";
constexpr std::size_t kMaxBodyBytes = std::size_t(1) << 20;

constexpr std::int64_t kSmsCodeLifetime = std::int64_t{10} * 60;
constexpr std::int64_t kSmsCodeGap = 60;

constexpr std::size_t kMaxNameBytes = 128;

constexpr int kKeptFreeBytes = 8 << 20;

// Memory for the downloads kept for repeated requests: a list of a thousand servers is
// about 250 KB.
constexpr std::size_t kKeptDownloadBytes = std::size_t(64) << 20;

const std::string kTrue = "True";
const std::string kFalse = "False";
const std::string kWrongCode = "vcodeerror";
const std::string kNameTaken = "userisok";
const std::string kLineBreak = "\r\n";
const std::string kSeparator = "----";

using Reply = CloudService::Reply;

Reply ok(std::string body) {
    return {200, std::move(body)};
}

// A refusal the client judges by its "False"; the reason after it shows in the client's log.
Reply refused(const std::string& reason) {
    return {200, kFalse + ":" + reason};
}

// A request the service cannot take at all; logged.
Reply badRequest(const std::string& reason, const std::string& logText) {
    ServiceLog::line("bad request: " + logText);
    return {400, kFalse + ":" + reason};
}

// While registration is closed, the two actions that open an account.
Reply registrationClosed(const std::string& act, const std::string& peer) {
    ServiceLog::line("refused " + act + " from " + peer + ": registration is closed");
    return refused("本服务已关闭注册，请联系服务管理员");
}

Reply storeFailure(const std::string& what) {
    ServiceLog::line("store failure: " + what);
    return {500, kFalse + ":云端存储失败，请稍后再试"};
}

// The values of the named fields in order, or nothing (with `refusal` set) when one is
// missing.
std::optional<std::vector<std::string>> requireFields(const FormBody& form,
                                                      std::initializer_list<const char*> names,
                                                      const std::string& act, Reply& refusal) {
    std::vector<std::string> values;
    for (const char* name : names) {
        auto value = form.value(name);
        if (!value) {
            refusal =
                badRequest(std::string("缺少字段 ") + name, act + " without the field " + name);
            return std::nullopt;
        }
        values.push_back(std::move(*value));
    }
    return values;
}

// A value as it stands in a download line, and its form field's name.
struct LineField {
    const char* name;
    const std::string* value;
};

// Why `value` would not come back from a download as it was sent, or nothing. Downloads join
// a record's values with "----" into a line and the lines with CR LF; the client cuts a line
// at each "----" from the left and drops an empty piece at its end. Values are kept as UTF-8,
// so only what arrived as exact GBK text goes back to the client's GBK unchanged.
std::optional<std::string> lineProblem(const std::string& value, bool endsLine, bool exactGbk) {
    if (!exactGbk)
        return "含有不是 GBK 编码的字节";
    if (value.find_first_of("\r\n") != std::string::npos)
        return "不能含有换行（下载时会断成两行）";
    if (value.find(kSeparator) != std::string::npos)
        return "不能含有“----”（下载时按它分隔字段）";
    if (!endsLine && !value.empty() && value.back() == '-')
        return "不能以“-”结尾（下载时会与后面的分隔符“----”连在一起）";
    if (endsLine && value.empty())
        return "不能为空（它在下载行的末尾，空值会被丢掉）";
    return std::nullopt;
}

// The values of one download line, in line order, are checked before anything is stored:
// a value the download would hand back changed is refused with the reason, never stored.
std::optional<Reply> lineRefusal(const FormBody& form, const std::vector<LineField>& line) {
    for (std::size_t i = 0; i < line.size(); ++i) {
        const LineField& field = line[i];
        if (auto problem =
                lineProblem(*field.value, i + 1 == line.size(), form.isExactGbk(field.name)))
            return refused(std::string("字段 ") + field.name + " " + *problem);
    }
    return std::nullopt;
}

// A phone number as the SMS code is handed on with: digits, an optional leading "+".
bool isPhoneNumber(const std::string& phone) {
    const std::size_t start = !phone.empty() && phone.front() == '+' ? 1 : 0;
    if (phone.size() - start < 5 || phone.size() - start > 20)
        return false;
    for (std::size_t i = start; i < phone.size(); ++i)
        if (phone[i] < '0' || phone[i] > '9')
            return false;
    return true;
}

bool isAccountName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameBytes)
        return false;
    for (const char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    return true;
}

std::string newSmsCode() {
    char code[8];
    std::snprintf(code, sizeof code, "%06u", unsigned(randombytes_uniform(1000000)));
    return code;
}

std::int64_t now() {
    return std::int64_t(std::time(nullptr));
}

// The fields of a server's line before its panel fields.
constexpr std::size_t kFieldsBeforePanel = 11;

// A server's line holds the four panel fields when any of them is set.
bool anySet(std::initializer_list<std::string_view> panelFields) {
    return std::any_of(panelFields.begin(), panelFields.end(),
                       [](std::string_view value) { return !value.empty(); });
}

// The fields of a server's download line in their order: the eleven fields, and the four panel
// fields when any of them is set, so a server without a panel never comes back as a line that
// asks for panel fields it lacks.
std::vector<LineField> serverLineFields(const CloudServer& s) {
    std::vector<LineField> line{{"server_class", &s.group},
                                {"server_name", &s.name},
                                {"server_ip", &s.address},
                                {"server_user", &s.user},
                                {"server_pass", &s.password},
                                {"server_port", &s.port},
                                {"system", &s.system},
                                {"remark", &s.remark},
                                {"start_time", &s.startTime},
                                {"end_time", &s.endTime},
                                {"sort", &s.sort}};
    if (anySet({s.panelUrl, s.panelUser, s.panelPassword, s.panelKey})) {
        line.insert(line.end(), {{"baota_url", &s.panelUrl},
                                 {"baota_user", &s.panelUser},
                                 {"baota_pass", &s.panelPassword},
                                 {"baota_apikey", &s.panelKey}});
    }
    return line;
}

// The fields of a group's download line in their order.
std::vector<LineField> groupLineFields(const CloudGroup& group) {
    return {{"server_class", &group.name}, {"sort", &group.sort}};
}

// Adds one line to a download's reply: its values joined with "----", after a CR LF when the
// reply has lines already (every line holds at least one separator, so none is empty).
void appendLine(std::string& text, std::span<const std::string_view> values) {
    if (!text.empty())
        text += kLineBreak;
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i > 0)
            text += kSeparator;
        text += values[i];
    }
}

std::string groupDownload(const std::vector<CloudGroup>& groups) {
    std::string text;
    std::vector<std::string_view> values;
    for (const CloudGroup& group : groups) {
        values.clear();
        for (const LineField& field : groupLineFields(group))
            values.push_back(*field.value);
        appendLine(text, values);
    }
    return text;
}

// One server's line at the end of a download's reply, the same fields serverLineFields() checks
// at upload.
void appendServerLine(std::string& text, CloudServerLine values) {
    const auto panel = values.subspan(kFieldsBeforePanel);
    const bool withPanel = anySet({panel[0], panel[1], panel[2], panel[3]});
    appendLine(text, withPanel ? values : values.first(kFieldsBeforePanel));
}

// The announcements file as the client reads it: UTF-8 without a byte-order mark, lines
// separated by CR LF whatever the file used.
std::string announcementLines(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return {};
    std::ostringstream content;
    content << file.rdbuf();
    std::string text = content.str();
    if (text.rfind("\xEF\xBB\xBF", 0) == 0)
        text.erase(0, 3);
    std::string lines;
    std::istringstream reader(text);
    std::string line;
    bool first = true;
    while (std::getline(reader, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!first)
            lines += kLineBreak;
        lines += line;
        first = false;
    }
    return lines;
}

// A throttled attempt's refusal, which names how long to wait.
Reply throttled(const AttemptThrottle::Verdict& verdict, const std::string& what) {
    if (verdict.heldBy == AttemptThrottle::Holder::Unavailable)
        return storeFailure("the throttle's records");
    const std::string wait = "，请 " + std::to_string(verdict.waitSeconds()) + " 秒后再试";
    if (verdict.heldBy == AttemptThrottle::Holder::Account)
        return refused("该账号在此地址" + what + wait);
    return refused("此地址" + what + wait);
}

// The last entry of an X-Forwarded-For list, the address the proxy itself saw, when it is
// an IP address.
std::optional<std::string> forwardedClient(const std::string& list) {
    const std::size_t comma = list.rfind(',');
    std::string last = list.substr(comma == std::string::npos ? 0 : comma + 1);
    std::erase(last, ' ');
    std::erase(last, '\t');
    if (!isIpAddress(last))
        return std::nullopt;
    return last;
}

HttpServer::Limits withBodyLimit(HttpServer::Limits limits) {
    limits.bodyBytes = kMaxBodyBytes;
    return limits;
}

std::string queryAction(const std::string& target) {
    const std::size_t query = target.find('?');
    if (query == std::string::npos)
        return {};
    return FormBody::parse(std::string_view(target).substr(query + 1)).value("act").value_or("");
}

} // namespace

CloudService::CloudService(Settings settings)
    : settings_(std::move(settings)), courier_(settings_.smsProgram),
      downloads_(kKeptDownloadBytes), server_(withBodyLimit(settings_.connections)) {
    if (!settings_.trustedProxy.empty())
        server_.exemptAddress(settings_.trustedProxy);
    route();
}

bool CloudService::open(std::string& error) {
    if (!settings_.tlsCertificate.empty() &&
        !server_.useTls(settings_.tlsCertificate, settings_.tlsKey, error)) {
        return false;
    }
    if (!store_.open({settings_.dataFolder, settings_.database}, error))
        return false;
    throttleBook_ = store_.throttleBook();
    throttle_ = std::make_unique<AttemptThrottle>(*throttleBook_, settings_.throttle);
    return true;
}

std::string CloudService::storeDescription() const {
    return store_.description();
}

int CloudService::bind(const std::string& host, int port) {
    return server_.bind(host, port);
}

bool CloudService::serve() {
    // Replies are made on the worker threads and freed on the gate's. glibc hands the free top
    // of a thread's heap back to the system once 128 KiB of it are free, and the next requests
    // fault the same pages in again: with downloads of some kilobytes that was a tenth of the
    // service's time. Up to this much stays with each heap instead.
    mallopt(M_TRIM_THRESHOLD, kKeptFreeBytes);
    return server_.serve();
}

void CloudService::stop() {
    server_.stop();
}

std::string CloudService::clientAddress(const httplib::Request& request) const {
    if (settings_.trustedProxy.empty() || request.remote_addr != settings_.trustedProxy ||
        !request.has_header("X-Forwarded-For")) {
        return request.remote_addr;
    }
    return forwardedClient(request.get_header_value("X-Forwarded-For"))
        .value_or(request.remote_addr);
}

void CloudService::route() {
    const auto send = [](httplib::Response& response, Reply reply) {
        response.status = reply.status;
        // The body is moved in rather than copied: a download's is large.
        response.set_content("", 0, "text/plain; charset=utf-8");
        response.body = std::move(reply.body);
    };
    // For load balancers: 200 while the store answers, 503 when it does not.
    server_.Get(kHealthPath, [this](const httplib::Request&, httplib::Response& response) {
        const bool healthy = store_.reachable();
        response.status = healthy ? 200 : 503;
        response.set_content(healthy ? "ok" : "store unavailable", "text/plain; charset=utf-8");
    });
    server_.Get(
        kScriptPath, [this, send](const httplib::Request& request, httplib::Response& response) {
            send(response, handle(queryAction(request.target), FormBody(), clientAddress(request)));
        });
    // The body is read here rather than by the library, which refuses form bodies over 8 KiB
    // (a long remark in Chinese is more than that once escaped).
    server_.Post(kScriptPath, [this, send](const httplib::Request& request,
                                           httplib::Response& response,
                                           const httplib::ContentReader& readContent) {
        std::string body;
        const bool read = readContent([&body](const char* data, std::size_t length) {
            if (body.size() + length > kMaxBodyBytes)
                return false;
            body.append(data, length);
            return true;
        });
        if (!read) {
            response.status = 413; // answered and logged by the error handler
            return;
        }
        send(response,
             handle(queryAction(request.target), FormBody::parse(body), clientAddress(request)));
    });
    server_.set_error_handler(httplib::Server::HandlerWithResponse(
        [](const httplib::Request& request, httplib::Response& response) {
            if (!response.body.empty())
                return httplib::Server::HandlerResponse::Unhandled;
            std::string reason = "请求无法处理";
            if (response.status == 413)
                reason = "请求内容超过 1 MB";
            else if (response.status == 404)
                reason = "没有这个地址";
            ServiceLog::line("bad request: " + request.method + " " + request.path + " from " +
                             request.remote_addr + " answered " + std::to_string(response.status));
            response.set_content(kFalse + ":" + reason, "text/plain; charset=utf-8");
            return httplib::Server::HandlerResponse::Handled;
        }));
    server_.set_exception_handler([](const httplib::Request& request, httplib::Response& response,
                                     const std::exception_ptr&) {
        ServiceLog::line("request failed inside the service: " + request.path);
        response.status = 500;
        response.set_content(kFalse + ":云端内部错误", "text/plain; charset=utf-8");
    });
}

Reply CloudService::handle(const std::string& act, const FormBody& form, const std::string& peer) {
    if ((act == "reg" || act == "sendsms") && !settings_.registrationOpen)
        return registrationClosed(act, peer);
    if (act == "info")
        return info(form, peer);
    if (act == "reg")
        return registerAccount(form);
    if (act == "sendsms")
        return sendSms(form, peer);
    if (act == "editpass")
        return changePassword(form, peer);
    if (act == "update_class")
        return putGroup(form, peer);
    if (act == "update")
        return putServer(form, peer);
    if (act == "down_class")
        return groupLines(form, peer);
    if (act == "down")
        return serverLines(form, peer);
    if (act == "del_data")
        return clearData(form, peer);
    if (act == "get_ip")
        return ok(peer);
    if (act == "asfsgds")
        return announcements();
    return badRequest("未知的操作 " + act, "unknown action \"" + act + "\" from " + peer);
}

std::optional<CloudService::Account>
CloudService::authenticate(const FormBody& form, const std::string& peer, Reply& refusal) {
    const auto fields =
        requireFields(form, {"username", "password"}, "an account request", refusal);
    if (!fields)
        return std::nullopt;
    const std::string& username = (*fields)[0];
    const std::string& password = (*fields)[1];
    // Most requests carry a password checked before. When the throttle would admit the log in
    // and its success would change none of the records, a remembered password (no hash to
    // pay) is checked on a read of the book alone; anything else is admitted and finished.
    std::optional<CloudAccountRow> row;
    const bool unrecorded = throttle_->admitsUnrecordedSuccess(username, peer);
    if (unrecorded) {
        row = store_.findAccount(username);
        if (row && hasher_.matchesRemembered(row->id, row->passwordHash, password))
            return Account{*row, username};
    }
    const AttemptThrottle::Verdict verdict = throttle_->admitLogin(username, peer);
    if (!verdict.admitted()) {
        refusal = throttled(verdict, "登录失败次数过多");
        return std::nullopt;
    }
    if (!unrecorded)
        row = store_.findAccount(username);
    const bool matches = row ? hasher_.verify(row->id, row->passwordHash, password)
                             : (hasher_.verifyNobody(password), false);
    throttle_->finishLogin(username, peer, matches);
    if (!matches) {
        ServiceLog::line("failed log in from " + peer + " for " + ServiceLog::quoted(username));
        refusal = refused("账号或密码错误");
        return std::nullopt;
    }
    return Account{*row, username};
}

Reply CloudService::info(const FormBody& form, const std::string& peer) {
    Reply refusal;
    if (!authenticate(form, peer, refusal))
        return refusal;
    return ok(kTrue);
}

Reply CloudService::registerAccount(const FormBody& form) {
    Reply refusal;
    const auto fields = requireFields(
        form, {"username", "password", "phone", "vcode", "qq", "mail"}, "reg", refusal);
    if (!fields)
        return refusal;
    NewAccount account{(*fields)[0], {}, (*fields)[2], (*fields)[4], (*fields)[5]};
    const std::string& password = (*fields)[1];
    const std::string& code = (*fields)[3];
    if (!isAccountName(account.username) || password.empty())
        return refused("账号或密码不合要求");
    if (!isPhoneNumber(account.phone) ||
        !store_.smsCodeMatches(account.phone, code, now(), kSmsCodeLifetime)) {
        return ok(kWrongCode);
    }
    if (store_.findAccount(account.username))
        return ok(kNameTaken);
    const auto hash = hasher_.hash(password);
    if (!hash)
        return storeFailure("password hash for a new account");
    account.passwordHash = *hash;
    switch (store_.registerAccount(account, code, now(), kSmsCodeLifetime)) {
    case CloudStore::Registration::Registered:
        ServiceLog::line("registered \"" + account.username + "\" for phone " + account.phone);
        return ok(kTrue);
    case CloudStore::Registration::NameTaken:
        return ok(kNameTaken);
    case CloudStore::Registration::CodeGone:
        return ok(kWrongCode);
    case CloudStore::Registration::Failed:
        break;
    }
    return storeFailure("registration of \"" + account.username + "\"");
}

Reply CloudService::sendSms(const FormBody& form, const std::string& peer) {
    Reply refusal;
    const auto fields = requireFields(form, {"phone"}, "sendsms", refusal);
    if (!fields)
        return refusal;
    const std::string& phone = (*fields)[0];
    if (!isPhoneNumber(phone))
        return refused("手机号格式不对");
    const AttemptThrottle::Verdict verdict = throttle_->admitSmsCode(peer);
    if (!verdict.admitted())
        return throttled(verdict, "发送验证码过多");
    Reply reply = issueSmsCode(phone);
    throttle_->finishSmsCode(peer, reply.body == kTrue);
    return reply;
}

Reply CloudService::issueSmsCode(const std::string& phone) {
    const std::string code = newSmsCode();
    switch (store_.issueSmsCode(phone, code, now(), kSmsCodeGap)) {
    case CloudStore::SmsIssue::TooSoon:
        return refused("每个手机号60秒内只能发送一次验证码");
    case CloudStore::SmsIssue::Failed:
        return storeFailure("sms code for " + phone);
    case CloudStore::SmsIssue::Issued:
        break;
    }
    if (!courier_.deliver(phone, code)) {
        store_.dropSmsCode(phone);
        return {500, kFalse + ":验证码未能发出，请联系服务管理员"};
    }
    return ok(kTrue);
}

Reply CloudService::changePassword(const FormBody& form, const std::string& peer) {
    Reply refusal;
    const auto fields = requireFields(form, {"newpass", "okpass"}, "editpass", refusal);
    if (!fields)
        return refusal;
    const std::string& newPassword = (*fields)[0];
    if (newPassword != (*fields)[1])
        return refused("两次输入的新密码不一致");
    if (newPassword.empty())
        return refused("新密码不能为空");
    const auto account = authenticate(form, peer, refusal);
    if (!account)
        return refusal;
    const auto hash = hasher_.hash(newPassword);
    if (!hash)
        return storeFailure("password hash for \"" + account->username + "\"");
    if (!store_.replacePasswordHash(account->row.id, account->row.passwordHash, *hash))
        return refused("密码已被同时修改，请重新登录后再试");
    ServiceLog::line("password changed for \"" + account->username + "\"");
    return ok(kTrue);
}

Reply CloudService::putGroup(const FormBody& form, const std::string& peer) {
    Reply refusal;
    const auto account = authenticate(form, peer, refusal);
    if (!account)
        return refusal;
    const auto fields = requireFields(form, {"server_class", "sort"}, "update_class", refusal);
    if (!fields)
        return refusal;
    const CloudGroup group{(*fields)[0], (*fields)[1]};
    if (auto lineRefused = lineRefusal(form, groupLineFields(group)))
        return *lineRefused;
    if (!store_.putGroup(account->row.id, group))
        return storeFailure("group of \"" + account->username + "\"");
    return ok(kTrue);
}

Reply CloudService::putServer(const FormBody& form, const std::string& peer) {
    Reply refusal;
    const auto account = authenticate(form, peer, refusal);
    if (!account)
        return refusal;
    const auto fields =
        requireFields(form,
                      {"server_class", "server_name", "server_ip", "start_time", "end_time",
                       "remark", "system", "sort", "server_port", "server_user", "server_pass"},
                      "update", refusal);
    if (!fields)
        return refusal;
    const auto& f = *fields;
    CloudServer s;
    s.group = f[0];
    s.name = f[1];
    s.address = f[2];
    s.startTime = f[3];
    s.endTime = f[4];
    s.remark = f[5];
    s.system = f[6];
    s.sort = f[7];
    s.port = f[8];
    s.user = f[9];
    s.password = f[10];
    // Clients before the panel fields send none of them.
    s.panelUrl = form.value("baota_url").value_or("");
    s.panelUser = form.value("baota_user").value_or("");
    s.panelPassword = form.value("baota_pass").value_or("");
    s.panelKey = form.value("baota_apikey").value_or("");
    if (auto lineRefused = lineRefusal(form, serverLineFields(s)))
        return *lineRefused;
    if (!store_.putServer(account->row.id, s))
        return storeFailure("server of \"" + account->username + "\"");
    return ok(kTrue);
}

Reply CloudService::groupLines(const FormBody& form, const std::string& peer) {
    return download(form, peer, DownloadCache::Kind::Groups, "groups",
                    [this](std::int64_t accountId) -> std::optional<std::string> {
                        const auto groups = store_.groups(accountId);
                        if (!groups)
                            return std::nullopt;
                        return groupDownload(*groups);
                    });
}

Reply CloudService::serverLines(const FormBody& form, const std::string& peer) {
    return download(form, peer, DownloadCache::Kind::Servers, "servers",
                    [this](std::int64_t accountId) -> std::optional<std::string> {
                        // Each row is appended as it is read: no record of its own, one copy
                        // of each value.
                        std::string text;
                        if (!store_.forEachServer(accountId, [&text](CloudServerLine values) {
                                appendServerLine(text, values);
                            }))
                            return std::nullopt;
                        return text;
                    });
}

Reply CloudService::download(const FormBody& form, const std::string& peer,
                             DownloadCache::Kind kind, const std::string& what,
                             const std::function<std::optional<std::string>(std::int64_t)>& make) {
    Reply refusal;
    const auto account = authenticate(form, peer, refusal);
    if (!account)
        return refusal;
    const CloudAccountRow& row = account->row;
    if (auto kept = downloads_.find(kind, row.id, row.dataMark))
        return ok(std::move(*kept));
    std::optional<std::string> text = make(row.id);
    if (!text)
        return storeFailure(what + " of \"" + account->username + "\"");
    downloads_.keep(kind, row.id, row.dataMark, *text);
    return ok(std::move(*text));
}

Reply CloudService::clearData(const FormBody& form, const std::string& peer) {
    Reply refusal;
    const auto account = authenticate(form, peer, refusal);
    if (!account)
        return refusal;
    if (!store_.clearData(account->row.id))
        return storeFailure("clearing \"" + account->username + "\"");
    ServiceLog::line("cleared the data of \"" + account->username + "\"");
    return ok(kTrue);
}

Reply CloudService::announcements() const {
    return ok(announcementLines(settings_.dataFolder + "/" + kAnnouncementsFile));
}
