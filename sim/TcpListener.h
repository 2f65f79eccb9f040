// Listening socket of a simulated server, with the few socket calls the
// servers need. Loopback addresses only: the simulator serves this machine.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

class TcpListener {
public:
    TcpListener() = default;
    ~TcpListener();
    TcpListener(const TcpListener&) = delete;
    TcpListener& operator=(const TcpListener&) = delete;

    // Binds address:port (address reuse on, so a restart binds at once) and
    // listens. False with errno kept when it fails or address is no loopback.
    bool open(const std::string& address, uint16_t port);
    // Waits for a connection; -1 once close() was called or on error.
    // peer receives "a.b.c.d:port".
    int accept(std::string& peer);
    // Stops listening and wakes a blocked accept. The descriptor itself is
    // released by the next open() or the destructor, when no thread can be
    // inside accept() any more, so its number is never reused under it.
    void close();
    bool isOpen() const { return fd_ >= 0 && !closing_; }

private:
    void release();

    std::atomic<int> fd_{-1};
    std::atomic<bool> closing_{false};
};

bool isLoopbackAddress(const std::string& address);

// Sends all bytes (no SIGPIPE); false when the peer is gone.
bool sendAll(int fd, const uint8_t* data, size_t size);
// Receives exactly size bytes (a signal is retried); false when the peer has
// gone, the receive timed out or the socket was shut down.
bool receiveAll(int fd, uint8_t* data, size_t size);
// Ends a connection: shutdown wakes a thread blocked on it; close releases it.
void shutdownSocket(int fd);
void closeSocket(int fd);
