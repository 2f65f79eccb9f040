// The simulated device playing a recording: its stream port sends the
// records' points in order and round again; recording its collection port
// with kestctl gives the recorded records again, byte for byte; and the
// simulator program refuses a path with nothing to play and says once that
// a file ends in a torn record.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "KestctlRun.h"
#include "LoopbackSocket.h"
#include "RecordFileBytes.h"
#include "ReplayFeed.h"
#include "StreamServer.h"
#include "TempFiles.h"
#include "stream/StreamFrameReader.h"
#include "views/StandardGateAreas.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = 20s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// Every whole record of the record files below dir (name order), as the
// bytes of its record header and data; the file headers must all be those
// of the device's point data.
std::vector<std::string> recordsBelow(const std::string& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(dir))
        if (e.is_regular_file()) names.push_back(e.path().string());
    std::sort(names.begin(), names.end());
    std::vector<std::string> records;
    for (const std::string& name : names) {
        RecordFileContents file;
        EXPECT_TRUE(decodeRecordFile(readFile(name), file)) << name;
        EXPECT_EQ(file.values, kPointDataHeaderValues) << name;
        for (const auto& r : file.records) records.push_back(recordBytes(r.time, r.data));
    }
    return records;
}

// The simulator as a program, its console output in a file.
class SimProcess {
public:
    bool start(const std::vector<std::string>& args, const std::string& logPath) {
        std::vector<std::string> all = {KEST_SIM_PATH};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (std::string& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const bool ok = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        if (!ok) pid_ = -1;
        return ok;
    }
    // Its exit code once it has ended (after SIGINT with interrupt); -1 when
    // it did not end within timeout and was killed.
    int wait(std::chrono::milliseconds timeout, bool interrupt = false) {
        if (pid_ < 0) return -1;
        if (interrupt) ::kill(pid_, SIGINT);
        int status = 0;
        const bool ended =
            waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, timeout);
        if (!ended) {
            ::kill(pid_, SIGKILL);
            waitpid(pid_, &status, 0);
        }
        pid_ = -1;
        return ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    ~SimProcess() { wait(0ms); }

private:
    pid_t pid_ = -1;
};

bool listening(const std::string& log, const std::string& address) {
    return waitUntil([&] {
        return readFile(log).find("listening on " + address + ":58001") != std::string::npos;
    });
}

TEST(ReplayServe, StreamFramesCarryTheRecordsPointsInOrderAndLoop) {
    // Six records 25 ms apart, of lengths a device sends and lengths it does
    // not (no whole number of points, none at all); record i is all 'A' + i.
    const size_t lengths[] = {460800, 12, 13, 0, 120, 36};
    const size_t count = std::size(lengths);
    TempDir dir;
    std::string file = recordFileHeaderBytes();
    for (size_t i = 0; i < count; ++i)
        file += recordBytes(25 * static_cast<int64_t>(i), std::string(lengths[i], 'A' + i));
    writeFile(dir.file("rec.bin"), file);
    replayFeedTiming().loopGapMs = 25;
    auto feed = std::make_shared<ReplayFeed>();
    ASSERT_TRUE(feed->open(dir.file("rec.bin"))) << feed->refusal();

    SimOptions options;
    options.address = "127.0.31.1";
    StreamServer server(options);
    server.setFeed(feed);
    ASSERT_TRUE(server.start());
    const loopback::Socket s = loopback::connectTo("127.0.31.1", kStreamServerPort);
    ASSERT_NE(s, loopback::kNoSocket);
    const ReadExact read = [s](void* to, int length) {
        const auto got = loopback::receive(s, static_cast<size_t>(length), 5000);
        std::memcpy(to, got.data(), got.size());
        return got.size() == static_cast<size_t>(length);
    };

    // A client that falls behind may miss a frame, but frames never go back
    // and never repeat.
    StreamReadState state;
    int rounds = 0;
    size_t last = count;
    for (int frames = 0; frames < 200 && rounds < 2; ++frames) {
        FrameResult result;
        while ((result = readStreamFrame(read, state)) == FrameResult::Skipped) {
        }
        ASSERT_EQ(result, FrameResult::Stored) << "frame " << frames;
        const size_t record = state.points.empty() ? 3 : state.points[0] - 'A';
        ASSERT_LT(record, count);
        ASSERT_EQ(state.points, std::string(lengths[record], 'A' + record));
        EXPECT_EQ(state.objnum, 0);
        EXPECT_EQ(state.areas, standardGateAreas());
        if (last < count) {
            const size_t step = (record + count - last) % count;
            ASSERT_GE(step, 1u) << "record " << record << " sent twice in a row";
            ASSERT_LE(step, count / 2) << "from record " << last << " back to " << record;
            if (record < last) ++rounds;
        }
        last = record;
    }
    EXPECT_EQ(rounds, 2);
    loopback::closeSocket(s);
    server.stop();
    replayFeedTiming().loopGapMs = 100;
}

TEST(ReplayServe, RecordingTheSimulatorsReplayGivesTheRecordsAgainByteForByte) {
    struct Case {
        const char* bytes;  // of each of the scene's frames
        const char* scene;
        const char* replay;
    };
    const Case cases[] = {
        {"460800", "127.0.31.10", "127.0.31.11"},  // the device's point block
        {"1001", "127.0.31.12", "127.0.31.13"},    // no whole number of points
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.bytes);
        TempDir dir;
        const std::string log = dir.file("sim.log");
        SimProcess scene;
        ASSERT_TRUE(
            scene.start({"--address", c.scene, "--fps", "20", "--collect-bytes", c.bytes}, log));
        ASSERT_TRUE(listening(log, c.scene)) << readFile(log);
        const std::string first = dir.file("first");
        ASSERT_EQ(kestctl("--device " + std::string(c.scene) + " record --seconds 1 --out " + first)
                      .exitCode,
                  0);
        EXPECT_EQ(scene.wait(10s, true), 0);
        std::vector<std::string> original = recordsBelow(first);
        ASSERT_GE(original.size(), 5u);

        // Four records, and the recorder killed while it wrote the fifth.
        const std::string recording = first + "/" + c.scene;
        const fs::path file = fs::directory_iterator(recording)->path();
        original.resize(4);
        size_t whole = kRecordFileHeaderSize;
        for (const std::string& record : original) whole += record.size();
        fs::resize_file(file, whole + 1016);
        const std::string replayLog = dir.file("replay.log");
        SimProcess replay;
        ASSERT_TRUE(replay.start({"--address", c.replay, "--replay", recording}, replayLog));
        ASSERT_TRUE(listening(replayLog, c.replay)) << readFile(replayLog);
        const std::string again = dir.file("again");
        ASSERT_EQ(
            kestctl("--device " + std::string(c.replay) + " record --seconds 1 --out " + again)
                .exitCode,
            0);
        EXPECT_EQ(replay.wait(10s, true), 0);

        // From the first record on, and round again after the last.
        const std::vector<std::string> records = recordsBelow(again);
        ASSERT_GT(records.size(), original.size()) << "the replay did not loop";
        for (size_t i = 0; i < records.size(); ++i)
            ASSERT_TRUE(records[i] == original[i % original.size()])
                << "record " << i << " differs";
        const std::string out = readFile(replayLog);
        EXPECT_NE(out.find("4 records in 1 record file(s)"), std::string::npos) << out;
        size_t torn = 0;
        for (size_t at = out.find("torn record"); at != std::string::npos;
             at = out.find("torn record", at + 1))
            ++torn;
        EXPECT_EQ(torn, 1u) << out;
        EXPECT_NE(out.find(file.string() + ": torn record at the end, 1016 bytes left out"),
                  std::string::npos)
            << out;
    }
}

TEST(ReplayServe, TheSimulatorEndsAtStartWhenThePathHoldsNothingToPlay) {
    TempDir dir;
    writeFile(dir.file("text.bin"), std::string(100, 'x'));
    writeFile(dir.file("headerOnly.bin"), recordFileHeaderBytes() + recordHeaderBytes(1, 100));
    fs::create_directory(dir.file("folder"));
    writeFile(dir.file("folder/notes.txt"), "no record file");
    struct Case {
        std::string path;
        const char* says;
    };
    const Case cases[] = {
        {dir.file("missing.bin"), "missing.bin: cannot be read"},
        {dir.file("text.bin"), "text.bin: not a record file"},
        {dir.file("headerOnly.bin"), "headerOnly.bin: not one whole record to play"},
        {dir.file("folder"), "folder: no record file in this folder"},
        {"", "usage: KestDeviceSim"},
    };
    for (const Case& c : cases) {
        const std::string log = dir.file("sim.log");
        SimProcess sim;
        ASSERT_TRUE(sim.start({"--address", "127.0.31.40", "--replay", c.path}, log));
        EXPECT_EQ(sim.wait(10s), 2) << c.path;
        const std::string out = readFile(log);
        EXPECT_NE(out.find(c.says), std::string::npos) << out;
        EXPECT_EQ(out.find("listening"), std::string::npos) << out;
    }
}

}  // namespace
