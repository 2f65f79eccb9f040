// The device's algorithm server (TCP 10300): after a client's 4-byte request
// (int32 1) it streams pictures of the algorithm's view of the passage at the
// chosen rate: int32 length, then 640 x 640 x 3 bytes (blue, green, red).
// On request every n-th picture is a faulty one instead, alternately of
// length 0 and of a wrong size (320 x 320 x 3).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "ClientSessions.h"
#include "SimModule.h"
#include "algview/AlgPictureHeader.h"

constexpr int kAlgPictureSide = kAlgObjSide;
constexpr int32_t kAlgPictureBytes = kAlgObjBytes;
constexpr int kAlgWrongPictureSide = 320;

struct AlgorithmServerOptions {
    std::string address = "127.0.0.1";
    uint16_t port = kAlgServerPort;
    double fps = 10.0;  // pictures per second to each client
    uint64_t seed = 1;  // scene seed
    int badEvery = 0;   // every n-th picture is faulty; 0 never
};

// The picture of frame n of the scene: the passage from above with the gate's
// walls, the persons (circles with their number) and a frame counter.
void algorithmPicture(uint64_t seed, uint64_t n, std::vector<uint8_t>& out);

class AlgorithmServer : public SimModule {
public:
    explicit AlgorithmServer(const AlgorithmServerOptions& options);
    ~AlgorithmServer() override;

    const char* name() const override { return "alg"; }
    bool start() override;
    void stop() override;

    void dropClients() { sessions_.dropClients(); }
    int clientCount() const { return sessions_.clientCount(); }
    int connectionsAccepted() const { return sessions_.acceptedCount(); }
    uint64_t picturesSent() const { return sent_.load(); }

private:
    void serve(int fd, const StopFlag& stop);

    AlgorithmServerOptions options_;
    ClientSessions sessions_;
    std::atomic<uint64_t> sent_{0};
};
