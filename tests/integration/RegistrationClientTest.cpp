// A whole registration run against the simulated registration server and
// against fake servers that misbehave: the requests on the wire, the point
// set handed to the dialog, the 180-byte result, and every failure line.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "LoopbackListener.h"
#include "LoopbackSocket.h"
#include "RegistrationScene.h"
#include "RegistrationServer.h"
#include "TraceCapture.h"
#include "core/Timing.h"
#include "registration/RegistrationRun.h"
#include "registration/RegistrationTiming.h"
#include "registration/RegistrationWire.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
constexpr auto kWait = 10000ms;

// What the stand-in dialog saw, and what it answers.
struct DialogScript {
    std::mutex mutex;
    int calls = 0;
    int width = -1, height = -1;
    std::vector<RegPoint> points;
    bool ok = true;
    RegMatrix matrix = FactoryRegMatrix();
    RegAreaSet areas{};
    std::function<void()> whileOpen;  // runs while the dialog is "open"

    RegDialogRunner runner() {
        return [this](std::vector<RegPoint> p, int w, int h) {
            if (whileOpen) whileOpen();
            std::lock_guard<std::mutex> lock(mutex);
            ++calls;
            width = w, height = h;
            points = std::move(p);
            return RegDialogOutcome{ok, matrix, areas};
        };
    }
    int callCount() {
        std::lock_guard<std::mutex> lock(mutex);
        return calls;
    }
};

class Registration : public ::testing::Test {
protected:
    void SetUp() override {
        auto& t = registrationTiming();
        t.pollMs = 20;
        t.reconnectWaitMs = 50;
        t.resultSettleMs = 10;
        shellTiming().streamReceiveTimeoutMs = 300;
    }
    void TearDown() override {
        service.StopAndWait();
        auto& t = registrationTiming();
        t.pollMs = 2000;
        t.reconnectWaitMs = 5000;
        t.resultSettleMs = 3000;
        shellTiming().streamReceiveTimeoutMs = 50000;
    }
    bool start(const std::string& address) {
        return service.Start([address] { return address; }, dialog.runner());
    }
    bool waitForEnd() { return service.WaitIdle(kWait) && !service.registrationRunning.load(); }
    static RegistrationServerOptions small(const char* address) {
        RegistrationServerOptions o;
        o.address = address;
        o.width = 64;
        o.height = 48;
        return o;
    }

    TraceCapture trace;
    DialogScript dialog;
    RegistrationService service;
};

TEST_F(Registration, ZeroAnswersThenPointsThenResult) {
    auto options = small("127.0.9.1");
    options.zeroAnswers = 2;
    RegistrationServer server(options);
    ASSERT_TRUE(server.start());
    dialog.areas[0] = {-0.38f, -0.70f, 0.38f, 0.70f};
    dialog.areas[3] = {-0.38f, -0.38f, 0.38f, 0.38f};
    dialog.matrix.m23() = 2.75f;
    // The client keeps polling with state 0 while the dialog is open.
    dialog.whileOpen = [&] {
        EXPECT_TRUE(server.waitFor(
            [&] {
                const auto r = server.requests();
                return !r.empty() && r.back() == 0;
            },
            kWait));
    };
    ASSERT_TRUE(start("127.0.9.1"));
    EXPECT_FALSE(start("127.0.9.1"));  // one run at a time
    ASSERT_TRUE(server.waitFor([&] { return !server.results().empty(); }, kWait));
    ASSERT_TRUE(waitForEnd());

    const std::vector<uint32_t> requests = server.requests();
    ASSERT_GE(requests.size(), 4u);
    EXPECT_EQ(requests[0], 1u);
    EXPECT_EQ(requests[1], 1u);
    EXPECT_EQ(requests[2], 1u);  // answered 1 at last
    EXPECT_EQ(requests[3], 0u);
    EXPECT_EQ(server.pointSetsSent(), 1);
    EXPECT_EQ(dialog.width, 64);
    EXPECT_EQ(dialog.height, 48);
    ASSERT_EQ(dialog.points.size(), 64u * 48u);
    const std::vector<RegPoint> scene = regscene::makePoints(64, 48, 1);
    EXPECT_EQ(dialog.points.back().z, scene.back().z);

    const auto results = server.results();
    ASSERT_EQ(results.size(), 1u);
    EXPECT_EQ(results[0].code, 2u);
    EXPECT_EQ(results[0].matrix, dialog.matrix);
    EXPECT_EQ(results[0].areas, dialog.areas);
    EXPECT_EQ(results[0].areas[kRegReserved], RegRect{});
    const std::string out = trace.out();
    EXPECT_NE(out.find("链接配准服务器：[127.0.9.1][38972]成功！\n"), std::string::npos);
    EXPECT_NE(out.find("发送配准结果完成！\n"), std::string::npos);
    // A new run works afterwards, with a point set of its own.
    ASSERT_TRUE(start("127.0.9.1"));
    ASSERT_TRUE(server.waitFor([&] { return server.results().size() == 2; }, kWait));
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(server.pointSetsSent(), 2);
    EXPECT_EQ(dialog.callCount(), 2);
}

TEST_F(Registration, ShortPointSetLeavesZeroPoints) {
    auto options = small("127.0.9.2");
    options.shortPoints = 10;
    RegistrationServer server(options);
    ASSERT_TRUE(server.start());
    dialog.ok = false;  // cancelled: nothing is sent back
    ASSERT_TRUE(start("127.0.9.2"));
    ASSERT_TRUE(waitForEnd());
    ASSERT_EQ(dialog.points.size(), 64u * 48u);
    const std::vector<RegPoint> scene = regscene::makePoints(64, 48, 1);
    EXPECT_EQ(dialog.points[9].z, scene[9].z);
    EXPECT_NE(dialog.points[9].z, 0.0f);
    for (size_t i = 10; i < dialog.points.size(); ++i)
        ASSERT_TRUE(dialog.points[i].x == 0 && dialog.points[i].y == 0 && dialog.points[i].z == 0)
            << i;
    EXPECT_TRUE(server.results().empty());
    EXPECT_EQ(trace.out().find("发送配准结果"), std::string::npos);
}

TEST_F(Registration, FailuresEndTheRunWithTheirLine) {
    struct Case {
        const char* address;
        bool silent, drop;
        const char* line;
    };
    const Case cases[] = {
        {"127.0.9.3", true, false, "接收配准数据请求失败!\n"},
        {"127.0.9.4", false, true, "接收pdata失败!\n"},
    };
    for (const Case& c : cases) {
        trace.clear();
        auto options = small(c.address);
        options.silent = c.silent;
        options.dropInPoints = c.drop;
        RegistrationServer server(options);
        ASSERT_TRUE(server.start());
        ASSERT_TRUE(start(c.address));
        ASSERT_TRUE(waitForEnd()) << c.line;
        EXPECT_NE(trace.out().find(c.line), std::string::npos) << trace.out();
        EXPECT_NE(trace.out().find("registration ended: no point data"), std::string::npos);
        EXPECT_EQ(dialog.callCount(), 0);
        EXPECT_EQ(server.connectionsAccepted(), 1);  // no reconnection after the failure
    }
}

// A fake server that answers the first request with reply, then the given
// bytes, and keeps the connection open.
TEST_F(Registration, ImplausibleHeadersAreRefusedWithoutAllocating) {
    struct Case {
        const char* address;
        RegPointHeader header;
    };
    const Case cases[] = {
        {"127.0.9.5", {640, 480, -12}},
        {"127.0.9.6", {0xFFFFFFFFu, 0xFFFFFFFFu, 12}},
        {"127.0.9.7", {640, 480, 0x7FFFFFFF}},
    };
    for (const Case& c : cases) {
        trace.clear();
        LoopbackListener fake([&](int, int fd) {
            if (loopback::receive(fd, 4, 5000).size() != 4) return false;
            Bytes bytes;
            const auto reply = EncodeRegReply(1);
            const auto header = EncodeRegPointHeader(c.header);
            bytes.insert(bytes.end(), reply.begin(), reply.end());
            bytes.insert(bytes.end(), header.begin(), header.end());
            return loopback::sendAll(fd, bytes);
        });
        ASSERT_TRUE(fake.start(c.address, kRegistrationPort));
        ASSERT_TRUE(start(c.address));
        ASSERT_TRUE(waitForEnd());
        EXPECT_NE(trace.out().find("接收sRegPointdata失败!\n"), std::string::npos) << trace.out();
        EXPECT_EQ(dialog.callCount(), 0);
    }
}

// Zero-sized point sets and answers other than 0 and 1.
TEST_F(Registration, OtherAnswersAndEmptySets) {
    std::atomic<int> requestsSeen{0};
    std::vector<uint32_t> states;
    std::mutex statesMutex;
    LoopbackListener fake([&](int, int fd) {
        // Answer 7 (nothing follows), then a 0 x 480 point set, then 0s.
        for (int i = 0; i < 4; ++i) {
            const Bytes req = loopback::receive(fd, 4, 5000);
            if (req.size() != 4) return false;
            {
                std::lock_guard<std::mutex> lock(statesMutex);
                states.push_back(DecodeRegRequest(req.data()));
            }
            ++requestsSeen;
            Bytes bytes;
            const auto reply = EncodeRegReply(i == 0 ? 7 : i == 1 ? 1 : 0);
            bytes.insert(bytes.end(), reply.begin(), reply.end());
            if (i == 1) {
                const auto header = EncodeRegPointHeader({0, 480, 0});
                bytes.insert(bytes.end(), header.begin(), header.end());
            }
            if (!loopback::sendAll(fd, bytes)) return false;
        }
        return true;
    });
    ASSERT_TRUE(fake.start("127.0.9.8", kRegistrationPort));
    dialog.ok = false;
    ASSERT_TRUE(start("127.0.9.8"));
    ASSERT_TRUE(waitForEnd());
    EXPECT_EQ(dialog.callCount(), 1);
    EXPECT_EQ(dialog.width, 0);
    EXPECT_TRUE(dialog.points.empty());
    std::lock_guard<std::mutex> lock(statesMutex);
    ASSERT_GE(states.size(), 2u);
    // After answer 7 the client polls with 0; a point set sent then is still taken.
    EXPECT_EQ(states[0], 1u);
    EXPECT_EQ(states[1], 0u);
}

TEST_F(Registration, UnreachableServerIsRetriedUntilStopped) {
    ASSERT_TRUE(start("127.0.9.9"));
    EXPECT_TRUE(trace.waitFor("链接配准服务器:[127.0.9.9][38972]失败!\n"));
    EXPECT_FALSE(service.WaitIdle(200ms));  // still retrying
    EXPECT_TRUE(service.registrationRunning.load());
    service.StopAndWait();
    EXPECT_FALSE(service.registrationRunning.load());
    EXPECT_GE(trace.count("失败!\n"), 2);
}

TEST(RegistrationScene, FloorWallsAndPersonThroughTheFactoryMatrix) {
    const int w = 640, h = 480;
    const std::vector<RegPoint> raw = regscene::makePoints(w, h, 1);
    std::vector<RegPoint> floor;
    TransformPoints(FactoryRegMatrix(), raw, floor);
    ASSERT_EQ(floor.size(), static_cast<size_t>(w * h));
    int onFloor = 0;
    float highest = 0;
    for (const RegPoint& p : floor) {
        onFloor += std::fabs(p.z) < 0.01f ? 1 : 0;
        highest = std::max(highest, p.z);
    }
    EXPECT_GT(onFloor, w * h * 3 / 4);
    EXPECT_NEAR(highest, regscene::kPersonHeight, 0.01f);
    // The depth seen by the camera: about its height above the floor.
    EXPECT_NEAR(raw[0].z, 2.68f, 0.1f);
    // A wall point (x 0.5, y 0) stands 1 m high.
    const int row =
        static_cast<int>((0.5f - regscene::kXMin) / (regscene::kXMax - regscene::kXMin) * (h - 1));
    const int col = (w - 1) / 2;
    EXPECT_NEAR(floor[static_cast<size_t>(row) * w + col].z, 1.0f, 0.01f);
}

}  // namespace
