// The algorithm picture viewer against the faulty device of FaultPeer on the
// algorithm server's port (10300): each fault must leave the viewer running
// with bounded memory, name what went wrong on the console, never show a
// picture made of the fault's bytes, and show the next whole picture once the
// link has recovered. Addresses 127.0.22.10 to .19.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <iostream>
#include <thread>

#include "FaultPeer.h"
#include "HeapWatch.h"
#include "ScopedTimings.h"
#include "TraceCapture.h"
#include "algview/AlgPictureHeader.h"
#include "algview/AlgViewer.h"
#include "core/StopFlag.h"

namespace {

using namespace std::chrono_literals;
using faults::Bytes;
using faults::Fault;

constexpr uint8_t kPictureFill = 0x5A;
// The viewer's own picture buffer and trace, and far below what the faults
// announce or send (16 MB frames, 8 MB of garbage).
constexpr size_t kHeapBound = 4u << 20;

Bytes frame(int32_t length, uint8_t fill) {
    const auto header = encodeAlgFrameHeader(length);
    Bytes out(header.begin(), header.end());
    out.resize(out.size() + static_cast<size_t>(std::max(length, 0)), fill);
    return out;
}

void append(Bytes& to, const Bytes& more) {
    to.insert(to.end(), more.begin(), more.end());
}

faults::LinkBytes algBytes() {
    faults::LinkBytes link;
    link.requestSize = kAlgRequestSize;
    link.valid = frame(kAlgObjBytes, kPictureFill);
    // The header and the first rows one byte at a time, then the rest.
    link.dribbleBytes = 1024;
    // Lengths that carry no picture, the largest wrong-sized frame (read and
    // skipped), a picture one byte short, then a length past any picture:
    // the viewer must leave the link there.
    for (int32_t empty : {0, -1, INT32_MIN}) append(link.outOfRange, frame(empty, 0));
    append(link.outOfRange, frame(kMaxAlgObjBytes, 0x11));
    append(link.outOfRange, frame(kAlgObjBytes - 1, 0x22));
    append(link.outOfRange, frame(kMaxAlgObjBytes + 1, 0x33));
    // Never a zero byte: every length read from it is negative (no picture)
    // or past the largest frame, so no picture can appear by chance.
    link.garbage = faults::markerRichGarbage(8u << 20, 0x12, 0x00, 20);
    return link;
}

// Counts the pictures shown and whether each was the device's whole picture.
class CheckingWindow : public PictureWindow {
public:
    void show(const cv::Mat& picture) override {
        const bool whole = picture.rows == kAlgObjSide && picture.cols == kAlgObjSide &&
                           picture.isContinuous() &&
                           std::all_of(picture.data, picture.data + picture.total() * 3,
                                       [](uint8_t b) { return b == kPictureFill; });
        (whole ? whole_ : foreign_) += 1;
    }
    std::atomic<int> whole_{0};
    std::atomic<int> foreign_{0};
};

struct AlgCase {
    Fault fault;
    const char* line;  // what the console must say about the first connection
};

const AlgCase kCases[] = {
    {Fault::CloseMidFrame, "接收pdata失败\n"},
    {Fault::ResetMidFrame, "接收pdata失败\n"},
    {Fault::GoSilent, "接收dlen失败\n"},
    {Fault::Dribble, "dlen = 1228800\n"},
    {Fault::Garbage, "超出范围，重新连接\n"},
    {Fault::OutOfRange, "dlen = 16777217 超出范围，重新连接\n"},
};

void PrintTo(const AlgCase& c, std::ostream* os) {
    *os << faults::name(c.fault);
}

std::string caseName(const ::testing::TestParamInfo<AlgCase>& info) {
    return faults::name(info.param.fault);
}

class AlgLinkFaults : public ::testing::TestWithParam<AlgCase> {
protected:
    void SetUp() override {
        savedReconnect_ = algViewTiming().reconnectWaitMs.load();
        algViewTiming().reconnectWaitMs = 20;
        shellTiming().streamReceiveTimeoutMs = 300;  // the silent device outlasts it
    }
    void TearDown() override { algViewTiming().reconnectWaitMs = savedReconnect_; }

    ScopedTimings timings_;
    TraceCapture trace_;
    int savedReconnect_ = 0;
};

TEST_P(AlgLinkFaults, ReportsTheFaultAndShowsTheNextWholePicture) {
    const AlgCase c = GetParam();
    const int index =
        static_cast<int>(std::find_if(std::begin(kCases), std::end(kCases),
                                      [&](const AlgCase& k) { return k.fault == c.fault; }) -
                         std::begin(kCases));
    const std::string ip = "127.0.22." + std::to_string(10 + index);
    LoopbackListener device(faults::faultScript(algBytes(), c.fault));
    ASSERT_TRUE(device.start(ip, kAlgServerPort));

    AlgViewControl control;
    CheckingWindow window;
    StopFlag teardown;
    size_t peak = 0;
    std::string untilPicture;  // the console until the first whole picture
    {
        HeapWatch heap;
        control.m_algShowRunning = true;
        std::thread viewer([&] { RunAlgViewer(control, ip, window, teardown); });
        const auto end = std::chrono::steady_clock::now() + 20s;
        while (window.whole_ == 0 && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(5ms);
        untilPicture = trace_.out();
        control.m_algShowStop = 1;
        device.closeClients();  // the viewer waits for the next picture otherwise
        const auto stopBy = std::chrono::steady_clock::now() + 10s;
        while (control.m_algShowRunning && std::chrono::steady_clock::now() < stopBy)
            std::this_thread::sleep_for(5ms);
        const bool ended = !control.m_algShowRunning;
        if (!ended) teardown.request();
        viewer.join();
        EXPECT_TRUE(ended) << "the stop request did not end the viewer";
        peak = heap.peakGrowth();
    }
    std::cerr << "[fault] link=alg case=" << faults::name(c.fault) << " peak_heap_growth=" << peak
              << " bytes reported: " << faults::failureLines(untilPicture) << "\n";
    EXPECT_LT(peak, kHeapBound);
    EXPECT_EQ(window.whole_, 1) << trace_.out();
    EXPECT_EQ(window.foreign_, 0) << "a picture made of the fault's bytes was shown";
    EXPECT_NE(untilPicture.find(c.line), std::string::npos) << untilPicture;
    if (c.fault == Fault::Dribble) {
        EXPECT_EQ(device.acceptedCount(), 1);
        EXPECT_EQ(untilPicture.find("接收"), std::string::npos) << untilPicture;
    } else {
        // The whole picture came on a new connection, after a new request.
        EXPECT_EQ(device.acceptedCount(), 2) << untilPicture;
        EXPECT_EQ(trace_.count("发送sendQuest成功！！\n"), 2) << untilPicture;
    }
    if (c.fault == Fault::OutOfRange) {
        EXPECT_NE(untilPicture.find("dlen = 16777216 不是 640×640×3，跳过此图\n"),
                  std::string::npos);
        EXPECT_NE(untilPicture.find("dlen = 1228799 不是"), std::string::npos);
        EXPECT_NE(untilPicture.find("dlen = -2147483648\n"), std::string::npos);
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, AlgLinkFaults, ::testing::ValuesIn(kCases), caseName);

}  // namespace
