#pragma once

#include "cloud_service/attempt_throttle.h"
#include "cloud_service/connection_gate.h"

#include <optional>
#include <string>

// The command line of torvane-cloud.
struct ServiceOptions {
    std::string host = "127.0.0.1";
    int port = 8080;
    std::string dataFolder = ".";
    std::string smsProgram;
    ConnectionGate::Limits connections;
    AttemptThrottle::Limits throttle;
    std::string trustedProxy;
    bool help = false;
};

// The options, or nothing with `error` set when the command line is wrong.
std::optional<ServiceOptions> parseServiceOptions(int argc, char* argv[], std::string& error);

// What --help prints.
std::string serviceUsage();
