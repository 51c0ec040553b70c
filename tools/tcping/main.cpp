// tcping: opens TCP connections to host:port and prints one line per attempt.
//
//   tcping [-n count] [--] host port
//
// An extra first word "tcping" is accepted and skipped, so "tcping tcping -n 1 host port"
// works too; "--" ends the options, so a host that starts with "-" is still a host. An answered
// attempt's line contains "Port is open"; an unanswered one says why. Exit status: 0 when at least
// one attempt was answered, 1 when none was, 2 for bad input.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kTimeoutMs = 2000;
constexpr auto kPauseBetweenAttempts = std::chrono::seconds(1);
constexpr long kMaxCount = 1000000;

struct Options {
    long count = 4;
    std::string host;
    std::string port;
};

struct Attempt {
    bool open = false;
    double ms = 0;
    std::string why;
};

// The few socket calls that differ between Winsock and POSIX.
#ifdef _WIN32
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;

int lastError() {
    return WSAGetLastError();
}

bool connectPending(int error) {
    return error == WSAEWOULDBLOCK;
}

bool isRefused(int error) {
    return error == WSAECONNREFUSED;
}

std::string errorText(int error) {
    char text[256] = {};
    const DWORD length =
        FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       static_cast<DWORD>(error), 0, text, sizeof text, nullptr);
    std::string message(text, length);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == '.' || message.back() == ' '))
        message.pop_back();
    return message.empty() ? "error " + std::to_string(error) : message;
}

Socket openNonBlocking(const addrinfo& address) {
    const Socket s = socket(address.ai_family, address.ai_socktype, address.ai_protocol);
    u_long on = 1;
    if (s != kNoSocket && ioctlsocket(s, FIONBIO, &on) != 0) {
        closesocket(s);
        return kNoSocket;
    }
    return s;
}

// Winsock reports a failed connect as an exception, not as writable.
bool waitSettled(Socket s, int timeoutMs) {
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(s, &writable);
    FD_SET(s, &failed);
    timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    return select(0, nullptr, &writable, &failed, &limit) > 0;
}

void closeSocket(Socket s) {
    closesocket(s);
}

void setUpOutput() {
    // The Windows C runtime has no line buffering: write each line at once.
    std::setvbuf(stdout, nullptr, _IONBF, 0);
}

bool startSockets() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}
#else
using Socket = int;
constexpr Socket kNoSocket = -1;

int lastError() {
    return errno;
}

bool connectPending(int error) {
    return error == EINPROGRESS;
}

bool isRefused(int error) {
    return error == ECONNREFUSED;
}

std::string errorText(int error) {
    return std::strerror(error);
}

Socket openNonBlocking(const addrinfo& address) {
    return socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                  address.ai_protocol);
}

bool waitSettled(Socket s, int timeoutMs) {
    pollfd p{s, POLLOUT, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

void closeSocket(Socket s) {
    close(s);
}

void setUpOutput() {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
}

bool startSockets() {
    return true;
}
#endif

[[noreturn]] void fail(const std::string& message) {
    std::fprintf(stderr, "tcping: %s\nusage: tcping [-n count] [--] host port\n", message.c_str());
    std::exit(2);
}

std::optional<long> wholeNumber(const std::string& text) {
    if (text.empty() || text.size() > 9 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    return std::strtol(text.c_str(), nullptr, 10);
}

Options parse(int argc, char* argv[]) {
    std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args.front() == "tcping")
        args.erase(args.begin());
    Options options;
    std::vector<std::string> positional;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (optionsEnded) {
            positional.push_back(a);
        } else if (a == "--") {
            optionsEnded = true;
        } else if (a == "-n") {
            if (i + 1 >= args.size())
                fail("-n needs a count");
            const auto count = wholeNumber(args[++i]);
            if (!count || *count < 1 || *count > kMaxCount)
                fail("count must be a number from 1 to " + std::to_string(kMaxCount));
            options.count = *count;
        } else if (a.size() > 1 && a[0] == '-') {
            fail("unknown option " + a);
        } else {
            positional.push_back(a);
        }
    }
    if (positional.empty() || positional[0].empty())
        fail("no host given");
    if (positional.size() < 2)
        fail("no port given");
    if (positional.size() > 2)
        fail("unexpected argument " + positional[2]);
    const auto port = wholeNumber(positional[1]);
    if (!port || *port < 1 || *port > 65535)
        fail("port must be a number from 1 to 65535");
    options.host = positional[0];
    options.port = std::to_string(*port);
    return options;
}

// Connects to one address with a time-out; the socket is closed again at once.
Attempt connectOnce(const addrinfo& address) {
    const auto start = std::chrono::steady_clock::now();
    auto elapsedMs = [&] {
        return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
            .count();
    };
    const Socket fd = openNonBlocking(address);
    if (fd == kNoSocket)
        return {false, 0, errorText(lastError())};
    int error = 0;
    if (connect(fd, address.ai_addr, static_cast<socklen_t>(address.ai_addrlen)) != 0) {
        error = lastError();
        if (connectPending(error)) {
            if (!waitSettled(fd, kTimeoutMs)) {
                closeSocket(fd);
                return {false, elapsedMs(), "timed out after " + std::to_string(kTimeoutMs) + "ms"};
            }
            socklen_t length = sizeof error;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
        }
    }
    Attempt result{error == 0, elapsedMs(), {}};
    if (!result.open)
        result.why = isRefused(error) ? "refused" : errorText(error);
    closeSocket(fd);
    return result;
}

// One attempt: the host's addresses in the resolver's order until one answers.
Attempt attempt(const Options& options) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(options.host.c_str(), options.port.c_str(), &hints, &found) != 0 || !found)
        return {false, 0, "name not resolved"};
    Attempt result;
    for (const addrinfo* a = found; a; a = a->ai_next) {
        result = connectOnce(*a);
        if (result.open)
            break;
    }
    freeaddrinfo(found);
    return result;
}

std::string target(const Options& o) {
    const bool ipv6 = o.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + o.host + "]" : o.host) + ":" + o.port;
}

} // namespace

int main(int argc, char* argv[]) {
    setUpOutput();
    const Options options = parse(argc, argv);
    if (!startSockets()) {
        std::fprintf(stderr, "tcping: the network cannot be used\n");
        return 1;
    }
    const std::string where = target(options);

    long answered = 0;
    double minMs = 0, maxMs = 0, sumMs = 0;
    for (long n = 0; n < options.count; ++n) {
        if (n > 0)
            std::this_thread::sleep_for(kPauseBetweenAttempts);
        const Attempt a = attempt(options);
        if (a.open) {
            std::printf("Probing %s/tcp - Port is open - time=%.3fms\n", where.c_str(), a.ms);
            minMs = answered == 0 ? a.ms : std::min(minMs, a.ms);
            maxMs = std::max(maxMs, a.ms);
            sumMs += a.ms;
            ++answered;
        } else {
            std::printf("Probing %s/tcp - No response - %s\n", where.c_str(), a.why.c_str());
        }
    }

    const long failed = options.count - answered;
    std::printf("\nPing statistics for %s\n     %ld probes sent.\n"
                "     %ld successful, %ld failed.  (%.2f%% fail)\n",
                where.c_str(), options.count, answered, failed,
                100.0 * double(failed) / double(options.count));
    if (answered > 0)
        std::printf("Approximate trip times in milli-seconds:\n"
                    "     Minimum = %.3fms, Maximum = %.3fms, Average = %.3fms\n",
                    minMs, maxMs, sumMs / double(answered));
    return answered > 0 ? 0 : 1;
}
