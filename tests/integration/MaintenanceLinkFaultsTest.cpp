// The maintenance commands against the faulty device of FaultPeer on the
// upgrade server (18888: an upgrade, a version query) and the file server
// (18889): each fault must end the exchange within the time-outs with
// bounded memory and a result that says what happened (never a success box
// for an exchange that failed), and the next command on a new connection
// must succeed. Upgrade on 127.0.22.50 to .59, version query on .60 to .69,
// file server on .70 to .79.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <sstream>

#include "FaultPeer.h"
#include "HeapWatch.h"
#include "ScopedTimings.h"
#include "TraceCapture.h"
#include "cli/CliReport.h"
#include "core/ByteOrder.h"
#include "maintenance/MaintenanceCommands.h"
#include "maintenance/MaintenanceMessages.h"
#include "maintenance/MaintenanceTiming.h"

namespace {

using faults::Bytes;
using faults::Fault;

// Far below the 8 MB of garbage and the package; above what one exchange holds.
constexpr size_t kHeapBound = 2u << 20;
// Larger than what the two sockets' buffers hold between them, so that a
// device that stops reading halfway makes the send fail.
constexpr size_t kPackageBytes = 32u << 20;
constexpr const char* kNoBox = "<none>";

Bytes statusBytes(int32_t status) {
    Bytes out(4);
    writeI32le(out.data(), status);
    return out;
}

// What the engineer is shown after one command.
struct Outcome {
    CommandResult result;
    std::string box = kNoBox;  // English box text
    std::string version;       // version query: the version and date shown
    DeviceReport cli;          // what kestctl says of the same result
};

// The window's box and kestctl's line for a result.
Outcome outcomeOf(const CommandResult& result, const char* box, const char* command,
                  bool fileServer) {
    Outcome o;
    o.result = result;
    o.box = box ? box : kNoBox;
    o.cli = exchangeReport("dev", command, result, box, fileServer, false);
    return o;
}

std::string describe(const Outcome& o) {
    static const char* ends[] = {"ConnectFailed", "NoStatus", "Status"};
    std::ostringstream s;
    s << "end=" << ends[static_cast<int>(o.result.end)] << " status=" << o.result.status
      << " sendFailed=" << o.result.sendFailed << " cutShort=" << o.result.recordCutShort
      << " box=\"" << o.box.substr(0, o.box.find('\n')) << "\"";
    if (!o.version.empty()) s << " shown=\"" << o.version << "\"";
    s << " kestctl=" << o.cli.exitCode << " \"" << o.cli.message << "\"";
    return s.str();
}

// A sound result: success only when the whole request went out and the
// whole answer, status 0, came back.
bool completeSuccess(const CommandResult& r) {
    return r.end == ExchangeEnd::Status && r.status == kStatusOk && !r.sendFailed &&
           !r.recordCutShort;
}

struct MaintCase {
    Fault fault;
    size_t cutAt;  // where a cut fault breaks the answer; 0 in its middle
    ExchangeEnd end;
    bool sendFailed;
    bool cutShort;
    const char* box;           // English; kNoBox: none
    bool wholeAnswer = false;  // the fault's answer is complete all the same
};

void PrintTo(const MaintCase& c, std::ostream* os) {
    *os << faults::name(c.fault);
}
std::string caseName(const ::testing::TestParamInfo<MaintCase>& info) {
    return faults::name(info.param.fault);
}

class MaintenanceLinkFaults : public ::testing::TestWithParam<MaintCase> {
protected:
    void SetUp() override {
        savedStall_ = maintenanceTiming().sendStallTimeoutMs.load();
        maintenanceTiming().sendStallTimeoutMs = 2000;
        // The silent device outlasts it; a dribbled answer of the link's
        // dribble length comes well within it.
        shellTiming().streamReceiveTimeoutMs = 1000;
    }
    void TearDown() override { maintenanceTiming().sendStallTimeoutMs = savedStall_; }

    // Plays the case against the command: the fault on the first exchange,
    // then a valid one. Returns both outcomes.
    std::pair<Outcome, Outcome> play(const char* linkName, int firstHost, uint16_t port,
                                     faults::LinkBytes link,
                                     const std::function<Outcome(const std::string&)>& command) {
        const MaintCase c = GetParam();
        link.cutAt = c.cutAt;
        const std::string ip = "127.0.22." + std::to_string(firstHost + caseIndex());
        LoopbackListener device(faults::faultScript(link, c.fault));
        EXPECT_TRUE(device.start(ip, port));
        std::pair<Outcome, Outcome> both;
        size_t peak = 0;
        {
            HeapWatch heap;
            both.first = command(ip);
            firstTrace_ = trace_.out();
            both.second = command(ip);
            peak = heap.peakGrowth();
        }
        std::cerr << "[fault] link=" << linkName << " case=" << faults::name(c.fault)
                  << " peak_heap_growth=" << peak << " bytes reported: " << describe(both.first)
                  << " console: " << faults::failureLines(firstTrace_) << "\n";
        EXPECT_LT(peak, kHeapBound);
        EXPECT_EQ(device.acceptedCount(), 2);

        const Outcome& first = both.first;
        EXPECT_EQ(first.result.end, c.end) << describe(first);
        EXPECT_EQ(first.result.sendFailed, c.sendFailed) << describe(first);
        EXPECT_EQ(first.result.recordCutShort, c.cutShort) << describe(first);
        EXPECT_EQ(first.box, c.box) << describe(first);
        // Only a whole answer after a whole request is a success.
        const bool success = c.fault == Fault::Dribble || c.wholeAnswer;
        EXPECT_EQ(completeSuccess(first.result), success) << describe(first);
        EXPECT_EQ(first.cli.exitCode == kExitOk, success) << describe(first);
        // The next command on a new connection.
        EXPECT_TRUE(completeSuccess(both.second.result)) << describe(both.second);
        EXPECT_EQ(both.second.cli.exitCode, kExitOk) << describe(both.second);
        return both;
    }

    int caseIndex() const {
        const auto all = faults::requestFaults();
        return static_cast<int>(std::find(all.begin(), all.end(), GetParam().fault) - all.begin());
    }

    ScopedTimings timings_;
    TraceCapture trace_;
    std::string firstTrace_;
    int savedStall_ = 0;
};

// ---- upgrade ------------------------------------------------------------

class UpgradeLinkFaults : public MaintenanceLinkFaults {};

const MaintCase kUpgradeCases[] = {
    {Fault::CloseMidFrame, 0, ExchangeEnd::NoStatus, false, false, kNoBox},
    {Fault::ResetMidFrame, 0, ExchangeEnd::NoStatus, false, false, kNoBox},
    {Fault::GoSilent, 0, ExchangeEnd::NoStatus, false, false, kNoBox},
    {Fault::Dribble, 0, ExchangeEnd::Status, false, false, "update success!\n"},
    // The first word of the garbage is taken as the status: no value the
    // device defines, so no box.
    {Fault::Garbage, 0, ExchangeEnd::Status, false, false, kNoBox},
    {Fault::OutOfRange, 0, ExchangeEnd::Status, false, false, kNoBox},
    // Half the package read, status 0, and gone: the upgrade failed.
    {Fault::UnreadRequest, 0, ExchangeEnd::Status, true, false,
     "update fail: the update file was not sent whole!\n"},
};

TEST_P(UpgradeLinkFaults, TheResultSaysWhatHappened) {
    Request request(kUpgradeHeaderSize + kPackageBytes, 0x5A);
    UpInfo info;
    info.filesize = static_cast<int32_t>(kPackageBytes);
    encodeUpgradeHeader(info, request.data());

    faults::LinkBytes link;
    link.requestSize = request.size();
    link.valid = statusBytes(kStatusOk);
    link.outOfRange = statusBytes(INT32_MIN);
    link.garbage = faults::markerRichGarbage(8u << 20, 0x7E, 0x00, 50);
    const int32_t garbageStatus = readI32le(link.garbage.data());

    const auto both = play("upgrade", 50, kUpgradeServerPort, link, [&](const std::string& ip) {
        const CommandResult result = runUpgrade(ip, request);
        return outcomeOf(result, upgradeBoxText(result, false), "upgrade", false);
    });
    const Fault fault = GetParam().fault;
    if (fault == Fault::Garbage) {
        EXPECT_EQ(both.first.result.status, garbageStatus);
    }
    if (fault == Fault::OutOfRange) {
        EXPECT_EQ(both.first.result.status, INT32_MIN);
    }
    if (fault == Fault::UnreadRequest) {
        EXPECT_LT(both.first.result.bytesSent, request.size());
    }
    if (GetParam().end == ExchangeEnd::NoStatus) {
        EXPECT_NE(firstTrace_.find("发送升级文件失败！\n"), std::string::npos) << firstTrace_;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, UpgradeLinkFaults, ::testing::ValuesIn(kUpgradeCases), caseName);

// ---- version query --------------------------------------------------------

class VersionLinkFaults : public MaintenanceLinkFaults {};

const MaintCase kVersionCases[] = {
    // Status 0 and 100 of the 212 record bytes.
    {Fault::CloseMidFrame, 4 + 100, ExchangeEnd::Status, false, true, kNoBox},
    // Status 0 and not one byte of the record.
    {Fault::ResetMidFrame, 4, ExchangeEnd::Status, false, true, kNoBox},
    {Fault::GoSilent, 0, ExchangeEnd::NoStatus, false, false, kNoBox},
    {Fault::Dribble, 0, ExchangeEnd::Status, false, false, kNoBox},
    {Fault::Garbage, 0, ExchangeEnd::Status, false, false, kNoBox},
    // Status 0 and a whole record whose texts have no end: taken, each text
    // cut to what its field holds.
    {Fault::OutOfRange, 0, ExchangeEnd::Status, false, false, kNoBox, true},
};

Bytes versionAnswer(const std::string& version, const std::string& date) {
    UpInfo info;
    setUpInfoText(info.version, version);
    setUpInfoText(info.date, date);
    Bytes out = statusBytes(kStatusOk);
    const UpInfoBytes record = encodeUpInfo(info);
    out.insert(out.end(), record.begin(), record.end());
    return out;
}

TEST_P(VersionLinkFaults, TheResultSaysWhatHappened) {
    faults::LinkBytes link;
    link.requestSize = 4;
    link.valid = versionAnswer("1.2.3", "2025-01-01");
    link.dribbleBytes = 64;
    link.outOfRange = statusBytes(kStatusOk);
    Bytes endless(kUpInfoSize, 'A');
    link.outOfRange.insert(link.outOfRange.end(), endless.begin(), endless.end());
    link.garbage = faults::markerRichGarbage(8u << 20, 0x7E, 0x00, 60);

    const auto both = play("version", 60, kUpgradeServerPort, link, [](const std::string& ip) {
        UpInfo running;
        const CommandResult result = runGetVersion(ip, running);
        Outcome o = outcomeOf(result, versionBoxText(result, false), "version", false);
        if (o.result.end == ExchangeEnd::Status && o.result.status == kStatusOk)
            o.version = upInfoText(running.version) + " " + upInfoText(running.date);
        return o;
    });
    EXPECT_EQ(both.second.version, "1.2.3 2025-01-01");
    const Fault fault = GetParam().fault;
    if (fault == Fault::Dribble) {
        EXPECT_EQ(both.first.version, "1.2.3 2025-01-01");
    }
    if (fault == Fault::OutOfRange) {
        // Each text cut at its 63 characters, never read past its field.
        EXPECT_EQ(both.first.version, std::string(63, 'A') + " " + std::string(63, 'A'));
    }
    if (GetParam().cutShort || GetParam().end == ExchangeEnd::NoStatus) {
        EXPECT_NE(firstTrace_.find("接收版本信息失败！\n"), std::string::npos) << firstTrace_;
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, VersionLinkFaults, ::testing::ValuesIn(kVersionCases), caseName);

// ---- file server ------------------------------------------------------------

class FileServerLinkFaults : public MaintenanceLinkFaults {};

const MaintCase kFileCases[] = {
    {Fault::CloseMidFrame, 0, ExchangeEnd::NoStatus, false, false, kNoBox},
    {Fault::ResetMidFrame, 0, ExchangeEnd::NoStatus, false, false, kNoBox},
    {Fault::GoSilent, 0, ExchangeEnd::NoStatus, false, false, kNoBox},
    {Fault::Dribble, 0, ExchangeEnd::Status, false, false, "device inter info success!\n"},
    {Fault::Garbage, 0, ExchangeEnd::Status, false, false, kNoBox},
    {Fault::OutOfRange, 0, ExchangeEnd::Status, false, false, kNoBox},
};

TEST_P(FileServerLinkFaults, TheResultSaysWhatHappened) {
    const Request request = buildSetInterfaceRequest("10.0.0.5", 9000);
    std::vector<Bytes> requests;
    std::mutex requestsMutex;
    faults::LinkBytes link;
    link.requestSize = request.size();
    link.valid = statusBytes(kStatusOk);
    link.outOfRange = statusBytes(7);
    link.garbage = faults::markerRichGarbage(8u << 20, 0x7E, 0x00, 70);
    link.onRequest = [&](int, const Bytes& r) {
        std::lock_guard<std::mutex> lock(requestsMutex);
        requests.push_back(r);
    };

    const auto both = play("file", 70, kFileServerPort, link, [&](const std::string& ip) {
        const CommandResult result = runFileCommand(FileCommand::SetInterface, ip, request);
        return outcomeOf(result, fileCommandBoxText(FileCommand::SetInterface, result, false),
                         "interface", true);
    });
    if (GetParam().fault == Fault::OutOfRange) {
        EXPECT_EQ(both.first.result.status, 7);
    }
    if (GetParam().end == ExchangeEnd::NoStatus) {
        EXPECT_NE(firstTrace_.find("接收信息失败！\n"), std::string::npos) << firstTrace_;
    }
    std::lock_guard<std::mutex> lock(requestsMutex);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1], request);  // the whole request, as it was built
}

INSTANTIATE_TEST_SUITE_P(Faults, FileServerLinkFaults, ::testing::ValuesIn(kFileCases), caseName);

}  // namespace
