#include "FakeGate.h"

#include <thread>

#include "../support/LoopbackSocket.h"

namespace {
constexpr int kPollStepMs = 2;
}  // namespace

FakeGate::FakeGate(const std::string& address, int port) : address_(address), port_(port) {
    listen();
}

FakeGate::~FakeGate() {
    closePeer();
    stopListening();
}

bool FakeGate::listen() {
    if (listener_ == loopback::kNoSocket)
        listener_ = loopback::listenOn(address_, static_cast<uint16_t>(port_));
    return listener_ != loopback::kNoSocket;
}

void FakeGate::stopListening() {
    if (listener_ != loopback::kNoSocket) loopback::closeSocket(listener_);
    listener_ = loopback::kNoSocket;
}

bool FakeGate::connectionPending(int timeoutMs) {
    return listener_ != loopback::kNoSocket && loopback::readable(listener_, timeoutMs);
}

bool FakeGate::accept(int timeoutMs) {
    if (!connectionPending(timeoutMs)) return false;
    const loopback::Socket s = loopback::acceptOne(listener_);
    if (s == loopback::kNoSocket) return false;
    closePeer();
    peer_ = s;
    return true;
}

bool FakeGate::send(const Bytes& bytes) {
    return loopback::sendAll(peer_, bytes);
}

Bytes FakeGate::receive(size_t n, int timeoutMs) {
    return loopback::receive(peer_, n, timeoutMs);
}

bool FakeGate::peerClosed(int timeoutMs) {
    return loopback::peerClosed(peer_, timeoutMs);
}

void FakeGate::closePeer() {
    if (peer_ != loopback::kNoSocket) loopback::closeSocket(peer_);
    peer_ = loopback::kNoSocket;
}

void FakeGate::resetPeer() {
    if (peer_ == loopback::kNoSocket) return;
    loopback::resetSocket(peer_);
    peer_ = loopback::kNoSocket;
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
