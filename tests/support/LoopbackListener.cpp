#include "LoopbackListener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace {
constexpr int kPollIntervalMs = 20;
}

LoopbackListener::~LoopbackListener() {
    stop();
}

bool LoopbackListener::start(const std::string& address, uint16_t port) {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    if (listenFd_ < 0) return false;
    const int on = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    if (inet_pton(AF_INET, address.c_str(), &addr.sin_addr) != 1 ||
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 8) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    thread_ = std::thread(&LoopbackListener::acceptLoop, this);
    return true;
}

void LoopbackListener::acceptLoop() {
    for (;;) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (stopping_) return;
        }
        pollfd p{listenFd_, POLLIN, 0};
        if (::poll(&p, 1, kPollIntervalMs) <= 0) continue;
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0) continue;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            clients_.push_back(fd);
            ++accepted_;
        }
        cond_.notify_all();
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

bool LoopbackListener::sendToLatest(const void* data, size_t length) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (clients_.empty()) return false;
    return ::send(clients_.back(), data, length, MSG_NOSIGNAL) == static_cast<ssize_t>(length);
}

void LoopbackListener::closeClients() {
    std::lock_guard<std::mutex> lock(mutex_);
    for (int fd : clients_) ::close(fd);
    clients_.clear();
}
