#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

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
