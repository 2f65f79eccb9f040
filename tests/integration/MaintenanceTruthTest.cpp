// Upgrade servers that misbehave while the package is on the wire or while
// they answer: what the engineer is told must be what happened, and the wait
// must stay within the time-outs, whatever the device does. Through the
// exchange (the boxes' texts) and through kestctl (exit codes and lines).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "KestctlRun.h"
#include "LoopbackListener.h"
#include "PackageFiles.h"
#include "TempFiles.h"
#include "TraceCapture.h"
#include "core/Timing.h"
#include "maintenance/MaintenanceCommands.h"
#include "maintenance/MaintenanceMessages.h"
#include "maintenance/MaintenanceTiming.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr size_t kMb = 1 << 20;
const Bytes kStatusOk = {0, 0, 0, 0};

// The device's part on one connection, given the size of the whole request.
using Device = std::function<bool(int fd, size_t requestSize)>;

// Reads the whole request in steps of `step` bytes, pausing after each of
// the first `pauses` steps (a device busy writing flash), then answers 0 at once.
Device readsWithPauses(size_t step, int pauses, std::chrono::milliseconds pause) {
    return [=](int fd, size_t size) {
        int paused = 0;
        for (size_t got = 0; got < size;) {
            const size_t n = loopback::receive(fd, std::min(step, size - got), 5000).size();
            if (n == 0) return false;
            got += n;
            if (paused++ < pauses) std::this_thread::sleep_for(pause);
        }
        return loopback::sendAll(fd, kStatusOk);
    };
}

// Takes the first megabyte of the package, then never reads again; answers
// with status (or nothing) and either closes or keeps the link.
Device takesOneMegabyte(const Bytes& status, bool close) {
    return [=](int fd, size_t) {
        loopback::receive(fd, kMb, 5000);
        if (!status.empty()) loopback::sendAll(fd, status);
        std::this_thread::sleep_for(200ms);  // the status is on its way before the reset
        return !close;
    };
}

// Reads the request, then answers one status byte at a time.
Device dribblesTheStatus(std::chrono::milliseconds pause) {
    return [=](int fd, size_t size) {
        loopback::receive(fd, size, 5000);
        for (uint8_t b : kStatusOk) {
            if (!loopback::sendAll(fd, {b})) return false;
            std::this_thread::sleep_for(pause);
        }
        return true;
    };
}

Request upgradeRequest(size_t packageBytes) {
    Request request(kUpgradeHeaderSize + packageBytes, 0x5a);
    UpInfo info;
    info.filesize = static_cast<int32_t>(packageBytes);
    encodeUpgradeHeader(info, request.data());
    return request;
}

class MaintenanceTruth : public ::testing::Test {
protected:
    ~MaintenanceTruth() override {
        shellTiming().streamReceiveTimeoutMs = 50000;
        maintenanceTiming().sendStallTimeoutMs = 50000;
    }
    TraceCapture trace;
};

TEST_F(MaintenanceTruth, UpgradeIsReportedAsTheDeviceGotIt) {
    struct Case {
        const char* what;
        size_t packageBytes;
        int receiveTimeoutMs;
        int sendStallMs;
        Device device;
        bool sendFailed;
        ExchangeEnd end;
        const char* box;  // English; nullptr: none
    };
    const char* notSent = "update fail: the update file was not sent whole!\n";
    const Case cases[] = {
        // The device's status says nothing about bytes it never read.
        {"takes 1 MB of 16, answers 0 and goes", 16 * kMb, 2000, 2000,
         takesOneMegabyte(kStatusOk, true), true, ExchangeEnd::Status, notSent},
        // A stalled send ends on its own limit, not on the answer's.
        {"takes 1 MB of 16, then stops reading", 16 * kMb, 300, 300, takesOneMegabyte({}, false),
         true, ExchangeEnd::NoStatus, notSent},
        // A device busy writing flash pauses reading for longer than the
        // answer time-out: the package still goes out whole.
        {"pauses past the receive time-out", 24 * kMb, 400, 5000, readsWithPauses(kMb, 2, 1000ms),
         false, ExchangeEnd::Status, "update success!\n"},
        // The answer time-out bounds the whole answer, not each byte of it.
        {"dribbles its status past the receive time-out", 1024, 400, 5000, dribblesTheStatus(200ms),
         false, ExchangeEnd::NoStatus, nullptr},
    };
    int host = 1;
    for (const Case& c : cases) {
        const std::string address = "127.0.23." + std::to_string(host++);
        const Request request = upgradeRequest(c.packageBytes);
        LoopbackListener device([&](int, int fd) { return c.device(fd, request.size()); });
        ASSERT_TRUE(device.start(address, 18888)) << c.what;
        shellTiming().streamReceiveTimeoutMs = c.receiveTimeoutMs;
        maintenanceTiming().sendStallTimeoutMs = c.sendStallMs;

        const CommandResult result = runUpgrade(address, request);
        EXPECT_EQ(result.sendFailed, c.sendFailed) << c.what;
        if (c.end == ExchangeEnd::NoStatus || !c.sendFailed) {
            // After a reset the status may or may not be read: either way a failure.
            EXPECT_EQ(result.end, c.end) << c.what;
        }
        const char* box = upgradeBoxText(result, false);
        EXPECT_EQ(std::string(box ? box : "<none>"), std::string(c.box ? c.box : "<none>"))
            << c.what;
        if (c.sendFailed) {
            EXPECT_LT(result.bytesSent, result.bytesTotal) << c.what;
            EXPECT_EQ(result.bytesTotal, request.size()) << c.what;
        }
        device.stop();
    }
}

TEST_F(MaintenanceTruth, VersionRecordCutShortIsNoCompleteAnswer) {
    struct Case {
        const char* what;
        size_t recordBytes;  // of the 212 after status 0
        bool cutShort;
    };
    const Case cases[] = {
        {"status only", 0, true},
        {"100 of 212 bytes", 100, true},
        {"211 of 212 bytes", 211, true},
        {"the whole record", 212, false},
    };
    shellTiming().streamReceiveTimeoutMs = 2000;
    int host = 20;
    for (const Case& c : cases) {
        const std::string address = "127.0.23." + std::to_string(host++);
        LoopbackListener device([&](int, int fd) {
            loopback::receive(fd, 4, 2000);
            Bytes reply(4 + c.recordBytes, 0);
            for (size_t i = 4 + 84; i < reply.size() && i < 4 + 84 + 63; ++i) reply[i] = 'V';
            loopback::sendAll(fd, reply);
            return false;
        });
        ASSERT_TRUE(device.start(address, 18888));
        UpInfo running;
        const CommandResult result = runGetVersion(address, running);
        EXPECT_EQ(result.end, ExchangeEnd::Status) << c.what;
        EXPECT_EQ(result.recordCutShort, c.cutShort) << c.what;
        device.stop();
    }
}

// kestctl against such devices, as a script would run it.
TEST(KestctlTruth, ExitCodesAndLinesSayWhatHappened) {
    TempDir dir;
    const std::string package = dir.file("pkg.tar");
    writeFile(package, makeTar({{"upinfo.txt", "version=V9\r\nfiletype=2\r\n"},
                                {"app.bin", std::string(24 << 20, 'x')}}));
    struct Case {
        const char* what;
        std::string args;
        Device device;
        int exitCode;
        std::string line;
    };
    const Case cases[] = {
        {"package cut short, then status 0", "--json upgrade " + package + " --yes",
         takesOneMegabyte(kStatusOk, true), 4, "\"result\":\"no answer\""},
        {"package cut short, then status 0 (text)", "upgrade " + package + " --yes",
         takesOneMegabyte(kStatusOk, true), 4, ": update package not sent whole ("},
        // --timeout is the answer's wait: a device that pauses reading for
        // longer still gets the package whole.
        {"--timeout 1 and a device pausing 1.5 s", "--timeout 1 upgrade " + package + " --yes",
         readsWithPauses(kMb, 2, 1500ms), 0, ": update success!"},
        {"version record cut short", "version",
         [](int fd, size_t) {
             loopback::receive(fd, 4, 2000);
             loopback::sendAll(fd, Bytes(4 + 100, 0));
             return false;
         },
         4, ": no complete answer"},
        {"a device text with a terminal escape", "version",
         [](int fd, size_t) {
             loopback::receive(fd, 4, 2000);
             Bytes reply(4 + 212, 0);
             const std::string version = "\x1b[31mV1\xff";
             std::copy(version.begin(), version.end(), reply.begin() + 4 + 84);
             loopback::sendAll(fd, reply);
             return false;
         },
         0, ": version \\x1b[31mV1\\xff date "},
    };
    int host = 40;
    for (const Case& c : cases) {
        const std::string address = "127.0.23." + std::to_string(host++);
        LoopbackListener device([&](int, int fd) {
            // The request's size: a version query is 4 bytes, an upgrade its header and package.
            return c.device(fd, c.args.find("upgrade") != std::string::npos
                                    ? kUpgradeHeaderSize + std::filesystem::file_size(package)
                                    : 4);
        });
        ASSERT_TRUE(device.start(address, 18888)) << c.what;
        const CtlRun run = kestctl("--device " + address + " " + c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.what;
        ASSERT_EQ(run.lines.size(), 1u) << c.what;
        EXPECT_NE(run.lines[0].find(c.line), std::string::npos) << c.what << "\n" << run.lines[0];
        device.stop();
    }
}

}  // namespace
