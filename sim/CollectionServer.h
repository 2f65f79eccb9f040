// The device's collection server (TCP 58001): after a client's 40-byte
// request it answers with a 40-byte response header and then streams frames
// (header, 48-byte block, payload) to that client at the pace of its feed.
// From the scene the payload is the scene's point block of the frame, cut or
// repeated to the chosen size, with the frame number in its first 8 bytes,
// and the time is the moment it is sent; from a recording it is the record's
// data and time.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ClientSessions.h"
#include "FrameFeed.h"
#include "SceneFeed.h"
#include "SimModule.h"

struct CollectionServerOptions {
    std::string address = "127.0.0.1";
    uint16_t port = 58001;
    double fps = 10.0;              // frames per second to each client; <= 0 back to back
    uint64_t seed = 1;              // scene seed
    int32_t payloadBytes = 460800;  // psize (and presize) of every frame of the scene
    int dropEvery = 0;              // close a link after this many frames on it; 0 never
};

class CollectionServer : public SimModule {
public:
    explicit CollectionServer(const CollectionServerOptions& options);
    ~CollectionServer() override;

    // Takes the frames from feed instead of the scene (call before start);
    // options.fps <= 0 still sends them back to back.
    void setFeed(std::shared_ptr<FrameFeed> feed) { feed_ = std::move(feed); }

    const char* name() const override { return "collect"; }
    bool start() override;
    void stop() override;

    // Ends every client's link at once, as a device whose service restarted.
    void dropClients() { sessions_.dropClients(); }
    int clientCount() const { return sessions_.clientCount(); }
    int connectionsAccepted() const { return sessions_.acceptedCount(); }
    // Frames sent to all clients since start.
    uint64_t framesSent() const { return sent_.load(); }

private:
    void serve(int fd, const StopFlag& stop);

    CollectionServerOptions options_;
    std::shared_ptr<FrameFeed> feed_;
    ClientSessions sessions_;
    std::atomic<uint64_t> nextFrame_{0};
    std::atomic<uint64_t> sent_{0};
};
