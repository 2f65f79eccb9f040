#include "core/FrameDistributor.h"

#include <algorithm>
#include <chrono>

#include "core/Flags.h"
#include "core/SharedState.h"
#include "core/ThreadName.h"
#include "core/Trace.h"
#include "core/ViewFrames.h"

namespace {
// How often a waiting distributor looks at its stop request.
constexpr std::chrono::milliseconds kStopPollInterval{50};
}  // namespace

void RunFrameDistributor(SharedState& state, ViewFrames& frames) {
    nameThisThread("kest-frames");
    // The blocks handed to the views. One that only the pool still holds is
    // filled again, so a steady stream allocates no new block.
    std::vector<std::shared_ptr<std::string>> pool;
    auto freeBlock = [&]() -> std::shared_ptr<std::string> {
        std::lock_guard<std::mutex> lock(frames.m_pointMutex);
        for (const auto& block : pool)
            if (block.use_count() == 1) return block;
        pool.push_back(std::make_shared<std::string>());
        return pool.back();
    };
    std::array<ObjRecord, kMaxObjRecords> objects{};
    AreaBlock areas{};

    while (!frames.stop.requested()) {
        int32_t n = 0;
        const std::shared_ptr<std::string> block = freeBlock();
        {
            std::unique_lock<std::mutex> lock(state.frameMutex);
            if (!state.frameCond.wait_for(lock, kStopPollInterval,
                                          [&] { return state.frameReady; }))
                continue;
            // The receiver gets the block's old buffer back to fill next.
            block->swap(state.pointData);
            // The copies hold 10 records: keep the first ones of a larger frame.
            n = std::clamp<int32_t>(state.objCount, 0, kMaxObjRecords);
            n = std::min<int32_t>(n, static_cast<int32_t>(state.objects.size()));
            std::copy_n(state.objects.begin(), n, objects.begin());
            areas = state.areas;
            state.frameReady = false;
        }
        {
            std::lock_guard<std::mutex> lock(frames.m_areaMutex);
            frames.m_liveAreas = areas;
            frames.m_haveLiveAreas = true;
        }
        PublishFrame(frames, FrameSource::Live, block, objects.data(), n, areas);
        tracef("all area[%.02f,%.02f] [%.02f,%.02f]\n", static_cast<double>(areas[0]),
               static_cast<double>(areas[1]), static_cast<double>(areas[2]),
               static_cast<double>(areas[3]));
    }
}

bool PublishFrame(ViewFrames& frames, FrameSource source, const PointBlock& points,
                  const ObjRecord* objects, int32_t count, const AreaBlock& areas) {
    std::lock_guard<std::mutex> publishing(frames.m_publishMutex);
    if (source == FrameSource::Live && frames.m_replaying.load()) return false;
    const int32_t n = std::clamp<int32_t>(count, 0, kMaxObjRecords);
    {
        std::lock_guard<std::mutex> lock(frames.m_pointMutex);
        frames.m_pointData = points;
    }
    {
        std::lock_guard<std::mutex> lock(frames.m_objMutex);
        frames.m_objCount = n;
        if (n > 0) {
            std::copy_n(objects, n, frames.m_objBuf.begin());
            frames.m_objNew = 1;
        }
    }
    {
        std::lock_guard<std::mutex> lock(frames.m_areaMutex);
        frames.m_areas = areas;
    }
    frames.m_pointNew = 1;
    g_pointFrameNew = 1;
    frames.m_pointBell.ring();
    return true;
}
