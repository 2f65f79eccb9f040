// Waits of the maintenance commands, in one place; tests may shorten them.
// The connect and receive time-outs are those of the stream socket options
// (core/Timing.h), which every maintenance link sets too.
#pragma once

#include <atomic>
#include <chrono>

struct MaintenanceTiming {
    std::atomic<int> afterUpgradeSendMs{2};  // pause between the package and the status receive
    // A request whose bytes stop moving fails after this long: the device must
    // take at least one send piece (1 MB) within every such period. Apart from
    // the receive time-out, so that a short answer wait does not cut off a
    // package that a busy device is slow to read.
    std::atomic<int> sendStallTimeoutMs{50000};

    static std::chrono::milliseconds ms(const std::atomic<int>& v) {
        return std::chrono::milliseconds(v.load());
    }
};

MaintenanceTiming& maintenanceTiming();
