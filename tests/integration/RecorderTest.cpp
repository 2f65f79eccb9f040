// The data recorder against the simulated collection server and against fake
// devices that misbehave: what lands in the record files, the console lines,
// link loss, a full disk, a stop while a device is silent or trickles, and
// the process ending or being killed while it records. (Stop and restart
// through the menu are in the GUI tests.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <thread>

#include "CollectionFrameBytes.h"
#include "CollectionServer.h"
#include "LoopbackListener.h"
#include "RecordFileSizeLimit.h"
#include "ScopedTimings.h"
#include "TempFiles.h"
#include "TraceCapture.h"
#include "app/ProcessExit.h"
#include "core/ByteOrder.h"
#include "core/StopFlag.h"
#include "core/TcpClient.h"
#include "core/Timing.h"
#include "stream/CollectionFormat.h"
#include "stream/DataRecorder.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr uint64_t kSeed = 3;
// Payload of the frames that the recording child process receives.
constexpr int kChildPayload = 100000;

// Every record of a device's folder, file by file in name order.
struct Recorded {
    std::vector<RecordFileContents> files;
    size_t records() const {
        size_t n = 0;
        for (const auto& f : files) n += f.records.size();
        return n;
    }
};

Recorded readRecords(const std::string& dir) {
    Recorded out;
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) names.push_back(e.path().string());
    std::sort(names.begin(), names.end());
    for (const auto& name : names) {
        RecordFileContents c;
        const std::string bytes = readFile(name);
        if (!bytes.empty() && decodeRecordFile(bytes, c)) out.files.push_back(std::move(c));
    }
    return out;
}

// Whole records on disk so far, from the file sizes alone (every record of
// the folder has payload bytes): cheap enough to poll while the files grow.
size_t recordsOnDisk(const std::string& dir, size_t payload) {
    size_t n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        const auto size = e.file_size(ec);
        if (!ec && size >= kRecordFileHeaderSize)
            n += (size - kRecordFileHeaderSize) / (kRecordHeaderSize + payload);
    }
    return n;
}

uint64_t frameNumberOf(const std::string& data) {
    return data.size() < 8
               ? ~0ull
               : readU32le(reinterpret_cast<const uint8_t*>(data.data())) |
                     (uint64_t{readU32le(reinterpret_cast<const uint8_t*>(data.data()) + 4)} << 32);
}

// Every record holds the payload the server sent for its frame number.
void expectPayloads(const Recorded& r, size_t size) {
    std::vector<uint8_t> expected;
    for (const auto& f : r.files)
        for (const auto& rec : f.records) {
            collectionPayload(kSeed, frameNumberOf(rec.data), size, expected);
            ASSERT_EQ(rec.data, std::string(expected.begin(), expected.end()));
        }
}

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

void shortenRecorderWaits() {
    recorderTiming().reconnectWaitMs = 20;
    recorderTiming().fpsIntervalMs = 100;
    shellTiming().streamReceiveTimeoutMs = 3000;
}

// One recorder run on a thread of the test.
class RecorderRun {
public:
    void start(const std::string& ip, const std::string& folder) {
        control.m_recordRunning = true;
        thread_ = std::thread([this, ip, folder] {
            outcome = RunDataRecorder(control, client_, ip, folder, teardown_);
        });
    }
    // The stop command; end() then lets the recorder see it.
    void stop() { control.m_recordStop.exchange(1); }
    bool join(std::chrono::milliseconds timeout = 10s) {
        const bool ended = waitUntil([this] { return !control.m_recordRunning; }, timeout);
        if (!ended) teardown_.request();
        if (thread_.joinable()) thread_.join();
        return ended;
    }
    ~RecorderRun() { join(0ms); }

    RecorderControl control;
    RecorderOutcome outcome;  // read after join()

private:
    TcpClient client_;
    StopFlag teardown_;
    std::thread thread_;
};

class Recorder : public ::testing::Test {
protected:
    Recorder() { shortenRecorderWaits(); }

    static CollectionServerOptions serverOptions(const char* address, int bytes,
                                                 int dropEvery = 0) {
        CollectionServerOptions o;
        o.address = address;
        o.fps = 200;
        o.seed = kSeed;
        o.payloadBytes = bytes;
        o.dropEvery = dropEvery;
        return o;
    }

    std::string folder() const { return dir.file(""); }

    TempDir dir;
    TraceCapture trace;
};

TEST_F(Recorder, RecordsEveryFrameOfTheSimulatedDevice) {
    CollectionServer server(serverOptions("127.0.10.1", 4000));
    ASSERT_TRUE(server.start());
    RecorderRun run;
    run.start("127.0.10.1", folder());
    ASSERT_TRUE(waitUntil([&] { return trace.count("time = ") >= 40; }));
    ASSERT_TRUE(trace.waitFor("[127.0.10.1:58001] -> fps:"));
    run.stop();
    server.dropClients();
    ASSERT_TRUE(run.join());

    const Recorded r = readRecords(folder() + "127.0.10.1");
    ASSERT_EQ(r.files.size(), 1u);
    EXPECT_EQ(r.records(), static_cast<size_t>(trace.count("time = ")));
    EXPECT_EQ(r.files[0].trailingBytes, 0u);
    expectPayloads(r, 4000);
    // Frames arrive in order, none missing.
    for (size_t i = 1; i < r.files[0].records.size(); ++i)
        EXPECT_EQ(frameNumberOf(r.files[0].records[i].data),
                  frameNumberOf(r.files[0].records[i - 1].data) + 1);
    const std::string out = trace.out();
    EXPECT_EQ(out.rfind("127.0.10.1--58001\n", 0), 0u) << out.substr(0, 200);
    EXPECT_NE(out.find("psize = 4000, rsize = 0, presize = 4000，useStringlen = 4000\n"),
              std::string::npos);
    EXPECT_EQ(trace.count("断开连接！\n"), 1);
}

TEST_F(Recorder, LinkLossMidFileReconnectsIntoTheSameFile) {
    CollectionServer server(serverOptions("127.0.10.3", 2000, 7));
    ASSERT_TRUE(server.start());
    RecorderRun run;
    run.start("127.0.10.3", folder());
    ASSERT_TRUE(waitUntil([&] { return server.connectionsAccepted() >= 4; }));
    ASSERT_TRUE(waitUntil([&] { return trace.count("time = ") >= 25; }));
    run.stop();
    server.dropClients();
    ASSERT_TRUE(run.join());
    EXPECT_GE(trace.count("接收协议头失败!\n"), 3);
    const Recorded r = readRecords(folder() + "127.0.10.3");
    ASSERT_EQ(r.files.size(), 1u);
    EXPECT_EQ(r.files[0].trailingBytes, 0u);
    expectPayloads(r, 2000);
    // Every frame the server sent before the stop is in the file, in order.
    for (size_t i = 0; i < r.files[0].records.size(); ++i)
        EXPECT_EQ(frameNumberOf(r.files[0].records[i].data), i);
}

// Bytes of one frame: header (markers as given), block, payload.
std::vector<uint8_t> frameBytes(int32_t psize, int32_t presize, int64_t time, size_t payloadBytes,
                                uint32_t front = kCollectionFrontMarker) {
    std::vector<uint8_t> bytes = collectionFrameHead(time, psize, presize, front);
    for (size_t i = 0; i < payloadBytes; ++i) bytes.push_back(static_cast<uint8_t>(i * 7));
    return bytes;
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(Recorder, BadFramesFromTheDevice) {
    const std::vector<uint8_t> response(kCollectionHeaderSize, 0);
    const auto good = [](int64_t t) { return frameBytes(6, 6, t, 6); };
    struct Case {
        const char* name;
        std::vector<uint8_t> first;  // sent on the first connection after the response
        bool closeAfter;             // then the device closes it; a reconnection gets time 100
        std::vector<std::pair<int64_t, size_t>> records;  // (time, data length) in the files
        const char* line;
    } cases[] = {
        {"wrong markers are skipped",
         std::vector<uint8_t>(40, 0x11) + good(2) + good(100),
         false,
         {{2, 6}, {100, 6}},
         "time = 2--\n"},
        {"negative psize has no payload",
         frameBytes(-5, 3, 3, 0) + good(4) + good(100),
         false,
         {{3, 0}, {4, 6}, {100, 6}},
         "psize = -5, rsize = 0, presize = 3，useStringlen = 0\n"},
        {"presize beyond psize is cut",
         frameBytes(4, 900, 5, 4) + good(100),
         false,
         {{5, 4}, {100, 6}},
         "presize = 900，useStringlen = 4\n"},
        {"huge psize ends the link",
         frameBytes(kMaxCollectionPayload + 1, 1, 6, 0) + good(7),
         false,
         {{100, 6}},
         "psize = 16777217 超出范围!\n"},
        {"a link dropped mid-frame",
         good(8) + frameBytes(600, 600, 9, 300),
         true,
         {{8, 6}, {100, 6}},
         "接收协议体失败!\n"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string address = "127.0.10." + std::to_string(10 + n++);
        LoopbackListener device([&](int k, int fd) {
            loopback::receive(fd, kCollectionHeaderSize, 2000);
            if (!loopback::sendAll(fd, response)) return false;
            if (k > 0) return loopback::sendAll(fd, good(100));
            return loopback::sendAll(fd, c.first) && !c.closeAfter;
        });
        ASSERT_TRUE(device.start(address, kCollectionPort));
        TraceCapture lines;
        RecorderRun run;
        run.start(address, folder());
        ASSERT_TRUE(lines.waitFor("time = 100--\n"));
        run.stop();
        device.closeClients();
        ASSERT_TRUE(run.join());
        EXPECT_NE(lines.out().find(c.line), std::string::npos) << lines.out();
        const Recorded r = readRecords(folder() + address);
        std::vector<std::pair<int64_t, size_t>> got;
        for (const auto& f : r.files) {
            EXPECT_EQ(f.trailingBytes, 0u);
            for (const auto& rec : f.records) got.emplace_back(rec.time, rec.data.size());
        }
        EXPECT_EQ(got, c.records);
    }
}

// A child process of this program that records from the address in
// KEST_RECORD_ADDR into KEST_RECORD_DIR; with KEST_RECORD_END=exit it ends
// the process the way the tool does once 10 records are on disk, otherwise it
// records until it is killed. Run only by the tests below.
TEST(RecorderChild, DISABLED_RecordUntilEnded) {
    const char* address = getenv("KEST_RECORD_ADDR");
    const char* folder = getenv("KEST_RECORD_DIR");
    ASSERT_TRUE(address && folder);
    shortenRecorderWaits();
    RecorderRun run;
    run.start(address, folder);
    if (std::string(getenv("KEST_RECORD_END") ? getenv("KEST_RECORD_END") : "") == "exit") {
        waitUntil(
            [&] { return recordsOnDisk(std::string(folder) + address, kChildPayload) >= 10; });
        EndProcess(0);  // while the recorder is in the middle of writing
    }
    std::this_thread::sleep_for(60s);
}

pid_t spawnChild(const std::string& address, const std::string& folder, const char* end) {
    const std::string a = "KEST_RECORD_ADDR=" + address;
    const std::string d = "KEST_RECORD_DIR=" + folder;
    const std::string e = std::string("KEST_RECORD_END=") + end;
    std::vector<char*> env = {const_cast<char*>(a.c_str()), const_cast<char*>(d.c_str()),
                              const_cast<char*>(e.c_str())};
    for (char** p = environ; *p; ++p) env.push_back(*p);
    env.push_back(nullptr);
    const char* argv[] = {"kest_integration_tests", "--gtest_also_run_disabled_tests",
                          "--gtest_filter=RecorderChild.DISABLED_RecordUntilEnded", nullptr};
    // Its console output would flood the test's log.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    posix_spawn(&pid, "/proc/self/exe", &actions, nullptr, const_cast<char**>(argv), env.data());
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

TEST_F(Recorder, AKillDuringRecordingLeavesEveryEarlierRecordReadable) {
    CollectionServer server(serverOptions("127.0.10.20", kChildPayload));
    ASSERT_TRUE(server.start());
    const pid_t child = spawnChild("127.0.10.20", folder(), "kill");
    ASSERT_GT(child, 0);
    const std::string dev = folder() + "127.0.10.20";
    const bool recorded = waitUntil([&] { return recordsOnDisk(dev, kChildPayload) >= 20; });
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_TRUE(recorded);
    EXPECT_TRUE(WIFSIGNALED(status));
    const Recorded r = readRecords(dev);
    ASSERT_EQ(r.files.size(), 1u);
    // At most the record being written at the kill is incomplete.
    EXPECT_LT(r.files[0].trailingBytes, kRecordHeaderSize + kChildPayload);
    EXPECT_GE(r.records(), 20u);
    expectPayloads(r, kChildPayload);
}

TEST_F(Recorder, EndingTheProcessClosesTheFilesAfterWholeRecords) {
    CollectionServer server(serverOptions("127.0.10.21", kChildPayload));
    ASSERT_TRUE(server.start());
    const pid_t child = spawnChild("127.0.10.21", folder(), "exit");
    ASSERT_GT(child, 0);
    int status = 0;
    const bool ended = waitUntil([&] { return waitpid(child, &status, WNOHANG) == child; });
    if (!ended) {
        kill(child, SIGKILL);
        waitpid(child, &status, 0);
    }
    ASSERT_TRUE(ended);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    const Recorded r = readRecords(folder() + "127.0.10.21");
    ASSERT_EQ(r.files.size(), 1u);
    EXPECT_EQ(r.files[0].trailingBytes, 0u);
    EXPECT_GE(r.records(), 10u);
    expectPayloads(r, kChildPayload);
}

// A full disk (the file size limit of this process) stops the recording on
// its own after one line: the records that fit stay whole, a file without a
// record is removed, and the outcome says why.
TEST_F(Recorder, AFullDiskStopsTheRecordingAndSaysWhy) {
    constexpr int kPayload = 1000;
    constexpr rlim_t kRecord = kRecordHeaderSize + kPayload;
    struct Case {
        const char* address;
        rlim_t limit;
        uint64_t kept;
    } cases[] = {
        {"127.0.21.1", kRecordFileHeaderSize + 3 * kRecord + kRecord / 2, 3},
        {"127.0.21.2", kRecordFileHeaderSize + kRecord - 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        CollectionServer server(serverOptions(c.address, kPayload));
        ASSERT_TRUE(server.start());
        TraceCapture lines;
        RecorderRun run;
        {
            RecordFileSizeLimit limit(c.limit);
            ASSERT_TRUE(limit.active());
            run.start(c.address, folder());
            // No stop request: the recording ends by itself.
            const bool ended = waitUntil([&] { return !run.control.m_recordRunning; });
            run.stop();
            ASSERT_TRUE(run.join());
            EXPECT_TRUE(ended) << "still recording on a full disk";
        }
        EXPECT_FALSE(run.outcome.stoppedByRequest);
        EXPECT_EQ(run.outcome.reason, std::strerror(EFBIG));
        EXPECT_EQ(run.outcome.failedPath.rfind(folder() + c.address + "/PointData", 0), 0u)
            << run.outcome.failedPath;
        EXPECT_EQ(run.outcome.recordsKept, c.kept);
        EXPECT_EQ(run.outcome.filesKept, c.kept > 0 ? 1u : 0u);
        EXPECT_EQ(lines.count("写入文件失败"), 1) << lines.out();
        EXPECT_NE(
            lines.out().find("写入文件失败，停止数据存储：" + run.outcome.failedPath +
                             " (File too large)，已保存 " + std::to_string(c.kept) + " 条记录\n"),
            std::string::npos)
            << lines.out();
        EXPECT_EQ(lines.count("创建文件："), 1);  // no new file for the following frames
        EXPECT_EQ(lines.count("断开连接！\n"), 1);
        const std::string dev = folder() + c.address;
        size_t files = 0;
        for (const auto& e : fs::directory_iterator(dev)) {
            ++files;
            RecordFileContents contents;
            ASSERT_TRUE(decodeRecordFile(readFile(e.path().string()), contents));
            EXPECT_EQ(contents.records.size(), c.kept);
            EXPECT_EQ(contents.trailingBytes, 0u);
        }
        EXPECT_EQ(files, c.kept > 0 ? 1u : 0u);
    }
}

// The stop request ends a recording whatever the device does meanwhile, long
// before the receive time-out (30 s here); a frame it cuts off is not written.
TEST_F(Recorder, TheStopEndsTheRecordingWhileTheDeviceIsSilentOrTrickles) {
    ScopedTimings timings;
    shellTiming().streamReceiveTimeoutMs = 30000;
    const std::vector<uint8_t> response(kCollectionHeaderSize, 0);
    const std::vector<uint8_t> whole = frameBytes(6, 6, 1, 6);
    const std::vector<uint8_t> cut = frameBytes(100000, 100000, 2, 500);
    struct Case {
        const char* name;
        std::vector<uint8_t> first;  // after the response
        bool trickle;                // then a byte every kTrickle
        const char* seen;            // the last frame line before the stop
        std::vector<int64_t> records;
    } cases[] = {
        {"silent after the response", {}, false, "127.0.21.10--58001\n", {}},
        {"silent in the middle of a payload", whole + cut, false, "time = 2--\n", {1}},
        {"trickling a header", whole, true, "time = 1--\n", {1}},
        {"trickling a payload", whole + cut, true, "time = 2--\n", {1}},
    };
    constexpr auto kTrickle = 50ms;
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string address = "127.0.21." + std::to_string(10 + n++);
        LoopbackListener device([&](int, int fd) {
            loopback::receive(fd, kCollectionHeaderSize, 2000);
            return loopback::sendAll(fd, response) && loopback::sendAll(fd, c.first);
        });
        ASSERT_TRUE(device.start(address, kCollectionPort));
        TraceCapture lines;
        RecorderRun run;
        run.start(address, folder());
        ASSERT_TRUE(device.waitForAccepted(1));
        ASSERT_TRUE(lines.waitFor(c.seen));
        std::atomic<bool> trickling{c.trickle};
        std::thread trickler([&] {
            while (trickling) {
                device.sendToLatest({0x01});
                std::this_thread::sleep_for(kTrickle);
            }
        });
        std::this_thread::sleep_for(10 * kTrickle);  // some bytes on their way
        run.stop();
        const bool ended = waitUntil([&] { return !run.control.m_recordRunning; });
        trickling = false;
        trickler.join();
        ASSERT_TRUE(run.join(60s));
        EXPECT_TRUE(ended) << "still recording 10 s after the stop";
        EXPECT_TRUE(run.outcome.stoppedByRequest);
        EXPECT_EQ(lines.count("接收协议"), 0) << lines.out();  // a stop is no failed receive
        EXPECT_EQ(lines.count("断开连接！\n"), 1);
        std::vector<int64_t> times;
        for (const auto& f : readRecords(folder() + address).files) {
            EXPECT_EQ(f.trailingBytes, 0u);
            for (const auto& r : f.records) times.push_back(r.time);
        }
        EXPECT_EQ(times, c.records);
    }
}

// The receive time-out bounds the wait for a whole part of a frame: a device
// that trickles a byte now and then is given up after it, as a silent one
// is, and the recorder connects again.
TEST_F(Recorder, ATricklingDeviceIsGivenUpAfterTheReceiveTimeOut) {
    ScopedTimings timings;
    shellTiming().streamReceiveTimeoutMs = 500;
    const std::vector<uint8_t> response(kCollectionHeaderSize, 0);
    LoopbackListener device([&](int, int fd) {
        loopback::receive(fd, kCollectionHeaderSize, 2000);
        return loopback::sendAll(fd, response) &&
               loopback::sendAll(fd, frameBytes(6, 6, 1, 6) + frameBytes(1000, 1000, 2, 10));
    });
    ASSERT_TRUE(device.start("127.0.21.20", kCollectionPort));
    TraceCapture lines;
    RecorderRun run;
    run.start("127.0.21.20", folder());
    ASSERT_TRUE(lines.waitFor("time = 2--\n"));
    std::atomic<bool> trickling{true};
    std::thread trickler([&] {
        while (trickling) {
            device.sendToLatest({0x01});
            std::this_thread::sleep_for(50ms);
        }
    });
    const bool gaveUp = lines.waitFor("接收协议体失败!\n", 10s);
    const bool reconnected = device.waitForAccepted(2, 10s);
    trickling = false;
    trickler.join();
    run.stop();
    device.closeClients();
    ASSERT_TRUE(run.join());
    EXPECT_TRUE(gaveUp) << lines.out();
    EXPECT_TRUE(reconnected);
}

}  // namespace
