// Alarm panel: push frames decoded into lines in both languages, the 30-line
// trim, the UTC+8 prefix, and the refresher and clear button around the queue.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <future>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "RecordingControlSink.h"
#include "TraceCapture.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/StopFlag.h"
#include "core/Utc8Time.h"
#include "gate/AlarmPanel.h"
#include "gate/GateTiming.h"

namespace {

std::array<uint8_t, 16> pushFrame(uint8_t event, uint8_t door) {
    return {0x7E, 0x00, 0x01, 0x01, 0x01, 0x00, event, 0x00,
            0x00, 0x00, 0x00, 0x00, door, 0xAA, 0xBB,  0x7E};
}

void push(AlarmQueue& queue, uint8_t event, uint8_t door) {
    const auto f = pushFrame(event, door);
    onGatePush(queue, f, f[4], f[5], f[6], f[7], f[8], f[11], f[12]);
}

std::vector<std::string> lines(AlarmQueue& queue) {
    std::lock_guard<std::mutex> lock(queue.alarmMutex);
    return {queue.alarmLines.begin(), queue.alarmLines.end()};
}

const std::regex kPrefix(R"(^\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\]:)");

// The line without its time prefix; fails the test when the prefix is malformed.
std::string body(const std::string& line) {
    std::smatch m;
    EXPECT_TRUE(std::regex_search(line, m, kPrefix)) << line;
    return m.empty() ? line : m.suffix().str();
}

class GatePanel : public ::testing::Test {
protected:
    void SetUp() override {
        timing.panelRefreshIdleMs = 1;
        savedChinese = g_uiChinese.load();
    }
    void TearDown() override { g_uiChinese = savedChinese; }

    AlarmQueue queue;
    GateTiming timing;
    StopFlag stop;
    RecordingControlSink sink;
    bool savedChinese = true;
};

struct Expected {
    uint8_t code;
    const char* chinese;
    const char* english;
};

TEST_F(GatePanel, PushFramesDecodeIntoLinesInBothLanguages) {
    const Expected events[] = {
        {1, " 尾随\r\n", " weisui\r\n"},
        {2, " 闯入\r\n", " chuangru\r\n"},
        {3, " 抢行\r\n", " qiangxing\r\n"},
        {4, " 逆行\r\n", " nixing\r\n"},
        {5, " 滞留\r\n", " zhiliu\r\n"},
        {6, " 跨越\r\n", " kuayue\r\n"},
        {7, " 授权超时\r\n", " sqcs\r\n"},
        {8, " 遗留物\r\n", " yiliuwu\r\n"},
        {9, " 安全区占用\r\n", " aqqzhanyong\r\n"},
        {10, " 进站意向通行\r\n", " jzyxtx\r\n"},
        {11, " 出站意向通行\r\n", " czyxtx\r\n"},
        {0x99, " 告警结束\r\n", " finish\r\n"},
    };
    const Expected doors[] = {
        {0, " 开门\r\n", " opendoor\r\n"},
        {1, " 关门\r\n", " closedoor\r\n"},
        {2, " 暂停门\r\n", " pausedoor\r\n"},
    };
    TraceCapture trace;
    for (bool chinese : {true, false}) {
        g_uiChinese = chinese;
        for (const Expected& e : events) {
            queue.alarmLines.clear();
            push(queue, e.code, 0xFF);
            const auto got = lines(queue);
            ASSERT_EQ(got.size(), 1u) << int(e.code);
            EXPECT_EQ(body(got[0]), chinese ? e.chinese : e.english);
        }
        for (const Expected& d : doors) {
            queue.alarmLines.clear();
            push(queue, 0, d.code);
            const auto got = lines(queue);
            ASSERT_EQ(got.size(), 1u) << int(d.code);
            EXPECT_EQ(body(got[0]), chinese ? d.chinese : d.english);
        }
        // Codes next to the tables produce nothing.
        queue.alarmLines.clear();
        for (uint8_t code : {0x00, 0x0C, 0x98, 0x9A, 0xFF}) push(queue, code, 0x03);
        EXPECT_TRUE(lines(queue).empty());
    }
}

TEST_F(GatePanel, AlarmAndDoorInOneFrameGiveTwoLinesWithTheirOwnPrefix) {
    g_uiChinese = true;
    push(queue, 1, 0);
    const auto got = lines(queue);
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(body(got[0]), " 尾随\r\n");
    EXPECT_EQ(body(got[1]), " 开门\r\n");
    EXPECT_EQ(queue.alarmDirty.load(), 1);
}

TEST_F(GatePanel, FrameWithoutKnownCodesIsTracedAndStillMarksThePanel) {
    TraceCapture trace;
    const std::array<uint8_t, 16> f = {0x7E, 0x00, 0x01, 0x80, 0x5A, 0xA5, 0x00, 0x0F,
                                       0xF0, 0x00, 0x00, 0x3C, 0x07, 0xAA, 0xBB, 0x7E};
    onGatePush(queue, f, f[4], f[5], f[6], f[7], f[8], f[11], f[12]);
    EXPECT_EQ(trace.out(), "[PUSH]7E 00 01 80 5A A5 00 0F F0 00 00 3C 07 AA BB 7E\n");
    EXPECT_TRUE(lines(queue).empty());
    EXPECT_EQ(queue.alarmDirty.load(), 1);
}

TEST_F(GatePanel, QueueKeepsTheNewestThirtyLinesWhateverAddsThem) {
    g_uiChinese = false;
    for (int i = 0; i < 30; ++i) push(queue, 1, 0xFF);  // 30 x weisui
    ASSERT_EQ(lines(queue).size(), 30u);
    push(queue, 2, 1);  // two lines: the two oldest go
    auto got = lines(queue);
    ASSERT_EQ(got.size(), 30u);
    EXPECT_EQ(body(got[27]), " weisui\r\n");
    EXPECT_EQ(body(got[28]), " chuangru\r\n");
    EXPECT_EQ(body(got[29]), " closedoor\r\n");
    push(queue, 0, 0xFF);  // no line: nothing goes
    EXPECT_EQ(lines(queue), got);

    // Swipes trim as pushes do.
    for (int i = 0; i < 35; ++i) appendSwipeLine(queue, SwipeKind::Forward);
    appendSwipeLine(queue, SwipeKind::Reverse);
    appendSwipeLine(queue, SwipeKind::Cancel);
    got = lines(queue);
    ASSERT_EQ(got.size(), 30u);
    EXPECT_EQ(body(got[27]), " Forward Swipe\r\n");
    EXPECT_EQ(body(got[28]), " Reverse Swipe\r\n");
    EXPECT_EQ(body(got[29]), " Cancle Swipe\r\n");

    // A long run of two-line frames and swipes stays at 30 lines.
    for (int i = 0; i < 5000; ++i) {
        push(queue, 3, 2);
        appendSwipeLine(queue, SwipeKind::Reverse);
    }
    got = lines(queue);
    ASSERT_EQ(got.size(), 30u);
    EXPECT_EQ(body(got[27]), " qiangxing\r\n");
    EXPECT_EQ(body(got[28]), " pausedoor\r\n");
    EXPECT_EQ(body(got[29]), " Reverse Swipe\r\n");
}

TEST_F(GatePanel, SwipeLinesInBothLanguages) {
    for (const bool chinese : {true, false}) {
        g_uiChinese = chinese;
        queue.alarmLines.clear();
        appendSwipeLine(queue, SwipeKind::Forward);
        appendSwipeLine(queue, SwipeKind::Reverse);
        appendSwipeLine(queue, SwipeKind::Cancel);
        const auto got = lines(queue);
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(body(got[0]), chinese ? " 正向刷卡\r\n" : " Forward Swipe\r\n");
        EXPECT_EQ(body(got[1]), chinese ? " 逆向刷卡\r\n" : " Reverse Swipe\r\n");
        EXPECT_EQ(body(got[2]), chinese ? " 取消刷卡\r\n" : " Cancle Swipe\r\n");
    }
}

TEST(GateTimestamp, PrefixIsUtc8WhateverTheZoneAcrossTheYearBoundary) {
    const char* saved = std::getenv("TZ");
    const std::string savedTz = saved ? saved : "";
    for (const char* zone : {"America/Los_Angeles", "Pacific/Kiritimati", "UTC"}) {
        setenv("TZ", zone, 1);
        tzset();
        // 2024-12-31 23:30:00.123 UTC is already New Year in UTC+8.
        EXPECT_EQ(timestampPrefixAt(1735687800123LL), "[2025-01-01 07:30:00.123]:") << zone;
        // 2024-02-28 16:00:00.000 UTC: a leap day at midnight.
        EXPECT_EQ(timestampPrefixAt(1709136000000LL), "[2024-02-29 00:00:00.000]:") << zone;
        // The last millisecond before midnight UTC+8 stays on the old day.
        EXPECT_EQ(timestampPrefixAt(1735660799999LL), "[2024-12-31 23:59:59.999]:") << zone;
    }
    if (saved)
        setenv("TZ", savedTz.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

TEST(GateTimestamp, CurrentPrefixLiesBetweenTheClockReadingsAroundIt) {
    const std::string before = timestampPrefixAt(nowEpochMs());
    const std::string now = timestampPrefix();
    const std::string after = timestampPrefixAt(nowEpochMs());
    EXPECT_TRUE(
        std::regex_match(now, std::regex(R"(\[\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3}\]:)")))
        << now;
    EXPECT_LE(before, now);
    EXPECT_LE(now, after);
}

TEST_F(GatePanel, RefresherCopiesTheWholeQueueOncePerChange) {
    g_uiChinese = false;
    EXPECT_FALSE(refreshAlarmPanel(queue, sink, stop, timing));  // nothing yet
    push(queue, 5, 0xFF);
    push(queue, 6, 2);
    ASSERT_TRUE(refreshAlarmPanel(queue, sink, stop, timing));
    ASSERT_EQ(sink.textCount(), 1u);
    const auto got = lines(queue);
    EXPECT_EQ(sink.texts(ids::kAlarmPanel), (std::vector<std::string>{got[0] + got[1] + got[2]}));
    EXPECT_EQ(queue.alarmDirty.load(), 0);
    EXPECT_FALSE(refreshAlarmPanel(queue, sink, stop, timing));
    EXPECT_EQ(sink.textCount(), 1u);
}

TEST_F(GatePanel, ResponseFramesLeaveThePanelAlone) {
    push(queue, 1, 0xFF);
    ASSERT_TRUE(refreshAlarmPanel(queue, sink, stop, timing));
    const auto before = lines(queue);
    const std::array<uint8_t, 16> r = {0x7E, 0x00, 0x01, 0x00, 0x60, 0x01, 0x01, 0x00,
                                       0x00, 0x00, 0x00, 0x02, 0x00, 0xAA, 0xBB, 0x7E};
    onGateResponse(r, r[4], r[5], r[7], r[11]);
    EXPECT_EQ(queue.alarmDirty.load(), 0);
    EXPECT_FALSE(refreshAlarmPanel(queue, sink, stop, timing));
    EXPECT_EQ(sink.textCount(), 1u);
    EXPECT_EQ(lines(queue), before);
}

TEST_F(GatePanel, ClearWhileLinesArePendingEmptiesThePanelForGood) {
    g_uiChinese = false;
    push(queue, 1, 0xFF);
    push(queue, 2, 0xFF);  // pending: not yet on the panel
    clearAlarmDisplay(queue, sink);
    EXPECT_EQ(sink.lastText(ids::kAlarmPanel), "");
    EXPECT_TRUE(lines(queue).empty());
    refreshAlarmPanel(queue, sink, stop, timing);
    EXPECT_EQ(sink.lastText(ids::kAlarmPanel), "");
    push(queue, 0x99, 0xFF);
    ASSERT_TRUE(refreshAlarmPanel(queue, sink, stop, timing));
    EXPECT_EQ(body(sink.lastText(ids::kAlarmPanel)), " finish\r\n");
}

// The refresher copied the queue just before the clear and hands its copy to
// the screen just after it (the GUI thread applies both in that order).
TEST_F(GatePanel, ClearRacingARefreshDoesNotLeaveStaleLines) {
    push(queue, 3, 0xFF);
    std::promise<void> inSink, cleared;
    std::shared_future<void> clearedFuture = cleared.get_future().share();
    const std::thread::id mainThread = std::this_thread::get_id();
    std::thread refresher;
    sink.beforeText = [&](int, const std::string&) {
        if (std::this_thread::get_id() == mainThread) return;
        inSink.set_value();
        clearedFuture.wait();
    };
    refresher = std::thread([&] { refreshAlarmPanel(queue, sink, stop, timing); });
    inSink.get_future().wait();
    clearAlarmDisplay(queue, sink);
    cleared.set_value();
    refresher.join();
    sink.beforeText = nullptr;
    ASSERT_NE(sink.lastText(ids::kAlarmPanel), "");  // the stale copy arrived last
    refreshAlarmPanel(queue, sink, stop, timing);
    EXPECT_EQ(sink.lastText(ids::kAlarmPanel), "");
}

TEST_F(GatePanel, SinkIsNeverCalledWithTheQueueLocked) {
    int calls = 0;
    sink.beforeText = [&](int, const std::string&) {
        ++calls;
        // Another thread must be able to take the lock right now.
        auto other = std::async(std::launch::async, [&] {
            const bool free = queue.alarmMutex.try_lock();
            if (free) queue.alarmMutex.unlock();
            return free;
        });
        EXPECT_TRUE(other.get());
    };
    push(queue, 4, 0xFF);
    refreshAlarmPanel(queue, sink, stop, timing);
    clearAlarmDisplay(queue, sink);
    EXPECT_EQ(calls, 2);
}

}  // namespace
