// Connection, receive step, reconnection and the two threads of DeviceClient,
// against fake gate devices on 127.0.3.10 to 127.0.3.29.
#include <memory>
#include <regex>
#include <thread>

#include "ConsoleCapture.h"
#include "SdkFixture.h"

namespace {

const std::string kClosedLine = R"(\[\d\d:\d\d:\d\d\] Server closed connection\n)";

bool matches(const std::string& text, const std::string& pattern) {
    return std::regex_match(text, std::regex(pattern));
}

}  // namespace

TEST_F(SdkTest, InitOpensNothingAndFailedConnectsSayWhy) {
    FakeGate gate("127.0.3.10");
    DeviceClient client;
    ConsoleCapture console;

    EXPECT_TRUE(client.init("127.0.3.10", kGatePort));
    EXPECT_FALSE(gate.connectionPending(50));
    EXPECT_FALSE(client.isConnected());

    // Nothing listens on 127.0.3.11.
    EXPECT_TRUE(client.init("127.0.3.11", kGatePort));
    EXPECT_FALSE(client.connect());
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(console.err(), "connect failed: " + std::to_string(loopback::code::kRefused) + "\n");

    console.clear();
    EXPECT_FALSE(client.connectTo("bad..host", kGatePort));  // fails in the resolver, offline
    EXPECT_EQ(console.err(), "Invalid address/Address not supported: bad..host\n");

    console.clear();
    EXPECT_FALSE(client.connectTo("127.0.3.10", 65536 + kGatePort));
    EXPECT_EQ(console.err(),
              "connect failed: " + std::to_string(loopback::code::kInvalidArgument) + "\n");
    EXPECT_FALSE(gate.connectionPending(50)) << "a port beyond 16 bits must not wrap around";

    // Not a dotted address, so it goes through the resolver: 127.0.778 is
    // the classic short form of 127.0.3.10.
    console.clear();
    EXPECT_TRUE(client.init("127.0.778", kGatePort));
    ASSERT_TRUE(client.connect());
    EXPECT_TRUE(gate.accept());
    EXPECT_TRUE(client.isConnected());
    EXPECT_EQ(console.err(), "");
    EXPECT_EQ(console.out(), "");
}

TEST_F(SdkTest, ReceiveStepResultsAndConsoleLines) {
    FakeGate gate("127.0.3.12");
    DeviceClient client;
    ConsoleCapture console;

    EXPECT_EQ(client.receiveAndProcess(), -1);
    EXPECT_EQ(console.out(), "no data!!!!\n");

    ASSERT_TRUE(openLink(client, gate));
    console.clear();
    ASSERT_TRUE(gate.send(Bytes(20, 0x01)));
    EXPECT_EQ(client.receiveAndProcess(), 20);
    EXPECT_EQ(console.out(), "begin recvi!\nsuccess!!!\n");

    // The device closes: the client closes too.
    console.clear();
    gate.closePeer();
    EXPECT_EQ(client.receiveAndProcess(), 0);
    EXPECT_TRUE(matches(console.out(), "begin recvi!\nclose!!\n" + kClosedLine)) << console.out();
    EXPECT_FALSE(client.isConnected());
    EXPECT_EQ(console.err(), "");

    console.clear();
    EXPECT_EQ(client.receiveAndProcess(), -1);
    EXPECT_EQ(console.out(), "no data!!!!\n");
}

TEST_F(SdkTest, SilentDeviceTimesOutTheRead) {
    FakeGate gate("127.0.3.13");
    DeviceClient client;
    ConsoleCapture console;
    deviceClientTiming().receiveTimeoutMs = 50;  // applied when the socket is opened
    ASSERT_TRUE(openLink(client, gate));

    EXPECT_EQ(client.receiveAndProcess(), 0);
    // The platform's code for it: would-block (EAGAIN) on Linux, 10060 on Windows.
    EXPECT_TRUE(matches(console.out(),
                        "begin recvi!\nerror = " + std::to_string(loopback::code::kReadTimedOut) +
                            "\n" + kClosedLine))
        << console.out();
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(gate.peerClosed());
}

TEST_F(SdkTest, ReadErrorClosesOnlyAfterTheIdleThreshold) {
    if (loopback::underWine()) {
        GTEST_SKIP() << "Wine reports the device's reset as an orderly close, so the read "
                        "error this case is about never happens there";
    }
    FakeGate gate("127.0.3.14");
    DeviceClient client;
    ConsoleCapture console;
    const std::string reset = "recv failed: " + std::to_string(loopback::code::kReset) + "\n";

    // Data has just arrived: a failed read leaves the socket open.
    deviceClientTiming().idleCloseMs = 3600 * 1000;
    ASSERT_TRUE(openLink(client, gate));
    ASSERT_TRUE(gate.send(Bytes(4, 0x00)));
    ASSERT_EQ(client.receiveAndProcess(), 4);
    console.clear();
    gate.resetPeer();
    EXPECT_EQ(client.receiveAndProcess(), -1);
    EXPECT_EQ(console.err(), reset);
    EXPECT_EQ(console.out(), "begin recvi!\nno data!!!!\n");
    // Still open, so the send reaches the dead link and fails (no SIGPIPE).
    console.clear();
    EXPECT_FALSE(client.sendHeartbeat());
    EXPECT_EQ(console.err().rfind("send failed: ", 0), 0u) << console.err();

    // Past the threshold the failed read closes the socket.
    deviceClientTiming().idleCloseMs = 0;
    ASSERT_TRUE(client.connect());
    ASSERT_TRUE(gate.accept());
    gate.resetPeer();
    console.clear();
    EXPECT_EQ(client.receiveAndProcess(), -1);
    EXPECT_EQ(console.err(), reset);
    EXPECT_FALSE(client.isConnected());
    console.clear();
    EXPECT_FALSE(client.sendHeartbeat());
    EXPECT_EQ(console.err(), "") << "a closed client sends nothing";
}

TEST_F(SdkTest, ReconnectGoesToTheLatestAttemptsTarget) {
    FakeGate a("127.0.3.20");
    FakeGate b("127.0.3.21");
    DeviceClient client;
    ConsoleCapture console;
    ASSERT_TRUE(openLink(client, a));

    // connect() on an open connection replaces it.
    ASSERT_TRUE(client.connect());
    EXPECT_TRUE(a.peerClosed());
    ASSERT_TRUE(a.accept());

    // init alone changes nothing for reconnect: the latest attempt was a.
    client.init(b.address(), b.port());
    ASSERT_TRUE(client.reconnect());
    EXPECT_TRUE(a.peerClosed());
    ASSERT_TRUE(a.accept());
    EXPECT_FALSE(b.connectionPending(50));

    ASSERT_TRUE(client.connectTo(b.address(), b.port()));
    ASSERT_TRUE(b.accept());
    ASSERT_TRUE(client.reconnect());
    EXPECT_TRUE(b.peerClosed());
    ASSERT_TRUE(b.accept());
    EXPECT_TRUE(client.sendHeartbeat());
    EXPECT_EQ(b.receive(16), (Bytes{0x7E, 0x00, 0x01, 0x01, 0x61, 0x00, 0x00, 0x00, 0x00, 0x00,
                                    0x00, 0x00, 0x00, 0xAA, 0xBB, 0x7E}));

    // A failed attempt becomes the latest one all the same, and leaves no socket.
    EXPECT_FALSE(client.connectTo("127.0.3.22", kGatePort));
    EXPECT_FALSE(client.isConnected());
    EXPECT_TRUE(b.peerClosed());
    EXPECT_FALSE(client.reconnect());
    EXPECT_EQ(console.err(), "connect failed: " + std::to_string(loopback::code::kRefused) + "\n" +
                                 "connect failed: " + std::to_string(loopback::code::kRefused) +
                                 "\n");
}

TEST_F(SdkTest, AutoReconnectRestoresTheLinkAndFramesFlowAgain) {
    FakeGate gate("127.0.3.23");
    ConsoleCapture console;  // outlives the client and its threads
    DeviceClient client;
    Recorder seen(client);
    ASSERT_TRUE(openLink(client, gate));
    client.startAutoReconnect();
    client.startReceiveThread();

    ASSERT_TRUE(gate.send(Bytes{0x7E, 0x00, 0x01, 0x01, 0x05, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                                0x00, 0x01, 0xAA, 0xBB, 0x7E}));
    ASSERT_TRUE(waitUntil([&] { return seen.count() == 1; }));

    // The device drops the link; the library notices and comes back.
    gate.closePeer();
    ASSERT_TRUE(gate.accept());
    ASSERT_TRUE(console.waitOut("Reconnected successfully!\n"));
    EXPECT_TRUE(matches(
        console.out(),
        R"([\s\S]*\[\d\d:\d\d:\d\d\] Connection lost, attempting to reconnect\.\.\.\nReconnected successfully!\n[\s\S]*)"))
        << console.out();
    ASSERT_TRUE(gate.send(Bytes{0x7E, 0x00, 0x01, 0x00, 0x61, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                0x00, 0x00, 0xAA, 0xBB, 0x7E}));
    ASSERT_TRUE(waitUntil([&] { return seen.count() == 2; }));
    EXPECT_FALSE(seen.seen()[1].push);

    // No device at all for a while: failed attempts, then success once it is back.
    gate.stopListening();
    gate.closePeer();
    ASSERT_TRUE(console.waitOut("Reconnect failed, will retry in 3 seconds...\n"));
    ASSERT_TRUE(gate.listen());
    ASSERT_TRUE(gate.accept());
    ASSERT_TRUE(waitUntil([&] { return console.countOut("Reconnected successfully!\n") == 2; }));
    EXPECT_TRUE(client.sendAuthorization(1, 1));
    EXPECT_EQ(gate.receive(16), (Bytes{0x7E, 0x00, 0x01, 0x01, 0x60, 0x01, 0x00, 0x00, 0x00, 0x00,
                                       0x00, 0x01, 0x00, 0xAA, 0xBB, 0x7E}));
    // The destructor stops both threads and closes the link.
}

TEST_F(SdkTest, ThreadStartAndStopAreIdempotent) {
    FakeGate gate("127.0.3.24");
    ConsoleCapture console;
    const int period =
        deviceClientTiming().reconnectSleepMs * deviceClientTiming().reconnectSleepCount;
    // On the heap like the tool's client, so that a thread outliving it shows
    // up as a use after free under AddressSanitizer.
    auto client = std::make_unique<DeviceClient>();
    client->stopAutoReconnect();
    client->stopReceiveThread();
    EXPECT_EQ(console.out(), "");

    // Nothing listens on this port: the reconnect thread keeps failing.
    EXPECT_FALSE(client->connectTo("127.0.3.24", kGatePort + 1));
    client->startAutoReconnect();
    client->startAutoReconnect();  // a second thread would end the process
    client->startReceiveThread();
    client->startReceiveThread();
    ASSERT_TRUE(waitUntil(
        [&] { return console.countOut("Reconnect failed, will retry in 3 seconds...") >= 2; }));
    client->stopAutoReconnect();
    client->stopAutoReconnect();
    client->stopReceiveThread();
    client->stopReceiveThread();
    const std::string after = console.out();
    std::this_thread::sleep_for(std::chrono::milliseconds(4 * period));
    EXPECT_EQ(console.out(), after) << "a stopped thread still writes";

    // Stopping waits for a read in progress to end (here by the time-out).
    ASSERT_TRUE(openLink(*client, gate)) << console.err();
    console.clear();
    client->startReceiveThread();
    ASSERT_TRUE(console.waitOut("begin recvi!\n"));
    client->stopReceiveThread();
    EXPECT_TRUE(matches(console.out(),
                        "begin recvi!\nerror = " + std::to_string(loopback::code::kReadTimedOut) +
                            "\n" + kClosedLine))
        << console.out();

    // Both start again after a stop; destruction stops them with the link open.
    ASSERT_TRUE(openLink(*client, gate));
    client->startReceiveThread();
    client->startAutoReconnect();
    ASSERT_TRUE(gate.send(Bytes(3, 0x02)));
    ASSERT_TRUE(console.waitOut("success!!!\n"));
    client.reset();
    EXPECT_TRUE(gate.peerClosed());
    std::this_thread::sleep_for(std::chrono::milliseconds(2 * period));
}

TEST_F(SdkTest, ConcurrentSendersNeverInterleaveFrames) {
    FakeGate gate("127.0.3.25");
    ConsoleCapture console;
    DeviceClient client;
    // The read stays blocked for the whole run: a read time-out would close
    // the link under the senders, and how long 400 sends take depends on the
    // machine (far longer under Wine). The device ends the read below.
    deviceClientTiming().receiveTimeoutMs = 2 * kWaitMs;
    ASSERT_TRUE(openLink(client, gate));
    client.startReceiveThread();  // sending must not wait for a blocked read

    constexpr int kThreads = 4, kPerThread = 100;
    std::vector<std::thread> senders;
    std::atomic<int> sent{0};
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&] {
            for (int i = 0; i < kPerThread; ++i) sent += client.sendHeartbeat() ? 1 : 0;
        });
    }
    const Bytes all = gate.receive(kThreads * kPerThread * 16);
    for (auto& s : senders) s.join();
    gate.closePeer();  // the blocked read returns, so the receive thread can stop
    client.stopReceiveThread();
    EXPECT_EQ(sent.load(), kThreads * kPerThread);
    Bytes expected;
    for (int i = 0; i < kThreads * kPerThread; ++i) append(expected, gateFrame(0x01, 0x61));
    EXPECT_EQ(all, expected);
}
