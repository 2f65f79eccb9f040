#include "LoopbackListener.h"

namespace {
constexpr int kPollIntervalMs = 20;
}

LoopbackListener::~LoopbackListener() {
    stop();
}

bool LoopbackListener::start(const std::string& address, uint16_t port) {
    listenFd_ = loopback::listenOn(address, port);
    if (listenFd_ < 0) return false;
    thread_ = std::thread(&LoopbackListener::acceptLoop, this);
    return true;
}

void LoopbackListener::acceptLoop() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
        }
        if (!loopback::readable(listenFd_, kPollIntervalMs)) continue;
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0) continue;
        // Counted before the script runs: the script's bytes may reach the
        // client, and a test may look at the count, before the script returns.
        int n = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            n = accepted_++;
        }
        cond_.notify_all();
        const bool keep = !script_ || script_(n, fd);
        std::lock_guard<std::mutex> lock(mutex_);
        if (keep)
            clients_.push_back(fd);
        else
            ::close(fd);
    }
}

void LoopbackListener::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    if (thread_.joinable()) thread_.join();
    closeClients();
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        listenFd_ = -1;
    }
}

int LoopbackListener::acceptedCount() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return accepted_;
}

bool LoopbackListener::waitForAccepted(int n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return cond_.wait_for(lock, timeout, [&] { return accepted_ >= n; });
}

bool LoopbackListener::sendToLatest(const std::vector<uint8_t>& bytes) {
    std::lock_guard<std::mutex> lock(mutex_);
    return !clients_.empty() && loopback::sendAll(clients_.back(), bytes);
}

void LoopbackListener::closeClients() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : clients_) ::close(fd);
    clients_.clear();
}
