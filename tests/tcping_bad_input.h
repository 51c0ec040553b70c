#pragma once

#include <string>
#include <vector>

// Command lines our tcping must refuse (exit status 2, nothing on standard output) and a
// word its complaint on standard error must hold. The Linux and the Windows build are both
// tested with this one table.
struct TcpingBadInput {
    const char* name;
    std::vector<std::string> arguments;
    const char* message;
};

inline const std::vector<TcpingBadInput> kTcpingBadInputs = {
    {"nothing", {}, "no host"},
    {"empty host", {"", "80"}, "no host"},
    {"no port", {"127.0.0.1"}, "no port"},
    {"port not a number", {"127.0.0.1", "http"}, "port"},
    {"port 0", {"127.0.0.1", "0"}, "port"},
    {"port too big", {"127.0.0.1", "65536"}, "port"},
    {"unknown flag", {"-t", "127.0.0.1", "80"}, "unknown option -t"},
    {"count 0", {"-n", "0", "127.0.0.1", "80"}, "count"},
    {"count missing", {"127.0.0.1", "80", "-n"}, "-n needs"},
    {"extra argument", {"127.0.0.1", "80", "x"}, "unexpected"},
    // After "--" nothing is an option: here four words that cannot all be host and port.
    {"options after the end", {"--", "-n", "1", "127.0.0.1", "80"}, "unexpected"},
    {"port like an option after the end", {"--", "127.0.0.1", "-80"}, "port must be"},
};
