// The 3D worker: for every new stream frame it processes the dialog's copy
// of the point block into the coloured, clipped cloud and hands it to the
// view. Started once by the 3D button; ends when the dialog goes away.
#pragma once

#include <atomic>
#include <chrono>

struct ViewFrames;
struct Cloud3dShare;

// Waits of the 3D worker, in one place; tests shorten them here.
struct View3dTiming {
    std::atomic<int> startWaitMs{2000};  // before the first frame
    std::atomic<int> pollMs{30};         // looks for a new frame this often
    std::atomic<int> afterFrameMs{20};   // pause after each frame

    static std::chrono::milliseconds ms(const std::atomic<int>& v) {
        return std::chrono::milliseconds(v.load());
    }
};
View3dTiming& view3dTiming();

// Runs until g_appClosing or frames.stop.
void Run3DWorker(ViewFrames& frames, Cloud3dShare& share);
