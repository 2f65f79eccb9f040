#include "gate/AlarmPanel.h"

#include <cstdio>
#include <utility>

#include "core/ControlIds.h"
#include "core/ControlSink.h"
#include "core/Flags.h"
#include "core/StopFlag.h"
#include "core/Trace.h"
#include "core/Utc8Time.h"
#include "gate/GateTiming.h"

namespace {

struct CodeText {
    uint8_t code;
    const char* chinese;
    const char* english;
};

// Alarm events by byte 6 of a push frame.
constexpr CodeText kEventTexts[] = {
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

// Door states by byte 12 of a push frame.
constexpr CodeText kDoorTexts[] = {
    {0, " 开门\r\n", " opendoor\r\n"},
    {1, " 关门\r\n", " closedoor\r\n"},
    {2, " 暂停门\r\n", " pausedoor\r\n"},
};

// Indexed by the second authorisation argument.
constexpr CodeText kSwipeTexts[] = {
    {0, " 取消刷卡\r\n", " Cancle Swipe\r\n"},
    {1, " 正向刷卡\r\n", " Forward Swipe\r\n"},
    {2, " 逆向刷卡\r\n", " Reverse Swipe\r\n"},
};

template <size_t N>
const char* lookup(const CodeText (&table)[N], uint8_t code) {
    for (const CodeText& entry : table)
        if (entry.code == code) return uiText(entry.chinese, entry.english);
    return nullptr;
}

}  // namespace

AlarmQueue& alarmQueue() {
    static AlarmQueue* queue = new AlarmQueue;
    return *queue;
}

std::string timestampPrefixAt(int64_t epochMs) {
    const Utc8Time t = utc8FromEpochMs(epochMs);
    char text[64] = {};
    std::snprintf(text, sizeof text, "[%d-%02d-%02d %02d:%02d:%02d.%03d]:", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
    return text;
}

// One clock reading for seconds and milliseconds, so that a line never shows
// a time earlier than the one before it.
std::string timestampPrefix() {
    return timestampPrefixAt(nowEpochMs());
}

const char* gateEventText(uint8_t code) {
    return lookup(kEventTexts, code);
}

const char* gateDoorText(uint8_t state) {
    return lookup(kDoorTexts, state);
}

const char* swipeText(SwipeKind kind) {
    return lookup(kSwipeTexts, static_cast<uint8_t>(kind));
}

// The panel shows the newest lines only; trimming after every line keeps the
// queue, and the text the refresher rebuilds from it, bounded.
void appendAlarmLine(AlarmQueue& queue, std::string line) {
    queue.alarmLines.push_back(std::move(line));
    while (queue.alarmLines.size() > kAlarmPanelMaxLines) queue.alarmLines.pop_front();
}

void onGatePush(AlarmQueue& queue, const std::array<uint8_t, 16>& f, uint8_t /*b4*/, uint8_t /*b5*/,
                uint8_t b6, uint8_t /*b7*/, uint8_t /*b8*/, uint8_t /*b11*/, uint8_t b12) {
    tracef(
        "[PUSH]%02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X %02X "
        "%02X\n",
        f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8], f[9], f[10], f[11], f[12], f[13],
        f[14], f[15]);
    {
        std::lock_guard<std::mutex> lock(queue.alarmMutex);
        if (const char* event = gateEventText(b6))
            appendAlarmLine(queue, timestampPrefix() + event);
        if (const char* door = gateDoorText(b12)) appendAlarmLine(queue, timestampPrefix() + door);
    }
    queue.alarmDirty.exchange(1);
}

void onGateResponse(const std::array<uint8_t, 16>& /*frame*/, uint8_t /*b4*/, uint8_t /*b5*/,
                    uint8_t /*b7*/, uint8_t /*b11*/) {}

void appendSwipeLine(AlarmQueue& queue, SwipeKind kind) {
    const char* text = swipeText(kind);
    if (!text) return;
    {
        std::lock_guard<std::mutex> lock(queue.alarmMutex);
        appendAlarmLine(queue, timestampPrefix() + text);
    }
    queue.alarmDirty.exchange(1);
}

bool refreshAlarmPanel(AlarmQueue& queue, ControlSink& panel, const StopFlag& stop,
                       const GateTiming& timing) {
    if (queue.alarmDirty.load() == 0) {
        stop.sleepFor(GateTiming::ms(timing.panelRefreshIdleMs));
        return false;
    }
    queue.alarmDirty.exchange(0);
    std::string text;
    {
        std::lock_guard<std::mutex> lock(queue.alarmMutex);
        for (const std::string& line : queue.alarmLines) text += line;
    }
    panel.setControlText(ids::kAlarmPanel, text);
    return true;
}

void clearAlarmDisplay(AlarmQueue& queue, ControlSink& panel) {
    panel.setControlText(ids::kAlarmPanel, std::string());
    std::deque<std::string> old;
    {
        std::lock_guard<std::mutex> lock(queue.alarmMutex);
        old.swap(queue.alarmLines);
    }
    // The refresher may have taken its copy just before the clear and still be
    // handing it to the screen; one more pass over the now empty queue makes
    // sure that stale copy does not stay on the panel.
    queue.alarmDirty.exchange(1);
}
