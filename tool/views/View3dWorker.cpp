#include "views/View3dWorker.h"

#include <chrono>
#include <string>
#include <vector>

#include "core/Flags.h"
#include "core/ThreadName.h"
#include "core/ViewFrames.h"
#include "views/Cloud3d.h"

namespace {

bool closing(const ViewFrames& frames) {
    return g_appClosing.load() || frames.stop.requested();
}

// Waits for g_pointFrameNew, looking at least every pollMs (the distributor
// rings as it raises it); false when the dialog goes away meanwhile.
bool waitForFrame(ViewFrames& frames) {
    while (g_pointFrameNew.exchange(0) == 0) {
        const auto next =
            std::chrono::steady_clock::now() + View3dTiming::ms(view3dTiming().pollMs);
        frames.m_pointBell.waitUntil(
            next, [&] { return g_pointFrameNew.load() != 0 || closing(frames); });
        if (closing(frames)) return false;
    }
    return true;
}

}  // namespace

View3dTiming& view3dTiming() {
    static View3dTiming timing;
    return timing;
}

void Run3DWorker(ViewFrames& frames, Cloud3dShare& share) {
    nameThisThread("kest-view3d");
    if (!frames.stop.sleepFor(View3dTiming::ms(view3dTiming().startWaitMs)) || closing(frames))
        return;
    // Buffers live for the whole run; after the first frames nothing is allocated.
    PointBlock points;
    AreaBlock areas{};
    std::vector<ColoredPoint> cloud;
    while (waitForFrame(frames)) {
        {
            std::lock_guard<std::mutex> lock(frames.m_pointMutex);
            points = frames.m_pointData;  // shared, not copied
        }
        {
            std::lock_guard<std::mutex> lock(frames.m_areaMutex);
            areas = frames.m_areas;
        }
        const std::string& bytes = pointBytesOf(points);
        ProcessCloud(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), areas, cloud);
        frames.releasePoints(points);  // the distributor may fill the block again
        // Every processed frame reaches the view, not only the first: the
        // view keeps up with the passage.
        {
            std::lock_guard<std::mutex> lock(share.m_3dMutex);
            share.m_3dColored.swap(cloud);
            share.m_3dNew = true;
        }
        share.m_3dPublished = true;
        ++share.framesProcessed;
        if (!frames.stop.sleepFor(View3dTiming::ms(view3dTiming().afterFrameMs)) || closing(frames))
            return;
    }
}
