// A fake gate device on a loopback address: listens on the gate-linkage port,
// accepts the library's connection and reads or writes raw bytes on it. Tests
// drive it step by step, so what the client reads in one call is exactly what
// the fake sent before that call.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "../support/LoopbackSocket.h"

using Bytes = std::vector<uint8_t>;

constexpr int kGatePort = 12580;
// Upper bound for anything a test waits for; reaching it is a failure.
constexpr int kWaitMs = 5000;

class FakeGate {
public:
    explicit FakeGate(const std::string& address, int port = kGatePort);
    ~FakeGate();
    FakeGate(const FakeGate&) = delete;
    FakeGate& operator=(const FakeGate&) = delete;

    bool listening() const { return listener_ != loopback::kNoSocket; }
    void stopListening();
    bool listen();

    // Accepts the next connection, replacing the current peer (closed).
    bool accept(int timeoutMs = kWaitMs);
    // Whether a connection waits in the backlog within timeoutMs.
    bool connectionPending(int timeoutMs);
    bool send(const Bytes& bytes);
    // Up to n bytes; fewer only when the time ran out or the peer closed.
    Bytes receive(size_t n, int timeoutMs = kWaitMs);
    // True when the client closed its end (a read gives end of stream or reset).
    bool peerClosed(int timeoutMs = kWaitMs);
    void closePeer();
    // Close with SO_LINGER 0: the client's next read fails with a reset.
    void resetPeer();

    const std::string& address() const { return address_; }
    int port() const { return port_; }

private:
    std::string address_;
    int port_;
    loopback::Socket listener_ = loopback::kNoSocket;
    loopback::Socket peer_ = loopback::kNoSocket;
};

// A valid frame: 7E 00 01 kind p1 p2 p3 p4 p5 00 00 p6 p7 AA BB 7E.
std::array<uint8_t, 16> gateFrame(uint8_t kind, uint8_t p1, uint8_t p2 = 0, uint8_t p3 = 0,
                                  uint8_t p4 = 0, uint8_t p5 = 0, uint8_t p6 = 0, uint8_t p7 = 0);
void append(Bytes& to, const std::array<uint8_t, 16>& frame);
void append(Bytes& to, const Bytes& bytes);

// Polls pred until it holds or kWaitMs passed.
bool waitUntil(const std::function<bool()>& pred, int timeoutMs = kWaitMs);
