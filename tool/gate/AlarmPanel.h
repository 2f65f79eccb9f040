// The alarm panel behind control 1012 of the main dialog: the line queue that
// the gate-linkage push frames and the card-swipe buttons fill, the decoding of
// a push frame into lines, and the refresher that copies the queue to the screen.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

class ControlSink;
class StopFlag;
struct GateTiming;

// The panel's lines, oldest first, each ending in CR LF.
struct AlarmQueue {
    std::deque<std::string> alarmLines;  // guarded by alarmMutex
    std::mutex alarmMutex;
    std::atomic<int> alarmDirty{0};  // 1: the panel must be redrawn from alarmLines
};

// The tool's one queue: created on first use, never destroyed (the gate threads
// may still use it while the process ends).
AlarmQueue& alarmQueue();

// "[2025-03-04 09:05:07.042]:" in UTC+8, whatever the machine's zone.
std::string timestampPrefix();
std::string timestampPrefixAt(int64_t epochMs);

// Line texts of a push frame's event code (byte 6) and door state (byte 12) in
// the current interface language; nullptr for codes outside the tables.
const char* gateEventText(uint8_t code);
const char* gateDoorText(uint8_t state);

// Card swipes the engineer can simulate, with the second authorisation argument.
enum class SwipeKind : uint8_t { Cancel = 0, Forward = 1, Reverse = 2 };
const char* swipeText(SwipeKind kind);

// Moves line to the back of the queue and drops the oldest lines beyond the
// panel's 30; the caller holds alarmMutex.
void appendAlarmLine(AlarmQueue& queue, std::string line);

// Push callback: traces the frame, appends its event and door lines and marks
// the panel dirty.
void onGatePush(AlarmQueue& queue, const std::array<uint8_t, 16>& frame, uint8_t b4, uint8_t b5,
                uint8_t b6, uint8_t b7, uint8_t b8, uint8_t b11, uint8_t b12);
// Response callback: responses are not shown.
void onGateResponse(const std::array<uint8_t, 16>& frame, uint8_t b4, uint8_t b5, uint8_t b7,
                    uint8_t b11);

// Appends the swipe's line and marks the panel dirty.
void appendSwipeLine(AlarmQueue& queue, SwipeKind kind);

// One refresher pass: when the panel is dirty, hands the whole queue to the
// panel control and returns true; otherwise waits the idle period (or until
// stop) and returns false. alarmMutex is never held while the sink runs.
bool refreshAlarmPanel(AlarmQueue& queue, ControlSink& panel, const StopFlag& stop,
                       const GateTiming& timing);

// Clear button: empties the panel at once and drops the queued lines.
void clearAlarmDisplay(AlarmQueue& queue, ControlSink& panel);
