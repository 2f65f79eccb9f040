// Where the simulated device's frames come from: its synthetic scene or a
// recording played back. The stream server and the collection server take
// every frame they send from a feed, so that a scene and a recording are
// served by the same code.
//
// A feed is called from several threads at once (the stream server's
// producer and one thread per collection client).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "stream/StreamRecords.h"

// The parts of one stream frame.
struct StreamFrameParts {
    std::vector<uint8_t> points;  // point block: x, y, z float32 per point
    std::vector<ObjRecord> objects;
    AreaBlock areas{};
};

class FrameFeed {
public:
    virtual ~FrameFeed() = default;

    // Frame n as the stream port sends it. False when it cannot be had now
    // (a recording's file gone): that frame is passed over.
    virtual bool streamFrame(uint64_t n, StreamFrameParts& out) = 0;
    // Frame n as the collection port sends it: its payload (psize and
    // presize are its size) and its time stamp, milliseconds since the epoch.
    // False as for streamFrame.
    virtual bool collectionFrame(uint64_t n, std::vector<uint8_t>& payload, int64_t& time) = 0;
    // How long frame n + 1 comes after frame n.
    virtual std::chrono::microseconds pauseAfter(uint64_t n) const = 0;
    // The pace in words, for the servers' log lines.
    virtual std::string pace() const = 0;
};
