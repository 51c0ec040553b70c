#pragma once

#include "cloud_service/attempt_throttle.h"
#include "cloud_service/connection_gate.h"

#include <optional>
#include <string>

// The command line of torvane-cloud: serving (the default), or one of the operator's commands
// on the data folder.
struct ServiceOptions {
    enum class Command { Serve, Users, ResetPassword, DeleteUser, Backup };

    Command command = Command::Serve;
    // The account name of reset-password and delete-user, the file of backup.
    std::string commandArgument;
    // reset-password: the new password is the first line of standard input.
    bool passwordFromStdin = false;

    std::string host = "127.0.0.1";
    int port = 8080;
    std::string dataFolder = ".";
    // A "postgresql://" address of the database that holds the accounts; empty: cloud.db in
    // the data folder.
    std::string database;
    // The address carries a password (which the process list shows to everyone).
    bool databaseHoldsPassword = false;
    std::string smsProgram;
    ConnectionGate::Limits connections;
    AttemptThrottle::Limits throttle;
    std::string trustedProxy;
    // Both set: serve HTTPS with this certificate (chain) and key, both PEM files.
    std::string tlsCertificate;
    std::string tlsKey;
    bool registrationOpen = true;
    bool help = false;
};

// The options, or nothing with `error` set when the command line is wrong.
std::optional<ServiceOptions> parseServiceOptions(int argc, char* argv[], std::string& error);

// What --help prints.
std::string serviceUsage();
