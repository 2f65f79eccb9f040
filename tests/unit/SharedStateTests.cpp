// SharedState and TcpClient: the stream socket's life through OpenStream,
// ConnectStream and RecvExact, and the producer side of the frame hand-off.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <array>
#include <cstring>
#include <filesystem>
#include <thread>

#include "LoopbackListener.h"
#include "TraceCapture.h"
#include "core/SharedState.h"
#include "core/Timing.h"

namespace {

// Test addresses of this file: 127.0.1.10 to 127.0.1.29.
class SharedStateTest : public ::testing::Test {
protected:
    void SetUp() override {
        shellTiming().streamReconnectWaitMs = 50;
        shellTiming().streamReceiveTimeoutMs = 300;
    }
};

size_t openDescriptors() {
    size_t n = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/self/fd");
         it != std::filesystem::directory_iterator(); ++it)
        ++n;
    return n;
}

TEST_F(SharedStateTest, InstanceIsOneObjectForEveryThreadAndHoldsTheDeviceIp) {
    SharedState* seen = nullptr;
    std::thread other([&] { seen = &SharedState::instance(); });
    other.join();
    SharedState& state = SharedState::instance();
    EXPECT_EQ(seen, &state);
    EXPECT_EQ(state.connState.load(), -1);
    {
        std::lock_guard<std::mutex> lock(state.streamMutex);
        state.deviceIp = "127.0.1.10";
    }
    EXPECT_EQ(currentDeviceIp(), "127.0.1.10");
    {
        std::lock_guard<std::mutex> lock(state.streamMutex);
        state.deviceIp.clear();
    }
}

TEST_F(SharedStateTest, TcpClientInitFillsTargetWithoutConnecting) {
    TcpClient client;
    EXPECT_EQ(client.sock, kInvalidSocket);
    ASSERT_TRUE(client.Init("127.0.1.11", 58100));
    EXPECT_STREQ(client.ip, "127.0.1.11");
    for (size_t i = std::strlen("127.0.1.11"); i < sizeof client.ip; ++i)
        EXPECT_EQ(client.ip[i], 0);
    EXPECT_EQ(client.port, 58100u);
    EXPECT_NE(client.sock, kInvalidSocket);
    EXPECT_EQ(client.addr.sin_family, AF_INET);
    const auto* port = reinterpret_cast<const uint8_t*>(&client.addr.sin_port);
    EXPECT_EQ(port[0], 0xE2);  // 58100 = 0xE2F4, network order
    EXPECT_EQ(port[1], 0xF4);
    const auto* a = reinterpret_cast<const uint8_t*>(&client.addr.sin_addr);
    EXPECT_EQ((std::array<uint8_t, 4>{a[0], a[1], a[2], a[3]}),
              (std::array<uint8_t, 4>{127, 0, 1, 11}));
    // Not connected: the peer address is unknown.
    sockaddr_in peer{};
    socklen_t len = sizeof peer;
    EXPECT_NE(getpeername(client.sock, reinterpret_cast<sockaddr*>(&peer), &len), 0);

    client.Close();
    EXPECT_EQ(client.sock, kInvalidSocket);
    client.Close();  // a second Close is harmless
    EXPECT_EQ(client.sock, kInvalidSocket);
}

TEST_F(SharedStateTest, TcpClientRejectsBadAddressAndLeaksNoSocket) {
    TcpClient client;
    EXPECT_FALSE(client.Init("255.255.255.255.255.255", 1));
    EXPECT_EQ(std::strlen(client.ip), 19u) << "the text is cut to the buffer";
    EXPECT_EQ(client.sock, kInvalidSocket);
    EXPECT_FALSE(client.Init("word", 1));

    const size_t before = openDescriptors();
    for (int i = 0; i < 40; ++i) ASSERT_TRUE(client.Init("127.0.1.12", 58100));
    EXPECT_LE(openDescriptors(), before + 1) << "a repeated Init closes the earlier socket";
}

TEST_F(SharedStateTest, StreamOptionsResetOnCloseAndTimeOutReceives) {
    shellTiming().streamReceiveTimeoutMs = 1500;
    TcpClient plain;
    ASSERT_TRUE(plain.Init("127.0.1.13", 58100));
    int defaultBuffer = 0;
    socklen_t len = sizeof defaultBuffer;
    getsockopt(plain.sock, SOL_SOCKET, SO_RCVBUF, &defaultBuffer, &len);

    TcpClient client;
    ASSERT_TRUE(client.Init("127.0.1.13", 58100));
    client.SetStreamOptions();
    linger l{};
    len = sizeof l;
    ASSERT_EQ(getsockopt(client.sock, SOL_SOCKET, SO_LINGER, &l, &len), 0);
    EXPECT_EQ(l.l_onoff, 1);
    EXPECT_EQ(l.l_linger, 0);
    int buffer = 0;
    len = sizeof buffer;
    ASSERT_EQ(getsockopt(client.sock, SOL_SOCKET, SO_RCVBUF, &buffer, &len), 0);
    EXPECT_EQ(buffer, defaultBuffer) << "a set size would end the kernel's auto-tuning";
    timeval tv{};
    len = sizeof tv;
    ASSERT_EQ(getsockopt(client.sock, SOL_SOCKET, SO_RCVTIMEO, &tv, &len), 0);
    EXPECT_EQ(tv.tv_sec, 1);
    EXPECT_EQ(tv.tv_usec / 1000, 500);
}

TEST_F(SharedStateTest, RefusedConnectDropsTheSocketAndTheNextConnectMakesAFreshOne) {
    TraceCapture trace;
    SharedState state;
    state.stream = std::make_unique<TcpClient>();
    ASSERT_TRUE(state.stream->Init("127.0.1.15", kStreamPort));
    EXPECT_FALSE(state.ConnectStream());
    EXPECT_EQ(trace.out(), "connect fail!!!!\n");
    EXPECT_EQ(state.connState.load(), -1);
    EXPECT_EQ(state.stream->sock, kInvalidSocket);

    LoopbackListener device;
    ASSERT_TRUE(device.start("127.0.1.15", kStreamPort));
    EXPECT_TRUE(state.ConnectStream());
    // The receive buffer's size is traced once per connect.
    int buffer = 0;
    socklen_t len = sizeof buffer;
    getsockopt(state.stream->sock, SOL_SOCKET, SO_RCVBUF, &buffer, &len);
    EXPECT_EQ(trace.out(), "connect fail!!!!\nconnect success!!!!\nstream SO_RCVBUF = " +
                               std::to_string(buffer) + "\n");
    EXPECT_EQ(state.connState.load(), 1);
    EXPECT_TRUE(device.waitForAccepted(1));
}

TEST_F(SharedStateTest, WithoutAStreamConnectAndRecvCreateOneAndFail) {
    TraceCapture trace;
    SharedState state;
    uint8_t byte = 0;
    EXPECT_EQ(state.RecvExact(&byte, 1), -1);
    ASSERT_NE(state.stream, nullptr) << "a holder of streamMutex creates the stream";
    SharedState other;
    EXPECT_FALSE(other.ConnectStream());
    ASSERT_NE(other.stream, nullptr);
    EXPECT_EQ(trace.out(), "connect fail!!!!\n");
}

TEST_F(SharedStateTest, RecvExactCollectsPiecesAndFailsWhenPeerCloses) {
    LoopbackListener device;
    ASSERT_TRUE(device.start("127.0.1.16", kStreamPort));
    SharedState state;
    state.stream = std::make_unique<TcpClient>();
    ASSERT_TRUE(state.stream->Init("127.0.1.16", kStreamPort));
    ASSERT_TRUE(state.ConnectStream());
    ASSERT_TRUE(device.waitForAccepted(1));

    EXPECT_EQ(state.RecvExact(nullptr, 0), 0);
    EXPECT_EQ(state.RecvExact(nullptr, -5), 0);

    std::thread sender([&] {
        device.sendToLatest({1, 2, 3});
        std::this_thread::yield();
        device.sendToLatest({4, 5, 6, 7, 8});
    });
    std::array<uint8_t, 8> got{};
    EXPECT_EQ(state.RecvExact(got.data(), 8), 0);
    sender.join();
    EXPECT_EQ(got, (std::array<uint8_t, 8>{1, 2, 3, 4, 5, 6, 7, 8}));

    device.sendToLatest({1, 2});
    device.closeClients();
    EXPECT_EQ(state.RecvExact(got.data(), 4), -1) << "two bytes, then the peer closed";
}

TEST_F(SharedStateTest, OpenStreamFirstCallStartsReceiverAndPreparesSocket) {
    TraceCapture trace;
    SharedState state;
    state.OpenStream("127.0.1.17");
    std::lock_guard<std::mutex> lock(state.streamMutex);
    EXPECT_TRUE(state.receiverStarted);
    EXPECT_EQ(state.deviceIp, "127.0.1.17");
    EXPECT_EQ(state.streamPort, kStreamPort);
    ASSERT_NE(state.stream, nullptr);
    EXPECT_STREQ(state.stream->ip, "127.0.1.17");
    EXPECT_EQ(state.stream->port, kStreamPort);
    EXPECT_NE(state.stream->sock, kInvalidSocket);
    EXPECT_EQ(state.connState.load(), -1);
}

TEST_F(SharedStateTest, OpenStreamLaterCallsReplaceOrResetTheSocket) {
    TraceCapture trace;
    LoopbackListener first, second;
    ASSERT_TRUE(first.start("127.0.1.18", kStreamPort));
    ASSERT_TRUE(second.start("127.0.1.19", kStreamPort));
    SharedState state;
    // As if the receiver were running already: later calls start nothing, so
    // the test drives the socket alone.
    state.receiverStarted = true;

    state.OpenStream("127.0.1.18");  // another address than the (empty) current one
    {
        std::lock_guard<std::mutex> lock(state.streamMutex);
        EXPECT_EQ(state.deviceIp, "127.0.1.18");
        EXPECT_EQ(state.streamPort, kStreamPort);
        ASSERT_NE(state.stream, nullptr);
        EXPECT_STREQ(state.stream->ip, "127.0.1.18");
    }
    ASSERT_TRUE(state.ConnectStream());
    ASSERT_TRUE(first.waitForAccepted(1));

    // Same address: the old socket is closed, the next connect makes a new one.
    state.OpenStream("127.0.1.18");
    {
        std::lock_guard<std::mutex> lock(state.streamMutex);
        EXPECT_EQ(state.stream->sock, kInvalidSocket);
    }
    ASSERT_TRUE(state.ConnectStream());
    EXPECT_TRUE(first.waitForAccepted(2));

    // Another address: a new client for it.
    state.OpenStream("127.0.1.19");
    {
        std::lock_guard<std::mutex> lock(state.streamMutex);
        EXPECT_EQ(state.deviceIp, "127.0.1.19");
        EXPECT_STREQ(state.stream->ip, "127.0.1.19");
        EXPECT_NE(state.stream->sock, kInvalidSocket);
    }
    ASSERT_TRUE(state.ConnectStream());
    EXPECT_TRUE(second.waitForAccepted(1));
    EXPECT_EQ(first.acceptedCount(), 2);
    EXPECT_EQ(trace.count("connect success!!!!\n"), 3);
}

TEST_F(SharedStateTest, StoreFrameKeepsOnlyTheLatestAndNoObjectsClearTheRecords) {
    SharedState state;
    std::string pointsA = "0123456789ab";
    std::string pointsB("\xAA\xBB", 2);
    ObjRecord records[3];
    for (int i = 0; i < 3; ++i) records[i].index = 100 + i;
    AreaBlock areasA{}, areasB{};
    areasA[0] = 1.5f;
    areasB[27] = -2.0f;

    state.StoreFrame(pointsA, 3, records, areasA);
    state.StoreFrame(pointsB, 1, records + 2, areasB);
    // The hand-off swaps buffers: the caller gets an older one back to reuse.
    EXPECT_EQ(pointsB, "0123456789ab");

    {
        std::lock_guard<std::mutex> lock(state.frameMutex);
        EXPECT_TRUE(state.frameReady);
        EXPECT_EQ(state.pointData, std::string("\xAA\xBB", 2));
        EXPECT_EQ(state.objCount, 1);
        ASSERT_EQ(state.objects.size(), 1u);
        EXPECT_EQ(state.objects[0].index, 102);
        EXPECT_EQ(state.areas, areasB);
    }
    std::string none;
    state.StoreFrame(none, 0, nullptr, AreaBlock{});
    std::lock_guard<std::mutex> lock(state.frameMutex);
    EXPECT_TRUE(state.pointData.empty());
    EXPECT_EQ(state.objCount, 0);
    EXPECT_TRUE(state.objects.empty());
}

}  // namespace
