// `kestctl record` as a program: on a full disk (its file size limit) it stops
// and says so with exit code 2; it ends soon after --seconds whatever the
// device does; and it counts a large recording without reading it into
// memory (its peak resident size, from the kernel).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "CollectionFrameBytes.h"
#include "CollectionServer.h"
#include "KestctlRun.h"
#include "LoopbackListener.h"
#include "TempFiles.h"
#include "stream/CollectionFormat.h"

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define KEST_SANITIZED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
#define KEST_SANITIZED 1
#endif
#endif

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// Runs kestctl with args to its end; see KestctlChildOptions for the file
// size limit and standard error.
KestctlEnd kestctl(const std::vector<std::string>& args, rlim_t fileSizeLimit = RLIM_INFINITY,
                   bool withErrors = false) {
    KestctlChild child = startKestctl(args, {fileSizeLimit, withErrors});
    return finishKestctl(child);
}

// Record files left in a folder and the records in each.
std::vector<size_t> recordsPerFile(const std::string& dir) {
    std::vector<size_t> records;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) {
        RecordFileContents contents;
        records.push_back(decodeRecordFile(readFile(e.path().string()), contents)
                              ? contents.records.size()
                              : ~size_t{0});
    }
    return records;
}

std::vector<uint8_t> frameBytes(int32_t payload, int64_t time) {
    std::vector<uint8_t> bytes = collectionFrameHead(time, payload, payload);
    bytes.resize(bytes.size() + static_cast<size_t>(payload), 0x5A);
    return bytes;
}

TEST(RecorderKestctl, AFullDiskStopsTheRecordingWithExitCode2) {
    constexpr int kPayload = 1000;
    constexpr rlim_t kRecord = kRecordHeaderSize + kPayload;
    struct Case {
        const char* address;
        rlim_t limit;
        const char* lang;
        const char* failed;  // the message up to the file's path
        const char* kept;    // the message after the path, up to the folder
        std::vector<size_t> files;
    } cases[] = {
        {"127.0.21.30",
         kRecordFileHeaderSize + 4 * kRecord + kRecord / 2,
         "en",
         "disk write failed, recording stopped: ",
         " (File too large); kept 4 records in 1 files under ",
         {4}},
        {"127.0.21.31",
         kRecordFileHeaderSize + kRecord - 1,
         "en",
         "disk write failed, recording stopped: ",
         " (File too large); kept 0 records in 0 files under ",
         {}},
        {"127.0.21.32",
         kRecordFileHeaderSize + 2 * kRecord,
         "zh",
         "写入磁盘失败，已停止记录: ",
         " (File too large); 已保存 2 条记录，文件 1 个，位于 ",
         {2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        CollectionServerOptions options;
        options.address = c.address;
        options.fps = 200;
        options.payloadBytes = kPayload;
        CollectionServer server(options);
        ASSERT_TRUE(server.start());
        TempDir dir;
        const std::string folder = dir.file("out") + "/" + c.address;
        const KestctlEnd run = kestctl({"--device", c.address, "--lang", c.lang, "record",
                                        "--seconds", "30", "--out", dir.file("out")},
                                       c.limit);
        EXPECT_EQ(run.exitCode, 2) << run.rest;
        const std::string head = std::string(c.address) + ": " + c.failed + folder + "/PointData";
        EXPECT_EQ(run.rest.rfind(head, 0), 0u) << run.rest;
        EXPECT_NE(run.rest.find(std::string(".bin") + c.kept + folder + "\n"), std::string::npos)
            << run.rest;
        EXPECT_EQ(recordsPerFile(folder), c.files);
    }
}

// Against a device that answers and then stays silent, or sends a byte now
// and then, `record --seconds 1` ends long before its 30 s receive time-out.
TEST(RecorderKestctl, TheRecordingEndsAfterItsSecondsWhateverTheDeviceDoes) {
    const std::vector<uint8_t> response(kCollectionHeaderSize, 0);
    struct Case {
        const char* address;
        std::vector<uint8_t> first;
        bool trickle;
    } cases[] = {
        {"127.0.21.40", {}, false},
        {"127.0.21.41", {}, true},
        {"127.0.21.42", frameBytes(200000, 1), true},  // its payload cut short
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        std::vector<uint8_t> first = c.first;
        if (!first.empty()) first.resize(first.size() - 100000);
        LoopbackListener device([&](int, int fd) {
            loopback::receive(fd, kCollectionHeaderSize, 2000);
            return loopback::sendAll(fd, response) && loopback::sendAll(fd, first);
        });
        ASSERT_TRUE(device.start(c.address, kCollectionPort));
        std::atomic<bool> trickling{c.trickle};
        // At most 20 s, so that a recording that does not end cannot hold the test.
        std::thread trickler([&] {
            for (int i = 0; trickling && i < 200; ++i) {
                device.sendToLatest({0x01});
                std::this_thread::sleep_for(100ms);
            }
        });
        TempDir dir;
        const KestctlEnd run = kestctl({"--device", c.address, "--timeout", "30", "record",
                                        "--seconds", "1", "--out", dir.file("out")});
        trickling = false;
        trickler.join();
        EXPECT_LT(run.seconds, 15.0) << "the receive time-out is 30 s";
        EXPECT_EQ(run.exitCode, 4) << run.rest;
        EXPECT_EQ(run.rest,
                  std::string(c.address) + ": nothing recorded (no data from the device)\n");
        EXPECT_TRUE(recordsPerFile(dir.file("out") + "/" + c.address).empty());
    }
}

// 24 frames of 4 MB make a 96 MB file; counting its records must not read it.
TEST(RecorderKestctl, CountingALargeRecordingTakesLittleMemory) {
    constexpr int kFrames = 24;
    constexpr int32_t kPayload = 4 << 20;
    const std::vector<uint8_t> response(kCollectionHeaderSize, 0);
    LoopbackListener device([&](int n, int fd) {
        loopback::receive(fd, kCollectionHeaderSize, 2000);
        if (n > 0 || !loopback::sendAll(fd, response)) return false;
        for (int i = 0; i < kFrames; ++i)
            if (!loopback::sendAll(fd, frameBytes(kPayload, i))) return false;
        return true;
    });
    ASSERT_TRUE(device.start("127.0.21.50", kCollectionPort));
    TempDir dir;
    const KestctlEnd run = kestctl({"--device", "127.0.21.50", "--json", "record", "--seconds", "3",
                                    "--out", dir.file("out")});
    EXPECT_EQ(run.exitCode, 0) << run.rest;
    EXPECT_NE(run.rest.find("\"records\":\"24\",\"files\":\"1\""), std::string::npos) << run.rest;
    EXPECT_EQ(recordsPerFile(dir.file("out/127.0.21.50")), std::vector<size_t>{kFrames});
#ifdef KEST_SANITIZED
    GTEST_SKIP() << "a sanitizer's own memory hides the program's peak";
#else
    EXPECT_LT(run.peakKb, 64 * 1024) << "peak resident size in kB";
#endif
}

// The recording runs on a thread of its own: its trace lines must still say
// which device they are about.
TEST(RecorderKestctl, VerboseTraceLinesNameTheDevice) {
    const std::string address = "127.0.21.60";
    LoopbackListener device([&](int, int fd) {
        loopback::receive(fd, kCollectionHeaderSize, 2000);
        loopback::sendAll(fd, std::vector<uint8_t>(kCollectionHeaderSize, 0));
        for (int i = 0; i < 3; ++i)
            if (!loopback::sendAll(fd, frameBytes(1000, i))) return false;
        return true;
    });
    ASSERT_TRUE(device.start(address, kCollectionPort));
    TempDir dir;
    const KestctlEnd run = kestctl(
        {"--device", address, "--verbose", "record", "--seconds", "1", "--out", dir.file("out")},
        RLIM_INFINITY, true);
    EXPECT_EQ(run.exitCode, 0) << run.rest;
    int traceLines = 0;
    size_t start = 0;
    for (size_t end; (end = run.rest.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = run.rest.substr(start, end - start);
        if (line.rfind(address + ": ", 0) == 0) continue;  // the report
        ++traceLines;
        EXPECT_EQ(line.rfind("[" + address + "] ", 0), 0u) << line;
    }
    EXPECT_GT(traceLines, 3) << run.rest;  // connect, file, records
    EXPECT_NE(run.rest.find("[" + address + "] 创建文件："), std::string::npos) << run.rest;
}

}  // namespace
