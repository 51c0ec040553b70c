#include "cloud_service/service_options.h"

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

} // namespace

std::string serviceUsage() {
    return "Usage: torvane-cloud [--listen ADDRESS:PORT] [--data FOLDER] [--sms-program PROGRAM]\n"
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
           "  --help                 show this text\n"
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
        const bool takesValue =
            argument == "--listen" || argument == "--data" || argument == "--sms-program";
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
    }
    if (options.dataFolder.empty()) {
        error = "--data needs a folder";
        return std::nullopt;
    }
    return options;
}
