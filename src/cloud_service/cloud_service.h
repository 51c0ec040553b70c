#pragma once

#include "cloud_service/cloud_store.h"
#include "cloud_service/password_hasher.h"
#include "cloud_service/sms_courier.h"

#include <httplib.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

class FormBody;

// torvane-cloud: keeps a copy of each user's server list under a user account and answers
// the client's "/admin/user_reg.php?act=..." requests. Form bodies come as GBK and are
// stored as UTF-8; replies are UTF-8 and carry exactly the words the client judges ("True",
// "False", "vcodeerror", "userisok", blocks of server and group lines). A request can only
// ever read or change the account whose name and password it carries.
class CloudService {
public:
    struct Settings {
        std::string dataFolder;
        // The program that gets each SMS code; empty: the code goes to the log.
        std::string smsProgram;
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

    // Opens the data folder's database and checks the TLS files; before bind().
    bool open(std::string& error);
    // Binds the listening socket; port 0 takes a free one. The bound port, or -1.
    int bind(const std::string& host, int port);
    // Serves until stop(); false when serving could not start.
    bool serve();
    void stop();

    // One request: the action, its form and the peer's address.
    Reply handle(const std::string& act, const FormBody& form, const std::string& peer);

private:
    struct Account {
        CloudAccountRow row;
        std::string username;
    };

    void route();
    Reply info(const FormBody& form);
    Reply registerAccount(const FormBody& form);
    Reply sendSms(const FormBody& form);
    Reply changePassword(const FormBody& form);
    Reply putGroup(const FormBody& form);
    Reply putServer(const FormBody& form);
    Reply groupLines(const FormBody& form);
    Reply serverLines(const FormBody& form);
    Reply clearData(const FormBody& form);
    Reply announcements() const;

    // The account named by the form's "username" whose "password" matches; otherwise
    // `refusal` holds the reply.
    std::optional<Account> authenticate(const FormBody& form, Reply& refusal);

    Settings settings_;
    CloudStore store_;
    PasswordHasher hasher_;
    SmsCourier courier_;
    // Why the TLS files could not be used; empty when they could (or HTTP is plain).
    std::string serverError_;
    std::unique_ptr<httplib::Server> ownedServer_;
    httplib::Server& server_;
};
