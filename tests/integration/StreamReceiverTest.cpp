// The stream receiver against scripted devices: frames handed over, broken
// headers skipped, impossible lengths dropped through the error path, and
// reconnection. Waits are shortened through the shell's timing seam.
#include <regex>

#include "LoopbackListener.h"
#include "StreamFixture.h"
#include "core/ByteOrder.h"
#include "stream/StreamFrame.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytesOf(const FrameData& f) {
    Bytes out;
    appendPointFrame(out, f.points.data(), f.points.size(), f.objects.data(),
                     static_cast<int>(f.objects.size()), f.areas);
    return out;
}

Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

Bytes headerBytes(uint32_t fron, int32_t type, int32_t datalen, uint32_t end) {
    StreamHeader h;
    h.fron = fron, h.type = type, h.datalen = datalen, h.end = end;
    Bytes bytes(kStreamHeaderSize);
    encodeStreamHeader(h, bytes.data());
    return bytes;
}

Bytes int32Bytes(int32_t v) {
    Bytes bytes(4);
    writeI32le(bytes.data(), v);
    return bytes;
}

FrameData frameA() {
    FrameData f;
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

FrameData frameB() {
    FrameData f;
    f.points.assign(12, 0x22);
    f.areas[0] = -0.5f;
    return f;
}

// A device that sends bytes on every connection and keeps it open.
LoopbackListener::Script sending(const Bytes& bytes) {
    return [bytes](int, int fd) { return loopback::sendAll(fd, bytes); };
}

// The line holding needle starts with "[yyyy-mm-dd hh:mm:ss_mmm" right before it.
bool timestampBefore(const std::string& text, const std::string& needle) {
    const size_t at = text.find(needle);
    if (at == std::string::npos) return false;
    const size_t start = text.rfind('\n', at) + 1;  // npos + 1 wraps to 0: the first line
    return std::regex_match(text.substr(start, at - start),
                            std::regex(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d_\d{3})"));
}

class Receiver : public StreamFixture {
protected:
    static void expectSame(const FrameData& got, const FrameData& want) {
        EXPECT_EQ(got.points, want.points);
        ASSERT_EQ(got.objects.size(), want.objects.size());
        for (size_t i = 0; i < got.objects.size(); ++i) {
            EXPECT_EQ(got.objects[i].kind, want.objects[i].kind);
            EXPECT_EQ(got.objects[i].value, want.objects[i].value);
            EXPECT_EQ(got.objects[i].y2, want.objects[i].y2);
        }
        EXPECT_EQ(got.areas, want.areas);
    }
};

TEST_F(Receiver, HandsOverEachFrameAndTracesIt) {
    LoopbackListener device(sending(bytesOf(frameA())));
    ASSERT_TRUE(device.start("127.0.2.10", kStreamPort));
    ASSERT_TRUE(login("127.0.2.10"));
    FrameData got;
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
    LoopbackListener device(sending(cat({bytesOf(frameA()), bytesOf(frameB())})));
    ASSERT_TRUE(device.start("127.0.2.11", kStreamPort));
    ASSERT_TRUE(login("127.0.2.11"));
    {
        // Both frames stored: the second has no objects.
        std::unique_lock<std::mutex> lock(state->frameMutex);
        ASSERT_TRUE(state->frameCond.wait_for(lock, std::chrono::seconds(5), [&] {
            return state->frameReady && state->objCount == 0;
        }));
    }
    FrameData got;
    ASSERT_TRUE(takeFrame(got));
    // The second frame replaced the first before anyone took it.
    expectSame(got, frameB());
    EXPECT_FALSE(frameWaiting());
}

TEST_F(Receiver, BadMarkersAndOtherTypesAreSkippedHeaderByHeader) {
    LoopbackListener device(sending(cat(
        {headerBytes(0x1234, 1, 7, kStreamEndMarker), headerBytes(kStreamFrontMarker, 1, 8, 0xCCDE),
         headerBytes(kStreamFrontMarker, 0, 9, kStreamEndMarker),
         headerBytes(kStreamFrontMarker, 2, 10, kStreamEndMarker), bytesOf(frameA())})));
    ASSERT_TRUE(device.start("127.0.2.12", kStreamPort));
    ASSERT_TRUE(login("127.0.2.12"));
    FrameData got;
    ASSERT_TRUE(takeFrame(got));
    expectSame(got, frameA());
    const std::string out = trace.out();
    EXPECT_NE(out.find("tHead-datalen = 7\ntHead.fron = 1234, Head.end = CCDD\n"
                       "tHead-datalen = 8\ntHead.fron = AABB, Head.end = CCDE\n"
                       "tHead-datalen = 9\ntHead-datalen = 10\ntHead-datalen = 208\n"),
              std::string::npos)
        << out;
    EXPECT_EQ(out.find("recv error!!!"), std::string::npos);
    EXPECT_EQ(device.acceptedCount(), 1);
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

// Test listings show the case's name rather than its bytes.
void PrintTo(const BadFrame& frame, std::ostream* os) {
    *os << frame.name;
}

class ImpossibleFrame : public Receiver, public ::testing::WithParamInterface<BadFrame> {};

TEST_P(ImpossibleFrame, GoesThroughTheErrorPathAndTheNextConnectionDelivers) {
    const BadFrame bad = GetParam();
    const std::string ip = "127.0.2." + std::to_string(bad.host);
    LoopbackListener device([bad](int n, int fd) {
        if (n > 0) return loopback::sendAll(fd, bytesOf(frameB()));
        Bytes bytes =
            cat({bytesOf(frameA()), headerBytes(kStreamFrontMarker, 1, 0, kStreamEndMarker),
                 int32Bytes(bad.pointLen)});
        if (bad.pointLen >= 0 && bad.pointLen <= 48)
            bytes = cat(
                {bytes, Bytes(static_cast<size_t>(bad.pointLen), 0x33), int32Bytes(bad.objnum)});
        // Plenty of bytes after it, as a confused device would send.
        return loopback::sendAll(fd, cat({bytes, Bytes(4096, 0x44)}));
    });
    ASSERT_TRUE(device.start(ip, kStreamPort));
    ASSERT_TRUE(login(ip));
    FrameData got;
    ASSERT_TRUE(takeFrame(got));
    expectSame(got, frameA());
    ASSERT_TRUE(device.waitForAccepted(2));
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
    LoopbackListener device([](int n, int fd) {
        if (n > 0) return true;
        const Bytes b = bytesOf(frameB());
        loopback::sendAll(fd, cat({bytesOf(frameA()), Bytes(b.begin(), b.begin() + 30)}));
        return false;  // closes mid-frame
    });
    ASSERT_TRUE(device.start("127.0.2.13", kStreamPort));
    ASSERT_TRUE(login("127.0.2.13"));
    FrameData got;
    ASSERT_TRUE(takeFrame(got));
    ASSERT_TRUE(trace.waitFor("recv error!!!\n"));
    ASSERT_TRUE(device.waitForAccepted(2));
    ASSERT_TRUE(trace.waitFor("连接服务器失败!\nconnect success!!!!\n"));
    EXPECT_FALSE(frameWaiting());
    std::lock_guard<std::mutex> lock(state->frameMutex);
    EXPECT_EQ(state->pointData, std::string(24, '\x11'));
}

TEST_F(Receiver, WithoutALoginItOnlyWaits) {
    LoopbackListener device;
    ASSERT_TRUE(device.start("127.0.2.14", kStreamPort));
    state->OpenStream("127.0.2.14");
    ASSERT_TRUE(trace.waitFor("连接服务器失败!\n连接服务器失败!\n"));
    EXPECT_EQ(device.acceptedCount(), 0);
    EXPECT_EQ(state->connState.load(), -1);
}

TEST_F(Receiver, ALoginEndsTheFirstWaitAtOnce) {
    // With a wait far longer than the frame time-out below, a frame can only
    // arrive if the login wakes the receiver.
    shellTiming().streamReconnectWaitMs = 600000;
    LoopbackListener device(sending(bytesOf(frameB())));
    ASSERT_TRUE(device.start("127.0.2.15", kStreamPort));
    ASSERT_TRUE(login("127.0.2.15"));
    FrameData got;
    ASSERT_TRUE(takeFrame(got));
    expectSame(got, frameB());
    EXPECT_EQ(trace.out().find("连接服务器失败!"), std::string::npos) << trace.out();
}

}  // namespace
