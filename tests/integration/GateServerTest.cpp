// The simulated gate-linkage server, seen from a plain socket: its pushes and
// responses pinned to literal bytes, the commands it records, and the link
// drops that exercise a client's reconnection.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "GateServer.h"
#include "LoopbackSocket.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 5000ms;        // upper bound for anything the server does
constexpr int kReadTimeoutMs = 5000;  // a test read that never completes fails instead of hanging

using Bytes = std::vector<uint8_t>;

// A plain client socket, closed at the end of the test.
class RawClient {
public:
    RawClient(const std::string& address, uint16_t port)
        : fd_(loopback::connectTo(address, port)) {}
    ~RawClient() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool connected() const { return fd_ >= 0; }
    void send(const Bytes& bytes) { ASSERT_TRUE(loopback::sendAll(fd_, bytes)); }
    // Exactly n bytes; fewer when the peer closed or the read timed out.
    Bytes read(size_t n) { return loopback::receive(fd_, n, kReadTimeoutMs); }
    bool closedByPeer() { return loopback::peerClosed(fd_, kReadTimeoutMs); }

private:
    const int fd_;
};

GateServerOptions optionsAt(const char* address, int pushMs, int dropEvery = 0) {
    GateServerOptions o;
    o.address = address;
    o.pushIntervalMs = pushMs;
    o.dropEvery = dropEvery;
    return o;
}

long msSince(std::chrono::steady_clock::time_point start) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count());
}

Bytes frameBytes(const SimGateFrame& f) {
    return Bytes(f.begin(), f.end());
}

TEST(GateServer, PushesTheScriptedSequenceAndRepeatsIt) {
    GateServer server(optionsAt("127.0.4.10", 1));
    ASSERT_TRUE(server.start());
    RawClient client("127.0.4.10", 12580);
    ASSERT_TRUE(client.connected());
    const size_t n = gatePushScript().size();
    ASSERT_EQ(n, 19u);
    const Bytes all = client.read(16 * (n + 1));
    ASSERT_EQ(all.size(), 16 * (n + 1));
    auto frame = [&](size_t i) { return Bytes(all.begin() + 16 * i, all.begin() + 16 * (i + 1)); };
    // Tailgating, the first alarm; no door change (byte 12 = FF).
    EXPECT_EQ(frame(0), (Bytes{0x7E, 0x00, 0x01, 0x01, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                               0x00, 0xFF, 0xAA, 0xBB, 0x7E}));
    for (size_t i = 0; i < 11; ++i) EXPECT_EQ(frame(i)[6], i + 1);
    EXPECT_EQ(frame(11), (Bytes{0x7E, 0x00, 0x01, 0x01, 0x01, 0x00, 0x99, 0x00, 0x00, 0x00, 0x00,
                                0x00, 0xFF, 0xAA, 0xBB, 0x7E}));
    // Door opened, closed, paused.
    EXPECT_EQ(frame(12), (Bytes{0x7E, 0x00, 0x01, 0x01, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                0x00, 0x00, 0xAA, 0xBB, 0x7E}));
    EXPECT_EQ(frame(13)[12], 1);
    EXPECT_EQ(frame(14)[12], 2);
    // Codes outside the tables, then alarm and door in one frame.
    EXPECT_EQ(frame(15)[6], 0x0C);
    EXPECT_EQ(frame(16)[6], 0x98);
    EXPECT_EQ(frame(17)[12], 0x03);
    EXPECT_EQ(frame(18), (Bytes{0x7E, 0x00, 0x01, 0x01, 0x03, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00,
                                0x00, 0x01, 0xAA, 0xBB, 0x7E}));
    EXPECT_EQ(frame(n), frame(0));
    EXPECT_EQ(describeGatePush(gatePushScript()[18]), "alarm 0x01 tailgating, door 1 closed");
    EXPECT_EQ(describeGatePush(gatePushScript()[17]), "door state 3 outside the table");
    server.stop();
}

TEST(GateServer, AnswersEveryCommandAndRecordsItsPort) {
    GateServer server(optionsAt("127.0.4.11", 0));
    ASSERT_TRUE(server.start());
    RawClient client("127.0.4.11", 12581);
    ASSERT_TRUE(client.connected());
    const Bytes forward = {0x7E, 0x00, 0x01, 0x01, 0x60, 0x01, 0x00, 0x00,
                           0x00, 0x00, 0x00, 0x01, 0x00, 0xAA, 0xBB, 0x7E};
    const Bytes heartbeat = {0x7E, 0x00, 0x01, 0x01, 0x61, 0x00, 0x00, 0x00,
                             0x00, 0x00, 0x00, 0x00, 0x00, 0xAA, 0xBB, 0x7E};
    const Bytes timeout = {0x7E, 0x00, 0x01, 0x01, 0x70, 0x1E, 0x00, 0x00,
                           0x00, 0x00, 0x00, 0x00, 0x00, 0xAA, 0xBB, 0x7E};
    // Garbage with a false start marker in front, then a frame split in two sends.
    client.send({0x7E, 0x13, 0x37});
    client.send(Bytes(forward.begin(), forward.begin() + 7));
    client.send(Bytes(forward.begin() + 7, forward.end()));
    Bytes two = heartbeat;
    two.insert(two.end(), timeout.begin(), timeout.end());
    client.send(two);

    EXPECT_EQ(client.read(16), (Bytes{0x7E, 0x00, 0x01, 0x00, 0x60, 0x01, 0x00, 0x00, 0x00, 0x00,
                                      0x00, 0x01, 0x00, 0xAA, 0xBB, 0x7E}));
    EXPECT_EQ(client.read(16), (Bytes{0x7E, 0x00, 0x01, 0x00, 0x61, 0x00, 0x00, 0x00, 0x00, 0x00,
                                      0x00, 0x00, 0x00, 0xAA, 0xBB, 0x7E}));
    EXPECT_EQ(client.read(16), (Bytes{0x7E, 0x00, 0x01, 0x00, 0x70, 0x1E, 0x00, 0x00, 0x00, 0x00,
                                      0x00, 0x00, 0x00, 0xAA, 0xBB, 0x7E}));
    const auto got = server.received();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(frameBytes(got[0].frame), forward);
    EXPECT_EQ(got[0].port, 12581);
    EXPECT_EQ(frameBytes(got[2].frame), timeout);
    EXPECT_EQ(server.countReceived(0x61), 1);
    EXPECT_EQ(server.connectionsAccepted(12581), 1);
    EXPECT_EQ(server.connectionsAccepted(12580), 0);
    EXPECT_EQ(server.pushesSent(), 0);  // no scripted pushes at interval 0

    EXPECT_EQ(describeGateCommand(got[0].frame), "authorisation forward (first argument 1)");
    EXPECT_EQ(describeGateCommand(got[1].frame), "heartbeat");
    EXPECT_EQ(describeGateCommand(got[2].frame), "timeout setting 30");
    EXPECT_EQ(describeGateCommand(makeGateFrame(1, 0x60, 1, 0, 0, 0, 2, 0)),
              "authorisation reverse (first argument 1)");
    EXPECT_EQ(describeGateCommand(makeGateFrame(1, 0x60, 1, 0, 0, 0, 0, 0)),
              "authorisation cancel (first argument 1)");
    EXPECT_EQ(describeGateCommand(makeGateFrame(1, 0x42, 0, 0, 0, 0, 0, 0)),
              "unknown command 0x42");
    server.stop();
}

TEST(GateServer, DropsTheLinkAfterEveryNthPushAndAcceptsTheNext) {
    GateServer server(optionsAt("127.0.4.12", 1, 3));
    ASSERT_TRUE(server.start());
    {
        RawClient first("127.0.4.12", 12580);
        ASSERT_TRUE(first.connected());
        EXPECT_EQ(first.read(48).size(), 48u);
        EXPECT_TRUE(first.closedByPeer());
    }
    RawClient second("127.0.4.12", 12580);
    ASSERT_TRUE(second.connected());
    // A new link starts the script from its beginning.
    const Bytes again = second.read(16);
    EXPECT_EQ(again, frameBytes(gatePushScript()[0]));
    EXPECT_TRUE(server.waitFor([&] { return server.connectionsAccepted(12580) == 2; }, kWait));
    server.stop();
}

TEST(GateServer, PushToAllReachesEveryOpenLinkAndDropAllEndsThem) {
    GateServer server(optionsAt("127.0.4.13", 0));
    ASSERT_TRUE(server.start());
    RawClient a("127.0.4.13", 12580);
    RawClient b("127.0.4.13", 12581);
    ASSERT_TRUE(server.waitFor([&] { return server.openConnections() == 2; }, kWait));
    const SimGateFrame frame = makeGateFrame(0x01, 0x01, 0, 0x05, 0, 0, 0, 0x02);
    EXPECT_EQ(server.pushToAll(frame), 2);
    EXPECT_EQ(a.read(16), frameBytes(frame));
    EXPECT_EQ(b.read(16), frameBytes(frame));
    server.dropAll();
    EXPECT_TRUE(a.closedByPeer());
    EXPECT_TRUE(b.closedByPeer());
    EXPECT_TRUE(server.waitFor([&] { return server.openConnections() == 0; }, kWait));
    server.stop();
}

TEST(GateServer, RefusesAnAddressInUseAndOneOffLoopback) {
    GateServer first(optionsAt("127.0.4.14", 0));
    ASSERT_TRUE(first.start());
    GateServer second(optionsAt("127.0.4.14", 0));
    EXPECT_FALSE(second.start());
    GateServer outside(optionsAt("192.0.2.1", 0));
    EXPECT_FALSE(outside.start());
    first.stop();
}

// A client that stops reading: its link is dropped after the send time-out,
// and meanwhile neither the other client nor the server's own calls wait for
// it. Address 127.0.11.50.
TEST(GateServer, AClientThatStopsReadingHoldsUpNothing) {
    GateServerOptions options = optionsAt("127.0.11.50", 0);
    options.sendTimeoutMs = 200;
    GateServer server(options);
    ASSERT_TRUE(server.start());
    // The stalled client: a small receive window, never read.
    const int stalled = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 2048;
    ::setsockopt(stalled, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(12580);
    ::inet_pton(AF_INET, "127.0.11.50", &a.sin_addr);
    ASSERT_EQ(::connect(stalled, reinterpret_cast<const sockaddr*>(&a), sizeof a), 0);
    RawClient reader("127.0.11.50", 12581);
    ASSERT_TRUE(server.waitFor([&] { return server.openConnections() == 2; }, kWait));

    std::atomic<size_t> readerBytes{0};
    std::thread drain([&] {
        for (;;) {
            const Bytes got = reader.read(4096);
            readerBytes += got.size();
            if (got.size() < 4096) return;
        }
    });
    const SimGateFrame frame = makeGateFrame(0x01, 0x01, 0, 0x05, 0, 0, 0, 0x02);
    std::atomic<int> pushedToReader{0};
    std::atomic<bool> pushing{true};
    std::thread pusher([&] {
        for (int i = 0; i < 1000000; ++i) {
            const int n = server.pushToAll(frame);
            pushedToReader += n > 0 ? 1 : 0;
            if (n < 2) break;
        }
        pushing = false;
    });
    // Until the stalled link is gone, and while a send to it waits, the
    // server still answers.
    bool answered = true;
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (answered && pushing && std::chrono::steady_clock::now() < deadline) {
        auto probe = std::async(std::launch::async, [&] { return server.openConnections(); });
        answered = probe.wait_for(1s) == std::future_status::ready;
        if (!answered) ::close(stalled);  // lets a wedged server go, so the test can end
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_TRUE(answered) << "the server waited for a client that reads nothing";
    pusher.join();
    EXPECT_TRUE(server.waitFor([&] { return server.openConnections() == 1; }, kWait));
    const auto start = std::chrono::steady_clock::now();
    server.stop();
    EXPECT_LT(msSince(start), 2000);
    drain.join();
    EXPECT_EQ(readerBytes.load(), 16u * static_cast<size_t>(pushedToReader.load()));
    if (answered) ::close(stalled);
}

// stop() while a send waits on a client that reads nothing: the send ends at
// once, whatever the send time-out. Address 127.0.11.51.
TEST(GateServer, StopEndsASendBlockedOnAClientThatReadsNothing) {
    GateServerOptions options = optionsAt("127.0.11.51", 0);
    options.sendTimeoutMs = 60000;
    GateServer server(options);
    ASSERT_TRUE(server.start());
    RawClient stalled("127.0.11.51", 12580);  // never read
    ASSERT_TRUE(server.waitFor([&] { return server.openConnections() == 1; }, kWait));
    const SimGateFrame frame = makeGateFrame(0x01, 0x01, 0, 0x05, 0, 0, 0, 0x02);
    std::thread pusher([&] {
        while (server.pushToAll(frame) == 1) {
        }
    });
    // Blocked once the count stops moving.
    int last = -1;
    while (server.pushesSent() != last) {
        last = server.pushesSent();
        std::this_thread::sleep_for(300ms);
    }
    const auto start = std::chrono::steady_clock::now();
    server.stop();
    pusher.join();
    EXPECT_LT(msSince(start), 2000);
}

}  // namespace
