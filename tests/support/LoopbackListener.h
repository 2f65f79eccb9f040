// A TCP listener on a loopback address for tests: accepts connections on its
// own thread and keeps them open. An optional script plays the device's part
// on each accepted connection, so that a test can send exactly the bytes a
// faulty device would send.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "LoopbackSocket.h"

class LoopbackListener {
public:
    // Runs on the accept thread for the n-th connection (0-based); false
    // closes the connection at once, true keeps it open. loopback::sendAll
    // sends on it.
    using Script = std::function<bool(int n, int fd)>;

    explicit LoopbackListener(Script script = nullptr) : script_(std::move(script)) {}
    ~LoopbackListener();
    LoopbackListener(const LoopbackListener&) = delete;
    LoopbackListener& operator=(const LoopbackListener&) = delete;

    // Binds address:port (address re-use on) and starts accepting. false when
    // the address cannot be bound.
    bool start(const std::string& address, uint16_t port);
    // Stops accepting and closes every connection.
    void stop();

    // Connections accepted so far, counted before their script runs.
    int acceptedCount() const;
    // Waits until at least n connections have been accepted.
    bool waitForAccepted(int n, std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    // Sends bytes on the most recently accepted connection; false if none or
    // the send failed.
    bool sendToLatest(const std::vector<uint8_t>& bytes);
    // Closes the accepted connections (the listener keeps accepting).
    void closeClients();

private:
    void acceptLoop();

    Script script_;
    int listenFd_ = -1;
    std::thread thread_;
    mutable std::mutex mutex_;
    mutable std::condition_variable cond_;
    std::vector<int> clients_;
    int accepted_ = 0;
    bool stopping_ = false;
};
