// A small TCP listener on a loopback address for tests: accepts connections on
// its own thread, keeps them open, and can send to them or drop them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LoopbackListener {
public:
    LoopbackListener() = default;
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    // Binds address:port (address re-use on) and starts accepting. false when
    // the address cannot be bound.
    bool start(const std::string& address, uint16_t port);
    // Stops accepting and closes every connection.
    void stop();

    int acceptedCount() const;
    // Waits until at least n connections have been accepted.
    bool waitForAccepted(int n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    // Sends bytes on the most recently accepted connection; false if none or
    // the send failed.
    bool sendToLatest(const void* data, size_t length);
    // Closes the accepted connections (the listener keeps accepting).
    void closeClients();

private:
    void acceptLoop();

    int listenFd_ = -1;
    std::thread thread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable cond_;
    std::vector<int> clients_;
    int accepted_ = 0;
    bool stopping_ = false;
};
