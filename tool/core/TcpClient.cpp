#include "core/TcpClient.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/Timing.h"
#include "core/Trace.h"

namespace {
// Receive buffer of a stream socket: room for several point frames.
constexpr int kStreamReceiveBufferBytes = 3686400;
}  // namespace

TcpClient::TcpClient() : port(0), sock(kInvalidSocket) {
    std::memset(ip, 0, sizeof ip);
    std::memset(&addr, 0, sizeof addr);
}

TcpClient::~TcpClient() {
    Close();
}

bool TcpClient::Init(const char* ipText, uint32_t portNumber) {
    // A socket left open by an earlier Init would leak: start from a closed one.
    Close();
    std::memset(ip, 0, sizeof ip);
    if (ipText) std::strncpy(ip, ipText, sizeof ip - 1);
    port = portNumber;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(portNumber));
    if (inet_pton(AF_INET, ip, &addr.sin_addr) != 1) {
        // No address to connect to: a zero address would reach this machine.
        tracef("inet_pton: invalid address [%s]\n", ip);
        return false;
    }
    sock = ::socket(AF_INET, SOCK_STREAM, 0);
    if (sock < 0) {
        tracef("socket: %s(errno:%d)\n", std::strerror(errno), errno);
        sock = kInvalidSocket;
        return false;
    }
    return true;
}

void TcpClient::Close() {
    if (sock != kInvalidSocket) {
        ::close(sock);
        sock = kInvalidSocket;
    }
}

void TcpClient::SetStreamOptions() {
    linger lingerOption{};
    lingerOption.l_onoff = 1;  // on with time-out 0: closing resets the connection
    lingerOption.l_linger = 0;
    (void)setsockopt(sock, SOL_SOCKET, SO_LINGER, &lingerOption, sizeof lingerOption);

    const int receiveBuffer = kStreamReceiveBufferBytes;
    (void)setsockopt(sock, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);

    const int timeoutMs = shellTiming().streamReceiveTimeoutMs.load();
    timeval timeout{};
    timeout.tv_sec = timeoutMs / 1000;
    timeout.tv_usec = (timeoutMs % 1000) * 1000;
    (void)setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
}

bool TcpClient::Connect() {
    // 0.0.0.0 would reach this machine rather than a device.
    if (addr.sin_family != AF_INET || addr.sin_addr.s_addr == 0) return false;
    if (sock == kInvalidSocket) sock = ::socket(AF_INET, SOCK_STREAM, 0);
    if (sock < 0) {
        sock = kInvalidSocket;
        return false;
    }
    if (::connect(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return true;
    Close();
    return false;
}

int TcpClient::RecvExact(void* buffer, int length) {
    return length <= 0 || ReceiveAll(buffer, static_cast<size_t>(length)) ? 0 : -1;
}

bool TcpClient::ReceiveAll(void* buffer, size_t length) {
    auto* bytes = static_cast<char*>(buffer);
    while (length > 0) {
        const ssize_t n = ::recv(sock, bytes, length, 0);
        if (n < 0 && errno == EINTR) continue;  // a signal is no failure of the link
        if (n <= 0) return false;
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}

bool TcpClient::SendAll(const void* data, size_t length) {
    if (sock == kInvalidSocket) return false;
    const auto* bytes = static_cast<const char*>(data);
    while (length > 0) {
        const ssize_t n = ::send(sock, bytes, length, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        bytes += n;
        length -= static_cast<size_t>(n);
    }
    return true;
}
