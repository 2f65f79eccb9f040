// Every link against the faulty device of FaultPeer: each fault must leave
// the tool running, its memory bounded (measured while the fault plays) and
// the next valid frame delivered once the link has recovered. Stream link on
// 127.0.11.60 to .69, gate link on 127.0.11.80 to .89.
#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <streambuf>

#include "FaultPeer.h"
#include "HeapWatch.h"
#include "RecordingControlSink.h"
#include "ScopedTimings.h"
#include "StreamFixture.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "gate/GateConsole.h"
#include "stream/StreamFrame.h"

namespace {

using faults::Bytes;
using faults::Fault;

// Far below what the faults send (8 MB of garbage) and what a length out of
// range announces (2 GB); above what a recovering link legitimately holds.
constexpr size_t kHeapBound = 2u << 20;

std::string caseName(const ::testing::TestParamInfo<Fault>& info) {
    return faults::name(info.param);
}

int caseIndex(Fault fault) {
    const auto all = faults::allFaults();
    return static_cast<int>(std::find(all.begin(), all.end(), fault) - all.begin());
}

void reportHeap(const char* link, Fault fault, size_t peak) {
    std::cerr << "[fault] link=" << link << " case=" << faults::name(fault)
              << " peak_heap_growth=" << peak << " bytes\n";
    ::testing::Test::RecordProperty("peak_heap_growth_bytes", static_cast<int>(peak));
}

// ---- stream link --------------------------------------------------------

Bytes streamFrame(uint8_t fill) {
    const Bytes points(24, fill);
    Bytes out;
    appendPointFrame(out, points.data(), points.size(), nullptr, 0, AreaBlock{});
    return out;
}

faults::LinkBytes streamBytes() {
    faults::LinkBytes link;
    link.valid = streamFrame(0x5A);
    StreamHeader header;
    Bytes bad(kStreamHeaderSize + 4);
    encodeStreamHeader(header, bad.data());
    const int32_t huge = 0x7FFFFFFF;  // a 2 GB point block
    std::memcpy(bad.data() + kStreamHeaderSize, &huge, sizeof huge);
    link.outOfRange = bad;
    link.garbage = faults::markerRichGarbage(8u << 20, 0xBB, 0xAA, 11);
    return link;
}

class StreamLinkFaults : public StreamFixture, public ::testing::WithParamInterface<Fault> {
protected:
    ScopedTimings timings_;
};

TEST_P(StreamLinkFaults, RecoversWithBoundedMemoryAndDeliversTheNextFrame) {
    const Fault fault = GetParam();
    shellTiming().streamReceiveTimeoutMs = 300;  // the silent device outlasts it
    const std::string ip = "127.0.11." + std::to_string(60 + caseIndex(fault));
    LoopbackListener device(faults::faultScript(streamBytes(), fault));
    ASSERT_TRUE(device.start(ip, kStreamPort));

    size_t peak = 0;
    {
        HeapWatch heap;
        ASSERT_TRUE(login(ip));
        FrameData got;
        ASSERT_TRUE(takeFrame(got)) << trace.out();
        EXPECT_EQ(got.points, Bytes(24, 0x5A));
        peak = heap.peakGrowth();
    }
    reportHeap("stream", fault, peak);
    EXPECT_LT(peak, kHeapBound);
    if (fault != Fault::Dribble) {
        // Every other fault ends the first connection: the frame came on the next.
        EXPECT_EQ(device.acceptedCount(), 2) << trace.out();
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, StreamLinkFaults, ::testing::ValuesIn(faults::allFaults()),
                         caseName);

// ---- gate link ----------------------------------------------------------

Bytes gateFrame(uint8_t kind, uint8_t p1, uint8_t event, uint8_t door) {
    return {0x7E, 0x00, 0x01, kind, p1,   0x00, event, 0x00,
            0x00, 0x00, 0x00, 0x00, door, 0xAA, 0xBB,  0x7E};
}

faults::LinkBytes gateBytes() {
    faults::LinkBytes link;
    link.valid = gateFrame(0x01, 0x01, 0x05, 0xFF);  // " zhiliu"
    // Codes outside every table, an unknown kind, and a frame with a bad tail.
    for (const Bytes& f : {gateFrame(0x01, 0x01, 0xEE, 0x77), gateFrame(0x55, 0xFF, 0xFF, 0xFF),
                           gateFrame(0x00, 0xFF, 0x00, 0x00)})
        link.outOfRange.insert(link.outOfRange.end(), f.begin(), f.end());
    Bytes badTail = gateFrame(0x01, 0x01, 0x05, 0xFF);
    badTail[14] = 0xBC;
    link.outOfRange.insert(link.outOfRange.end(), badTail.begin(), badTail.end());
    link.garbage = faults::markerRichGarbage(8u << 20, 0x7E, 0xAA, 12);
    return link;
}

// The library's console lines (one per read of garbage) go nowhere.
class NullBuf : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

class GateLinkFaults : public ::testing::TestWithParam<Fault> {
protected:
    void SetUp() override {
        savedChinese_ = g_uiChinese.load();
        g_uiChinese = false;
        deviceClientTiming().receiveTimeoutMs = 300;  // the silent device outlasts it
        deviceClientTiming().reconnectSleepMs = 5;    // reconnect check every 150 ms
        timing_.heartbeatPeriodMs = 60000;
        timing_.receiveRetryMs = 20;
        timing_.panelRefreshIdleMs = 10;
        oldOut_ = std::cout.rdbuf(&null_);
    }
    void TearDown() override {
        if (console_) console_->stop();
        std::cout.rdbuf(oldOut_);
        g_uiChinese = savedChinese_;
    }

    ScopedTimings timings_;
    TraceCapture trace_;
    AlarmQueue queue_;
    GateTiming timing_;
    RecordingControlSink panel_;
    std::unique_ptr<GateConsole> console_;
    NullBuf null_;
    std::streambuf* oldOut_ = nullptr;
    bool savedChinese_ = true;
};

TEST_P(GateLinkFaults, RecoversWithBoundedMemoryAndShowsTheNextFrame) {
    const Fault fault = GetParam();
    const std::string ip = "127.0.11." + std::to_string(80 + caseIndex(fault));
    LoopbackListener device(faults::faultScript(gateBytes(), fault));
    ASSERT_TRUE(device.start(ip, kGatePortAlarm));
    console_ = std::make_unique<GateConsole>(queue_, timing_);

    size_t peak = 0;
    {
        HeapWatch heap;
        bool started = false;
        ASSERT_TRUE(openAlarmLink(*console_, started, 1, panel_, [ip] { return ip; }));
        ASSERT_TRUE(panel_.waitForTextContaining(ids::kAlarmPanel, " zhiliu\r\n"))
            << trace_.out() << trace_.err();
        peak = heap.peakGrowth();
    }
    reportHeap("gate", fault, peak);
    EXPECT_LT(peak, kHeapBound);
    // Only the valid frame made a line: nothing out of range or in the garbage did.
    EXPECT_EQ(panel_.lastText(ids::kAlarmPanel).find("\r\n"),
              panel_.lastText(ids::kAlarmPanel).size() - 2)
        << panel_.lastText(ids::kAlarmPanel);
    if (fault != Fault::Dribble && fault != Fault::Garbage && fault != Fault::OutOfRange) {
        EXPECT_GE(device.acceptedCount(), 2) << "the frame came after a reconnect";
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, GateLinkFaults, ::testing::ValuesIn(faults::allFaults()),
                         caseName);

}  // namespace
