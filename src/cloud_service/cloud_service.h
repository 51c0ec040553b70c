#pragma once

#include "cloud_service/attempt_throttle.h"
#include "cloud_service/cloud_store.h"
#include "cloud_service/download_cache.h"
#include "cloud_service/http_server.h"
#include "cloud_service/password_hasher.h"
#include "cloud_service/sms_courier.h"
#include "cloud_service/throttle_book.h"

#include <httplib.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class FormBody;

// torvane-cloud: keeps a copy of each user's server list under a user account and answers
// the client's "/admin/user_reg.php?act=..." requests. Form bodies come as GBK and are
// stored as UTF-8; replies are UTF-8 and carry exactly the words the client judges ("True",
// "False", "vcodeerror", "userisok", blocks of server and group lines). A request can only
// ever read or change the account whose name and password it carries. Password guesses and
// SMS code requests are throttled per account and per address before they cost anything.
class CloudService {
public:
    struct Settings {
        std::string dataFolder;
        // A "postgresql://" address: the accounts and the throttle's counts are kept in that
        // database, which other instances may share. Empty: cloud.db in the data folder.
        std::string database;
        // The program that gets each SMS code; empty: the code goes to the log.
        std::string smsProgram;
        HttpServer::Limits connections;
        AttemptThrottle::Limits throttle;
        // A reverse proxy in front of the service: its requests come from the client that the
        // last entry of their X-Forwarded-For names, and its connections are not limited.
        std::string trustedProxy;
        // Both set: HTTPS with this PEM certificate (chain) and key.
        std::string tlsCertificate;
        std::string tlsKey;
        // Closed: "sendsms" and "reg" are refused, existing accounts work on.
        bool registrationOpen = true;
    };

    // What one request gets: the HTTP status and the UTF-8 body.
    struct Reply {
        int status = 200;
        std::string body;
    };

    explicit CloudService(Settings settings);

    // Opens the database and checks the TLS files; before bind().
    bool open(std::string& error);
    // Which database holds the accounts, for log lines; after open().
    std::string storeDescription() const;
    // Binds the listening socket; port 0 takes a free one. The bound port, or -1.
    int bind(const std::string& host, int port);
    // Serves until stop(); false when serving could not start.
    bool serve();
    void stop();

    // One request: the action, its form and the client's address.
    Reply handle(const std::string& act, const FormBody& form, const std::string& peer);

private:
    struct Account {
        CloudAccountRow row;
        std::string username;
    };

    void route();
    // The address a request comes from: its peer's, or the one a trusted proxy names.
    std::string clientAddress(const httplib::Request& request) const;
    Reply info(const FormBody& form, const std::string& peer);
    Reply registerAccount(const FormBody& form);
    Reply sendSms(const FormBody& form, const std::string& peer);
    // Stores a new code for the phone and hands it on.
    Reply issueSmsCode(const std::string& phone);
    Reply changePassword(const FormBody& form, const std::string& peer);
    Reply putGroup(const FormBody& form, const std::string& peer);
    Reply putServer(const FormBody& form, const std::string& peer);
    Reply groupLines(const FormBody& form, const std::string& peer);
    Reply serverLines(const FormBody& form, const std::string& peer);
    // A download of the account the form names: the reply kept for its data's mark, or the
    // one `make` builds from the store (then kept); `what` names it when the store fails.
    Reply download(const FormBody& form, const std::string& peer, DownloadCache::Kind kind,
                   const std::string& what,
                   const std::function<std::optional<std::string>(std::int64_t)>& make);
    Reply clearData(const FormBody& form, const std::string& peer);
    Reply announcements() const;

    // The account named by the form's "username" whose "password" matches; otherwise
    // `refusal` holds the reply. A throttled attempt is refused before its password is
    // checked; a failed one is logged with the address it came from.
    std::optional<Account> authenticate(const FormBody& form, const std::string& peer,
                                        Reply& refusal);

    Settings settings_;
    CloudStore store_;
    PasswordHasher hasher_;
    SmsCourier courier_;
    DownloadCache downloads_;
    // Made by open(), where the store says where the counts are kept.
    std::unique_ptr<ThrottleBook> throttleBook_;
    std::unique_ptr<AttemptThrottle> throttle_;
    HttpServer server_;
};
