// The main dialog's copies of the latest frame, written by the frame
// distributor and read by the 2D, 3D and readout workers, each group under its
// own lock. The object buffer holds at most 10 records (320 bytes).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "core/StopFlag.h"
#include "stream/StreamRecords.h"

// A frame's point block as the views share it: read-only, so that every view
// reads the same bytes without a copy of its own.
using PointBlock = std::shared_ptr<const std::string>;

// The bytes of a block, empty for none.
inline const std::string& pointBytesOf(const PointBlock& block) {
    static const std::string kNone;
    return block ? *block : kNone;
}

// A wake-up call for the workers waiting for a frame, each for its own flag.
// A waiter still looks at its flag by itself at least every poll period (and
// at its stop request then).
class FrameBell {
public:
    void ring() {
        // Taking the lock orders the ring after a waiter's look at its flag.
        { std::lock_guard<std::mutex> lock(mutex_); }
        cond_.notify_all();
    }

    // Waits until ready() holds or the instant passes.
    template <class Ready>
    void waitUntil(std::chrono::steady_clock::time_point when, Ready ready) {
        std::unique_lock<std::mutex> lock(mutex_);
        cond_.wait_until(lock, when, ready);
    }

private:
    std::mutex mutex_;
    std::condition_variable cond_;
};

struct ViewFrames {
    std::mutex m_pointMutex;
    // The newest block. A view takes a reference under the lock, reads it
    // after, and drops it under the lock again (releasePoints): the
    // distributor fills again only a block nobody holds, which it tells under
    // the same lock.
    PointBlock m_pointData;
    std::atomic<int32_t> m_pointNew{0};
    // Rung by the distributor after it raises m_pointNew (and the 3D view's
    // flag), so the views start on a frame at once instead of at their next look.
    FrameBell m_pointBell;

    std::mutex m_objMutex;
    std::array<ObjRecord, kMaxObjRecords> m_objBuf{};
    int32_t m_objCount = 0;
    std::atomic<int32_t> m_objNew{0};

    std::mutex m_areaMutex;
    AreaBlock m_areas{};
    // The areas of the newest frame from the device, whether it was drawn or
    // not, and whether one has come at all: a recording played back is drawn
    // within them.
    AreaBlock m_liveAreas{};
    bool m_haveLiveAreas = false;

    // While a recording plays back its records take the views and the live
    // frames are dropped (the receiver goes on). Raised and lowered under
    // m_publishMutex, which every hand-off of a frame to the views holds, so
    // no live frame lands after the first record or a record after the end.
    std::mutex m_publishMutex;
    std::atomic<bool> m_replaying{false};

    // Drops a view's reference to a block (see m_pointData).
    void releasePoints(PointBlock& block) {
        std::lock_guard<std::mutex> lock(m_pointMutex);
        block.reset();
    }

    // Raised when the main dialog goes away: its workers end.
    StopFlag stop;

    // Raises stop and wakes the views waiting for a frame, which see it at once
    // rather than at their next look.
    void stopWorkers() {
        stop.request();
        m_pointBell.ring();
    }
};
