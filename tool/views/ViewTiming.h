// Waits of the 2D and readout workers and of putting a picture on a control,
// in one place. The values are the device tool's; tests shorten them here.
#pragma once

#include <atomic>
#include <chrono>

struct ViewTiming {
    std::atomic<int> topViewStartWaitMs{2000};  // 2D worker's pause before its first frame
    std::atomic<int> pollMs{30};                // workers look for new frames this often
    std::atomic<int> drawSettleMs{10};          // pause after each picture put on a control

    static std::chrono::milliseconds ms(const std::atomic<int>& v) {
        return std::chrono::milliseconds(v.load());
    }
};

ViewTiming& viewTiming();
