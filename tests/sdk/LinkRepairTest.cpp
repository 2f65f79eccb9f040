// Faults of the link that were once missed: bytes of a dropped link joined to
// the next one, a frame torn by a send time-out, a receive interrupted by a
// signal, a connect to a silent address, and message lines written in two
// pieces. Fake gates on 127.0.11.1 to 127.0.11.19.
#include <chrono>
#include <thread>

#include "../support/LoopbackSocket.h"
#include "ConsoleCapture.h"
#include "DeviceClientTestAccess.h"
#include "SdkFixture.h"
#include "SocketFaults.h"

namespace {

Bytes bytesOf(const std::array<uint8_t, 16>& f) {
    return Bytes(f.begin(), f.end());
}

}  // namespace

TEST_F(SdkTest, BytesOfADroppedLinkAreNeverJoinedToTheNextLink) {
    FakeGate gate("127.0.11.1");
    ConsoleCapture console;
    DeviceClient client;
    Recorder seen(client);
    ASSERT_TRUE(openLink(client, gate));

    // The first link ends one byte short of a frame.
    Bytes cut = bytesOf(gateFrame(0x01, 0x11, 0x12));
    cut.pop_back();
    ASSERT_TRUE(gate.send(cut));
    ASSERT_TRUE(receiveBytes(client, cut.size()));
    gate.closePeer();
    EXPECT_EQ(client.receiveAndProcess(), 0);

    ASSERT_TRUE(client.reconnect());
    ASSERT_TRUE(gate.accept());
    const Bytes next = bytesOf(gateFrame(0x01, 0x22, 0x23));
    ASSERT_TRUE(gate.send(next));
    ASSERT_TRUE(receiveBytes(client, next.size()));

    const auto all = seen.seen();
    ASSERT_EQ(all.size(), 1u) << "a frame the device never finished was delivered";
    EXPECT_EQ(all[0].args[0], 0x22);
    EXPECT_EQ(all[0].args[1], 0x23);
    EXPECT_EQ(DeviceClientTestAccess::bufferedBytes(client), 0u);
}

// The two faults below are injected by interposing the library's socket
// calls, which a Windows DLL's imports do not allow.
constexpr const char* kNoInterposing = "socket calls cannot be interposed on Windows";

TEST_F(SdkTest, SendTimeOutAfterPartOfAFrameClosesTheLink) {
#if defined(_WIN32)
    GTEST_SKIP() << kNoInterposing;
#else
    FakeGate gate("127.0.11.2");
    ConsoleCapture console;
    DeviceClient client;
    ASSERT_TRUE(openLink(client, gate));

    injectShortSendThenTimeout(static_cast<int>(DeviceClientTestAccess::socketOf(client)), 7);
    EXPECT_FALSE(client.sendHeartbeat());
    clearSocketFaults();
    EXPECT_EQ(console.err(), "send failed: " + std::to_string(EAGAIN) + "\n");
    // The device got 7 bytes and then the end of the link, never a frame out of step.
    EXPECT_EQ(gate.receive(16).size(), 7u);
    EXPECT_TRUE(gate.peerClosed());
    EXPECT_FALSE(client.isConnected());

    // The reconnect starts clean: the next frame arrives whole.
    ASSERT_TRUE(client.reconnect());
    ASSERT_TRUE(gate.accept());
    EXPECT_TRUE(client.sendHeartbeat());
    EXPECT_EQ(gate.receive(16), bytesOf(gateFrame(0x01, 0x61)));

    // A send that fails before any byte left keeps the link: nothing is out of step.
    injectShortSendThenTimeout(static_cast<int>(DeviceClientTestAccess::socketOf(client)), 0);
    EXPECT_FALSE(client.sendHeartbeat());
    clearSocketFaults();
    EXPECT_TRUE(client.isConnected());
    EXPECT_TRUE(client.sendTimeoutSetting(5));
    EXPECT_EQ(gate.receive(16), bytesOf(gateFrame(0x01, 0x70, 5)));
#endif
}

TEST_F(SdkTest, InterruptedReceiveIsTriedAgain) {
#if defined(_WIN32)
    GTEST_SKIP() << kNoInterposing;
#else
    FakeGate gate("127.0.11.3");
    ConsoleCapture console;
    DeviceClient client;
    Recorder seen(client);
    deviceClientTiming().idleCloseMs = 0;  // a failed read would close the link at once
    ASSERT_TRUE(openLink(client, gate));

    ASSERT_TRUE(gate.send(bytesOf(gateFrame(0x01, 0x05))));
    injectInterruptedReceive(static_cast<int>(DeviceClientTestAccess::socketOf(client)));
    EXPECT_EQ(client.receiveAndProcess(), 16);
    clearSocketFaults();
    EXPECT_EQ(console.err(), "");
    EXPECT_EQ(console.out(), "begin recvi!\nsuccess!!!\n");
    EXPECT_TRUE(client.isConnected());
    EXPECT_EQ(seen.count(), 1u);
#endif
}

TEST_F(SdkTest, ConnectToASilentAddressGivesUpAfterTheConnectTimeOut) {
#if defined(_WIN32)
    GTEST_SKIP() << "Windows refuses a connection to a full accept queue at once, so no silent "
                    "address can be made on loopback";
#endif
    loopback::Socket filler = loopback::kNoSocket;
    const loopback::Socket listener = loopback::listenSilent("127.0.11.4", kGatePort, filler);
    ASSERT_NE(listener, loopback::kNoSocket);
    ConsoleCapture console;
    DeviceClient client;
    EXPECT_EQ(deviceClientTiming().connectTimeoutMs.load(), 21000) << "the default";
    deviceClientTiming().connectTimeoutMs = 200;
    client.init("127.0.11.4", kGatePort);

    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(client.connect());
    const auto took = std::chrono::steady_clock::now() - start;
    deviceClientTiming().connectTimeoutMs = 21000;
    EXPECT_EQ(console.err(), "connect failed: " + std::to_string(loopback::code::kTimedOut) + "\n");
    EXPECT_FALSE(client.isConnected());
    // Far below the system's own limit of about two minutes.
    EXPECT_LT(took, std::chrono::seconds(10));
    loopback::closeSocket(filler);
    loopback::closeSocket(listener);

    // The bounded connect leaves a working blocking socket behind.
    FakeGate gate("127.0.11.5");
    ASSERT_TRUE(openLink(client, gate));
    ASSERT_TRUE(gate.send(Bytes(3, 0x01)));
    EXPECT_EQ(client.receiveAndProcess(), 3);
    EXPECT_TRUE(client.sendHeartbeat());
    EXPECT_EQ(gate.receive(16).size(), 16u);
}

TEST_F(SdkTest, MessageLinesAreWrittenWholeInOneWrite) {
    FakeGate gate("127.0.11.6");
    ConsoleCapture console;
    {
        DeviceClient client;
        EXPECT_FALSE(client.connectTo("127.0.11.7", kGatePort));  // messageErr
        ASSERT_TRUE(client.connectTo(gate.address(), gate.port()));
        ASSERT_TRUE(gate.accept());
        client.startAutoReconnect();
        gate.closePeer();
        EXPECT_EQ(client.receiveAndProcess(), 0);  // "[..] Server closed connection"
        ASSERT_TRUE(gate.accept());
        ASSERT_TRUE(console.waitOut("Reconnected successfully!\n"));
    }
    EXPECT_NE(console.err().find("connect failed: "), std::string::npos);
    EXPECT_NE(console.out().find("] Server closed connection\n"), std::string::npos);
    EXPECT_NE(console.out().find("] Connection lost, attempting to reconnect...\n"),
              std::string::npos);
    EXPECT_EQ(console.unendedWrites(), 0u) << console.out() << console.err();
}

TEST_F(SdkTest, BuildAndSendPutsTheHeartbeatsBytesOnTheWire) {
    FakeGate gate("127.0.11.8");
    DeviceClient client;
    ASSERT_TRUE(openLink(client, gate));
    ASSERT_TRUE(client.sendHeartbeat());
    const Bytes heartbeat = gate.receive(16);
    ASSERT_EQ(heartbeat, bytesOf(gateFrame(0x01, 0x61)));
    DeviceClientTestAccess::buildAndSend(client, 0x01, 0x61);
    EXPECT_EQ(gate.receive(16), heartbeat);
    DeviceClientTestAccess::buildAndSend(client, 0x00, 1, 2, 3, 4, 5, 6, 7);
    EXPECT_EQ(gate.receive(16), bytesOf(gateFrame(0x00, 1, 2, 3, 4, 5, 6, 7)));
}
