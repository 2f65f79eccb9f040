#include "core/SocketWait.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace {

std::chrono::milliseconds leftUntil(SteadyTime deadline) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now());
}

bool waitFor(int sock, short events, std::chrono::milliseconds slice) {
    pollfd p{sock, events, 0};
    const int r = ::poll(&p, 1, static_cast<int>(std::min<long long>(slice.count(), 1 << 30)));
    return r > 0;
}

}  // namespace

bool socketReadyBefore(int sock, short events, SteadyTime deadline) {
    for (;;) {
        const auto left = leftUntil(deadline);
        if (left.count() <= 0) return false;
        errno = 0;
        if (waitFor(sock, events, left)) return true;
        if (errno != 0 && errno != EINTR) return false;
    }
}

ReceiveEnd receiveBefore(int sock, void* buffer, size_t length, SteadyTime deadline,
                         const std::function<bool()>& shouldStop,
                         std::chrono::milliseconds stopCheck) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        const ssize_t n = ::recv(sock, bytes, length, MSG_DONTWAIT);
        if (n > 0) {
            bytes += n;
            length -= static_cast<size_t>(n);
            continue;
        }
        if (n == 0) return ReceiveEnd::Failed;  // the peer closed the link
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return ReceiveEnd::Failed;
        // Nothing more has come yet: bytes already here still complete the part.
        if (shouldStop && shouldStop()) return ReceiveEnd::Stopped;
        const auto left = leftUntil(deadline);
        if (left.count() <= 0) return ReceiveEnd::Failed;
        waitFor(sock, POLLIN, shouldStop ? std::min(left, stopCheck) : left);
    }
    return ReceiveEnd::Whole;
}
