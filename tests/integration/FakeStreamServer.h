// A scripted stream server for the receiver's tests: it listens on the stream
// port of its own loopback address and plays one script per accepted
// connection, so that a test can send exactly the bytes a faulty device
// would send.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class FakeStreamConnection {
public:
    explicit FakeStreamConnection(int fd) : fd_(fd) {}
    bool send(const std::vector<uint8_t>& bytes);

private:
    int fd_;
};

class FakeStreamServer {
public:
    // Plays script(n, connection) for the n-th connection (0-based). When the
    // script returns true the connection stays open until the peer closes it
    // or the server stops; false closes it at once.
    using Script = std::function<bool(int n, FakeStreamConnection& connection)>;

    FakeStreamServer(std::string address, Script script, uint16_t port = 58100);
    ~FakeStreamServer();

    bool start();
    void stop();
    int connections() const;
    bool waitForConnections(int n, std::chrono::milliseconds timeout) const;

private:
    void serve();

    std::string address_;
    Script script_;
    uint16_t port_;
    int listenFd_ = -1;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable cond_;
    int connections_ = 0;
};

// Frame pieces for scripts.
std::vector<uint8_t> headerBytes(uint32_t fron, int32_t type, int32_t datalen, uint32_t end);
std::vector<uint8_t> int32Bytes(int32_t v);
