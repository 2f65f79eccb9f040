// Waits and time-outs of the tool shell and the stream connection, in one
// place. The values are the device's; tests shorten them through this seam.
#pragma once

#include <atomic>
#include <chrono>

struct ShellTiming {
    std::atomic<int> loginRetryPauseMs{2000};        // dialog blocked after a failed login
    std::atomic<int> streamReconnectWaitMs{5000};    // receiver's wait before each reconnect
    std::atomic<int> streamReceiveTimeoutMs{50000};  // SO_RCVTIMEO of the stream socket
    std::atomic<int> connectTimeoutMs{21000};        // a connect to a silent address gives up

    static std::chrono::milliseconds ms(const std::atomic<int>& v) {
        return std::chrono::milliseconds(v.load());
    }
};

ShellTiming& shellTiming();
