// The tool's stream side against the simulated device's stream server: the
// receiver gets the scene's frames, survives the device dropping it, and the
// views render what arrives.
#include <algorithm>
#include <thread>

#include "RecordingControlSink.h"
#include "Scene.h"
#include "StreamFixture.h"
#include "StreamServer.h"
#include "core/ControlIds.h"
#include "core/FrameDistributor.h"
#include "core/ViewFrames.h"
#include "views/ReadoutWorker.h"
#include "views/TopViewWorker.h"
#include "views/ViewTiming.h"

namespace {

using namespace std::chrono_literals;

class SimStream : public StreamFixture {
protected:
    SimStream() {
        viewTiming().topViewStartWaitMs = 0;
        viewTiming().pollMs = 2;
        viewTiming().drawSettleMs = 0;
    }

    static SimOptions options(const char* address, double fps) {
        SimOptions o;
        o.address = address;
        o.fps = fps;
        o.seed = 5;
        return o;
    }

    FrameData frame;
};

TEST_F(SimStream, ReceiverGetsTheScenesFrames) {
    StreamServer server(options("127.0.2.30", 100));
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(login("127.0.2.30"));
    ASSERT_TRUE(takeFrame(frame));
    EXPECT_EQ(frame.areas, standardGateAreas());
    ASSERT_EQ(frame.points.size(), static_cast<size_t>(scene::kPointCount) * 12);
    // The points are those of one of the frames produced so far.
    const uint64_t produced = server.framesProduced();
    scene::Scene scene(5);
    scene::Frame f;
    bool found = false;
    for (uint64_t n = 0; n <= produced && !found; ++n) {
        scene.frame(n, f);
        found = std::equal(f.points.begin(), f.points.end(), frame.points.begin()) &&
                f.objects.size() == frame.objects.size();
    }
    EXPECT_TRUE(found);
}

TEST_F(SimStream, ReconnectsAfterTheDeviceDropsTheConnectionAndAfterItRestarts) {
    auto server = std::make_unique<StreamServer>(options("127.0.2.31", 50));
    ASSERT_TRUE(server->start());
    ASSERT_TRUE(login("127.0.2.31"));
    ASSERT_TRUE(takeFrame(frame));
    server->dropClients();
    ASSERT_TRUE(trace.waitFor("recv error!!!\n"));
    ASSERT_TRUE(trace.waitFor("recv error!!!\n连接服务器失败!\nconnect success!!!!\n"));
    trace.clear();
    ASSERT_TRUE(trace.waitFor("objnum = "));
    ASSERT_TRUE(takeFrame(frame));
    EXPECT_EQ(state->connState.load(), 1);
    EXPECT_EQ(frame.points.size(), static_cast<size_t>(scene::kPointCount) * 12);

    // The device goes away: connects fail until it is back.
    server->stop();
    ASSERT_TRUE(trace.waitFor("recv error!!!\n"));
    ASSERT_TRUE(trace.waitFor("connect fail!!!!\n"));
    EXPECT_EQ(state->connState.load(), 0);
    server = std::make_unique<StreamServer>(options("127.0.2.31", 50));
    ASSERT_TRUE(server->start());
    ASSERT_TRUE(trace.waitFor("connect fail!!!!\n连接服务器失败!\nconnect success!!!!\n"));
    trace.clear();
    EXPECT_TRUE(trace.waitFor("objnum = "));
}

TEST_F(SimStream, ViewsShowThePassageEndToEnd) {
    StreamServer server(options("127.0.2.33", 100));
    ASSERT_TRUE(server.start());
    ViewFrames frames;
    RecordingControlSink sink(480, 320);
    struct Workers {
        ViewFrames& frames;
        std::thread distributor, view, readout;
        ~Workers() {
            frames.stop.request();
            distributor.join();
            view.join();
            readout.join();
        }
    } workers{frames, std::thread([&] { RunFrameDistributor(*state, frames); }),
              std::thread([&] { Run2DWorker(frames, sink); }),
              std::thread([&] { RunReadoutWorker(frames, sink); })};
    ASSERT_TRUE(login("127.0.2.33"));

    EXPECT_TRUE(sink.waitForImages(ids::kView2d, 3));
    // Seed 5 sends a person through within the first 30 frames.
    EXPECT_TRUE(sink.waitForTextContaining(ids::kReadout, "[人],区域[", 10s));
    EXPECT_EQ(sink.lastImage(ids::kView2d).size(), cv::Size(480, 320));
    EXPECT_NE(trace.out().find("all area[-0.38,-0.70] [0.38,0.70]\n"), std::string::npos);
}

}  // namespace
