// Frames on the wire and the cutting of the received stream into frames,
// against a fake gate device on 127.0.3.1 to 127.0.3.6.
#include <memory>
#include <stdexcept>

#include "ConsoleCapture.h"
#include "SdkFixture.h"

namespace {

Bytes bytesOf(const std::array<uint8_t, 16>& f) {
    return Bytes(f.begin(), f.end());
}

}  // namespace

TEST_F(SdkTest, CommandsPutExactBytesOnTheWire) {
    FakeGate gate("127.0.3.1");
    DeviceClient client;
    ConsoleCapture console;
    // Without a socket nothing is sent and nothing is said.
    EXPECT_FALSE(client.sendHeartbeat());
    ASSERT_TRUE(openLink(client, gate));

    EXPECT_TRUE(client.sendAuthorization(1, 2));
    EXPECT_TRUE(client.sendAuthorization(0xFE, 0x00));
    EXPECT_TRUE(client.sendHeartbeat());
    EXPECT_TRUE(client.sendTimeoutSetting(0x3C));
    // Raw frames go out unchanged and unexamined, markers or not.
    const Bytes raw = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                       0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    EXPECT_TRUE(client.sendRawFrame(raw.data()));

    Bytes expected = {0x7E, 0x00, 0x01, 0x01, 0x60, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00,
                      0xAA, 0xBB, 0x7E, 0x7E, 0x00, 0x01, 0x01, 0x60, 0xFE, 0x00, 0x00, 0x00, 0x00,
                      0x00, 0x00, 0x00, 0xAA, 0xBB, 0x7E, 0x7E, 0x00, 0x01, 0x01, 0x61, 0x00, 0x00,
                      0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAA, 0xBB, 0x7E, 0x7E, 0x00, 0x01, 0x01,
                      0x70, 0x3C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xAA, 0xBB, 0x7E};
    append(expected, raw);
    EXPECT_EQ(gate.receive(expected.size()), expected);

    client.disconnect();
    EXPECT_TRUE(gate.peerClosed());
    EXPECT_FALSE(client.isConnected());
    EXPECT_FALSE(client.sendHeartbeat());
    EXPECT_EQ(console.err(), "");
    EXPECT_EQ(console.out(), "");
}

TEST_F(SdkTest, FrameSplitAcrossReadsIsDeliveredOnceComplete) {
    FakeGate gate("127.0.3.2");
    DeviceClient client;
    Recorder seen(client);
    ConsoleCapture console;
    ASSERT_TRUE(openLink(client, gate));

    // 7 bytes, then 9.
    const Bytes first = bytesOf(gateFrame(0x01, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17));
    ASSERT_TRUE(gate.send(Bytes(first.begin(), first.begin() + 7)));
    EXPECT_EQ(client.receiveAndProcess(), 7);
    EXPECT_EQ(seen.count(), 0u);
    ASSERT_TRUE(gate.send(Bytes(first.begin() + 7, first.end())));
    EXPECT_EQ(client.receiveAndProcess(), 9);
    ASSERT_EQ(seen.count(), 1u);

    // One byte per read: nothing until the last byte.
    const Bytes second = bytesOf(gateFrame(0x01, 0x21));
    for (size_t i = 0; i < second.size(); ++i) {
        ASSERT_TRUE(gate.send({second[i]}));
        ASSERT_EQ(client.receiveAndProcess(), 1);
        ASSERT_EQ(seen.count(), i + 1 == second.size() ? 2u : 1u) << "after byte " << i;
    }

    // Two kilobytes of garbage full of start markers, ending with the first
    // five bytes of a frame: the partial frame must survive the clean-up.
    Bytes garbage;
    for (int i = 0; i < 2000; ++i) garbage.push_back(i % 7 == 0 ? 0x7E : static_cast<uint8_t>(i));
    const Bytes third = bytesOf(gateFrame(0x00, 0x31, 0x32, 0x33, 0x34));
    append(garbage, Bytes(third.begin(), third.begin() + 5));
    ASSERT_TRUE(gate.send(garbage));
    ASSERT_TRUE(receiveBytes(client, garbage.size()));
    EXPECT_EQ(seen.count(), 2u);
    ASSERT_TRUE(gate.send(Bytes(third.begin() + 5, third.end())));
    EXPECT_EQ(client.receiveAndProcess(), 11);

    const auto all = seen.seen();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_EQ(bytesOf(all[0].frame), first);
    EXPECT_EQ(bytesOf(all[1].frame), second);
    EXPECT_EQ(bytesOf(all[2].frame), third);
    EXPECT_EQ(all[2].args, (Bytes{0x31, 0x32, 0x34, 0x00}));
}

TEST_F(SdkTest, FramesAreDispatchedInOrderWithTheirBytes) {
    FakeGate gate("127.0.3.3");
    DeviceClient client;
    Recorder seen(client);
    ConsoleCapture console;
    ASSERT_TRUE(openLink(client, gate));

    // A push frame whose unexamined bytes are not zero.
    auto push = gateFrame(0x01, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xAB, 0xAC);
    push[1] = 0x55;
    push[2] = 0x56;
    push[9] = 0x59;
    push[10] = 0x5A;
    auto swapped = gateFrame(0x01, 0xEE);  // tail markers in the wrong order: not a frame
    swapped[13] = 0xBB;
    swapped[14] = 0xAA;
    const auto response = gateFrame(0x00, 0xB4, 0xB5, 0x7E, 0xB7, 0xB8, 0xBB, 0xBC);
    const auto highKind = gateFrame(0x80, 0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xCB, 0xCC);

    Bytes stream = {0x7E, 0x00, 0x13};  // garbage, with a start marker
    append(stream, push);
    append(stream, swapped);
    append(stream, response);
    append(stream, Bytes{0x7E, 0x7E});
    append(stream, highKind);
    ASSERT_TRUE(gate.send(stream));
    ASSERT_TRUE(receiveBytes(client, stream.size()));

    const auto all = seen.seen();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_TRUE(all[0].push);
    EXPECT_EQ(all[0].frame, push);
    EXPECT_EQ(all[0].args, (Bytes{0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xAB, 0xAC}));
    EXPECT_FALSE(all[1].push);
    EXPECT_EQ(all[1].frame, response);
    EXPECT_EQ(all[1].args, (Bytes{0xB4, 0xB5, 0xB7, 0xBB}));
    EXPECT_TRUE(all[2].push);
    EXPECT_EQ(all[2].args, (Bytes{0xC4, 0xC5, 0xC6, 0xC7, 0xC8, 0xCB, 0xCC}));
}

TEST_F(SdkTest, CallbacksAreReplacedAndClearedWithoutLosingLaterFrames) {
    FakeGate gate("127.0.3.4");
    DeviceClient client;
    ConsoleCapture console;
    ASSERT_TRUE(openLink(client, gate));
    auto token = std::make_shared<int>(0);
    client.setPushCallback([token](const std::array<uint8_t, 16>&, uint8_t, uint8_t, uint8_t,
                                   uint8_t, uint8_t, uint8_t, uint8_t) { ADD_FAILURE(); });
    client.setPushCallback(nullptr);
    EXPECT_EQ(token.use_count(), 1) << "the replaced callback must be destroyed";

    // Without callbacks frames are dropped silently and do not stay behind.
    Bytes two;
    append(two, gateFrame(0x01, 0x02));
    append(two, gateFrame(0x00, 0x03));
    ASSERT_TRUE(gate.send(two));
    ASSERT_TRUE(receiveBytes(client, two.size()));
    Recorder later(client);
    ASSERT_TRUE(gate.send(bytesOf(gateFrame(0x00, 0x04))));
    ASSERT_EQ(client.receiveAndProcess(), 16);
    ASSERT_EQ(later.count(), 1u);
    EXPECT_EQ(later.seen()[0].args[0], 0x04);
    EXPECT_EQ(console.err(), "");
}

TEST_F(SdkTest, ThrowingCallbacksAreReportedAndParsingGoesOn) {
    FakeGate gate("127.0.3.5");
    DeviceClient client;
    ConsoleCapture console;
    ASSERT_TRUE(openLink(client, gate));

    Bytes delivered;
    client.setPushCallback([&](const std::array<uint8_t, 16>&, uint8_t p1, uint8_t, uint8_t,
                               uint8_t, uint8_t, uint8_t, uint8_t) {
        delivered.push_back(p1);
        if (p1 == 1) throw std::runtime_error("door sensor offline");
        if (p1 == 2) throw 42;
    });
    client.setResponseCallback(
        [&](const std::array<uint8_t, 16>&, uint8_t p1, uint8_t, uint8_t, uint8_t) {
            delivered.push_back(p1);
            if (p1 == 4) throw std::logic_error("bad reply");
            if (p1 == 5) throw 'x';
        });

    Bytes stream;
    append(stream, gateFrame(0x01, 1));
    append(stream, gateFrame(0x01, 2));
    append(stream, gateFrame(0x01, 3));
    append(stream, gateFrame(0x00, 4));
    append(stream, gateFrame(0x00, 5));
    append(stream, gateFrame(0x00, 6));
    ASSERT_TRUE(gate.send(stream));
    ASSERT_TRUE(receiveBytes(client, stream.size()));

    EXPECT_EQ(delivered, (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(console.err(),
              "Exception in push callback: door sensor offline\n"
              "Unknown exception in push callback\n"
              "Exception in response callback: bad reply\n"
              "Unknown exception in response callback\n");
    // The thrown frames were consumed: nothing is delivered twice.
    ASSERT_TRUE(gate.send(bytesOf(gateFrame(0x01, 7))));
    ASSERT_EQ(client.receiveAndProcess(), 16);
    EXPECT_EQ(delivered, (Bytes{1, 2, 3, 4, 5, 6, 7}));
}

TEST_F(SdkTest, CallbackMaySendFromInsideTheDispatch) {
    FakeGate gate("127.0.3.6");
    DeviceClient client;
    ConsoleCapture console;
    std::atomic<int> sentOk{0};
    client.setPushCallback([&](const std::array<uint8_t, 16>&, uint8_t, uint8_t, uint8_t, uint8_t,
                               uint8_t, uint8_t, uint8_t) {
        if (client.sendHeartbeat()) ++sentOk;
    });
    ASSERT_TRUE(openLink(client, gate));
    client.startReceiveThread();

    ASSERT_TRUE(gate.send(bytesOf(gateFrame(0x01, 0x50))));
    EXPECT_EQ(gate.receive(16), bytesOf(gateFrame(0x01, 0x61)));
    client.stopReceiveThread();
    EXPECT_EQ(sentOk.load(), 1);
}
