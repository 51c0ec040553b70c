#include "cloud_service/service_options.h"

#include "cloud_service/postgres_db.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <vector>

namespace {

using Command = ServiceOptions::Command;

struct CommandName {
    const char* name;
    Command command;
    bool takesArgument;
};

constexpr CommandName kCommands[] = {
    {"users", Command::Users, false},
    {"reset-password", Command::ResetPassword, true},
    {"delete-user", Command::DeleteUser, true},
    {"backup", Command::Backup, true},
};

// "ADDRESS:PORT", with an IPv6 address in brackets ("[::1]:8080"); port 0 takes a free one.
bool parseListen(const std::string& text, ServiceOptions& options) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0)
        return false;
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string_view portText = std::string_view(text).substr(colon + 1);
    int port = -1;
    const auto [end, error] =
        std::from_chars(portText.data(), portText.data() + portText.size(), port);
    if (error != std::errc() || end != portText.data() + portText.size() || port < 0 ||
        port > 65535 || host.empty()) {
        return false;
    }
    options.host = host;
    options.port = port;
    return true;
}

constexpr int kMostOfACount = 1000000;

// Sets an option that takes a whole number; false when `option` is not one of them.
bool setCount(const std::string& option, int value, ServiceOptions& options) {
    if (option == "--request-time") {
        options.connections.requestTime = std::chrono::seconds(value);
        options.connections.idleTime =
            std::min(options.connections.idleTime, options.connections.requestTime);
    } else if (option == "--connections-per-address") {
        options.connections.connectionsPerAddress = std::size_t(value);
    } else if (option == "--max-connections") {
        options.connections.connections = std::size_t(value);
    } else if (option == "--login-failures-per-address") {
        options.throttle.loginsPerAddress.allowance = value;
    } else if (option == "--login-failures-per-account") {
        options.throttle.loginsPerAccount.allowance = value;
    } else if (option == "--login-wait") {
        for (ThrottleRule* rule :
             {&options.throttle.loginsPerAddress, &options.throttle.loginsPerAccount}) {
            rule->firstWaitMs = std::int64_t{value} * 1000;
            rule->longestWaitMs = std::max(rule->longestWaitMs, rule->firstWaitMs);
        }
    } else if (option == "--sms-codes-per-address") {
        options.throttle.smsCodesPerAddress.allowance = value;
    } else {
        return false;
    }
    return true;
}

bool isCountOption(const std::string& option) {
    ServiceOptions scratch;
    return setCount(option, 1, scratch);
}

bool parseCount(const std::string& text, int& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && value >= 1 &&
           value <= kMostOfACount;
}

bool isServingOption(const std::string& option) {
    return option == "--listen" || option == "--sms-program" || option == "--tls-cert" ||
           option == "--tls-key" || option == "--registration" || option == "--trusted-proxy" ||
           isCountOption(option);
}

bool takeDatabase(const std::string& address, ServiceOptions& options, std::string& error) {
    if (!isPostgresAddress(address)) {
        // Not echoed: it may be a connection string with a password in it.
        error = "--database wants a postgresql:// address";
        return false;
    }
    if (const auto problem = postgresAddressProblem(address, options.databaseHoldsPassword)) {
        error = "--database: " + *problem;
        return false;
    }
    options.database = address;
    return true;
}

// Sets one option that takes a value; false with `error` set when the value is wrong.
bool takeValue(const std::string& option, const std::string& value, ServiceOptions& options,
               std::string& error) {
    if (option == "--listen" && !parseListen(value, options)) {
        error = "--listen wants ADDRESS:PORT, not " + value;
        return false;
    }
    if (option == "--registration") {
        if (value != "open" && value != "closed") {
            error = "--registration wants open or closed, not " + value;
            return false;
        }
        options.registrationOpen = value == "open";
    }
    if (option == "--trusted-proxy" && !isIpAddress(value)) {
        error = "--trusted-proxy wants an IP address, not " + value;
        return false;
    }
    if (option == "--trusted-proxy")
        options.trustedProxy = value;
    if (isCountOption(option)) {
        int count = 0;
        if (!parseCount(value, count)) {
            error = option + " wants a whole number from 1 to " + std::to_string(kMostOfACount) +
                    ", not " + value;
            return false;
        }
        setCount(option, count, options);
    }
    if (option == "--database")
        return takeDatabase(value, options, error);
    if (option == "--data")
        options.dataFolder = value;
    if (option == "--sms-program")
        options.smsProgram = value;
    if (option == "--tls-cert")
        options.tlsCertificate = value;
    if (option == "--tls-key")
        options.tlsKey = value;
    return true;
}

// The command named by the words that are not options, with its argument.
bool takeCommand(const std::vector<std::string>& words, ServiceOptions& options,
                 std::string& error) {
    if (words.empty())
        return true;
    for (const CommandName& command : kCommands) {
        if (words.front() != command.name)
            continue;
        const std::size_t expected = command.takesArgument ? 2 : 1;
        if (words.size() != expected) {
            error = words.front() +
                    (command.takesArgument ? " needs one argument" : " takes no argument");
            return false;
        }
        options.command = command.command;
        if (command.takesArgument)
            options.commandArgument = words[1];
        return true;
    }
    error = "unknown command " + words.front();
    return false;
}

} // namespace

std::string serviceUsage() {
    return "Usage: torvane-cloud [--listen ADDRESS:PORT] [--data FOLDER] [--database ADDRESS]\n"
           "                     [--sms-program PROGRAM] [--tls-cert FILE --tls-key FILE]\n"
           "                     [--registration open|closed] [limits]\n"
           "       torvane-cloud users [--data FOLDER | --database ADDRESS]\n"
           "       torvane-cloud reset-password NAME [--password-stdin]\n"
           "                     [--data FOLDER | --database ADDRESS]\n"
           "       torvane-cloud delete-user NAME [--data FOLDER | --database ADDRESS]\n"
           "       torvane-cloud backup FILE [--data FOLDER]\n"
           "\n"
           "Torvane's cloud service: keeps a copy of each user's server list under a user\n"
           "account. Point the client at it with TORVANE_CLOUD_URL=https://ADDRESS:PORT.\n"
           "\n"
           "  --listen ADDRESS:PORT  where to accept requests (default 127.0.0.1:8080;\n"
           "                         port 0 takes a free port and logs it)\n"
           "  --data FOLDER          where cloud.db and announcements.txt live (default: the\n"
           "                         current folder; created when missing)\n"
           "  --database postgresql://[USER@]HOST[:PORT]/DATABASE\n"
           "                         keep the accounts, their servers and the counts of\n"
           "                         failed log ins in this PostgreSQL database instead of\n"
           "                         cloud.db, so that several instances serve the same\n"
           "                         accounts; a password belongs in a password file\n"
           "                         (PGPASSFILE), not in the address\n"
           "  --tls-cert FILE        serve HTTPS with this PEM certificate (the server's\n"
           "                         certificate first, then its intermediates)\n"
           "  --tls-key FILE         ... and this PEM private key\n"
           "  --registration open|closed\n"
           "                         whether new accounts may register (default open)\n"
           "  --sms-program PROGRAM  run PROGRAM PHONE CODE (no shell) to send each SMS code;\n"
           "                         without it the code is written to the log as\n"
           "                         \"sms code for PHONE: CODE\"\n"
           "  --trusted-proxy ADDRESS\n"
           "                         the IP address of a reverse proxy in front of the\n"
           "                         service: its requests count as coming from the last\n"
           "                         address of their X-Forwarded-For, and its\n"
           "                         connections are not limited\n"
           "  --help                 show this text\n"
           "\n"
           "Limits (whole numbers):\n"
           "  --request-time SECONDS            a request, headers and body, must arrive\n"
           "                                    within this time from its first byte (10);\n"
           "                                    a connection that sends nothing is closed\n"
           "                                    after 5 s or this time if shorter\n"
           "  --connections-per-address N       connections one address holds at once (16)\n"
           "  --max-connections N               connections open at once (1024)\n"
           "  --login-failures-per-address N    failed log ins of one address before it\n"
           "                                    waits 2 s, doubling with each further one (10)\n"
           "  --login-failures-per-account N    failed log ins on one account before the\n"
           "                                    addresses that failed on it wait likewise (5)\n"
           "  --login-wait SECONDS              the first of those waits (2); the longest is\n"
           "                                    15 minutes, or this when it is longer\n"
           "  --sms-codes-per-address N         SMS codes for one address before it waits\n"
           "                                    60 s, doubling with each further one (5)\n"
           "\n"
           "Commands for the operator, on the data folder or the --database (also while the\n"
           "service runs):\n"
           "  users                  list the accounts: name, phone, servers, groups, created\n"
           "  reset-password NAME    give the account a new random password and print it;\n"
           "                         with --password-stdin the first line of standard input\n"
           "                         is the new password instead\n"
           "  delete-user NAME       delete the account with its groups and servers\n"
           "  backup FILE            write a consistent copy of cloud.db to FILE (a\n"
           "                         PostgreSQL database is backed up with pg_dump)\n"
           "\n"
           "The log goes to standard error. announcements.txt (UTF-8, one\n"
           "\"caption----address----colour\" line per link) is what the clients show in their\n"
           "link bar; it is read anew for every request. GET /health answers \"ok\" while the\n"
           "service can reach its data.\n";
}

std::optional<ServiceOptions> parseServiceOptions(int argc, char* argv[], std::string& error) {
    ServiceOptions options;
    std::vector<std::string> words;
    std::string servingOption;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument.empty() || argument.front() != '-') {
            words.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            continue;
        }
        if (argument == "--password-stdin") {
            options.passwordFromStdin = true;
            continue;
        }
        if (argument != "--data" && argument != "--database" && !isServingOption(argument)) {
            error = "unknown option " + argument;
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            error = argument + " needs a value";
            return std::nullopt;
        }
        if (!takeValue(argument, argv[++i], options, error))
            return std::nullopt;
        if (isServingOption(argument) && servingOption.empty())
            servingOption = argument;
    }
    if (!takeCommand(words, options, error))
        return std::nullopt;
    if (options.command != ServiceOptions::Command::Serve && !servingOption.empty()) {
        error = servingOption + " is for serving, not for " + words.front();
        return std::nullopt;
    }
    if (options.command == ServiceOptions::Command::Backup && !options.database.empty()) {
        error = "backup copies cloud.db; back up a PostgreSQL database with pg_dump";
        return std::nullopt;
    }
    if (options.passwordFromStdin && options.command != ServiceOptions::Command::ResetPassword) {
        error = "--password-stdin goes with reset-password only";
        return std::nullopt;
    }
    if (options.tlsCertificate.empty() != options.tlsKey.empty()) {
        error = "--tls-cert and --tls-key go together";
        return std::nullopt;
    }
    if (options.dataFolder.empty()) {
        error = "--data needs a folder";
        return std::nullopt;
    }
    return options;
}
