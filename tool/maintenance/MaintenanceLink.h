// One exchange with the upgrade or the file server: the connection procedure
// that every maintenance command shares, the send of one request and the
// exact receive of the reply. The socket is closed (a reset, because of the
// linger setting) when the link goes out of scope.
#pragma once

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
    // progress can be reported; the bytes on the wire are the same. False as
    // soon as a send returns 0 or less (also when not connected).
    bool send(const uint8_t* data, size_t size, const SendProgress& progress = {});
    bool send(const Request& request) { return send(request.data(), request.size()); }
    // Receives exactly size bytes; false as soon as a receive returns 0 or
    // less (the peer closed, the receive time-out ran out, not connected).
    bool receiveExact(uint8_t* buffer, size_t size);
    // The int32 status that begins every reply.
    bool receiveStatus(int32_t& status);

private:
    const MaintenanceEndpoint& m_server;
    TcpClient m_client;
};
