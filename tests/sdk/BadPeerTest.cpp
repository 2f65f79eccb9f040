// A misbehaving device: megabytes of garbage that look almost like frames,
// with a few valid frames hidden in it. Memory must stay bounded and every
// valid frame must still arrive, in order. Address 127.0.3.30.
#include <random>
#include <thread>

#include "AllocationProbe.h"
#include "ConsoleCapture.h"
#include "SdkFixture.h"

TEST_F(SdkTest, MegabytesOfGarbageKeepMemoryBoundedAndFramesArrive) {
    FakeGate gate("127.0.3.30");
    DeviceClient client;
    Recorder seen(client);
    ConsoleCapture console(false);  // thousands of trace lines: count them only
    ASSERT_TRUE(openLink(client, gate));

    // Garbage rich in start markers and near-frames (7E ... AA BB xx), so that
    // many windows are tried and rejected; valid frames every 256 KiB.
    constexpr size_t kTotal = 4u << 20;
    constexpr size_t kFrameEvery = 256u << 10;
    std::mt19937 random(7);
    Bytes stream;
    stream.reserve(kTotal + 64 * 16);
    uint8_t sequence = 0;
    while (stream.size() < kTotal) {
        if (stream.size() / kFrameEvery >= sequence) {
            append(stream, gateFrame(0x01, 0x70, sequence++));
            continue;
        }
        switch (random() % 4) {
            case 0:
                stream.push_back(0x7E);
                break;
            case 1: {
                auto near = gateFrame(0x01, 0x71);
                near[15] = 0x7F;  // one byte short of a frame
                append(stream, near);
                break;
            }
            default:
                stream.push_back(static_cast<uint8_t>(random() % 0x7E));
        }
    }

    armAllocationProbe();
    std::thread device([&] { gate.send(stream); });
    const bool allThrough = receiveBytes(client, stream.size());
    const size_t largest = disarmAllocationProbe();
    device.join();
    ASSERT_TRUE(allThrough);

    const auto all = seen.seen();
    ASSERT_EQ(all.size(), static_cast<size_t>(sequence));
    for (size_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i].args[0], 0x70);
        EXPECT_EQ(all[i].args[1], i) << "frames out of order";
    }
    EXPECT_GT(console.outWritten(), 0u);
    if (!probeSeesLibrary()) {
        GTEST_SKIP() << "frames checked, memory not: the allocation probe cannot see the "
                        "library's allocations on this platform (the DLL allocates through "
                        "its own runtime)";
    }
    // The receive buffer never holds more than one read and a partial frame.
    EXPECT_LT(largest, 16u << 10);
}
