// Waits of the maintenance commands, in one place; tests may shorten them.
// The connect and receive time-outs are those of the stream socket options
// (core/Timing.h), which every maintenance link sets too.
#pragma once

#include <atomic>
#include <chrono>

struct MaintenanceTiming {
    std::atomic<int> afterUpgradeSendMs{2};  // pause between the package and the status receive

    static std::chrono::milliseconds ms(const std::atomic<int>& v) {
        return std::chrono::milliseconds(v.load());
    }
};

MaintenanceTiming& maintenanceTiming();
