// Faults of the stream link that were once missed: a stream shifted by a
// stray byte, a reconnect that ran over a login, and a connect to a silent
// address. Scripted devices on 127.0.11.20 to 127.0.11.39.
#include <atomic>
#include <memory>

#include "LoopbackListener.h"
#include "StreamFixture.h"
#include "stream/StreamFrame.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes pointFrame(uint8_t fill, size_t pointLen) {
    const Bytes points(pointLen, fill);
    Bytes out;
    appendPointFrame(out, points.data(), points.size(), nullptr, 0, AreaBlock{});
    return out;
}

int occurrences(const std::string& text, const std::string& needle) {
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

using StreamRepair = StreamFixture;

TEST_F(StreamRepair, StreamShiftedByAStrayByteIsBroughtBackInStepByAReconnect) {
    // The first connection: a frame, 7 stray bytes, then frames that can never
    // line up again; the connection stays open. Later ones are in step.
    LoopbackListener device([](int n, int fd) {
        if (n > 0) return loopback::sendAll(fd, pointFrame(0x22, 12));
        Bytes bytes = pointFrame(0x11, 24);
        bytes.insert(bytes.end(), 7, 0x5A);
        for (int i = 0; i < 200; ++i) {
            const Bytes f = pointFrame(0x33, 12);
            bytes.insert(bytes.end(), f.begin(), f.end());
        }
        return loopback::sendAll(fd, bytes);
    });
    ASSERT_TRUE(device.start("127.0.11.20", kStreamPort));
    ASSERT_TRUE(login("127.0.11.20"));
    FrameData got;
    ASSERT_TRUE(takeFrame(got));
    EXPECT_EQ(got.points, Bytes(24, 0x11));
    ASSERT_TRUE(takeFrame(got));
    EXPECT_EQ(got.points, Bytes(12, 0x22)) << "the stream stayed out of step";
    EXPECT_EQ(device.acceptedCount(), 2);
    const std::string out = trace.out();
    // A few bad headers, not one per 20 bytes of the rest of the stream.
    EXPECT_EQ(occurrences(out, "tHead.fron = "), 3) << out;
    EXPECT_EQ(occurrences(out, "recv error!!!\n"), 1) << out;
}

// A login that connects while the receiver is about to reconnect a lost
// stream: the receiver's trace of the failed wait is held until the login has
// connected, which is the moment the two used to collide.
TEST_F(StreamRepair, ReceiverDoesNotConnectOverAFreshLogin) {
    LoopbackListener device([](int n, int fd) {
        if (n == 0) {
            loopback::sendAll(fd, pointFrame(0x11, 12));
            return false;  // the first connection is lost after one frame
        }
        return loopback::sendAll(fd, pointFrame(0x22, 12));
    });
    ASSERT_TRUE(device.start("127.0.11.21", kStreamPort));

    struct Window {
        std::atomic<bool> armed{true};
        std::atomic<bool> entered{false};
        SharedState* state = nullptr;
        std::mutex mutex;
        std::string text;
    };
    auto window = std::make_shared<Window>();
    window->state = state.get();
    // Long enough that the receiver's own reconnect cannot come first.
    shellTiming().streamReconnectWaitMs = 200;
    setTraceSink([window](TraceStream, const std::string& line) {
        {
            std::lock_guard<std::mutex> lock(window->mutex);
            window->text += line;
        }
        if (line != "连接服务器失败!\n" || !window->armed.exchange(false)) return;
        window->entered = true;
        // The login below connects, then waits to trace behind this sink.
        for (int i = 0; i < 5000 && window->state->connState.load() != 1; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    auto traced = [&] {
        std::lock_guard<std::mutex> lock(window->mutex);
        return window->text;
    };

    ASSERT_TRUE(login("127.0.11.21"));
    FrameData got;
    ASSERT_TRUE(takeFrame(got));
    for (int i = 0; i < 5000 && !window->entered; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_TRUE(window->entered);
    ASSERT_TRUE(login("127.0.11.21"));
    ASSERT_TRUE(takeFrame(got));
    EXPECT_EQ(got.points, Bytes(12, 0x22));
    EXPECT_EQ(device.acceptedCount(), 2) << traced();
    EXPECT_EQ(traced().find("connect fail!!!!"), std::string::npos) << traced();
    EXPECT_EQ(occurrences(traced(), "recv error!!!\n"), 1) << traced();
    device.stop();  // ends the receiver's read at once
    state.reset();  // stops the receiver before the sink's state goes
    setTraceSink(nullptr);
}

TEST_F(StreamRepair, LoginToASilentAddressGivesUpAfterTheConnectTimeOut) {
    loopback::Socket filler = loopback::kNoSocket;
    const loopback::Socket listener = loopback::listenSilent("127.0.11.22", kStreamPort, filler);
    ASSERT_NE(listener, loopback::kNoSocket);
    EXPECT_EQ(shellTiming().connectTimeoutMs.load(), 21000) << "the default";
    shellTiming().connectTimeoutMs = 200;
    const auto start = std::chrono::steady_clock::now();
    const bool connected = login("127.0.11.22");
    const auto took = std::chrono::steady_clock::now() - start;
    shellTiming().connectTimeoutMs = 21000;
    EXPECT_FALSE(connected);
    EXPECT_LT(took, std::chrono::seconds(10));
    EXPECT_NE(trace.out().find("connect fail!!!!\n"), std::string::npos);
    EXPECT_EQ(state->connState.load(), -1);
    ::close(filler);
    ::close(listener);
}

}  // namespace
