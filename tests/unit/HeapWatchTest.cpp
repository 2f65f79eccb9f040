// The heap measurement behind the fault-injection tests sees an allocation
// made on another thread, and only the growth above its start.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <thread>

#include "HeapWatch.h"

TEST(HeapWatchTest, SeesTheGrowthOfAnotherThreadAboveItsStart) {
    auto before = std::make_unique<char[]>(1u << 20);  // held from before: not counted
    std::memset(before.get(), 1, 1u << 20);
    HeapWatch watch;
    std::thread other([] {
        auto block = std::make_unique<char[]>(4u << 20);
        std::memset(block.get(), 2, 4u << 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    });
    other.join();
    before.reset();
    const size_t peak = watch.peakGrowth();
    EXPECT_GE(peak, 4u << 20);
    EXPECT_LT(peak, 5u << 20);
}
