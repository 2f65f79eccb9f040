// The device's stream server (TCP 58100): pushes point frames to every
// connected client at the pace of its feed (the scene's fixed rate, or a
// recording's time stamps). Each client gets the latest frame when it is
// ready for one; a slow client skips frames and never holds up the others.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ClientSessions.h"
#include "FrameFeed.h"
#include "SimModule.h"
#include "TcpListener.h"
#include "core/StopFlag.h"

constexpr uint16_t kStreamServerPort = 58100;

class StreamServer : public SimModule {
public:
    // Frames come from the scene of options.seed; options.fps <= 0 sends
    // back to back as fast as each client takes them (the scene still moves
    // at 10 frames per second).
    explicit StreamServer(const SimOptions& options, uint16_t port = kStreamServerPort);
    ~StreamServer() override;

    // Takes the frames from feed instead of the scene (call before start).
    void setFeed(std::shared_ptr<FrameFeed> feed);

    const char* name() const override { return "stream"; }
    bool start() override;
    void stop() override;

    // Closes every client connection but keeps listening, as a device whose
    // stream service restarted.
    void dropClients();
    int clientCount() const;
    // Frames produced since start.
    uint64_t framesProduced() const { return produced_.load(); }

private:
    using FrameBytes = std::shared_ptr<const std::vector<uint8_t>>;

    void produceLoop();
    void clientLoop(int fd);

    SimOptions options_;
    uint16_t port_;
    std::shared_ptr<FrameFeed> feed_;
    std::unique_ptr<StopFlag> stop_;
    std::thread produceThread_;
    std::atomic<uint64_t> produced_{0};

    // Latest frame; sequence numbers tell a client whether it is new.
    mutable std::mutex frameMutex_;
    std::condition_variable frameCond_;
    FrameBytes latest_;
    uint64_t latestSeq_ = 0;
    bool stopping_ = false;

    // Declared last: its session threads use the members above until it stops.
    ClientSessions sessions_;
};
