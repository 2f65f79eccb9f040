// Plain socket steps of the tests' fake devices and raw clients on loopback.
// Header-only and free of the tool's code, so that the library's own tests,
// which link only the library, use the same definitions. The library's tests
// also run as a Windows program (under Wine), so every difference between BSD
// sockets and Winsock that a test needs is kept here: the handle type, closing,
// waiting for input, and the error codes the library prints.
#pragma once

#if defined(_WIN32)
#ifndef NOMINMAX
#define NOMINMAX  // std::min and std::max, not the macros
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h must come first.
#include <windows.h>
// Empty leftovers of 16-bit Windows that would swallow these names in tests.
#undef near
#undef far
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace loopback {

#if defined(_WIN32)
using Socket = SOCKET;
constexpr Socket kNoSocket = INVALID_SOCKET;
constexpr int kSendFlags = 0;

// The library starts Winsock for itself, but a fake device may open its
// listener before any client exists: start it once for the whole program.
inline bool started() {
    static const bool ok = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ok;
}
inline void closeSocket(Socket s) {
    ::closesocket(s);
}
inline bool readable(Socket s, int timeoutMs) {
    WSAPOLLFD p{};
    p.fd = s;
    p.events = POLLRDNORM;
    return ::WSAPoll(&p, 1, timeoutMs) > 0;
}
// Wine turns a peer's reset into an orderly end of stream, so a test that
// needs to see the reset itself cannot run there.
inline bool underWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// Error codes as the library prints them.
namespace code {
constexpr int kRefused = WSAECONNREFUSED;    // 10061: nothing listens
constexpr int kInvalidArgument = WSAEINVAL;  // 10022
constexpr int kReset = WSAECONNRESET;        // 10054: the peer reset the link
constexpr int kReadTimedOut = WSAETIMEDOUT;  // 10060: SO_RCVTIMEO expired
constexpr int kTimedOut = WSAETIMEDOUT;      // a bounded connect gave up
}  // namespace code
#else
using Socket = int;
constexpr Socket kNoSocket = -1;
// A peer that has gone must give an error, not SIGPIPE.
constexpr int kSendFlags = MSG_NOSIGNAL;

inline bool started() {
    return true;
}
inline void closeSocket(Socket s) {
    ::close(s);
}
inline bool readable(Socket s, int timeoutMs) {
    pollfd p{s, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}
inline bool underWine() {
    return false;
}

namespace code {
constexpr int kRefused = ECONNREFUSED;
constexpr int kInvalidArgument = EINVAL;
constexpr int kReset = ECONNRESET;
// A receive time-out on a blocking socket reports would-block here.
constexpr int kReadTimedOut = EAGAIN;
constexpr int kTimedOut = ETIMEDOUT;  // a bounded connect gave up
}  // namespace code
#endif

// A socket bound to address:port (address re-use on) and listening, or
// connected to it; kNoSocket when that fails.
inline Socket openSocket(const std::string& address, uint16_t port, bool listening) {
    if (!started()) return kNoSocket;
    const Socket fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd == kNoSocket) return kNoSocket;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    const auto* sa = reinterpret_cast<const sockaddr*>(&a);
    const bool ok = ::inet_pton(AF_INET, address.c_str(), &a.sin_addr) == 1 &&
                    (listening ? ::bind(fd, sa, sizeof a) == 0 && ::listen(fd, 8) == 0
                               : ::connect(fd, sa, sizeof a) == 0);
    if (ok) return fd;
    closeSocket(fd);
    return kNoSocket;
}
inline Socket listenOn(const std::string& address, uint16_t port) {
    return openSocket(address, port, true);
}
inline Socket connectTo(const std::string& address, uint16_t port) {
    return openSocket(address, port, false);
}

// The next pending connection of a listener (TCP_NODELAY on), or kNoSocket.
inline Socket acceptOne(Socket listener) {
    const Socket s = ::accept(listener, nullptr, nullptr);
    if (s == kNoSocket) return kNoSocket;
    const int on = 1;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    return s;
}

// Close with SO_LINGER 0: the peer's next read fails with a reset.
inline void resetSocket(Socket s) {
    linger l{};
    l.l_onoff = 1;
    l.l_linger = 0;
    ::setsockopt(s, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&l), sizeof l);
    closeSocket(s);
}

// A listener that answers no further connection: its accept queue holds one
// connection (filler, made here) and is then full, so the kernel drops every
// later connection request unanswered, as for a device that is switched off.
// kNoSocket when it cannot be set up. (Linux behaviour; Windows refuses such
// connections at once instead.)
inline Socket listenSilent(const std::string& address, uint16_t port, Socket& filler) {
    filler = kNoSocket;
    if (!started()) return kNoSocket;
    const Socket fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd == kNoSocket) return kNoSocket;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, reinterpret_cast<const char*>(&on), sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    if (::inet_pton(AF_INET, address.c_str(), &a.sin_addr) != 1 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 0) != 0) {
        closeSocket(fd);
        return kNoSocket;
    }
    filler = openSocket(address, port, false);
    if (filler != kNoSocket) return fd;
    closeSocket(fd);
    return kNoSocket;
}

// Sends every byte; false when the peer is gone.
inline bool sendAll(Socket fd, const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const auto n = ::send(fd, reinterpret_cast<const char*>(bytes.data() + sent),
                              static_cast<int>(bytes.size() - sent), kSendFlags);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

// Up to n bytes; fewer only when the time ran out or the peer closed.
inline std::vector<uint8_t> receive(Socket fd, size_t n, int timeoutMs) {
    using Clock = std::chrono::steady_clock;
    std::vector<uint8_t> out(n);
    size_t got = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got < n) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0 || !readable(fd, static_cast<int>(left))) break;
        const auto r =
            ::recv(fd, reinterpret_cast<char*>(out.data() + got), static_cast<int>(n - got), 0);
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    out.resize(got);
    return out;
}

// True when the peer ended the connection (a read gives end of stream or reset).
inline bool peerClosed(Socket fd, int timeoutMs) {
    char byte;
    return readable(fd, timeoutMs) && ::recv(fd, &byte, 1, 0) <= 0;
}

}  // namespace loopback
