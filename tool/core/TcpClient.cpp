#include "core/TcpClient.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/Timing.h"
#include "core/Trace.h"

bool connectWithin(int sock, const sockaddr_in& target, int timeoutMs) {
    const int flags = ::fcntl(sock, F_GETFL, 0);
    if (flags < 0 || ::fcntl(sock, F_SETFL, flags | O_NONBLOCK) != 0) return false;
    bool ok = ::connect(sock, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0;
    int code = ok ? 0 : errno;
    if (!ok && code == EINPROGRESS) {
        pollfd p{sock, POLLOUT, 0};
        int r;
        do {
            r = ::poll(&p, 1, timeoutMs);
        } while (r < 0 && errno == EINTR);
        if (r == 0) {
            code = ETIMEDOUT;
        } else if (r < 0) {
            code = errno;
        } else {
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(sock, SOL_SOCKET, SO_ERROR, &error, &length);
            code = error;
            ok = error == 0;
        }
    }
    ::fcntl(sock, F_SETFL, flags);
    errno = code;
    return ok;
}

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

int TcpClient::ReceiveBufferBytes() const {
    int size = 0;
    socklen_t length = sizeof size;
    if (::getsockopt(sock, SOL_SOCKET, SO_RCVBUF, &size, &length) != 0) return -1;
    return size;
}

void TcpClient::SetStreamOptions() {
    linger lingerOption{};
    lingerOption.l_onoff = 1;  // on with time-out 0: closing resets the connection
    lingerOption.l_linger = 0;
    (void)setsockopt(sock, SOL_SOCKET, SO_LINGER, &lingerOption, sizeof lingerOption);

    // No SO_RCVBUF: Linux caps it at twice net.core.rmem_max (by default less
    // than one 460 KB frame) and a set size ends the kernel's auto-tuning,
    // which grows the buffer to several megabytes as the stream needs. Measured
    // on loopback (bench_stream_rcvbuf), the set size gained neither frames
    // per second nor latency.

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
    // A silent address is given up after the connect time-out, not the
    // system's own (about two minutes here).
    if (connectWithin(sock, addr, shellTiming().connectTimeoutMs.load())) return true;
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
