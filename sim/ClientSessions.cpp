#include "ClientSessions.h"

#include <cerrno>
#include <cstring>

#include "SimLog.h"

bool ClientSessions::start(const std::string& address, uint16_t port) {
    if (acceptThread_.joinable()) return true;
    if (!listener_.open(address, port)) {
        simLog(name_, "cannot listen on %s:%u: %s", address.c_str(), port, std::strerror(errno));
        return false;
    }
    stop_ = std::make_unique<StopFlag>();
    accepted_ = 0;
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void ClientSessions::stop() {
    if (!acceptThread_.joinable()) return;
    stop_->request();
    listener_.close();
    acceptThread_.join();
    std::list<Client> ending;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending.swap(clients_);
    }
    for (Client& c : ending) shutdownSocket(c.fd);
    for (Client& c : ending) {
        c.thread.join();
        closeSocket(c.fd);
    }
    simLog(name_, "stopped");
}

void ClientSessions::dropClients() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Client& c : clients_) shutdownSocket(c.fd);
}

int ClientSessions::clientCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    int n = 0;
    for (const Client& c : clients_) n += c.done ? 0 : 1;
    return n;
}

void ClientSessions::reapClients() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (!it->done) {
            ++it;
            continue;
        }
        it->thread.join();
        closeSocket(it->fd);
        it = clients_.erase(it);
    }
}

void ClientSessions::acceptLoop() {
    for (;;) {
        std::string peer;
        const int fd = listener_.accept(peer);
        if (fd < 0) return;
        simLog(name_, "client %s connected", peer.c_str());
        reapClients();
        std::lock_guard<std::mutex> lock(mutex_);
        clients_.emplace_back();
        Client& c = clients_.back();
        c.fd = fd;
        c.peer = peer;
        c.thread = std::thread([this, &c] {
            session_(c.fd, *stop_);
            // Shut down, not closed: the descriptor is released when the
            // thread is joined, so its number is never reused under a dropClients.
            shutdownSocket(c.fd);
            simLog(name_, "client %s disconnected", c.peer.c_str());
            c.done = true;
        });
        ++accepted_;
    }
}
