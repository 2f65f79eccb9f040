#include "FakeStreamServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/ByteOrder.h"
#include "stream/StreamFrame.h"

bool FakeStreamConnection::send(const std::vector<uint8_t>& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

FakeStreamServer::FakeStreamServer(std::string address, Script script, uint16_t port)
    : address_(std::move(address)), script_(std::move(script)), port_(port) {}

FakeStreamServer::~FakeStreamServer() {
    stop();
}

bool FakeStreamServer::start() {
    listenFd_ = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port_);
    inet_pton(AF_INET, address_.c_str(), &addr.sin_addr);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 4) != 0) {
        ::close(listenFd_);
        listenFd_ = -1;
        return false;
    }
    thread_ = std::thread([this] { serve(); });
    return true;
}

void FakeStreamServer::stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    thread_.join();
    ::close(listenFd_);
    listenFd_ = -1;
}

int FakeStreamServer::connections() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}

bool FakeStreamServer::waitForConnections(int n, std::chrono::milliseconds timeout) const {
    std::unique_lock<std::mutex> lock(mutex_);
    return cond_.wait_for(lock, timeout, [&] { return connections_ >= n; });
}

// Waits on one descriptor in short slices so that stop() is noticed.
static bool waitReadable(int fd, const std::atomic<bool>& stopping) {
    while (!stopping) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) > 0) return true;
    }
    return false;
}

void FakeStreamServer::serve() {
    while (waitReadable(listenFd_, stopping_)) {
        const int fd = ::accept(listenFd_, nullptr, nullptr);
        if (fd < 0) continue;
        int n = 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            n = connections_++;
        }
        cond_.notify_all();
        FakeStreamConnection connection(fd);
        if (script_(n, connection)) {
            // Hold the connection until the peer closes it or the test ends.
            char sink[4096];
            while (waitReadable(fd, stopping_) && ::recv(fd, sink, sizeof sink, 0) > 0) {
            }
        }
        ::close(fd);
    }
}

std::vector<uint8_t> headerBytes(uint32_t fron, int32_t type, int32_t datalen, uint32_t end) {
    StreamHeader h;
    h.fron = fron;
    h.type = type;
    h.datalen = datalen;
    h.end = end;
    std::vector<uint8_t> bytes(kStreamHeaderSize);
    encodeStreamHeader(h, bytes.data());
    return bytes;
}

std::vector<uint8_t> int32Bytes(int32_t v) {
    std::vector<uint8_t> bytes(4);
    writeI32le(bytes.data(), v);
    return bytes;
}
