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
    // The socket's receive buffer as the kernel reports it; -1 when closed.
    int ReceiveBufferBytes() const;

    char ip[20];  // NUL-terminated dotted address, at most 15 characters
    uint32_t port;
    int sock;          // kInvalidSocket while closed
    sockaddr_in addr;  // target of connect
};
