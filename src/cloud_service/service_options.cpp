#include "cloud_service/service_options.h"

#include <algorithm>
#include <charconv>
#include <string_view>

namespace {

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

} // namespace

std::string serviceUsage() {
    return "Usage: torvane-cloud [--listen ADDRESS:PORT] [--data FOLDER] [--sms-program PROGRAM]\n"
           "                     [limits]\n"
           "\n"
           "Torvane's cloud service: keeps a copy of each user's server list under a user\n"
           "account. Point the client at it with TORVANE_CLOUD_URL=http://ADDRESS:PORT.\n"
           "\n"
           "  --listen ADDRESS:PORT  where to accept requests (default 127.0.0.1:8080;\n"
           "                         port 0 takes a free port and logs it)\n"
           "  --data FOLDER          where cloud.db and announcements.txt live (default: the\n"
           "                         current folder; created when missing)\n"
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
           "The log goes to standard error. announcements.txt (UTF-8, one\n"
           "\"caption----address----colour\" line per link) is what the clients show in their\n"
           "link bar; it is read anew for every request.\n";
}

std::optional<ServiceOptions> parseServiceOptions(int argc, char* argv[], std::string& error) {
    ServiceOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--help" || argument == "-h") {
            options.help = true;
            continue;
        }
        const bool takesValue = argument == "--listen" || argument == "--data" ||
                                argument == "--sms-program" || argument == "--trusted-proxy" ||
                                isCountOption(argument);
        if (!takesValue) {
            error = "unknown option " + argument;
            return std::nullopt;
        }
        if (i + 1 >= argc) {
            error = argument + " needs a value";
            return std::nullopt;
        }
        const std::string value = argv[++i];
        if (argument == "--listen" && !parseListen(value, options)) {
            error = "--listen wants ADDRESS:PORT, not " + value;
            return std::nullopt;
        }
        if (argument == "--data")
            options.dataFolder = value;
        if (argument == "--sms-program")
            options.smsProgram = value;
        if (argument == "--trusted-proxy" && !isIpAddress(value)) {
            error = "--trusted-proxy wants an IP address, not " + value;
            return std::nullopt;
        }
        if (argument == "--trusted-proxy")
            options.trustedProxy = value;
        if (isCountOption(argument)) {
            int count = 0;
            if (!parseCount(value, count)) {
                error = argument + " wants a whole number from 1 to ";
                error += std::to_string(kMostOfACount) + ", not " + value;
                return std::nullopt;
            }
            setCount(argument, count, options);
        }
    }
    if (options.dataFolder.empty()) {
        error = "--data needs a folder";
        return std::nullopt;
    }
    return options;
}
