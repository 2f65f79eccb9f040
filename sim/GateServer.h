// The simulated device's gate-linkage server. It listens on the alarm port
// (12580) and the receive port (12581) of its address, pushes alarm and door
// frames to every connected client from a scripted, repeating sequence,
// answers every command frame with a response frame, and logs each received
// frame as hex with what it means.
//
// Frames are 16 bytes both ways: 7E 00 01 kind p1 p2 p3 p4 p5 00 00 p6 p7 AA BB 7E
// (kind 0 = response from the device, 1 = push; p1 is the command code).
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SimModule.h"

using SimGateFrame = std::array<uint8_t, 16>;

// Builds a frame byte by byte (the device's own encoder, independent of the
// library's).
SimGateFrame makeGateFrame(uint8_t kind, uint8_t p1, uint8_t p2, uint8_t p3, uint8_t p4, uint8_t p5,
                           uint8_t p6, uint8_t p7);
// True when the start, tail and end markers are in place.
bool gateFrameMarkersValid(const uint8_t* frame);
// "7E 00 01 ..." for a byte range.
std::string gateHex(const uint8_t* data, size_t length);
// What a command frame from a client asks for ("authorisation forward", "heartbeat", ...).
std::string describeGateCommand(const SimGateFrame& frame);
// What a push frame reports ("alarm 0x01 tailgating", "door 0 opened", ...).
std::string describeGatePush(const SimGateFrame& frame);
// The response the device sends to a command: kind 0 with the command's code
// (byte 4) and its arguments (bytes 5 and 11) echoed.
SimGateFrame gateResponseFor(const SimGateFrame& command);
// The scripted push sequence, repeated: every alarm code 1 to 11 and 0x99, the
// three door states, then frames the client must handle although they carry
// codes outside its tables (and one with an alarm and a door state together).
const std::vector<SimGateFrame>& gatePushScript();

struct GateServerOptions {
    std::string address = "127.0.0.1";
    uint16_t alarmPort = 12580;
    uint16_t receivePort = 12581;
    int pushIntervalMs = 1000;  // between two scripted pushes; 0 pushes nothing by itself
    int dropEvery = 0;          // close a link after this many pushes on it; 0 never
    // Push a seeded scene of alarms and door states (GateScene) instead of the
    // fixed script; each link plays the scene from its start.
    bool seededScene = false;
    uint64_t sceneSeed = 0;
    // A client that reads nothing for this long loses its link: one such
    // client must not hold up the pushes to the others, nor stop().
    int sendTimeoutMs = 2000;
};

struct ReceivedGateFrame {
    uint16_t port;  // the listening port the client connected to
    SimGateFrame frame;
};

class GateServer : public SimModule {
public:
    explicit GateServer(GateServerOptions options);
    ~GateServer() override;
    GateServer(const GateServer&) = delete;
    GateServer& operator=(const GateServer&) = delete;

    const char* name() const override { return "gate"; }
    // Binds and listens on both ports; false (with a log line) when either fails.
    bool start() override;
    // Closes the listeners and every link and joins all threads. Final: a
    // stopped server is not started again.
    void stop() override;

    // Sends frame to every connected client; returns how many got it. Each
    // send is bounded by the send time-out and made without the server's lock.
    int pushToAll(const SimGateFrame& frame);
    // Closes every open link now (the client sees the connection end).
    void dropAll();

    // What the server saw, for tests and the summary at exit.
    std::vector<ReceivedGateFrame> received() const;
    int countReceived(uint8_t commandCode) const;
    int connectionsAccepted(uint16_t port) const;
    int openConnections() const;
    int pushesSent() const;
    // Waits until predicate holds (it is re-evaluated after every event).
    bool waitFor(const std::function<bool()>& predicate, std::chrono::milliseconds timeout) const;

private:
    struct Session;
    struct Listener;

    void listenLoop(Listener* listener);
    void readLoop(Session* session);
    void pushLoop(Session* session);
    bool sendFrame(Session* session, const SimGateFrame& frame);
    void closeLink(Session* session);
    void reapFinished();

    GateServerOptions options_;
    std::vector<std::unique_ptr<Listener>> listeners_;

    mutable std::mutex mutex_;
    mutable std::condition_variable event_;
    uint64_t eventCount_ = 0;
    bool stopping_ = false;
    std::list<std::shared_ptr<Session>> sessions_;
    std::vector<ReceivedGateFrame> received_;
    int acceptedAlarm_ = 0;
    int acceptedReceive_ = 0;
    int pushes_ = 0;
};
