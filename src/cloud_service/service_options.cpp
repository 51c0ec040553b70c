#include "cloud_service/service_options.h"

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

bool isServingOption(const std::string& option) {
    return option == "--listen" || option == "--sms-program" || option == "--tls-cert" ||
           option == "--tls-key" || option == "--registration";
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
    return "Usage: torvane-cloud [--listen ADDRESS:PORT] [--data FOLDER] [--sms-program PROGRAM]\n"
           "                     [--tls-cert FILE --tls-key FILE] [--registration open|closed]\n"
           "       torvane-cloud users [--data FOLDER]\n"
           "       torvane-cloud reset-password NAME [--password-stdin] [--data FOLDER]\n"
           "       torvane-cloud delete-user NAME [--data FOLDER]\n"
           "       torvane-cloud backup FILE [--data FOLDER]\n"
           "\n"
           "Torvane's cloud service: keeps a copy of each user's server list under a user\n"
           "account. Point the client at it with TORVANE_CLOUD_URL=https://ADDRESS:PORT.\n"
           "\n"
           "  --listen ADDRESS:PORT  where to accept requests (default 127.0.0.1:8080;\n"
           "                         port 0 takes a free port and logs it)\n"
           "  --data FOLDER          where cloud.db and announcements.txt live (default: the\n"
           "                         current folder; created when missing)\n"
           "  --tls-cert FILE        serve HTTPS with this PEM certificate (the server's\n"
           "                         certificate first, then its intermediates)\n"
           "  --tls-key FILE         ... and this PEM private key\n"
           "  --registration open|closed\n"
           "                         whether new accounts may register (default open)\n"
           "  --sms-program PROGRAM  run PROGRAM PHONE CODE (no shell) to send each SMS code;\n"
           "                         without it the code is written to the log as\n"
           "                         \"sms code for PHONE: CODE\"\n"
           "  --help                 show this text\n"
           "\n"
           "Commands for the operator, on the data folder (also while the service runs):\n"
           "  users                  list the accounts: name, phone, servers, groups, created\n"
           "  reset-password NAME    give the account a new random password and print it;\n"
           "                         with --password-stdin the first line of standard input\n"
           "                         is the new password instead\n"
           "  delete-user NAME       delete the account with its groups and servers\n"
           "  backup FILE            write a consistent copy of cloud.db to FILE\n"
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
        if (argument != "--data" && !isServingOption(argument)) {
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
