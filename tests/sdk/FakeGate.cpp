#include "FakeGate.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

namespace {

constexpr int kPollStepMs = 2;

bool readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

}  // namespace

FakeGate::FakeGate(const std::string& address, int port) : address_(address), port_(port) {
    listen();
}

FakeGate::~FakeGate() {
    closePeer();
    stopListening();
}

bool FakeGate::listen() {
    if (listener_ >= 0) return true;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port_));
    ::inet_pton(AF_INET, address_.c_str(), &a.sin_addr);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 8) != 0) {
        ::close(fd);
        return false;
    }
    listener_ = fd;
    return true;
}

void FakeGate::stopListening() {
    if (listener_ >= 0) ::close(listener_);
    listener_ = -1;
}

bool FakeGate::connectionPending(int timeoutMs) {
    return listener_ >= 0 && readable(listener_, timeoutMs);
}

bool FakeGate::accept(int timeoutMs) {
    if (!connectionPending(timeoutMs)) return false;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) return false;
    closePeer();
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    peer_ = fd;
    return true;
}

bool FakeGate::send(const Bytes& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(peer_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

Bytes FakeGate::receive(size_t n, int timeoutMs) {
    Bytes out(n);
    size_t got = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              deadline - std::chrono::steady_clock::now())
                              .count();
        if (left <= 0 || !readable(peer_, static_cast<int>(left))) break;
        const ssize_t r = ::recv(peer_, out.data() + got, n - got, 0);
        if (r <= 0) break;
        got += static_cast<size_t>(r);
    }
    out.resize(got);
    return out;
}

bool FakeGate::peerClosed(int timeoutMs) {
    if (!readable(peer_, timeoutMs)) return false;
    uint8_t byte;
    return ::recv(peer_, &byte, 1, 0) <= 0;
}

void FakeGate::closePeer() {
    if (peer_ >= 0) ::close(peer_);
    peer_ = -1;
}

void FakeGate::resetPeer() {
    if (peer_ < 0) return;
    const linger l{1, 0};
    ::setsockopt(peer_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    closePeer();
}

std::array<uint8_t, 16> gateFrame(uint8_t kind, uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4,
                                  uint8_t p5, uint8_t p6, uint8_t p7) {
    return {0x7E, 0x00, 0x01, kind, p1, p2, p3, p4, p5, 0x00, 0x00, p6, p7, 0xAA, 0xBB, 0x7E};
}

void append(Bytes& to, const std::array<uint8_t, 16>& frame) {
    to.insert(to.end(), frame.begin(), frame.end());
}

void append(Bytes& to, const Bytes& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

bool waitUntil(const std::function<bool()>& pred, int timeoutMs) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!pred()) {
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollStepMs));
    }
    return true;
}
