// The small IPv4 TCP client that every device client of the tool uses to
// prepare its socket: one per connection, each on the device's own port.
#pragma once

#include <netinet/in.h>

#include <cstdint>

constexpr int kInvalidSocket = -1;

// connect of a blocking socket, given up after timeoutMs; errno tells why it
// failed (ETIMEDOUT when the time ran out). The socket stays blocking.
bool connectWithin(int sock, const sockaddr_in& target, int timeoutMs);

class TcpClient {
public:
    TcpClient();
    ~TcpClient();
    TcpClient(const TcpClient&) = delete;
    TcpClient& operator=(const TcpClient&) = delete;

    // Stores the target and creates the socket; does not connect.
    bool Init(const char* ipText, uint32_t portNumber);
    // Closes the socket if it is open.
    void Close();
    // Linger on with time-out 0 (close resets) and the receive time-out; the
    // receive buffer is left to the kernel. Results are ignored.
    void SetStreamOptions();
    // Connects to the stored target, making a socket first when there is none;
    // false when there is no target or the connection fails or takes longer
    // than the connect time-out (core/Timing.h). A failed attempt
    // closes the socket, so the next one starts from a fresh socket.
    bool Connect();
    // Receives exactly length bytes: 0 on success, -1 as soon as one receive
    // returns 0 or less (peer gone, error, receive time-out).
    int RecvExact(void* buffer, int length);
    // The same with a size: true once all length bytes arrived. A receive
    // interrupted by a signal is retried.
    bool ReceiveAll(void* buffer, size_t length);
    // Sends every byte (no SIGPIPE); false as soon as a send returns 0 or
    // less, or when the socket is closed.
    bool SendAll(const void* data, size_t length);
    // The socket's receive buffer as the kernel reports it; -1 when closed.
    int ReceiveBufferBytes() const;

    char ip[20];  // NUL-terminated dotted address, at most 15 characters
    uint32_t port;
    int sock;          // kInvalidSocket while closed
    sockaddr_in addr;  // target of connect
};
