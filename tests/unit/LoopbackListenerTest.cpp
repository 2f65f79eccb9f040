// The tests' scripted device: a connection counts as accepted before its
// script runs, so a client that already has the script's bytes sees it
// counted. Address 127.0.11.40.
#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "LoopbackListener.h"

TEST(LoopbackListenerTest, ConnectionIsCountedBeforeItsScriptRuns) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> scriptsRun{0};
    LoopbackListener device([&](int n, int fd) {
        released.wait();
        ++scriptsRun;
        return n == 0 && loopback::sendAll(fd, {1, 2, 3});
    });
    ASSERT_TRUE(device.start("127.0.11.40", 40000));
    const int client = loopback::connectTo("127.0.11.40", 40000);
    ASSERT_GE(client, 0);
    EXPECT_TRUE(device.waitForAccepted(1, std::chrono::seconds(5)));
    EXPECT_EQ(scriptsRun.load(), 0);
    release.set_value();
    EXPECT_EQ(loopback::receive(client, 3, 5000), (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(device.acceptedCount(), 1);
    ::close(client);
}
