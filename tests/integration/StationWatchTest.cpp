// A station of simulated gates and kestctl watch over all of them: address
// ranges of the station simulator, the gates' seeded scenes, every push
// printed once and in order per device, and faulty devices among healthy
// ones. Addresses 127.0.41.x (in-process watch), 127.0.42.x (faults),
// 127.0.43.x to 127.0.45.x (kestctl as a program).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <streambuf>
#include <string>
#include <thread>
#include <vector>

#include "FaultPeer.h"
#include "GateScene.h"
#include "GateServer.h"
#include "KestctlRun.h"
#include "ScopedTimings.h"
#include "Station.h"
#include "TempFiles.h"
#include "cli/WatchCommand.h"
#include "cli/WatchFormat.h"
#include "core/Flags.h"
#include "gate/GateTiming.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kPatience = 10s;  // bound of every wait for something that must happen

// ---- the station simulator ------------------------------------------------

TEST(StationSim, AddressRanges) {
    const struct {
        const char* text;
        bool ok;
        size_t count;
        const char* first;
        const char* last;
        const char* errorPart;
    } cases[] = {
        {"127.0.1.1-127.0.1.200", true, 200, "127.0.1.1", "127.0.1.200", ""},
        {"127.0.41.9-127.0.41.9", true, 1, "127.0.41.9", "127.0.41.9", ""},
        {"127.0.1.250-127.0.2.3", true, 10, "127.0.1.250", "127.0.2.3", ""},
        {"127.0.0.0-127.0.15.255", true, kMaxStationDevices, "127.0.0.0", "127.0.15.255", ""},
        {"127.0.0.0-127.0.16.0", false, 0, "", "", "more than 4096"},
        {"127.0.1.9-127.0.1.8", false, 0, "", "", "comes after"},
        {"127.255.255.255-128.0.0.0", false, 0, "", "", "no loopback"},
        {"10.0.0.1-10.0.0.2", false, 0, "", "", "no loopback"},
        {"127.0.1.1", false, 0, "", "", "FIRST-LAST"},
        {"127.0.1.1-", false, 0, "", "", "FIRST-LAST"},
        {"127.0.1.1-127.0.1.300", false, 0, "", "", "FIRST-LAST"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> addresses;
        std::string error;
        EXPECT_EQ(parseAddressRange(c.text, addresses, error), c.ok) << c.text << ": " << error;
        EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.text << ": " << error;
        ASSERT_EQ(addresses.size(), c.count) << c.text;
        if (c.count == 0) continue;
        EXPECT_EQ(addresses.front(), c.first);
        EXPECT_EQ(addresses.back(), c.last);
        EXPECT_EQ(std::set<std::string>(addresses.begin(), addresses.end()).size(), c.count);
    }
}

std::vector<SimGateFrame> sceneFrames(uint64_t seed, size_t n) {
    GateScene scene(seed);
    std::vector<SimGateFrame> frames;
    for (size_t i = 0; i < n; ++i) frames.push_back(scene.next());
    return frames;
}

TEST(StationSim, EachGateHasItsOwnSceneOfValidPushes) {
    const std::set<uint8_t> alarms = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 0x99};
    const std::set<uint8_t> doors = {0, 1, 2};
    for (uint64_t seed : {0ull, 1ull, 2ull, 0xFFFFFFFFFFFFFFFFull}) {
        const std::vector<SimGateFrame> frames = sceneFrames(seed, 2000);
        EXPECT_EQ(frames, sceneFrames(seed, 2000)) << "seed " << seed;
        EXPECT_NE(frames, sceneFrames(seed + 1, 2000)) << "seed " << seed;
        std::set<uint8_t> seenAlarms;
        std::set<uint8_t> seenDoors;
        for (const SimGateFrame& f : frames) {
            ASSERT_TRUE(gateFrameMarkersValid(f.data()));
            ASSERT_EQ(f[3], 0x01) << "a push";
            // Either an alarm without a door change or a door state without an alarm.
            if (f[12] == 0xFF) {
                ASSERT_EQ(alarms.count(f[6]), 1u) << int(f[6]);
                seenAlarms.insert(f[6]);
            } else {
                ASSERT_EQ(f[6], 0x00);
                ASSERT_EQ(doors.count(f[12]), 1u) << int(f[12]);
                seenDoors.insert(f[12]);
            }
        }
        EXPECT_EQ(seenAlarms, alarms) << "every alarm of the panel's table comes up";
        EXPECT_EQ(seenDoors, doors);
    }
    EXPECT_EQ(stationDeviceSeed(7, 0), 7u);
    EXPECT_EQ(stationDeviceSeed(7, 199), 206u);
}

// ---- the watch in-process -------------------------------------------------

// The library's console lines go nowhere (a read a frame).
class NullBuf : public std::streambuf {
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
};

// Collects the JSON lines of a watch per device: the frames of its events and
// its link changes, in the order they came.
class Collected {
public:
    WatchLineSink sink() {
        return [this](const std::string& line) {
            const std::string device = field(line, "device");
            std::lock_guard<std::mutex> lock(mutex_);
            if (field(line, "type") == "event") {
                frames_[device].push_back(field(line, "frame"));
            } else if (field(line, "type") == "link") {
                links_[device].push_back(field(line, "link"));
            }
        };
    }
    std::vector<std::string> frames(const std::string& device) const {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = frames_.find(device);
        return it == frames_.end() ? std::vector<std::string>() : it->second;
    }
    std::vector<std::string> links(const std::string& device) const {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = links_.find(device);
        return it == links_.end() ? std::vector<std::string>() : it->second;
    }
    template <typename Predicate>
    bool waitFor(Predicate holds) const {
        const auto deadline = std::chrono::steady_clock::now() + kPatience;
        while (!holds()) {
            if (std::chrono::steady_clock::now() > deadline) return false;
            std::this_thread::sleep_for(5ms);
        }
        return true;
    }

private:
    // The text of "key":"value" or "key":number in a line.
    static std::string field(const std::string& line, const std::string& key) {
        const std::string tag = "\"" + key + "\":";
        const size_t at = line.find(tag);
        if (at == std::string::npos) return "";
        size_t begin = at + tag.size();
        if (line[begin] == '"') {
            ++begin;
            return line.substr(begin, line.find('"', begin) - begin);
        }
        return line.substr(begin, line.find_first_of(",}", begin) - begin);
    }

    mutable std::mutex mutex_;
    std::map<std::string, std::vector<std::string>> frames_;
    std::map<std::string, std::vector<std::string>> links_;
};

std::vector<std::string> sceneHex(uint64_t seed, size_t n) {
    std::vector<std::string> out;
    for (const SimGateFrame& f : sceneFrames(seed, n)) out.push_back(frameHex(f));
    return out;
}

class StationWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        savedChinese_ = g_uiChinese.load();
        g_uiChinese = false;
        deviceClientTiming().receiveTimeoutMs = 2000;
        deviceClientTiming().reconnectSleepMs = 5;  // reconnect check every 150 ms
        saved_ = {watchTiming().linkPollMs.load(), watchTiming().heartbeatPeriodMs.load()};
        watchTiming().linkPollMs = 10;
        watchTiming().heartbeatPeriodMs = 50;
        oldOut_ = std::cout.rdbuf(&null_);
        oldErr_ = std::cerr.rdbuf(&null_);
    }
    void TearDown() override {
        if (watch_) watch_->stop();
        std::cout.rdbuf(oldOut_);
        std::cerr.rdbuf(oldErr_);
        g_uiChinese = savedChinese_;
        watchTiming().linkPollMs = saved_.first;
        watchTiming().heartbeatPeriodMs = saved_.second;
    }

    std::vector<std::unique_ptr<SimModule>> station(const std::vector<std::string>& addresses,
                                                    uint64_t seed, int dropEvery = 0) {
        GateServerOptions gate;
        gate.pushIntervalMs = 10;
        gate.dropEvery = dropEvery;
        auto servers = stationGateServers(addresses, gate, seed);
        for (auto& s : servers) EXPECT_TRUE(s->start());
        return servers;
    }

    ScopedTimings timings_;
    Collected got_;
    std::unique_ptr<StationWatch> watch_;
    NullBuf null_;
    std::streambuf* oldOut_ = nullptr;
    std::streambuf* oldErr_ = nullptr;
    bool savedChinese_ = false;
    std::pair<int, int> saved_;
};

TEST_F(StationWatchTest, EveryPushOfEveryGateIsPrintedOnceAndInOrder) {
    const std::vector<std::string> addresses = {"127.0.41.1", "127.0.41.2", "127.0.41.3",
                                                "127.0.41.4", "127.0.41.5", "127.0.41.6"};
    auto gates = station(addresses, 100);
    watch_ = std::make_unique<StationWatch>(addresses, kGatePortAlarm, true, false, got_.sink());
    watch_->start();
    for (const std::string& a : addresses)
        ASSERT_TRUE(got_.waitFor([&] { return got_.frames(a).size() >= 30; })) << a;

    // The gates stop pushing; then everything they pushed must have been printed.
    std::vector<int> pushed;
    for (auto& g : gates) {
        g->stop();
        pushed.push_back(static_cast<GateServer&>(*g).pushesSent());
    }
    for (size_t i = 0; i < addresses.size(); ++i) {
        const std::string& a = addresses[i];
        EXPECT_TRUE(got_.waitFor([&] { return got_.links(a).size() >= 2; })) << a;
        const std::vector<std::string> frames = got_.frames(a);
        // Each gate one link, so its scene from the start: the same frames in the same order.
        EXPECT_EQ(frames, sceneHex(stationDeviceSeed(100, i), static_cast<size_t>(pushed[i]))) << a;
        EXPECT_EQ(got_.links(a), (std::vector<std::string>{"connected", "lost"})) << a;
    }
    watch_->stop();
    const std::vector<WatchTally> tallies = watch_->tallies();
    ASSERT_EQ(tallies.size(), addresses.size());
    for (size_t i = 0; i < tallies.size(); ++i) {
        EXPECT_EQ(tallies[i].device, addresses[i]);
        EXPECT_EQ(tallies[i].events, static_cast<uint64_t>(pushed[i]));
        EXPECT_EQ(tallies[i].linkLosses, 1u);
        EXPECT_TRUE(tallies[i].reached);
        EXPECT_GT(tallies[i].connectedMs, 0);
    }
    EXPECT_EQ(watchExitCode(tallies), 0);
}

// A device that drops its link, one that never answers, one that sends
// megabytes of garbage and one that cuts a frame and closes, among healthy
// gates: the healthy ones go on unaffected, each fault shows where it should.
TEST_F(StationWatchTest, FaultyDevicesAmongHealthyOnes) {
    const std::vector<std::string> healthy = {"127.0.42.1", "127.0.42.2", "127.0.42.3",
                                              "127.0.42.4"};
    const std::string dropper = "127.0.42.5";
    const std::string silentAddress = "127.0.42.6";  // nothing listens
    const std::string garbage = "127.0.42.7";
    const std::string cutter = "127.0.42.8";
    auto gates = station(healthy, 200);
    auto dropping = station({dropper}, 300, 4);

    faults::LinkBytes link;
    link.valid = {0x7E, 0x00, 0x01, 0x01, 0x01, 0x00, 0x05, 0x00,
                  0x00, 0x00, 0x00, 0x00, 0xFF, 0xAA, 0xBB, 0x7E};  // zhiliu
    link.garbage = faults::markerRichGarbage(4u << 20, 0x7E, 0xAA, 42);
    LoopbackListener garbagePeer(faults::faultScript(link, faults::Fault::Garbage));
    ASSERT_TRUE(garbagePeer.start(garbage, kGatePortAlarm));
    LoopbackListener cutPeer(faults::faultScript(link, faults::Fault::CloseMidFrame));
    ASSERT_TRUE(cutPeer.start(cutter, kGatePortAlarm));

    std::vector<std::string> all = healthy;
    for (const std::string& a : {dropper, silentAddress, garbage, cutter}) all.push_back(a);
    watch_ = std::make_unique<StationWatch>(all, kGatePortAlarm, true, false, got_.sink());
    watch_->start();

    const std::string zhiliu =
        frameHex(SimGateFrame{0x7E, 0x00, 0x01, 0x01, 0x01, 0x00, 0x05, 0x00, 0x00, 0x00, 0x00,
                              0x00, 0xFF, 0xAA, 0xBB, 0x7E});
    EXPECT_TRUE(got_.waitFor([&] { return got_.frames(garbage).size() == 1; }));
    EXPECT_TRUE(got_.waitFor([&] { return got_.frames(cutter).size() == 1; }));
    EXPECT_TRUE(got_.waitFor([&] { return got_.links(dropper).size() >= 5; }));
    for (const std::string& a : healthy)
        ASSERT_TRUE(got_.waitFor([&] { return got_.frames(a).size() >= 40; })) << a;

    std::vector<int> pushed;
    for (auto& g : gates) {
        g->stop();
        pushed.push_back(static_cast<GateServer&>(*g).pushesSent());
    }
    dropping[0]->stop();
    const int droppedPushes = static_cast<GateServer&>(*dropping[0]).pushesSent();
    for (size_t i = 0; i < healthy.size(); ++i) {
        const std::string& a = healthy[i];
        EXPECT_TRUE(got_.waitFor([&] { return got_.links(a).size() >= 2; })) << a;
        EXPECT_EQ(got_.frames(a), sceneHex(stationDeviceSeed(200, i), pushed[i])) << a;
        EXPECT_EQ(got_.links(a), (std::vector<std::string>{"connected", "lost"})) << a;
    }
    // Every link of the dropping gate plays the first four frames of its scene.
    EXPECT_TRUE(got_.waitFor([&] {
        return got_.frames(dropper).size() == static_cast<size_t>(droppedPushes);
    })) << got_.frames(dropper).size()
        << " of " << droppedPushes;
    const std::vector<std::string> firstFour = sceneHex(300, 4);
    const std::vector<std::string> dropped = got_.frames(dropper);
    for (size_t k = 0; k < dropped.size(); ++k) EXPECT_EQ(dropped[k], firstFour[k % 4]) << k;
    const std::vector<std::string> changes = got_.links(dropper);
    ASSERT_GE(changes.size(), 3u);
    EXPECT_EQ(changes[0], "connected");
    for (size_t k = 1; k < changes.size(); ++k) EXPECT_EQ(changes[k], k % 2 ? "lost" : "back") << k;

    EXPECT_EQ(got_.frames(garbage), std::vector<std::string>{zhiliu});
    EXPECT_EQ(got_.frames(cutter), std::vector<std::string>{zhiliu});
    EXPECT_TRUE(got_.frames(silentAddress).empty());
    EXPECT_TRUE(got_.links(silentAddress).empty());

    watch_->stop();
    const std::vector<WatchTally> tallies = watch_->tallies();
    ASSERT_EQ(tallies.size(), all.size());
    EXPECT_FALSE(tallies[5].reached);
    EXPECT_EQ(tallies[5].connectedMs, 0);
    EXPECT_GE(tallies[4].linkLosses, 2u);
    EXPECT_GE(tallies[7].linkLosses, 1u) << "the cut frame ended the first link";
    EXPECT_EQ(watchExitCode(tallies), 4);
}

// ---- kestctl watch as a program -------------------------------------------

// Reads the rest of its lines and waits for its end: its exit code.
int finish(KestctlChild& child, std::vector<std::string>& lines) {
    const KestctlEnd end = finishKestctl(child);
    size_t from = 0;
    for (size_t at; (at = end.rest.find('\n', from)) != std::string::npos; from = at + 1)
        lines.push_back(end.rest.substr(from, at - from));
    if (from < end.rest.size()) lines.push_back(end.rest.substr(from));
    return end.exitCode;
}

std::vector<std::string> linesStartingWith(const std::vector<std::string>& lines,
                                           const std::string& start) {
    std::vector<std::string> out;
    for (const std::string& l : lines)
        if (l.compare(0, start.size(), start) == 0) out.push_back(l);
    return out;
}

TEST(KestctlWatch, JsonForSecondsWithAnUnreachableDevice) {
    GateServerOptions gate;
    gate.pushIntervalMs = 20;
    auto gates = stationGateServers({"127.0.43.1", "127.0.43.2"}, gate, 500);
    for (auto& g : gates) ASSERT_TRUE(g->start());
    TempDir dir;
    writeFile(dir.file("station"), "127.0.43.1\n127.0.43.2  # gate 2\n127.0.43.3\n");
    KestctlChild child =
        startKestctl({"--devices", dir.file("station"), "--json", "watch", "--for", "1"});
    ASSERT_GT(child.pid, 0);
    std::vector<std::string> lines;
    EXPECT_EQ(finish(child, lines), 4) << "127.0.43.3 never answered";
    ASSERT_GE(lines.size(), 5u);

    // The summaries come last, in the order the devices were given.
    const std::vector<std::string> tail(lines.end() - 3, lines.end());
    EXPECT_EQ(tail[2],
              "{\"type\":\"summary\",\"device\":\"127.0.43.3\",\"events\":0,\"link_losses\":0,"
              "\"connected_s\":0.000,\"reached\":false}");
    for (int i = 0; i < 2; ++i) {
        const std::string device = "127.0.43." + std::to_string(i + 1);
        const std::string start = "{\"type\":\"summary\",\"device\":\"" + device + "\",\"events\":";
        EXPECT_EQ(tail[i].compare(0, start.size(), start), 0) << tail[i];
        EXPECT_NE(tail[i].find("\"link_losses\":0,"), std::string::npos) << tail[i];
        EXPECT_NE(tail[i].find("\"reached\":true}"), std::string::npos) << tail[i];

        // Per device: connected first, then its scene's frames in order.
        const std::vector<std::string> own =
            linesStartingWith(lines, "{\"type\":\"event\",\"device\":\"" + device + "\"");
        const std::vector<std::string> link =
            linesStartingWith(lines, "{\"type\":\"link\",\"device\":\"" + device + "\"");
        ASSERT_EQ(link.size(), 1u);
        EXPECT_NE(link[0].find("\"link\":\"connected\"}"), std::string::npos);
        ASSERT_FALSE(own.empty());
        const std::vector<std::string> scene = sceneHex(stationDeviceSeed(500, i), own.size());
        for (size_t k = 0; k < own.size(); ++k)
            EXPECT_NE(own[k].find("\"frame\":\"" + scene[k] + "\"}"), std::string::npos) << own[k];
        EXPECT_NE(tail[i].find("\"events\":" + std::to_string(own.size()) + ","), std::string::npos)
            << tail[i];
    }
}

TEST(KestctlWatch, CtrlCEndsWithTheSummaryInChinese) {
    GateServerOptions gate;
    gate.pushIntervalMs = 20;
    auto gates = stationGateServers({"127.0.44.1"}, gate, 600);
    ASSERT_TRUE(gates[0]->start());
    KestctlChild child = startKestctl({"--device", "127.0.44.1", "--lang", "zh", "watch"});
    ASSERT_GT(child.pid, 0);
    std::vector<std::string> lines;
    std::string line;
    // Up to the first event, then Ctrl-C.
    while (readKestctlLine(child, line)) {
        lines.push_back(line);
        if (lines.size() >= 3) break;
    }
    kill(child.pid, SIGINT);
    EXPECT_EQ(finish(child, lines), 0);
    ASSERT_GE(lines.size(), 4u);
    EXPECT_NE(lines[0].find("127.0.44.1: ["), std::string::npos);
    EXPECT_NE(lines[0].find("]: 链接已建立"), std::string::npos) << lines[0];
    const std::string& summary = lines.back();
    EXPECT_EQ(summary.rfind("127.0.44.1: ", 0), 0u) << summary;
    EXPECT_NE(summary.find(" 个事件, 0 次断链, 连接 "), std::string::npos) << summary;
    EXPECT_EQ(summary.find("从未连上"), std::string::npos) << summary;
    // Every line between is an event in the panel's Chinese words.
    const std::set<std::string> words = {"尾随",       "闯入",         "抢行",         "逆行",
                                         "滞留",       "跨越",         "授权超时",     "遗留物",
                                         "安全区占用", "进站意向通行", "出站意向通行", "告警结束",
                                         "开门",       "关门",         "暂停门"};
    for (size_t k = 1; k + 1 < lines.size(); ++k) {
        const size_t at = lines[k].find("]: ");
        ASSERT_NE(at, std::string::npos) << lines[k];
        EXPECT_EQ(words.count(lines[k].substr(at + 3)), 1u) << lines[k];
    }
}

TEST(KestctlWatch, BadInputIsExitTwo) {
    const std::vector<std::vector<std::string>> cases = {
        {"--device", "127.0.45.1", "--device", "127.0.45.1", "watch", "--for", "1"},
        {"--device", "127.0.45.1", "watch", "--for", "0"},
        {"--device", "127.0.45.999", "watch"},
        {"watch", "--for", "1"},
    };
    for (const auto& args : cases) {
        KestctlChild child = startKestctl(args);
        ASSERT_GT(child.pid, 0);
        std::vector<std::string> lines;
        EXPECT_EQ(finish(child, lines), 2) << args[1];
        EXPECT_TRUE(lines.empty()) << lines.front();
    }
}

}  // namespace
