#include "cloud_service/operator_commands.h"

#include "cloud_service/cloud_store.h"
#include "cloud_service/password_hasher.h"

#include <sodium.h>

#include <cstdio>
#include <iostream>
#include <string>

namespace {

constexpr std::size_t kGeneratedPasswordLength = 16;
// Letters and digits that cannot be mistaken for one another when read out or copied.
constexpr const char kPasswordAlphabet[] =
    "abcdefghjkmnpqrstuvwxyzABCDEFGHJKLMNPQRSTUVWXYZ23456789";

void complain(const std::string& message) {
    std::fprintf(stderr, "torvane-cloud: %s\n", message.c_str());
}

std::string generatedPassword() {
    constexpr auto alphabetSize = std::uint32_t(sizeof kPasswordAlphabet - 1);
    std::string password;
    for (std::size_t i = 0; i < kGeneratedPasswordLength; ++i)
        password += kPasswordAlphabet[randombytes_uniform(alphabetSize)];
    return password;
}

// The first line of standard input without its line break; nothing when it is empty.
std::optional<std::string> passwordFromStdin() {
    std::string line;
    std::getline(std::cin, line);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    if (line.empty())
        return std::nullopt;
    return line;
}

int reportChange(CloudStore::AccountChange change, const std::string& name,
                 const std::string& done) {
    switch (change) {
    case CloudStore::AccountChange::Done:
        complain(done);
        return 0;
    case CloudStore::AccountChange::NoSuchAccount:
        complain("there is no account \"" + name + "\"");
        return 1;
    case CloudStore::AccountChange::Failed:
        break;
    }
    complain("the store could not be changed (see the message above)");
    return 1;
}

int listUsers(CloudStore& store) {
    const auto accounts = store.accounts();
    if (!accounts) {
        complain("the accounts could not be read");
        return 1;
    }
    std::printf("name\tphone\tservers\tgroups\tregistered\n");
    for (const CloudAccountSummary& a : *accounts)
        std::printf("%s\t%s\t%lld\t%lld\t%s\n", a.username.c_str(), a.phone.c_str(),
                    static_cast<long long>(a.servers), static_cast<long long>(a.groups),
                    a.created.c_str());
    return 0;
}

int resetPassword(CloudStore& store, const std::string& name, bool fromStdin) {
    const std::optional<std::string> given =
        fromStdin ? passwordFromStdin() : std::optional(generatedPassword());
    if (!given) {
        complain("standard input held no password");
        return 1;
    }
    PasswordHasher hasher;
    const auto hash = hasher.hash(*given);
    if (!hash) {
        complain("the password could not be hashed");
        return 1;
    }
    const int status = reportChange(store.setPasswordHash(name, *hash), name,
                                    "new password set for \"" + name + "\"");
    if (status == 0 && !fromStdin)
        std::printf("%s\n", given->c_str());
    return status;
}

int backUp(CloudStore& store, const std::string& file) {
    std::string error;
    if (!store.backUpTo(file, error)) {
        complain("backup failed: " + error);
        return 1;
    }
    complain("backup written to " + file);
    return 0;
}

} // namespace

int runOperatorCommand(const ServiceOptions& options) {
    if (sodium_init() < 0) {
        complain("libsodium could not start");
        return 1;
    }
    // Never creates a store: a mistyped --data must not leave an empty cloud.db behind, owned
    // by whoever ran the command, nor a mistyped --database tables in some other database.
    CloudStore store;
    std::string error;
    if (!store.open({options.dataFolder, options.database}, error,
                    CloudStore::Opening::ExistingOnly)) {
        const char* option = options.database.empty() ? "--data" : "--database";
        complain(std::string("cannot open the service's data (is ") + option +
                 " right?): " + error);
        return 1;
    }
    const std::string& argument = options.commandArgument;
    switch (options.command) {
    case ServiceOptions::Command::Users:
        return listUsers(store);
    case ServiceOptions::Command::ResetPassword:
        return resetPassword(store, argument, options.passwordFromStdin);
    case ServiceOptions::Command::DeleteUser:
        return reportChange(store.deleteAccount(argument), argument,
                            "deleted \"" + argument + "\" with its groups and servers");
    case ServiceOptions::Command::Backup:
        return backUp(store, argument);
    case ServiceOptions::Command::Serve:
        break;
    }
    return 2;
}
