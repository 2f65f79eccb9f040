// The few socket calls the library needs, over BSD sockets or Winsock 2.
// Error codes are the platform's own (errno, WSAGetLastError) so that the
// console messages show what the system reported.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#if defined(_WIN32)
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h must come first.
#include <mstcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "KestSdk/DeviceClient.h"

namespace kestsdk {
namespace net {

constexpr SocketHandle kInvalid = -1;

// The handle is read without a lock by the thread loops and isConnected while
// another thread may replace it; all accesses go through these atomics.
inline SocketHandle loadHandle(const SocketHandle& h) {
    return __atomic_load_n(&h, __ATOMIC_SEQ_CST);
}
inline void storeHandle(SocketHandle& h, SocketHandle value) {
    __atomic_store_n(&h, value, __ATOMIC_SEQ_CST);
}

#if defined(_WIN32)
using Native = SOCKET;
inline Native native(SocketHandle h) {
    return static_cast<Native>(h);
}

// WSAStartup 2.2; returns 0 or the start-up error code.
inline int startup() {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data);
}
inline void cleanup() {
    WSACleanup();
}
inline int lastError() {
    return WSAGetLastError();
}
inline bool isWouldBlock(int code) {
    return code == WSAEWOULDBLOCK;
}
inline bool isTimedOut(int code) {
    return code == WSAETIMEDOUT;
}
// A send that may simply be tried again (a send time-out is WSAETIMEDOUT).
inline bool isSendRetry(int code) {
    return code == WSAEWOULDBLOCK;
}
// A receive cut short by the system before anything arrived.
inline bool isRecvRetry(int code) {
    return code == WSAEINTR;
}
constexpr int kInvalidArgument = WSAEINVAL;

// connect, given up after timeoutMs; the error code is left in WSAGetLastError.
inline bool connectWithin(SocketHandle h, const sockaddr_in& target, int timeoutMs) {
    u_long on = 1;
    if (ioctlsocket(native(h), FIONBIO, &on) != 0) return false;
    bool ok = connect(native(h), reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0;
    int code = ok ? 0 : WSAGetLastError();
    if (!ok && code == WSAEWOULDBLOCK) {
        fd_set writable, failed;
        FD_ZERO(&writable);
        FD_ZERO(&failed);
        FD_SET(native(h), &writable);
        FD_SET(native(h), &failed);
        timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        const int r = select(0, nullptr, &writable, &failed, &limit);
        if (r == 0) {
            code = WSAETIMEDOUT;
        } else if (r < 0) {
            code = WSAGetLastError();
        } else {
            int error = 0;
            int length = sizeof error;
            getsockopt(native(h), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length);
            code = error;
            ok = error == 0;
        }
    }
    u_long off = 0;
    ioctlsocket(native(h), FIONBIO, &off);
    WSASetLastError(code);
    return ok;
}

inline bool setTimeoutMs(SocketHandle h, int option, int ms) {
    const DWORD value = static_cast<DWORD>(ms);
    return setsockopt(native(h), SOL_SOCKET, option, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

inline void setKeepAliveValues(SocketHandle h, int timeMs, int intervalMs) {
    tcp_keepalive values{};
    values.onoff = 1;
    values.keepalivetime = static_cast<ULONG>(timeMs);
    values.keepaliveinterval = static_cast<ULONG>(intervalMs);
    DWORD returned = 0;
    WSAIoctl(native(h), SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
             nullptr);
}

inline int sendSome(SocketHandle h, const uint8_t* data, size_t length) {
    return send(native(h), reinterpret_cast<const char*>(data), static_cast<int>(length), 0);
}
inline int recvSome(SocketHandle h, uint8_t* data, size_t length) {
    return recv(native(h), reinterpret_cast<char*>(data), static_cast<int>(length), 0);
}
inline void shutdownAndClose(SocketHandle h) {
    shutdown(native(h), SD_BOTH);
    closesocket(native(h));
}
inline bool localTime(std::time_t t, std::tm& out) {
    return localtime_s(&out, &t) == 0;
}
#else
using Native = int;
inline Native native(SocketHandle h) {
    return static_cast<Native>(h);
}

inline int startup() {
    return 0;
}
inline void cleanup() {}
inline int lastError() {
    return errno;
}
inline bool isWouldBlock(int code) {
    return code == EWOULDBLOCK || code == EAGAIN;
}
inline bool isTimedOut(int code) {
    return code == ETIMEDOUT;
}
// On a blocking socket EAGAIN means SO_SNDTIMEO expired: retrying would spin
// for ever, so only an interrupted send is tried again.
inline bool isSendRetry(int code) {
    return code == EINTR;
}
// A receive interrupted by a signal before anything arrived. A socket with a
// receive time-out is never restarted by the kernel, whatever SA_RESTART says.
inline bool isRecvRetry(int code) {
    return code == EINTR;
}
constexpr int kInvalidArgument = EINVAL;

// connect, given up after timeoutMs (ETIMEDOUT); the error code is left in
// errno. The socket is non-blocking only for the connect itself.
inline bool connectWithin(SocketHandle h, const sockaddr_in& target, int timeoutMs) {
    const int flags = fcntl(native(h), F_GETFL, 0);
    if (flags < 0 || fcntl(native(h), F_SETFL, flags | O_NONBLOCK) != 0) return false;
    bool ok = connect(native(h), reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0;
    int code = ok ? 0 : errno;
    if (!ok && code == EINPROGRESS) {
        pollfd p{native(h), POLLOUT, 0};
        int r;
        do {
            r = poll(&p, 1, timeoutMs);
        } while (r < 0 && errno == EINTR);
        if (r == 0) {
            code = ETIMEDOUT;
        } else if (r < 0) {
            code = errno;
        } else {
            int error = 0;
            socklen_t length = sizeof error;
            getsockopt(native(h), SOL_SOCKET, SO_ERROR, &error, &length);
            code = error;
            ok = error == 0;
        }
    }
    fcntl(native(h), F_SETFL, flags);
    errno = code;
    return ok;
}

inline bool setTimeoutMs(SocketHandle h, int option, int ms) {
    timeval value{};
    value.tv_sec = ms / 1000;
    value.tv_usec = (ms % 1000) * 1000;
    return setsockopt(native(h), SOL_SOCKET, option, &value, sizeof value) == 0;
}

// The kernel counts keep-alive times in whole seconds: round up, at least 1.
inline void setKeepAliveValues(SocketHandle h, int timeMs, int intervalMs) {
    const int idle = timeMs <= 1000 ? 1 : (timeMs + 999) / 1000;
    const int interval = intervalMs <= 1000 ? 1 : (intervalMs + 999) / 1000;
    setsockopt(native(h), IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
    setsockopt(native(h), IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
}

// MSG_NOSIGNAL: a peer that has gone must give an error, not SIGPIPE.
inline int sendSome(SocketHandle h, const uint8_t* data, size_t length) {
    return static_cast<int>(send(native(h), data, length, MSG_NOSIGNAL));
}
inline int recvSome(SocketHandle h, uint8_t* data, size_t length) {
    return static_cast<int>(recv(native(h), data, length, 0));
}
inline void shutdownAndClose(SocketHandle h) {
    shutdown(native(h), SHUT_RDWR);
    close(native(h));
}
inline bool localTime(std::time_t t, std::tm& out) {
    return localtime_r(&t, &out) != nullptr;
}
#endif

// A new IPv4 TCP socket, or kInvalid.
inline SocketHandle openTcp() {
    const Native s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
#if defined(_WIN32)
    return s == INVALID_SOCKET ? kInvalid : static_cast<SocketHandle>(s);
#else
    return s < 0 ? kInvalid : static_cast<SocketHandle>(s);
#endif
}

inline bool setIntOption(SocketHandle h, int level, int option, int value) {
    return setsockopt(native(h), level, option, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

// SO_ERROR of the socket; false when it cannot be read.
inline bool pendingError(SocketHandle h, int& error) {
    error = 0;
    socklen_t length = sizeof error;
    return getsockopt(native(h), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) ==
           0;
}

// Dotted address first; otherwise the first IPv4 address the resolver gives
// (getaddrinfo, which unlike gethostbyname is safe from several threads).
inline bool resolveIPv4(const std::string& host, in_addr& out) {
    if (inet_pton(AF_INET, host.c_str(), &out) == 1) return true;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &result) != 0 || result == nullptr) return false;
    out = reinterpret_cast<const sockaddr_in*>(result->ai_addr)->sin_addr;
    freeaddrinfo(result);
    return true;
}

// A blocking connect to a silent address would wait for the system's own
// limit (about two minutes on Linux); this one gives up after timeoutMs.
inline bool connectIPv4(SocketHandle h, const in_addr& address, int port, int timeoutMs) {
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port));
    target.sin_addr = address;
    return connectWithin(h, target, timeoutMs);
}

}  // namespace net
}  // namespace kestsdk
