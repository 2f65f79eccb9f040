// Waits of a registration run, in one place. The values are the device
// tool's; tests shorten them through this seam. The receive time-out of the
// connection is the one every device client sets (shellTiming).
#pragma once

#include <atomic>
#include <chrono>

struct RegistrationTiming {
    std::atomic<int> pollMs{2000};            // client between two requests; point-data check
    std::atomic<int> reconnectWaitMs{5000};   // client between two connection attempts
    std::atomic<int> resultSettleMs{3000};    // client after the result was sent
    std::atomic<int> dialogInitPollMs{1000};  // drawing thread: is the dialog up yet?
    std::atomic<int> rawViewDelayMs{1000};    // drawing thread: then this long before the raw view

    static std::chrono::milliseconds ms(const std::atomic<int>& v) {
        return std::chrono::milliseconds(v.load());
    }
};

RegistrationTiming& registrationTiming();
