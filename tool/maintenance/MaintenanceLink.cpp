#include "maintenance/MaintenanceLink.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>

#include "core/ByteOrder.h"
#include "core/SocketWait.h"
#include "core/Timing.h"
#include "core/Trace.h"
#include "maintenance/MaintenanceTiming.h"

namespace {

using Clock = std::chrono::steady_clock;

// Piece of a large request per send call: small enough for a smooth progress
// display, large enough that the calls cost nothing next to the transfer. It
// is also the least a device must take within each send stall time-out.
constexpr size_t kSendPiece = 1 << 20;

bool wouldBlock(int error) {
    return error == EINTR || error == EAGAIN || error == EWOULDBLOCK;
}

}  // namespace

bool MaintenanceLink::connect(const std::string& address) {
    const int port = m_server.port;
    tracef("%s--%d\n", address.c_str(), port);
    if (!m_client.Init(address.c_str(), m_server.port))
        tracef("init %s:%d fail!\n", address.c_str(), port);
    // An address that did not parse leaves no target (never 0.0.0.0, which
    // on this system would reach the workstation itself).
    if (!m_client.Connect()) {
        tracef(m_server.connectFailedLine, address.c_str(), port);
        return false;
    }
    m_client.SetStreamOptions();
    tracef(m_server.connectedLine, address.c_str(), port);
    return true;
}

bool MaintenanceLink::send(const uint8_t* data, size_t size, const SendProgress& progress) {
    m_sent = 0;
    const int sock = m_client.sock;
    if (sock == kInvalidSocket) return false;
    const auto stallLimit = MaintenanceTiming::ms(maintenanceTiming().sendStallTimeoutMs);
    // The deadline moves on only when the device has taken a whole piece
    // since it last moved: a trickle of bytes does not keep a stalled send alive.
    auto deadline = Clock::now() + stallLimit;
    size_t movedSinceDeadline = 0;
    size_t sent = 0;
    while (sent < size) {
        if (!socketReadyBefore(sock, POLLOUT, deadline)) {
            tracef("发送停滞超时：已发送 %llu / %llu 字节\n", static_cast<unsigned long long>(sent),
                   static_cast<unsigned long long>(size));
            return false;
        }
        const size_t piece = std::min(size - sent, kSendPiece);
        const ssize_t n = ::send(sock, data + sent, piece, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && wouldBlock(errno)) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
        m_sent = sent;
        movedSinceDeadline += static_cast<size_t>(n);
        if (movedSinceDeadline >= kSendPiece) {
            deadline = Clock::now() + stallLimit;
            movedSinceDeadline = 0;
        }
        if (progress) progress(sent, size);
    }
    return size > 0;
}

bool MaintenanceLink::receiveExact(uint8_t* buffer, size_t size) {
    const int sock = m_client.sock;
    if (sock == kInvalidSocket) return false;
    if (!m_answerStarted) {
        m_answerStarted = true;
        m_answerDeadline = Clock::now() + ShellTiming::ms(shellTiming().streamReceiveTimeoutMs);
    }
    return receiveBefore(sock, buffer, size, m_answerDeadline) == ReceiveEnd::Whole;
}

bool MaintenanceLink::receiveStatus(int32_t& status) {
    uint8_t bytes[kStatusSize];
    if (!receiveExact(bytes, sizeof bytes)) return false;
    status = readI32le(bytes);
    return true;
}
