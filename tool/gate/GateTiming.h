// Ports and periods of the gate event console, in one place. The values are
// the device's; tests shorten the periods through this seam.
#pragma once

#include <atomic>
#include <chrono>

// Gate-linkage port by link mode: 1 = alarm debugging ("open"), 2 = "open receive".
constexpr int kGatePortAlarm = 12580;
constexpr int kGatePortReceive = 12581;

// The panel keeps the newest this many lines.
constexpr size_t kAlarmPanelMaxLines = 30;

struct GateTiming {
    std::atomic<int> heartbeatPeriodMs{5000};  // between two heartbeat attempts
    std::atomic<int> receiveRetryMs{3000};     // receive loop while disconnected
    std::atomic<int> panelRefreshIdleMs{500};  // refresher pass when nothing changed

    static std::chrono::milliseconds ms(const std::atomic<int>& v) {
        return std::chrono::milliseconds(v.load());
    }
};

// The tool's one set of gate periods.
GateTiming& gateTiming();
