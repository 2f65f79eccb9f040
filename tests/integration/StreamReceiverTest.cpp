// The stream receiver against scripted devices: frames handed over, broken
// headers skipped, impossible lengths dropped through the error path, and
// reconnection. Waits are shortened through the shell's timing seam.
#include <gtest/gtest.h>

#include <cctype>
#include <chrono>
#include <memory>

#include "FakeStreamServer.h"
#include "TraceCapture.h"
#include "core/SharedState.h"
#include "core/Timing.h"
#include "stream/StreamFrame.h"

namespace {

using namespace std::chrono_literals;

struct TestFrame {
    std::vector<uint8_t> points;
    std::vector<ObjRecord> objects;
    AreaBlock areas{};

    std::vector<uint8_t> bytes() const {
        std::vector<uint8_t> out;
        appendPointFrame(out, points.data(), points.size(), objects.data(),
                         static_cast<int>(objects.size()), areas);
        return out;
    }
};

TestFrame frameA() {
    TestFrame f;
    f.points.assign(24, 0x11);
    ObjRecord person;
    person.index = 1;
    person.kind = 0;
    person.area = 3;
    person.value = 1.75f;
    person.x1 = 0.1f, person.y1 = -0.2f, person.x2 = 0.3f, person.y2 = 0.2f;
    ObjRecord bag;
    bag.kind = -1;
    bag.value = 0.02f;
    bag.x1 = -0.125f, bag.y1 = 0.5f, bag.x2 = 0.0f, bag.y2 = 0.625f;
    f.objects = {person, bag};
    f.areas[0] = -0.38f;
    f.areas[27] = 9.0f;
    return f;
}

TestFrame frameB() {
    TestFrame f;
    f.points.assign(12, 0x22);
    f.areas[0] = -0.5f;
    return f;
}

// The line holding needle starts with "[yyyy-mm-dd hh:mm:ss_mmm".
bool timestampBefore(const std::string& text, const std::string& needle) {
    const std::string pattern = "[dddd-dd-dd dd:dd:dd_ddd";
    const size_t at = text.find(needle);
    if (at == std::string::npos || at < pattern.size()) return false;
    const size_t start = at - pattern.size();
    if (start > 0 && text[start - 1] != '\n') return false;
    for (size_t i = 0; i < pattern.size(); ++i) {
        const char c = text[start + i];
        if (pattern[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(c)) : c != pattern[i])
            return false;
    }
    return true;
}

class Receiver : public ::testing::Test {
protected:
    Receiver() {
        shellTiming().streamReconnectWaitMs = 20;
        shellTiming().streamReceiveTimeoutMs = 5000;
    }

    // What the login dialog does: open, connect, set the socket options.
    bool login(const std::string& ip) {
        state->OpenStream(ip);
        if (!state->ConnectStream()) return false;
        std::lock_guard<std::mutex> lock(state->streamMutex);
        state->stream->SetStreamOptions();
        return true;
    }

    // Takes the next stored frame as the distributor would.
    bool takeFrame(TestFrame& out, std::chrono::milliseconds timeout = 5000ms) {
        std::unique_lock<std::mutex> lock(state->frameMutex);
        if (!state->frameCond.wait_for(lock, timeout, [&] { return state->frameReady; }))
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

    static void expectSame(const TestFrame& got, const TestFrame& want) {
        EXPECT_EQ(got.points, want.points);
        ASSERT_EQ(got.objects.size(), want.objects.size());
        for (size_t i = 0; i < got.objects.size(); ++i) {
            EXPECT_EQ(got.objects[i].kind, want.objects[i].kind);
            EXPECT_EQ(got.objects[i].value, want.objects[i].value);
            EXPECT_EQ(got.objects[i].y2, want.objects[i].y2);
        }
        EXPECT_EQ(got.areas, want.areas);
    }

    TraceCapture trace;  // outlives the receiver, which writes into it
    std::unique_ptr<SharedState> state = std::make_unique<SharedState>();
};

TEST_F(Receiver, HandsOverEachFrameAndTracesIt) {
    FakeStreamServer server("127.0.2.10", [](int, FakeStreamConnection& c) {
        c.send(frameA().bytes());
        return true;
    });
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(login("127.0.2.10"));
    TestFrame got;
    ASSERT_TRUE(takeFrame(got));
    expectSame(got, frameA());
    const std::string out = trace.out();
    EXPECT_NE(out.find("tHead-datalen = 208\npointLen = 24\n["), std::string::npos) << out;
    EXPECT_TRUE(timestampBefore(out, "] objnum = 2\n")) << out;
    EXPECT_NE(out.find("] objnum = 2\n[0.000000 1.750000][0.10 0.30 -0.20 0.20 ]\n"
                       "[-1.000000 0.020000][-0.12 0.00 0.50 0.62 ]\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("recv error!!!"), std::string::npos);
}

TEST_F(Receiver, OnlyTheLatestFrameSurvivesAndNoObjectsMeansAreasRightAfterTheCount) {
    FakeStreamServer server("127.0.2.11", [](int, FakeStreamConnection& c) {
        std::vector<uint8_t> bytes = frameA().bytes();
        const std::vector<uint8_t> b = frameB().bytes();
        bytes.insert(bytes.end(), b.begin(), b.end());
        c.send(bytes);
        return true;
    });
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(login("127.0.2.11"));
    {
        // Both frames stored: the second has no objects.
        std::unique_lock<std::mutex> lock(state->frameMutex);
        ASSERT_TRUE(state->frameCond.wait_for(
            lock, 5s, [&] { return state->frameReady && state->objCount == 0; }));
    }
    TestFrame got;
    ASSERT_TRUE(takeFrame(got));
    // The second frame replaced the first before anyone took it.
    expectSame(got, frameB());
    EXPECT_FALSE(frameWaiting());
}

TEST_F(Receiver, BadMarkersAndOtherTypesAreSkippedHeaderByHeader) {
    FakeStreamServer server("127.0.2.12", [](int, FakeStreamConnection& c) {
        std::vector<uint8_t> bytes;
        for (const auto& h : {headerBytes(0x1234, 1, 7, kStreamEndMarker),
                              headerBytes(kStreamFrontMarker, 1, 8, 0xCCDE),
                              headerBytes(kStreamFrontMarker, 0, 9, kStreamEndMarker),
                              headerBytes(kStreamFrontMarker, 2, 10, kStreamEndMarker)})
            bytes.insert(bytes.end(), h.begin(), h.end());
        const std::vector<uint8_t> a = frameA().bytes();
        bytes.insert(bytes.end(), a.begin(), a.end());
        c.send(bytes);
        return true;
    });
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(login("127.0.2.12"));
    TestFrame got;
    ASSERT_TRUE(takeFrame(got));
    expectSame(got, frameA());
    const std::string out = trace.out();
    EXPECT_NE(out.find("tHead-datalen = 7\ntHead.fron = 1234, Head.end = CCDD\n"
                       "tHead-datalen = 8\ntHead.fron = AABB, Head.end = CCDE\n"
                       "tHead-datalen = 9\ntHead-datalen = 10\ntHead-datalen = 208\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("recv error!!!"), std::string::npos);
    EXPECT_EQ(server.connections(), 1);
}

// Frames no device sends: the connection is dropped before anything is
// allocated for them, and the receiver reconnects.
struct BadFrame {
    const char* name;
    int32_t pointLen;
    int32_t objnum;
    const char* traced;
    int host;  // own address per case: the cases run in parallel
};

class ImpossibleFrame : public Receiver, public ::testing::WithParamInterface<BadFrame> {};

TEST_P(ImpossibleFrame, GoesThroughTheErrorPathAndTheNextConnectionDelivers) {
    const BadFrame bad = GetParam();
    const std::string ip = "127.0.2." + std::to_string(bad.host);
    FakeStreamServer server(ip, [bad](int n, FakeStreamConnection& c) {
        if (n == 0) {
            std::vector<uint8_t> bytes = frameA().bytes();
            const auto h = headerBytes(kStreamFrontMarker, 1, 0, kStreamEndMarker);
            bytes.insert(bytes.end(), h.begin(), h.end());
            const auto len = int32Bytes(bad.pointLen);
            bytes.insert(bytes.end(), len.begin(), len.end());
            if (bad.pointLen >= 0 && bad.pointLen <= 48) {
                bytes.insert(bytes.end(), static_cast<size_t>(bad.pointLen), 0x33);
                const auto count = int32Bytes(bad.objnum);
                bytes.insert(bytes.end(), count.begin(), count.end());
            }
            // Plenty of bytes after it, as a confused device would send.
            bytes.insert(bytes.end(), 4096, 0x44);
            c.send(bytes);
            return true;
        }
        c.send(frameB().bytes());
        return true;
    });
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(login(ip));
    TestFrame got;
    ASSERT_TRUE(takeFrame(got));
    expectSame(got, frameA());
    ASSERT_TRUE(server.waitForConnections(2, 5000ms));
    ASSERT_TRUE(takeFrame(got));
    expectSame(got, frameB());
    const std::string out = trace.out();
    const size_t tracedAt = out.find(bad.traced);
    ASSERT_NE(tracedAt, std::string::npos) << out;
    EXPECT_EQ(out.find("recv error!!!\n"), out.find("\n", tracedAt) + 1) << out;
    EXPECT_NE(out.find("连接服务器失败!\nconnect success!!!!\n"), std::string::npos) << out;
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, ImpossibleFrame,
    ::testing::Values(BadFrame{"NegativePointLen", -1, 0, "pointLen = -1\n", 20},
                      BadFrame{"PointLenAbove16MiB", 16 * 1024 * 1024 + 1, 0,
                               "pointLen = 16777217\n", 21},
                      BadFrame{"HugePointLen", 0x7FFFFFFF, 0, "pointLen = 2147483647\n", 22},
                      BadFrame{"ElevenObjects", 12, 11, "] objnum = 11\n", 23},
                      BadFrame{"NegativeObjects", 0, -1, "] objnum = -1\n", 24}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(Receiver, FrameCutOffByTheDeviceIsNotHandedOn) {
    FakeStreamServer server("127.0.2.13", [](int n, FakeStreamConnection& c) {
        if (n > 0) return true;
        std::vector<uint8_t> bytes = frameA().bytes();
        const std::vector<uint8_t> b = frameB().bytes();
        bytes.insert(bytes.end(), b.begin(), b.begin() + 30);
        c.send(bytes);
        return false;  // closes mid-frame
    });
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(login("127.0.2.13"));
    TestFrame got;
    ASSERT_TRUE(takeFrame(got));
    ASSERT_TRUE(trace.waitFor("recv error!!!\n"));
    ASSERT_TRUE(server.waitForConnections(2, 5000ms));
    ASSERT_TRUE(trace.waitFor("连接服务器失败!\nconnect success!!!!\n"));
    EXPECT_FALSE(frameWaiting());
    std::lock_guard<std::mutex> lock(state->frameMutex);
    EXPECT_EQ(state->pointData, std::string(24, '\x11'));
}

TEST_F(Receiver, WithoutALoginItOnlyWaits) {
    FakeStreamServer server("127.0.2.14", [](int, FakeStreamConnection&) { return true; });
    ASSERT_TRUE(server.start());
    state->OpenStream("127.0.2.14");
    ASSERT_TRUE(trace.waitFor("连接服务器失败!\n连接服务器失败!\n"));
    EXPECT_EQ(server.connections(), 0);
    EXPECT_EQ(state->connState.load(), -1);
}

TEST_F(Receiver, ALoginEndsTheFirstWaitAtOnce) {
    // With a wait far longer than the frame time-out below, a frame can only
    // arrive if the login wakes the receiver.
    shellTiming().streamReconnectWaitMs = 600000;
    FakeStreamServer server("127.0.2.15", [](int, FakeStreamConnection& c) {
        c.send(frameB().bytes());
        return true;
    });
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(login("127.0.2.15"));
    TestFrame got;
    ASSERT_TRUE(takeFrame(got));
    expectSame(got, frameB());
    EXPECT_EQ(trace.out().find("连接服务器失败!"), std::string::npos) << trace.out();
}

}  // namespace
