#include "views/TopViewWorker.h"

#include <array>
#include <chrono>
#include <memory>
#include <string>

#include "core/ControlIds.h"
#include "core/ControlSink.h"
#include "core/ThreadName.h"
#include "core/Trace.h"
#include "core/ViewFrames.h"
#include "views/DrawMatToControl.h"
#include "views/TopView.h"
#include "views/ViewTiming.h"

namespace {

// Waits for m_pointNew, looking at least every pollMs; the distributor wakes
// the worker as soon as it raises the flag, so a frame costs one wake-up
// rather than a poll every 30 ms. False when stopped meanwhile.
bool waitForPoints(ViewFrames& frames) {
    while (frames.m_pointNew.exchange(0) == 0) {
        const auto next = std::chrono::steady_clock::now() + ViewTiming::ms(viewTiming().pollMs);
        frames.m_pointBell.waitUntil(
            next, [&] { return frames.m_pointNew.load() != 0 || frames.stop.requested(); });
        if (frames.stop.requested()) return false;
    }
    return true;
}

}  // namespace

void Run2DWorker(ViewFrames& frames, ControlSink& sink) {
    nameThisThread("kest-view2d");
    tracef("open 2DStream\n");
    // Buffers live for the whole run; a frame copy reuses their capacity.
    auto view = std::make_unique<TopViewImage>();
    PointBlock points;
    std::array<ObjRecord, kMaxObjRecords> objects{};
    AreaBlock areas{};
    TopViewRects rects;
    if (!frames.stop.sleepFor(ViewTiming::ms(viewTiming().topViewStartWaitMs))) return;

    while (waitForPoints(frames)) {
        {
            std::lock_guard<std::mutex> lock(frames.m_pointMutex);
            points = frames.m_pointData;  // shared, not copied
        }
        // A recording's player waits for the view to take a record before it
        // hands over the next one; live frames need no such call.
        if (frames.m_replaying.load()) frames.m_pointBell.ring();
        int n = 0;
        {
            std::lock_guard<std::mutex> lock(frames.m_objMutex);
            n = frames.m_objCount;
            if (n < 0) n = 0;
            if (n > kMaxObjRecords) n = kMaxObjRecords;
            for (int i = 0; i < n; ++i) objects[i] = frames.m_objBuf[i];
        }
        {
            std::lock_guard<std::mutex> lock(frames.m_areaMutex);
            areas = frames.m_areas;
        }
        const std::string& bytes = pointBytesOf(points);
        RenderTopView(*view, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), n,
                      objects.data(), areas, rects);
        frames.releasePoints(points);  // the distributor may fill the block again
        DrawMatToControl(view->mat(), sink, ids::kView2d);
    }
}
