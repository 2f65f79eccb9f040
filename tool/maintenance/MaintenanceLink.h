// One exchange with the upgrade or the file server: the connection procedure
// that every maintenance command shares, the send of one request and the
// exact receive of the reply. The socket is closed (a reset, because of the
// linger setting) when the link goes out of scope.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "core/TcpClient.h"
#include "maintenance/MaintenanceProtocol.h"

// Bytes of a request on the wire so far, of its total; called after every
// piece that went out.
using SendProgress = std::function<void(uint64_t sent, uint64_t total)>;

class MaintenanceLink {
public:
    explicit MaintenanceLink(const MaintenanceEndpoint& server) : m_server(server) {}
    MaintenanceLink(const MaintenanceLink&) = delete;
    MaintenanceLink& operator=(const MaintenanceLink&) = delete;

    // Traces the target, prepares a fresh socket and connects (blocking).
    // On success sets the stream socket options and traces the server's
    // success line; on failure its failure line.
    bool connect(const std::string& address);
    // Sends the whole request. Large requests go out in pieces so that
    // progress can be reported; the bytes on the wire are the same. False
    // when the peer goes, when not connected, or when the device takes less
    // than a piece within the send stall time-out (MaintenanceTiming), so a
    // device that stops reading, or reads a byte now and then, ends the send.
    bool send(const uint8_t* data, size_t size, const SendProgress& progress = {});
    bool send(const Request& request) { return send(request.data(), request.size()); }
    // Receives exactly size bytes; false when the peer closes, when not
    // connected, or when the receive time-out runs out. The time-out bounds
    // the whole answer (every receive of the link after the first together),
    // so a device that dribbles its answer cannot stretch the wait. What
    // arrived before a failure stays in buffer.
    bool receiveExact(uint8_t* buffer, size_t size);
    // The int32 status that begins every reply.
    bool receiveStatus(int32_t& status);

    // Bytes of the last send that reached the socket.
    uint64_t bytesSent() const { return m_sent; }

private:
    const MaintenanceEndpoint& m_server;
    TcpClient m_client;
    uint64_t m_sent = 0;
    bool m_answerStarted = false;
    std::chrono::steady_clock::time_point m_answerDeadline;
};
