// The accept side shared by the simulated servers that serve each client on a
// thread of its own: listening, one session thread per connection, dropping
// the links on request, and stopping with every thread joined.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "TcpListener.h"
#include "core/StopFlag.h"

class ClientSessions {
public:
    // Serves one connection until it returns; stop is requested when the
    // server stops (the socket is shut down then as well).
    using Session = std::function<void(int fd, const StopFlag& stop)>;

    ClientSessions(const char* serverName, Session session)
        : name_(serverName), session_(std::move(session)) {}
    ~ClientSessions() { stop(); }

    bool start(const std::string& address, uint16_t port);
    void stop();
    // Closes every client connection; the server goes on listening.
    void dropClients();
    int clientCount() const;
    int acceptedCount() const { return accepted_.load(); }

private:
    struct Client {
        int fd = -1;
        std::string peer;
        std::thread thread;
        std::atomic<bool> done{false};
    };
    void acceptLoop();
    void reapClients();

    const char* name_;
    Session session_;
    TcpListener listener_;
    std::unique_ptr<StopFlag> stop_;
    std::thread acceptThread_;
    std::atomic<int> accepted_{0};
    mutable std::mutex mutex_;
    std::list<Client> clients_;
};
