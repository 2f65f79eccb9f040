// Playing a recording back: the pace taken from the records' stamps (gaps
// shortened, speeds, steps, the end), the player handing each record to the
// views in place of the live frames, within the right areas, and the texts
// the engineer reads about it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <limits>
#include <thread>
#include <vector>

#include "RecordFileBytes.h"
#include "TempFiles.h"
#include "TraceCapture.h"
#include "core/Flags.h"
#include "core/FrameDistributor.h"
#include "core/SharedState.h"
#include "core/ViewFrames.h"
#include "stream/RecordPlaylist.h"
#include "stream/ReplaySchedule.h"
#include "views/ReplayPlayer.h"
#include "views/StandardGateAreas.h"

namespace {

using namespace std::chrono_literals;

TEST(ReplayGap, StampsDifferenceWithinTwoSeconds) {
    constexpr int64_t kMin = std::numeric_limits<int64_t>::min();
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    const struct {
        int64_t from, to, gap;
    } cases[] = {
        {1000, 1040, 40},   {1000, 1000, 0}, {1000, 999, 0},   // backwards: at once
        {0, 2000, 2000},    {0, 2001, 2000}, {0, 1999, 1999},  // the 2 s edge
        {kMin, kMax, 2000}, {kMax, kMin, 0}, {-5, 5, 10},     {1700000000000, 1700000003600, 2000},
    };
    for (const auto& c : cases)
        EXPECT_EQ(replayGapMs(c.from, c.to), c.gap) << c.from << " -> " << c.to;
}

TEST(ReplaySchedule, SpeedsAreTakenToTheNearestOffered) {
    const struct {
        double asked, got;
    } cases[] = {{0.25, 0.25}, {4.0, 4.0}, {0.1, 0.25}, {100.0, 4.0}, {0.3, 0.25},
                 {0.4, 0.5},   {1.4, 1.0}, {1.6, 2.0},  {3.5, 4.0},   {-1.0, 0.25}};
    for (const auto& c : cases) {
        ReplaySchedule schedule(2, [](size_t i) { return static_cast<int64_t>(i) * 40; });
        schedule.setSpeed(c.asked);
        EXPECT_EQ(schedule.speed(), c.got) << c.asked;
    }
}

// One script over one recording: each step, what it returned, and where the
// schedule stands after it.
TEST(ReplaySchedule, PacingStepsAndTheEnd) {
    // Stamps: 40 ms apart, a 4 s gap (played as 2 s), one going backwards.
    const std::vector<int64_t> times = {1000, 1040, 1080, 5080, 5000, 5040};
    ReplaySchedule s(times.size(), [&](size_t i) { return times[i]; });
    enum Op { Play, Pause, Step, Seek, Speed, Advance };
    const struct {
        const char* what;
        Op op;
        double arg;
        int64_t now;
        bool returned;
        size_t position;
        bool playing;
        int64_t due;  // nextDueMs while playing, else not looked at
    } script[] = {
        {"play from the first", Play, 0, 0, false, 0, true, 40},
        {"not due yet", Advance, 0, 39, false, 0, true, 40},
        {"due: a little late keeps the pace", Advance, 0, 140, true, 1, true, 80},
        {"x4 from when it was due", Speed, 4, 0, false, 1, true, 50},
        {"on", Advance, 0, 150, true, 2, true, 550},
        {"x0.25 stretches the 2 s gap", Speed, 0.25, 0, false, 2, true, 8050},
        {"x1: the 4 s gap plays as 2 s", Speed, 1, 0, false, 2, true, 2050},
        {"across the gap", Advance, 0, 2050, true, 3, true, 2050},
        {"a stamp going back plays at once", Advance, 0, 2050, true, 4, true, 2090},
        {"very late: the last record ends the playing", Advance, 0, 5000, true, 5, false, 0},
        {"nothing after the end", Advance, 0, 6000, false, 5, false, 0},
        {"play at the end starts over", Play, 0, 7000, true, 0, true, 7040},
        {"a step pauses", Step, 2, 0, true, 2, false, 0},
        {"back, not before the first", Step, -5, 0, true, 0, false, 0},
        {"nothing before the first", Step, -1, 0, false, 0, false, 0},
        {"paused: nothing is due", Advance, 0, 9000, false, 0, false, 0},
        {"seek past the end: the last", Seek, 100, 8000, true, 5, false, 0},
        {"seek while paused stays paused", Seek, 1, 9000, true, 1, false, 0},
        {"play from there", Play, 0, 9000, false, 1, true, 9040},
        {"seek while playing plays on from there", Seek, 3, 9500, true, 3, true, 9500},
        {"the same record: nothing to show", Seek, 3, 9600, false, 3, true, 9600},
        {"pause", Pause, 0, 0, false, 3, false, 0},
        {"one forward", Step, 1, 0, true, 4, false, 0},
    };
    for (const auto& c : script) {
        bool returned = false;
        switch (c.op) {
            case Play:
                returned = s.play(c.now);
                break;
            case Pause:
                s.pause();
                break;
            case Step:
                returned = s.step(static_cast<long>(c.arg));
                break;
            case Seek:
                returned = s.seek(static_cast<size_t>(c.arg), c.now);
                break;
            case Speed:
                s.setSpeed(c.arg);
                break;
            case Advance:
                returned = s.advance(c.now);
                break;
        }
        EXPECT_EQ(returned, c.returned) << c.what;
        EXPECT_EQ(s.position(), c.position) << c.what;
        EXPECT_EQ(s.playing(), c.playing) << c.what;
        if (c.playing) {
            EXPECT_EQ(s.nextDueMs(), c.due) << c.what;
        }
    }
}

TEST(ReplaySchedule, OneRecordNeverPlays) {
    ReplaySchedule s(1, [](size_t) { return int64_t{7}; });
    EXPECT_FALSE(s.play(0));
    EXPECT_FALSE(s.playing());
    EXPECT_FALSE(s.step(1));
    EXPECT_FALSE(s.advance(10000));
    EXPECT_EQ(s.position(), 0u);
}

TEST(ReplayTexts, RefusalsNameThePathAndWhy) {
    using R = RecordPlaylist::Refusal;
    const struct {
        R refusal;
        bool chinese;
        const char* text;
    } cases[] = {
        {R::NotRecordFile, false,
         "Not a record file:\n/r/a.bin\n(its header is not the header of a record file)"},
        {R::NotRecordFile, true,
         "不是数据记录文件：\n/r/a.bin\n（文件头不是数据记录文件的文件头）"},
        {R::Unreadable, false,
         "Cannot read:\n/r/a.bin\n(the file or folder cannot be opened or read)"},
        {R::Unreadable, true, "无法读取：\n/r/a.bin\n（文件或文件夹打不开或读不出）"},
        {R::NoRecordFiles, false, "No record file in the folder:\n/r/a.bin"},
        {R::NoRecordFiles, true, "文件夹中没有数据记录文件：\n/r/a.bin"},
        {R::NoRecords, false, "Not one whole record in:\n/r/a.bin"},
        {R::NoRecords, true, "没有一条完整的记录：\n/r/a.bin"},
        {R::None, false, ""},
    };
    for (const auto& c : cases) {
        g_uiChinese = c.chinese;
        EXPECT_EQ(replayRefusalText(c.refusal, "/r/a.bin"), c.text);
    }
    g_uiChinese = true;
}

TEST(ReplayTexts, PositionIsUtc8TimeAndNumber) {
    const struct {
        int64_t time;
        size_t record, count;
        const char* text;
    } cases[] = {
        {0, 0, 1, "1970-01-01 08:00:00_000  #1 / 1"},
        {1741050307042, 11, 5001, "2025-03-04 09:05:07_042  #12 / 5001"},
        {1741017599999, 5000, 5001, "2025-03-03 23:59:59_999  #5001 / 5001"},
    };
    for (const auto& c : cases) {
        ReplayState state;
        state.time = c.time, state.record = c.record, state.count = c.count;
        EXPECT_EQ(replayPositionText(state), c.text);
    }
}

TEST(ReplayTexts, TornTailsAndPassedOverFilesGoToTheTrace) {
    TempDir dir;
    const std::string header = recordFileHeaderBytes();
    writeFile(dir.file("PointData1.bin"), header + recordBytes(1, "ab") + recordHeaderBytes(2, 9));
    writeFile(dir.file("PointData2.bin"), header + recordBytes(3, "cd"));
    writeFile(dir.file("x.txt"), "x");
    RecordPlaylist playlist;
    ASSERT_EQ(playlist.open(dir.file("")), RecordPlaylist::Refusal::None);
    TraceCapture trace;
    g_uiChinese = false;
    traceReplayOpened(playlist);
    g_uiChinese = true;
    traceReplayOpened(playlist);
    const std::string a = dir.file("PointData1.bin"), b = dir.file("PointData2.bin"),
                      x = dir.file("x.txt");
    EXPECT_EQ(trace.out(), "replay: " + x + " is not a record file, passed over\n" +
                               "replay: " + a + ": 1 records\n" + "replay: " + a +
                               ": the last 16 bytes are a torn record, left out\n" +
                               "replay: " + b + ": 1 records\n" + "回放：" + x +
                               " 不是数据记录文件，已跳过\n" + "回放：" + a + "：1 条记录\n" +
                               "回放：" + a + "：末尾 16 字节是不完整的记录，已略去\n" + "回放：" +
                               b + "：1 条记录\n");
}

TEST(ReplayRead, ARecordIsReadWholeUpToTheLimit) {
    TempDir dir;
    const std::string path = dir.file("r.bin");
    writeFile(path,
              recordFileHeaderBytes() + recordBytes(5, std::string(100, 'p')) + recordBytes(6, ""));
    RecordPlaylist playlist;
    ASSERT_EQ(playlist.open(path), RecordPlaylist::Refusal::None);
    const struct {
        size_t record, limit, length;
        bool ok;
    } cases[] = {{0, 1000, 100, true}, {0, 100, 100, true}, {0, 99, 99, true},
                 {0, 0, 0, true},      {1, 10, 0, true},    {2, 10, 0, false}};
    for (const auto& c : cases) {
        std::string data = "old";
        EXPECT_EQ(playlist.read(c.record, data, c.limit), c.ok) << c.record << " " << c.limit;
        EXPECT_EQ(data, c.ok ? std::string(c.length, 'p') : std::string()) << c.record;
    }
}

// The views' side of the hand-off: a stand-in for the 2D view that takes
// every frame it is woken for and keeps its bytes.
class TakingView {
public:
    explicit TakingView(ViewFrames& frames) : frames_(frames), thread_([this] { run(); }) {}
    ~TakingView() {
        frames_.stopWorkers();
        thread_.join();
    }
    std::vector<std::string> taken() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return taken_;
    }
    bool waitForCount(size_t n) const {
        const auto until = std::chrono::steady_clock::now() + 10s;
        while (taken().size() < n) {
            if (std::chrono::steady_clock::now() > until) return false;
            std::this_thread::yield();
        }
        return true;
    }

private:
    void run() {
        while (!frames_.stop.requested()) {
            frames_.m_pointBell.waitUntil(std::chrono::steady_clock::now() + 5ms, [&] {
                return frames_.m_pointNew.load() != 0 || frames_.stop.requested();
            });
            if (frames_.m_pointNew.exchange(0) == 0) continue;
            PointBlock block;
            {
                std::lock_guard<std::mutex> lock(frames_.m_pointMutex);
                block = frames_.m_pointData;
            }
            frames_.m_pointBell.ring();
            // Slower than the records come at x4: without the player waiting
            // for the view, records would be replaced before they are drawn.
            std::this_thread::sleep_for(kDrawMs);
            std::lock_guard<std::mutex> lock(mutex_);
            taken_.push_back(pointBytesOf(block));
        }
    }
    static constexpr std::chrono::milliseconds kDrawMs{4};
    ViewFrames& frames_;
    mutable std::mutex mutex_;
    std::vector<std::string> taken_;
    std::thread thread_;
};

class ReplayPlayerTest : public ::testing::Test {
protected:
    ReplayPlayerTest() {
        std::string bytes = recordFileHeaderBytes();
        for (int i = 0; i < kRecords; ++i)
            bytes += recordBytes(1000 + 10 * i, "record" + std::to_string(i));
        writeFile(path, bytes);
        savedWait_ = replayTiming().viewTakeWaitMs.load();
        replayTiming().viewTakeWaitMs = 60000;  // never reached: the view keeps up
    }
    ~ReplayPlayerTest() override { replayTiming().viewTakeWaitMs = savedWait_; }

    std::unique_ptr<RecordPlaylist> open() {
        auto playlist = std::make_unique<RecordPlaylist>();
        EXPECT_EQ(playlist->open(path), RecordPlaylist::Refusal::None);
        return playlist;
    }
    static constexpr int kRecords = 30;
    TempDir dir;
    const std::string path = dir.file("PointData1.bin");
    ViewFrames frames;
    int savedWait_ = 0;
};

TEST_F(ReplayPlayerTest, AtX4EveryRecordReachesTheViewInOrder) {
    TakingView view(frames);
    std::atomic<bool> ended{false};
    ReplayPlayer player(open(), frames, [&](const ReplayState& s) {
        if (!s.playing && s.record + 1 == s.count) ended = true;
    });
    ASSERT_TRUE(view.waitForCount(1));
    player.setSpeed(4.0);
    player.play();
    ASSERT_TRUE(view.waitForCount(kRecords));
    std::vector<std::string> expected;
    for (int i = 0; i < kRecords; ++i) expected.push_back("record" + std::to_string(i));
    EXPECT_EQ(view.taken(), expected);
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (!ended && std::chrono::steady_clock::now() < until) std::this_thread::yield();
    EXPECT_TRUE(ended.load()) << "the end was reported, paused";
    EXPECT_EQ(player.recordsShown(), static_cast<size_t>(kRecords));
}

TEST_F(ReplayPlayerTest, StepsAndSeeksShowTheirRecordAndLiveFramesWait) {
    TakingView view(frames);
    {
        ReplayPlayer player(open(), frames, nullptr);
        ASSERT_TRUE(view.waitForCount(1));
        const PointBlock live = std::make_shared<const std::string>("live");
        EXPECT_FALSE(PublishFrame(frames, FrameSource::Live, live, nullptr, 0, AreaBlock{}));
        const struct {
            const char* what;
            std::function<void()> command;
            const char* shown;
        } steps[] = {
            {"forward", [&] { player.step(1); }, "record1"},
            {"seek", [&] { player.seek(20); }, "record20"},
            {"back", [&] { player.step(-1); }, "record19"},
            {"seek beyond", [&] { player.seek(1000); }, "record29"},
            {"forward at the end shows nothing new", [&] { player.step(1); }, nullptr},
            {"back again", [&] { player.step(-29); }, "record0"},
        };
        size_t count = 1;
        for (const auto& c : steps) {
            c.command();
            if (!c.shown) continue;
            ASSERT_TRUE(view.waitForCount(++count)) << c.what;
            EXPECT_EQ(view.taken().back(), c.shown) << c.what;
        }
        EXPECT_EQ(view.taken().size(), count) << "nothing else was shown";
        EXPECT_EQ(player.state().record, 0u);
    }
    // Closed: the live frames are drawn again.
    const PointBlock live = std::make_shared<const std::string>("live");
    EXPECT_TRUE(PublishFrame(frames, FrameSource::Live, live, nullptr, 0, AreaBlock{}));
    ASSERT_TRUE(view.waitForCount(7));
    EXPECT_EQ(view.taken().back(), "live");
}

TEST_F(ReplayPlayerTest, RecordsAreDrawnWithinTheNewestLiveAreasOrAStandardGates) {
    AreaBlock live{};
    live[0] = -0.3f, live[1] = -0.9f, live[2] = 0.3f, live[3] = 0.9f;
    const struct {
        const char* what;
        bool liveCame;
        AreaBlock expected;
    } cases[] = {
        {"no live frame yet", false, standardGateAreas()},
        {"after a live frame", true, live},
    };
    for (const auto& c : cases) {
        ViewFrames views;
        if (c.liveCame) {
            std::lock_guard<std::mutex> lock(views.m_areaMutex);
            views.m_liveAreas = live;
            views.m_haveLiveAreas = true;
        }
        EXPECT_EQ(replayAreas(views), c.expected) << c.what;
        TakingView view(views);
        ReplayPlayer player(open(), views, nullptr);
        ASSERT_TRUE(view.waitForCount(1));
        std::lock_guard<std::mutex> lock(views.m_areaMutex);
        EXPECT_EQ(views.m_areas, c.expected) << c.what;
        EXPECT_EQ(views.m_objCount, 0) << "records carry no objects";
    }
}

// The distributor keeps the live frames' areas for the replay and keeps
// their points, objects and areas off the views while it plays.
TEST(ReplayDistributor, LiveFramesAreDroppedButTheirAreasKept) {
    TraceCapture trace;
    SharedState state;
    ViewFrames views;
    const PointBlock replayed = std::make_shared<const std::string>("replayed");
    {
        std::lock_guard<std::mutex> lock(views.m_publishMutex);
        views.m_replaying = true;
    }
    ASSERT_TRUE(
        PublishFrame(views, FrameSource::Replay, replayed, nullptr, 0, standardGateAreas()));
    AreaBlock live{};
    live[0] = -0.25f, live[3] = 1.5f;
    ObjRecord person{};
    person.index = 3;
    std::string points = "live";
    state.StoreFrame(points, 1, &person, live);
    views.m_objNew = 0;
    std::thread distributor(RunFrameDistributor, std::ref(state), std::ref(views));
    EXPECT_TRUE(trace.waitFor("all area[-0.25,0.00] [0.00,1.50]\n"));
    views.stop.request();
    distributor.join();
    EXPECT_EQ(pointBytesOf(views.m_pointData), "replayed");
    EXPECT_EQ(views.m_areas, standardGateAreas());
    EXPECT_EQ(views.m_objNew.load(), 0);
    EXPECT_TRUE(views.m_haveLiveAreas);
    EXPECT_EQ(views.m_liveAreas, live);
    EXPECT_EQ(replayAreas(views), live);
}

}  // namespace
