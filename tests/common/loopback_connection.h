#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <string>

// A TCP connection to 127.0.0.1:`port` from a loopback address of the caller's choosing (any
// of 127.0.0.0/8), so that one test or bench can be many clients to a service's per-address
// limits; -1 when it cannot be made. A non-blocking one may still be connecting on return.
inline int connectFromLoopback(const char* from, std::uint16_t port, bool nonBlocking = false) {
    const int socket =
        ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    sockaddr_in service{};
    service.sin_family = AF_INET;
    service.sin_port = htons(port);
    const bool ready = socket >= 0 && inet_pton(AF_INET, from, &local.sin_addr) == 1 &&
                       inet_pton(AF_INET, "127.0.0.1", &service.sin_addr) == 1 &&
                       ::bind(socket, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    const bool connected = ready && (::connect(socket, reinterpret_cast<const sockaddr*>(&service),
                                               sizeof service) == 0 ||
                                     (nonBlocking && errno == EINPROGRESS));
    if (!connected && socket >= 0)
        ::close(socket);
    return connected ? socket : -1;
}

// What arrived on a connection until its peer closed it, or until the time given was up.
struct ReceivedUntilClosed {
    std::string bytes;
    bool closed = false;
};

inline ReceivedUntilClosed receiveUntilClosed(int socket, int timeoutMs) {
    ReceivedUntilClosed received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd readable{socket, POLLIN, 0};
    for (;;) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || ::poll(&readable, 1, int(left.count())) <= 0)
            return received;
        char buffer[4096];
        const ssize_t count = ::recv(socket, buffer, sizeof buffer, 0);
        if (count <= 0) {
            received.closed = true;
            return received;
        }
        received.bytes.append(buffer, std::size_t(count));
    }
}
