// The algorithm object display's viewer against the simulated algorithm
// server and against fake servers: pictures shown, faulty pictures skipped
// without losing step, stop, reconnection, and the access code.
#include <gtest/gtest.h>

#include <mutex>
#include <opencv2/core.hpp>
#include <thread>

#include "AlgorithmServer.h"
#include "LoopbackListener.h"
#include "TraceCapture.h"
#include "algview/AlgViewer.h"
#include "core/ByteOrder.h"
#include "core/StopFlag.h"
#include "core/Timing.h"

namespace {

using namespace std::chrono_literals;

constexpr uint64_t kSeed = 9;

// Remembers every picture shown.
class RecordingWindow : public PictureWindow {
public:
    void show(const cv::Mat& picture) override {
        std::lock_guard<std::mutex> lock(mutex_);
        shown_.push_back(picture.clone());
    }
    std::vector<cv::Mat> shown() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return shown_;
    }
    size_t count() const { return shown().size(); }

private:
    mutable std::mutex mutex_;
    std::vector<cv::Mat> shown_;
};

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// One viewer run on a thread of the test.
class ViewerRun {
public:
    explicit ViewerRun(const std::string& ip) {
        control.m_algShowRunning = true;
        thread_ = std::thread([this, ip] { RunAlgViewer(control, ip, window, teardown_); });
    }
    bool join(std::chrono::milliseconds timeout = 10s) {
        const bool ended = waitUntil([this] { return !control.m_algShowRunning; }, timeout);
        if (!ended) teardown_.request();
        if (thread_.joinable()) thread_.join();
        return ended;
    }
    ~ViewerRun() { join(0ms); }

    AlgViewControl control;
    RecordingWindow window;

private:
    StopFlag teardown_;
    std::thread thread_;
};

class AlgViewer : public ::testing::Test {
protected:
    AlgViewer() {
        algViewTiming().reconnectWaitMs = 20;
        shellTiming().streamReceiveTimeoutMs = 3000;
    }
    static AlgorithmServerOptions options(const char* address, int badEvery) {
        AlgorithmServerOptions o;
        o.address = address;
        o.fps = 100;
        o.seed = kSeed;
        o.badEvery = badEvery;
        return o;
    }
    TraceCapture trace;
};

// The frame number a simulated picture shows, found by comparing with the scene's.
int pictureNumber(const cv::Mat& shown, int upTo) {
    std::vector<uint8_t> expected;
    for (int n = 0; n <= upTo; ++n) {
        algorithmPicture(kSeed, n, expected);
        if (std::equal(expected.begin(), expected.end(), shown.data)) return n;
    }
    return -1;
}

TEST_F(AlgViewer, ShowsThePicturesAndSkipsFaultyOnesInStep) {
    AlgorithmServer server(options("127.0.10.30", 3));
    ASSERT_TRUE(server.start());
    ViewerRun run("127.0.10.30");
    ASSERT_TRUE(waitUntil([&] { return run.window.count() >= 8; }));
    run.control.m_algShowStop = 1;
    ASSERT_TRUE(run.join());
    EXPECT_EQ(run.control.m_algShowStop.load(), 0);
    const auto shown = run.window.shown();
    // Pictures 2, 5, 8 ... were faulty: every shown one is a whole, right picture.
    int last = -1;
    for (const cv::Mat& m : shown) {
        ASSERT_EQ(m.rows, 640);
        ASSERT_EQ(m.cols, 640);
        const int n = pictureNumber(m, static_cast<int>(server.picturesSent()));
        ASSERT_GT(n, last);
        EXPECT_NE(n % 3, 2) << n;
        last = n;
    }
    EXPECT_EQ(trace.count("发送sendQuest成功！！\n"), 1);
    EXPECT_GE(trace.count("dlen = 0\n"), 1);
    EXPECT_GE(trace.count("dlen = 307200\n"), 1);
    EXPECT_GE(trace.count("不是 640×640×3，跳过此图\n"), 1);
    EXPECT_NE(trace.out().find("链接算法服务器：[127.0.10.30][10300]成功！\n"), std::string::npos);
    const std::string ending = "算法服务器断开连接";  // the one line without a line end
    EXPECT_EQ(trace.out().substr(trace.out().size() - ending.size()), ending);
}

TEST_F(AlgViewer, ReconnectsAndAsksAgainAfterALostLink) {
    AlgorithmServer server(options("127.0.10.31", 0));
    ASSERT_TRUE(server.start());
    ViewerRun run("127.0.10.31");
    ASSERT_TRUE(waitUntil([&] { return run.window.count() >= 2; }));
    server.dropClients();
    ASSERT_TRUE(trace.waitFor("接收dlen失败\n"));
    ASSERT_TRUE(waitUntil([&] { return trace.count("发送sendQuest成功！！\n") == 2; }));
    const size_t before = run.window.count();
    ASSERT_TRUE(waitUntil([&] { return run.window.count() > before; }));
    run.control.m_algShowStop = 1;
    EXPECT_TRUE(run.join());
}

TEST_F(AlgViewer, BadLengthsNeverShowPastTheirBytes) {
    // A device that sends a huge length, then (after the reconnection) a short
    // picture, an empty one and a right one whose bytes are all 0x5A.
    std::vector<uint8_t> huge(4), shortOne(4 + 1000, 0x11), empty(4), right(4 + kAlgObjBytes, 0x5A);
    writeI32le(huge.data(), 0x7FFFFFF0);
    writeI32le(shortOne.data(), 1000);
    writeI32le(empty.data(), -3);
    writeI32le(right.data(), kAlgObjBytes);
    LoopbackListener device([&](int k, int fd) {
        if (loopback::receive(fd, 4, 2000).size() != 4) return false;
        if (k == 0) return loopback::sendAll(fd, huge);
        std::vector<uint8_t> all = shortOne;
        all.insert(all.end(), empty.begin(), empty.end());
        all.insert(all.end(), right.begin(), right.end());
        return loopback::sendAll(fd, all);
    });
    ASSERT_TRUE(device.start("127.0.10.32", kAlgServerPort));
    ViewerRun run("127.0.10.32");
    ASSERT_TRUE(waitUntil([&] { return run.window.count() == 1; }));
    run.control.m_algShowStop = 1;
    device.closeClients();  // the viewer waits for the next picture otherwise
    EXPECT_TRUE(run.join());
    const cv::Mat shown = run.window.shown()[0];
    EXPECT_EQ(cv::countNonZero(shown.reshape(1) != 0x5A), 0);
    EXPECT_NE(trace.out().find("dlen = 2147483632 超出范围，重新连接\n"), std::string::npos);
    EXPECT_NE(trace.out().find("dlen = 1000 不是"), std::string::npos);
    EXPECT_NE(trace.out().find("dlen = -3\n"), std::string::npos);
    EXPECT_EQ(device.acceptedCount(), 2);
}

TEST_F(AlgViewer, StopDuringReconnectionEndsTheViewer) {
    AlgorithmServer server(options("127.0.10.33", 0));
    ASSERT_TRUE(server.start());
    ViewerRun run("127.0.10.33");
    ASSERT_TRUE(waitUntil([&] { return run.window.count() >= 1; }));
    server.stop();
    ASSERT_TRUE(trace.waitFor("链接算法服务器:[127.0.10.33][10300]失败!\n"));
    run.control.m_algShowStop = 1;
    EXPECT_TRUE(run.join());
}

TEST(AlgShowAccess, OnlyTheExactCodeOpensTheDisplay) {
    const struct {
        const char* value;
        bool granted;
    } cases[] = {{"pqe713", true}, {"error", false},  {"", false},        {"pqe7133", false},
                 {"pqe71", false}, {"PQE713", false}, {"pqe713 ", false}, {"pqe71\0", false}};
    for (const auto& c : cases) EXPECT_EQ(AlgShowAccessGranted(c.value), c.granted) << c.value;
    EXPECT_FALSE(AlgShowAccessGranted(std::string("pqe71\0", 6)));
}

}  // namespace
