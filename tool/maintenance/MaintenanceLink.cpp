#include "maintenance/MaintenanceLink.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>

#include "core/ByteOrder.h"
#include "core/Timing.h"
#include "core/Trace.h"

namespace {
// Piece of a large request per send call: small enough for a smooth progress
// display, large enough that the calls cost nothing next to the transfer.
constexpr size_t kSendPiece = 1 << 20;
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
    // A device that stops reading in the middle of a package must not hold
    // the command for ever: sends give up after the receive time-out too.
    const int timeoutMs = shellTiming().streamReceiveTimeoutMs.load();
    timeval timeout{};
    timeout.tv_sec = timeoutMs / 1000;
    timeout.tv_usec = (timeoutMs % 1000) * 1000;
    (void)setsockopt(m_client.sock, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
    tracef(m_server.connectedLine, address.c_str(), port);
    return true;
}

bool MaintenanceLink::send(const uint8_t* data, size_t size, const SendProgress& progress) {
    if (m_client.sock == kInvalidSocket) return false;
    size_t sent = 0;
    while (sent < size) {
        const size_t piece = std::min(size - sent, kSendPiece);
        const ssize_t n = ::send(m_client.sock, data + sent, piece, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
        if (progress) progress(sent, size);
    }
    return size > 0;
}

bool MaintenanceLink::receiveExact(uint8_t* buffer, size_t size) {
    return m_client.sock != kInvalidSocket && m_client.ReceiveAll(buffer, size);
}

bool MaintenanceLink::receiveStatus(int32_t& status) {
    uint8_t bytes[kStatusSize];
    if (!receiveExact(bytes, sizeof bytes)) return false;
    status = readI32le(bytes);
    return true;
}
