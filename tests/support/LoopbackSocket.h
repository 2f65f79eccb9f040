// Plain socket steps of the tests' fake devices and raw clients on loopback.
// Header-only and free of the tool's code, so that the library's own tests,
// which link only the library, use the same definitions.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace loopback {

// A socket bound to address:port (address re-use on) and listening, or
// connected to it; -1 when that fails.
inline int openSocket(const std::string& address, uint16_t port, bool listening) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    const auto* sa = reinterpret_cast<const sockaddr*>(&a);
    const bool ok = ::inet_pton(AF_INET, address.c_str(), &a.sin_addr) == 1 &&
                    (listening ? ::bind(fd, sa, sizeof a) == 0 && ::listen(fd, 8) == 0
                               : ::connect(fd, sa, sizeof a) == 0);
    if (ok) return fd;
    ::close(fd);
    return -1;
}
inline int listenOn(const std::string& address, uint16_t port) {
    return openSocket(address, port, true);
}
inline int connectTo(const std::string& address, uint16_t port) {
    return openSocket(address, port, false);
}

// A listener that answers no further connection: its accept queue holds one
// connection (filler, made here) and is then full, so the kernel drops every
// later connection request unanswered, as for a device that is switched off.
// -1 when it cannot be set up.
inline int listenSilent(const std::string& address, uint16_t port, int& filler) {
    filler = -1;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 0) != 0) {
        ::close(fd);
        return -1;
    }
    filler = openSocket(address, port, false);
    if (filler >= 0) return fd;
    ::close(fd);
    return -1;
}

inline bool readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

// Sends every byte; false when the peer is gone.
inline bool sendAll(int fd, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Up to n bytes; fewer only when the time ran out or the peer closed.
inline std::vector<uint8_t> receive(int fd, size_t n, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    std::vector<uint8_t> out(n);
    size_t got = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got < n) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || !readable(fd, static_cast<int>(left))) break;
        const ssize_t r = ::recv(fd, out.data() + got, n - got, 0);
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    out.resize(got);
    return out;
}

// True when the peer ended the connection (a read gives end of stream or reset).
inline bool peerClosed(int fd, int timeoutMs) {
    uint8_t byte;
    return readable(fd, timeoutMs) && ::recv(fd, &byte, 1, 0) <= 0;
}

}  // namespace loopback
