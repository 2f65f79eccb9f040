// The simulated device's own frames: the synthetic passage scene of a seed,
// at a fixed frame rate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "FrameFeed.h"

// The collection payload of frame n: the scene's points of that frame in
// their places, repeated or cut to size bytes in all, with the frame number
// (8 bytes, little-endian) over the first point's x and y. A recording of it
// played back draws the scene, one stray point aside.
void collectionPayload(uint64_t seed, uint64_t n, size_t size, std::vector<uint8_t>& out);

class SceneFeed : public FrameFeed {
public:
    // fps <= 0 moves the scene at 10 frames per second. Collection payloads
    // are collectBytes long (see collectionPayload) and stamped with the
    // time they are made.
    SceneFeed(uint64_t seed, double fps, size_t collectBytes = 0);

    bool streamFrame(uint64_t n, StreamFrameParts& out) override;
    bool collectionFrame(uint64_t n, std::vector<uint8_t>& payload, int64_t& time) override;
    std::chrono::microseconds pauseAfter(uint64_t n) const override;
    std::string pace() const override;

private:
    uint64_t seed_;
    double fps_;
    std::chrono::microseconds period_;
    size_t collectBytes_;
};
