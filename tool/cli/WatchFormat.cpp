#include "cli/WatchFormat.h"

#include <cstdio>

#include "cli/CliReport.h"
#include "cli/TextEscape.h"
#include "core/Utc8Time.h"
#include "gate/AlarmPanel.h"
#include "maintenance/MaintenanceMessages.h"

namespace {

const BilingualText kLinkConnected = {"链接已建立", "link connected"};
const BilingualText kLinkLost = {"链接断开", "link lost"};
const BilingualText kLinkBack = {"链接恢复", "link back"};
const BilingualText kEvents = {"个事件", "events"};
const BilingualText kOneEvent = {"个事件", "event"};
const BilingualText kLosses = {"次断链", "link losses"};
const BilingualText kOneLoss = {"次断链", "link loss"};
const BilingualText kConnected = {"连接", "connected"};
const BilingualText kNeverReached = {"从未连上", "never reached"};

const char* linkWord(LinkChange change) {
    switch (change) {
        case LinkChange::Connected:
            return "connected";
        case LinkChange::Lost:
            return "lost";
        case LinkChange::Back:
            return "back";
    }
    return "";
}

const BilingualText& linkText(LinkChange change) {
    switch (change) {
        case LinkChange::Connected:
            return kLinkConnected;
        case LinkChange::Lost:
            return kLinkLost;
        case LinkChange::Back:
            break;
    }
    return kLinkBack;
}

// A panel text without its line end.
void appendPanelText(std::string& out, const char* text) {
    std::string t = text;
    while (!t.empty() && (t.back() == '\n' || t.back() == '\r')) t.pop_back();
    out += t;
}

// Whole and fractional part of a millisecond count, without floating point
// (no locale can put a ',' in it): decimals is 1 or 3.
std::string seconds(int64_t ms, int decimals) {
    if (ms < 0) ms = 0;
    char text[32];
    if (decimals == 1) {
        std::snprintf(text, sizeof text, "%lld.%01lld", static_cast<long long>(ms / 1000),
                      static_cast<long long>(ms % 1000 / 100));
    } else {
        std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000),
                      static_cast<long long>(ms % 1000));
    }
    return text;
}

// A panel-style prefix, "[2026-12-08 09:05:07.042]:".
std::string bracketTime(int64_t epochMs) {
    return "[" + watchTime(epochMs) + "]:";
}

}  // namespace

std::string watchTime(int64_t epochMs) {
    const Utc8Time t = utc8FromEpochMs(epochMs);
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second, t.millisecond);
    return text;
}

std::string pushWords(uint8_t code, uint8_t door) {
    std::string words;
    if (const char* event = gateEventText(code)) appendPanelText(words, event);
    if (const char* state = gateDoorText(door)) appendPanelText(words, state);
    if (!words.empty()) return words;
    char text[32];
    std::snprintf(text, sizeof text, " code 0x%02X door 0x%02X", code, door);
    return text;
}

std::string frameHex(const std::array<uint8_t, 16>& frame) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(frame.size() * 3);
    for (uint8_t b : frame) {
        if (!hex.empty()) hex += ' ';
        hex += digits[b >> 4];
        hex += digits[b & 15];
    }
    return hex;
}

std::string eventLine(const std::string& device, int64_t epochMs,
                      const std::array<uint8_t, 16>& frame, bool json) {
    const uint8_t code = frame[6];
    const uint8_t door = frame[12];
    const std::string words = pushWords(code, door);
    if (!json) return terminalText(device + ": " + bracketTime(epochMs) + words);
    return "{\"type\":\"event\",\"device\":\"" + jsonEscape(device) + "\",\"time\":\"" +
           watchTime(epochMs) + "\",\"code\":" + std::to_string(code) +
           ",\"door\":" + std::to_string(door) + ",\"text\":\"" +
           jsonEscape(words.empty() ? words : words.substr(1)) + "\",\"frame\":\"" +
           frameHex(frame) + "\"}";
}

std::string linkLine(const std::string& device, int64_t epochMs, LinkChange change, bool json,
                     bool chinese) {
    if (!json)
        return terminalText(device + ": " + bracketTime(epochMs) + " " +
                            linkText(change).in(chinese));
    return "{\"type\":\"link\",\"device\":\"" + jsonEscape(device) + "\",\"time\":\"" +
           watchTime(epochMs) + "\",\"link\":\"" + linkWord(change) + "\"}";
}

std::string summaryLine(const WatchTally& tally, bool json, bool chinese) {
    if (json) {
        return "{\"type\":\"summary\",\"device\":\"" + jsonEscape(tally.device) +
               "\",\"events\":" + std::to_string(tally.events) +
               ",\"link_losses\":" + std::to_string(tally.linkLosses) +
               ",\"connected_s\":" + seconds(tally.connectedMs, 3) +
               ",\"reached\":" + (tally.reached ? "true" : "false") + "}";
    }
    std::string line = tally.device + ": " + std::to_string(tally.events) + " " +
                       (tally.events == 1 ? kOneEvent : kEvents).in(chinese) + ", " +
                       std::to_string(tally.linkLosses) + " " +
                       (tally.linkLosses == 1 ? kOneLoss : kLosses).in(chinese) + ", " +
                       kConnected.in(chinese) + " " + seconds(tally.connectedMs, 1) + " s";
    if (!tally.reached) line += std::string(", ") + kNeverReached.in(chinese);
    return terminalText(line);
}

int watchExitCode(const std::vector<WatchTally>& tallies) {
    for (const WatchTally& t : tallies)
        if (!t.reached) return kExitNoAnswer;
    return kExitOk;
}
