// The data recorder against the faulty device of FaultPeer on the collection
// server's port (58001): each fault must leave the recorder running with
// bounded memory and a console line that names it, must never land in the
// record files as a record (a cut frame is no record), and the recorder must
// reconnect and record the next valid frame. Addresses 127.0.22.90 to .99.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <thread>

#include "CollectionFrameBytes.h"
#include "FaultPeer.h"
#include "HeapWatch.h"
#include "ScopedTimings.h"
#include "TempFiles.h"
#include "TraceCapture.h"
#include "core/StopFlag.h"
#include "core/TcpClient.h"
#include "stream/CollectionFormat.h"
#include "stream/DataRecorder.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using faults::Bytes;
using faults::Fault;

// Far below the 8 MB of garbage and the 2 GB a psize out of range announces.
constexpr size_t kHeapBound = 2u << 20;
constexpr int32_t kPayload = 2000;
constexpr int64_t kValidTime = 1111;
constexpr uint8_t kValidFill = 0x5A;
// The frame whose presize is beyond its payload: recorded cut to the payload.
constexpr int64_t kLongPresizeTime = 2222;
constexpr int32_t kLongPresizePayload = 16;

void append(Bytes& to, const uint8_t* data, size_t size) {
    to.insert(to.end(), data, data + size);
}

Bytes frame(int64_t time, int32_t psize, int32_t presize, size_t payloadBytes, uint8_t fill) {
    Bytes out = collectionFrameHead(time, psize, presize);
    out.resize(out.size() + payloadBytes, fill);
    return out;
}

faults::LinkBytes collectionBytes() {
    faults::LinkBytes link;
    link.requestSize = kCollectionHeaderSize;
    // The response header, then one frame.
    link.valid.resize(kCollectionHeaderSize);
    encodeCollectionHeader(CollectionHeader{}, link.valid.data());
    const Bytes f = frame(kValidTime, kPayload, kPayload, kPayload, kValidFill);
    append(link.valid, f.data(), f.size());
    link.dribbleBytes = 200;  // the headers and the first payload bytes
    // After the response: a presize beyond its payload, then a psize past any
    // frame, on which nothing may be allocated or read.
    link.outOfRange = Bytes(link.valid.begin(), link.valid.begin() + kCollectionHeaderSize);
    const Bytes longPresize =
        frame(kLongPresizeTime, kLongPresizePayload, 100000, kLongPresizePayload, 0x77);
    append(link.outOfRange, longPresize.data(), longPresize.size());
    const Bytes huge = frame(3333, 0x7FFFFFFF, 0x7FFFFFFF, 0, 0);
    append(link.outOfRange, huge.data(), huge.size());
    // Never a zero byte: no 40 bytes of it can hold the markers' words.
    link.garbage = faults::markerRichGarbage(8u << 20, 0xBB, 0x00, 90);
    return link;
}

struct CollectionCase {
    Fault fault;
    size_t cutAt;      // where a cut fault breaks the answer; 0 in its middle
    const char* line;  // what the console says about the first connection
};

const CollectionCase kCases[] = {
    // In the middle of the payload.
    {Fault::CloseMidFrame, 0, "接收协议体失败!\n"},
    // Inside the frame block.
    {Fault::ResetMidFrame, 2 * kCollectionHeaderSize + 24, "接收协议体失败!\n"},
    {Fault::GoSilent, 0, "接收协议头失败!\n"},
    {Fault::Dribble, 0, "psize = 2000, rsize = 0, presize = 2000，useStringlen = 2000\n"},
    // Dropped 40 bytes at a time; the valid frame after it is out of step
    // too, until the receive time-out ends the connection.
    {Fault::Garbage, 0, "接收协议头失败!\n"},
    {Fault::OutOfRange, 0, "psize = 2147483647 超出范围!\n"},
};

void PrintTo(const CollectionCase& c, std::ostream* os) {
    *os << faults::name(c.fault);
}
std::string caseName(const ::testing::TestParamInfo<CollectionCase>& info) {
    return faults::name(info.param.fault);
}

struct Record {
    int64_t time;
    std::string data;
};

std::vector<Record> recordsIn(const std::string& dir, size_t& badFiles) {
    std::vector<Record> out;
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().string());
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        RecordFileContents c;
        if (!decodeRecordFile(readFile(name), c) || c.records.empty() || c.trailingBytes != 0) {
            ++badFiles;
            continue;
        }
        for (const auto& r : c.records) out.push_back({r.time, r.data});
    }
    return out;
}

class CollectionLinkFaults : public ::testing::TestWithParam<CollectionCase> {
protected:
    void SetUp() override {
        savedReconnect_ = recorderTiming().reconnectWaitMs.load();
        recorderTiming().reconnectWaitMs = 20;
        shellTiming().streamReceiveTimeoutMs = 300;  // the silent device outlasts it
    }
    void TearDown() override { recorderTiming().reconnectWaitMs = savedReconnect_; }

    ScopedTimings timings_;
    TraceCapture trace_;
    TempDir dir_;
    int savedReconnect_ = 0;
};

TEST_P(CollectionLinkFaults, NoRecordFromTheFaultAndTheNextFrameIsRecorded) {
    const CollectionCase c = GetParam();
    const int index =
        static_cast<int>(std::find_if(std::begin(kCases), std::end(kCases),
                                      [&](const CollectionCase& k) { return k.fault == c.fault; }) -
                         std::begin(kCases));
    const std::string ip = "127.0.22." + std::to_string(90 + index);
    faults::LinkBytes link = collectionBytes();
    link.cutAt = c.cutAt;
    LoopbackListener device(faults::faultScript(link, c.fault));
    ASSERT_TRUE(device.start(ip, kCollectionPort));
    const std::string validLine = "psize = 2000, rsize = 0, presize = 2000，useStringlen = 2000\n";

    RecorderControl control;
    TcpClient client;
    StopFlag teardown;
    size_t peak = 0;
    std::string untilRecord;  // the console until the valid frame was recorded
    {
        HeapWatch heap;
        control.m_recordRunning = true;
        std::thread recorder(
            [&] { RunDataRecorder(control, client, ip, dir_.file(""), teardown); });
        const bool recorded = trace_.waitFor(validLine, 20000ms);
        untilRecord = trace_.out();
        control.m_recordStop.exchange(1);
        const auto stopBy = std::chrono::steady_clock::now() + 10s;
        while (control.m_recordRunning && std::chrono::steady_clock::now() < stopBy)
            std::this_thread::sleep_for(5ms);
        const bool ended = !control.m_recordRunning;
        if (!ended) teardown.request();
        recorder.join();
        peak = heap.peakGrowth();
        EXPECT_TRUE(recorded) << "the valid frame was never recorded\n" << untilRecord;
        EXPECT_TRUE(ended) << "the stop request did not end the recorder";
    }
    std::cerr << "[fault] link=collection case=" << faults::name(c.fault)
              << " peak_heap_growth=" << peak
              << " bytes reported: " << faults::failureLines(untilRecord) << "\n";
    EXPECT_LT(peak, kHeapBound);
    EXPECT_NE(untilRecord.find(c.line), std::string::npos) << untilRecord;
    if (c.fault != Fault::Dribble) {
        EXPECT_GE(device.acceptedCount(), 2) << "the frame came after a reconnect";
        EXPECT_NE(untilRecord.find("断开连接！\n"), std::string::npos) << untilRecord;
    }

    size_t badFiles = 0;
    const std::vector<Record> records = recordsIn(dir_.file(ip), badFiles);
    EXPECT_EQ(badFiles, 0u) << "a record file that is empty, header-only or torn";
    size_t valid = 0;
    for (const Record& r : records) {
        if (r.time == kValidTime) {
            EXPECT_EQ(r.data, std::string(kPayload, static_cast<char>(kValidFill)));
            ++valid;
        } else {
            // Only the frame whose presize ran past its payload, cut to it.
            EXPECT_EQ(c.fault, Fault::OutOfRange) << "a record of time " << r.time;
            EXPECT_EQ(r.time, kLongPresizeTime);
            EXPECT_EQ(r.data, std::string(kLongPresizePayload, '\x77'));
        }
    }
    EXPECT_GE(valid, 1u);
}

INSTANTIATE_TEST_SUITE_P(Faults, CollectionLinkFaults, ::testing::ValuesIn(kCases), caseName);

}  // namespace
