// A registration run against the faulty device of FaultPeer on the
// registration server's port (38972): each fault must end the run with the
// console line that names it (no dialog on a point set that did not come
// whole), keep memory bounded, and leave the next run on a new connection
// working to the end: point set, dialog, result taken by the device.
// Addresses 127.0.22.30 to .39.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <mutex>

#include "FaultPeer.h"
#include "HeapWatch.h"
#include "ScopedTimings.h"
#include "TraceCapture.h"
#include "registration/RegistrationRun.h"
#include "registration/RegistrationTiming.h"
#include "registration/RegistrationWire.h"

namespace {

using namespace std::chrono_literals;
using faults::Bytes;
using faults::Fault;

constexpr uint32_t kWidth = 8;
constexpr uint32_t kHeight = 6;
// Far below the 8 MB of garbage; above what a run of a small point set holds.
constexpr size_t kHeapBound = 1u << 20;
constexpr int kPeerWaitMs = 5000;

void append(Bytes& to, const uint8_t* data, size_t size) {
    to.insert(to.end(), data, data + size);
}
template <size_t N>
void append(Bytes& to, const std::array<uint8_t, N>& a) {
    append(to, a.data(), a.size());
}

std::vector<RegPoint> scenePoints() {
    std::vector<RegPoint> points;
    for (uint32_t i = 0; i < kWidth * kHeight; ++i)
        points.push_back({0.01f * static_cast<float>(i), -0.5f, 2.5f});
    return points;
}

// The results the device took, one per connection that sent one.
struct ResultLog {
    std::mutex mutex;
    std::vector<RegResultRecord> results;
};

// After the point set: answer every poll with 0 until the result comes, take
// it, and wait for the client to close.
bool serveUntilResult(int fd, ResultLog& log) {
    for (;;) {
        const Bytes word = loopback::receive(fd, kRegRequestSize, kPeerWaitMs);
        if (word.size() != kRegRequestSize) return false;
        if (DecodeRegRequest(word.data()) != kRegResultCode) {
            if (!loopback::sendAll(fd, Bytes{0, 0, 0, 0})) return false;
            continue;
        }
        Bytes record = word;
        const Bytes rest = loopback::receive(fd, kRegResultSize - word.size(), kPeerWaitMs);
        append(record, rest.data(), rest.size());
        if (record.size() == kRegResultSize) {
            std::lock_guard<std::mutex> lock(log.mutex);
            log.results.push_back(DecodeRegResult(record.data()));
        }
        loopback::peerClosed(fd, kPeerWaitMs);
        return false;
    }
}

faults::LinkBytes registrationBytes(ResultLog& log) {
    faults::LinkBytes link;
    link.requestSize = kRegRequestSize;
    const Bytes points = EncodeRegPoints(scenePoints());
    append(link.valid, EncodeRegReply(kRegAnswerPoints));
    append(link.valid,
           EncodeRegPointHeader(
               {kWidth, kHeight, static_cast<int32_t>(kWidth * kHeight * kRegPointSize)}));
    append(link.valid, points.data(), points.size());
    link.afterValid = [&log](int fd) { return serveUntilResult(fd, log); };
    // A point set whose width is no count a dialog can take, though it has
    // no points at all.
    append(link.outOfRange, EncodeRegReply(kRegAnswerPoints));
    append(link.outOfRange, EncodeRegPointHeader({0xFFFFFFFFu, 0, 0}));
    // Never a zero byte, so no word in it reads as 0 or 1: every one is an
    // answer "nothing follows", and the bytes were never asked for.
    link.garbage = faults::markerRichGarbage(8u << 20, 0x01, 0x00, 30);
    return link;
}

struct RegCase {
    Fault fault;
    size_t cutAt;            // where a cut fault breaks the answer; 0 in its middle
    bool firstRunHasPoints;  // the dialog opens in the run that met the fault
    const char* line;        // what the console says about that run
};

const RegCase kCases[] = {
    {Fault::CloseMidFrame, 0, false, "接收pdata失败!\n"},
    // Right after the answer 1: the header never comes.
    {Fault::ResetMidFrame, kRegReplySize, false, "接收sRegPointdata失败!\n"},
    {Fault::GoSilent, 0, false, "接收配准数据请求失败!\n"},
    {Fault::Dribble, 0, true, "发送配准结果完成！\n"},
    {Fault::Garbage, 0, false, "配准服务器发来未请求的数据，数据不同步\n"},
    {Fault::OutOfRange, 0, false, "接收sRegPointdata失败!\n"},
};

void PrintTo(const RegCase& c, std::ostream* os) {
    *os << faults::name(c.fault);
}

std::string caseName(const ::testing::TestParamInfo<RegCase>& info) {
    return faults::name(info.param.fault);
}

class RegistrationLinkFaults : public ::testing::TestWithParam<RegCase> {
protected:
    void SetUp() override {
        RegistrationTiming& t = registrationTiming();
        saved_ = {t.pollMs.load(), t.reconnectWaitMs.load(), t.resultSettleMs.load()};
        t.pollMs = 20;
        t.reconnectWaitMs = 50;
        t.resultSettleMs = 10;
        shellTiming().streamReceiveTimeoutMs = 300;  // the silent device outlasts it
    }
    void TearDown() override {
        service_.StopAndWait();
        RegistrationTiming& t = registrationTiming();
        t.pollMs = saved_[0];
        t.reconnectWaitMs = saved_[1];
        t.resultSettleMs = saved_[2];
    }

    // One run with a dialog that takes whatever came and finishes with OK.
    bool run(const std::string& ip) {
        const bool started = service_.Start([ip] { return ip; },
                                            [this](std::vector<RegPoint> p, int w, int h) {
                                                std::lock_guard<std::mutex> lock(mutex_);
                                                dialogs_.push_back({std::move(p), w, h});
                                                RegDialogOutcome out;
                                                out.ok = true;
                                                out.matrix = FactoryRegMatrix();
                                                out.areas[0] = {-0.4f, -0.7f, 0.4f, 0.7f};
                                                return out;
                                            });
        return started && service_.WaitIdle(10s) && !service_.registrationRunning;
    }
    size_t dialogCount() {
        std::lock_guard<std::mutex> lock(mutex_);
        return dialogs_.size();
    }

    struct Dialog {
        std::vector<RegPoint> points;
        int width, height;
    };
    ScopedTimings timings_;
    TraceCapture trace_;
    RegistrationService service_;
    std::array<int, 3> saved_{};
    std::mutex mutex_;
    std::vector<Dialog> dialogs_;
};

TEST_P(RegistrationLinkFaults, EndsTheRunWithItsLineAndTheNextRunWorks) {
    const RegCase c = GetParam();
    const int index =
        static_cast<int>(std::find_if(std::begin(kCases), std::end(kCases),
                                      [&](const RegCase& k) { return k.fault == c.fault; }) -
                         std::begin(kCases));
    const std::string ip = "127.0.22." + std::to_string(30 + index);
    ResultLog log;
    faults::LinkBytes link = registrationBytes(log);
    link.cutAt = c.cutAt;
    LoopbackListener device(faults::faultScript(link, c.fault));
    ASSERT_TRUE(device.start(ip, kRegistrationPort));
    // A run that does not end is stopped before the device goes, whose
    // thread may be sending it garbage.
    struct StopFirst {
        RegistrationService& service;
        ~StopFirst() { service.StopAndWait(); }
    } stopFirst{service_};

    size_t peak = 0;
    std::string firstRun;
    {
        HeapWatch heap;
        ASSERT_TRUE(run(ip)) << "the run met the fault and did not end\n" << trace_.out();
        firstRun = trace_.out();
        EXPECT_EQ(dialogCount(), c.firstRunHasPoints ? 1u : 0u) << firstRun;
        ASSERT_TRUE(run(ip)) << trace_.out();
        peak = heap.peakGrowth();
    }
    std::cerr << "[fault] link=registration case=" << faults::name(c.fault)
              << " peak_heap_growth=" << peak
              << " bytes reported: " << faults::failureLines(firstRun) << "\n";
    EXPECT_LT(peak, kHeapBound);
    EXPECT_NE(firstRun.find(c.line), std::string::npos) << firstRun;
    if (!c.firstRunHasPoints) {
        EXPECT_NE(firstRun.find("registration ended: no point data"), std::string::npos)
            << firstRun;
        EXPECT_EQ(firstRun.find("发送配准结果完成"), std::string::npos) << firstRun;
    }
    // The next run on a new connection: the whole point set, and the result
    // taken by the device.
    EXPECT_EQ(device.acceptedCount(), 2);
    std::lock_guard<std::mutex> lock(mutex_);
    ASSERT_FALSE(dialogs_.empty());
    const Dialog& last = dialogs_.back();
    EXPECT_EQ(last.width, static_cast<int>(kWidth));
    EXPECT_EQ(last.height, static_cast<int>(kHeight));
    EXPECT_EQ(EncodeRegPoints(last.points), EncodeRegPoints(scenePoints()));
    std::lock_guard<std::mutex> resultLock(log.mutex);
    ASSERT_EQ(log.results.size(), c.firstRunHasPoints ? 2u : 1u);
    EXPECT_EQ(log.results.back().code, kRegResultCode);
    EXPECT_EQ(log.results.back().matrix, FactoryRegMatrix());
    EXPECT_EQ(trace_.count("发送配准结果完成！\n"), static_cast<int>(log.results.size()));
}

INSTANTIATE_TEST_SUITE_P(Faults, RegistrationLinkFaults, ::testing::ValuesIn(kCases), caseName);

}  // namespace
