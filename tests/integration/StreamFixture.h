// The tool's receiving side as a login leaves it, for tests that play the
// device: the shell's waits shortened, the login's steps, and the frame the
// receiver stored last.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "TraceCapture.h"
#include "core/SharedState.h"
#include "core/Timing.h"

// The contents of one point frame.
struct FrameData {
    std::vector<uint8_t> points;
    std::vector<ObjRecord> objects;
    AreaBlock areas{};
};

class StreamFixture : public ::testing::Test {
protected:
    StreamFixture() {
        shellTiming().streamReconnectWaitMs = 20;
        shellTiming().streamReceiveTimeoutMs = 5000;
    }

    // What the login dialog does: open and connect. The dialog then sets the
    // socket options once more under streamMutex; ConnectStream has already
    // set them, and the receiver holds that lock while it waits in a read, so
    // a device that falls silent after one frame would stall the test there
    // for the whole receive time-out.
    bool login(const std::string& ip) {
        state->OpenStream(ip);
        return state->ConnectStream();
    }

    // Takes the next stored frame as the distributor would.
    bool takeFrame(FrameData& out) {
        std::unique_lock<std::mutex> lock(state->frameMutex);
        if (!state->frameCond.wait_for(lock, std::chrono::seconds(5),
                                       [&] { return state->frameReady; }))
            return false;
        out.points.assign(state->pointData.begin(), state->pointData.end());
        out.objects = state->objects;
        out.areas = state->areas;
        EXPECT_EQ(state->objCount, static_cast<int32_t>(state->objects.size()));
        state->frameReady = false;
        return true;
    }

    bool frameWaiting() {
        std::lock_guard<std::mutex> lock(state->frameMutex);
        return state->frameReady;
    }

    TraceCapture trace;  // outlives the receiver, which writes into it
    std::unique_ptr<SharedState> state = std::make_unique<SharedState>();
};
