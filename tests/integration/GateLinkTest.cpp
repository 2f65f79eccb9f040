// The gate event console against the simulated gate-linkage server: the alarm
// link on its port, the panel fed by pushes, the card swipes on the wire,
// heartbeats, reconnection after a drop, and a stop that ends every thread.
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "GateServer.h"
#include "KestSdk/DeviceClientTiming.h"
#include "RecordingControlSink.h"
#include "TraceCapture.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "gate/GateConsole.h"
#include "gate/GateTiming.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using Lines = std::vector<std::string>;

constexpr auto kWait = 10000ms;   // upper bound for anything a test waits for
constexpr auto kPollStep = 10ms;  // re-check period of eventually()
constexpr int kPanel = ids::kAlarmPanel;

// For what offers no wait of its own (the trace's error stream).
bool eventually(const std::function<bool()>& predicate) {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(kPollStep);
    }
    return true;
}

// Lines of a panel text with their time prefixes removed.
Lines bodies(const std::string& text) {
    Lines out;
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find("\r\n", start);
        const std::string line =
            text.substr(start, end == std::string::npos ? end : end + 2 - start);
        const size_t colon = line.find("]:");
        out.push_back(colon == std::string::npos ? line : line.substr(colon + 2));
        if (end == std::string::npos) break;
        start = end + 2;
    }
    return out;
}

// Authorisation frames the device received, on one port or (0) on any.
std::vector<Bytes> authorisations(const GateServer& server, uint16_t port = 0) {
    std::vector<Bytes> out;
    for (const auto& r : server.received())
        if (r.frame[4] == 0x60 && (port == 0 || r.port == port))
            out.emplace_back(r.frame.begin(), r.frame.end());
    return out;
}

class GateLink : public ::testing::Test {
protected:
    void init(const char* address, int heartbeatMs = 60000) {
        address_ = address;
        GateServerOptions options;
        options.address = address;
        options.pushIntervalMs = 0;  // the tests push what they need
        server = std::make_unique<GateServer>(options);
        timing.heartbeatPeriodMs = heartbeatMs;
        timing.receiveRetryMs = 20;
        timing.panelRefreshIdleMs = 10;
        console = std::make_unique<GateConsole>(queue, timing);
    }

    void SetUp() override {
        savedChinese = g_uiChinese.load();
        savedReconnectStep = deviceClientTiming().reconnectSleepMs.load();
        deviceClientTiming().reconnectSleepMs = 5;  // reconnect check every 150 ms
    }
    void TearDown() override {
        if (console) console->stop();
        if (server) server->stop();
        g_uiChinese = savedChinese;
        deviceClientTiming().reconnectSleepMs = savedReconnectStep;
    }

    bool open(int mode = 1) {
        return openAlarmLink(*console, alarmLinkStarted, mode, panel, address());
    }
    bool waitForLink(int accepted, uint16_t port = 12580) {
        return server->waitFor(
            [&] {
                return server->connectionsAccepted(port) == accepted &&
                       server->openConnections() == 1;
            },
            kWait);
    }
    std::function<std::string()> address() {
        return [this] { return address_; };
    }
    // The swipe buttons send once the link thread has published its client.
    bool waitForClient() {
        return eventually([&] {
            DeviceClient* client = console->gateClient();
            return client && client->isConnected();
        });
    }
    // Pushes an alarm with no door change.
    void pushAlarm(uint8_t code) {
        server->pushToAll(makeGateFrame(1, 0x01, 0, code, 0, 0, 0, 0xFF));
    }
    bool waitForLine(const std::string& line, RecordingControlSink* sink = nullptr) {
        return (sink ? *sink : panel).waitForTextContaining(kPanel, line);
    }
    Lines panelLines() { return bodies(panel.lastText(kPanel)); }

    TraceCapture trace;
    std::string address_;
    std::unique_ptr<GateServer> server;
    AlarmQueue queue;
    GateTiming timing;
    RecordingControlSink panel;
    std::unique_ptr<GateConsole> console;
    bool alarmLinkStarted = false;
    bool savedChinese = true;
    int savedReconnectStep = 100;
};

TEST_F(GateLink, OpenConnectsToTheAlarmPortAndPushesBecomePanelLines) {
    g_uiChinese = false;
    init("127.0.4.20");
    ASSERT_TRUE(server->start());
    open();
    EXPECT_TRUE(alarmLinkStarted);
    ASSERT_TRUE(trace.waitFor("127.0.4.20--12580\n"));
    ASSERT_TRUE(waitForLink(1));
    EXPECT_EQ(server->connectionsAccepted(12581), 0);

    // The simulator's whole script, in order: 17 lines from 19 frames.
    for (const SimGateFrame& frame : gatePushScript()) ASSERT_EQ(server->pushToAll(frame), 1);
    ASSERT_TRUE(
        panel.waitForLastText(kPanel, [](const std::string& t) { return bodies(t).size() == 17; }));
    const Lines expected = {
        " weisui\r\n", " chuangru\r\n",  " qiangxing\r\n", " nixing\r\n",      " zhiliu\r\n",
        " kuayue\r\n", " sqcs\r\n",      " yiliuwu\r\n",   " aqqzhanyong\r\n", " jzyxtx\r\n",
        " czyxtx\r\n", " finish\r\n",    " opendoor\r\n",  " closedoor\r\n",   " pausedoor\r\n",
        " weisui\r\n", " closedoor\r\n",
    };
    // Prefixes are stripped for the comparison but must be there.
    EXPECT_EQ(panelLines(), expected);
    EXPECT_EQ(panel.lastText(kPanel).rfind("[", 0), 0u);
    EXPECT_EQ(trace.count("[PUSH]7E 00 01 01 01 00 01 00 00 00 00 00 FF AA BB 7E\n"), 1);
    EXPECT_EQ(trace.count("[PUSH]"), 19);
}

TEST_F(GateLink, HeartbeatsGoOutOnTheShortPeriodAndTheirResponsesLeaveThePanelAlone) {
    g_uiChinese = true;
    init("127.0.4.21", 5);
    ASSERT_TRUE(server->start());
    open();
    ASSERT_TRUE(waitForLink(1));
    pushAlarm(0x08);
    ASSERT_TRUE(waitForLine(" 遗留物\r\n"));
    const size_t updatesBefore = panel.texts(kPanel).size();
    // Heartbeats arrive and each is answered with a response frame.
    ASSERT_TRUE(server->waitFor([&] { return server->countReceived(0x61) >= 5; }, kWait));
    // A push after the responses: its line is the only change the panel sees.
    pushAlarm(0x99);
    ASSERT_TRUE(waitForLine(" 告警结束\r\n"));
    EXPECT_EQ(panel.texts(kPanel).size(), updatesBefore + 1);
    EXPECT_EQ(panelLines(), (Lines{" 遗留物\r\n", " 告警结束\r\n"}));
    const Bytes heartbeat = {0x7E, 0x00, 0x01, 0x01, 0x61, 0x00, 0x00, 0x00,
                             0x00, 0x00, 0x00, 0x00, 0x00, 0xAA, 0xBB, 0x7E};
    for (const auto& r : server->received()) {
        EXPECT_EQ(Bytes(r.frame.begin(), r.frame.end()), heartbeat);
        EXPECT_EQ(r.port, 12580);
    }
}

TEST_F(GateLink, OpenReceiveUsesItsPortAndASecondChoiceStartsNoSecondLink) {
    init("127.0.4.23", 5);
    ASSERT_TRUE(server->start());
    open(2);
    ASSERT_TRUE(trace.waitFor("127.0.4.23--12581\n"));
    ASSERT_TRUE(waitForLink(1, 12581));

    open(1);
    EXPECT_EQ(console->alarmLinkMode.load(), 1);
    EXPECT_FALSE(
        console->startAlarmLink(panel, address()));  // the console refuses a second link too
    // Let the link run on: heartbeats keep coming on 12581 only.
    const int seen = server->countReceived(0x61);
    ASSERT_TRUE(server->waitFor([&] { return server->countReceived(0x61) >= seen + 3; }, kWait));
    EXPECT_EQ(server->connectionsAccepted(12580), 0);
    EXPECT_EQ(server->connectionsAccepted(12581), 1);
    EXPECT_EQ(trace.count("--"), 1);
    for (const auto& r : server->received()) EXPECT_EQ(r.port, 12581);
}

TEST_F(GateLink, SwipesPutTheirAuthorisationOnTheWireAndTheirLineOnThePanel) {
    g_uiChinese = true;
    init("127.0.4.24");
    ASSERT_TRUE(server->start());
    open();
    ASSERT_TRUE(waitForLink(1));
    ASSERT_TRUE(waitForClient());
    console->swipe(SwipeKind::Reverse);
    console->swipe(SwipeKind::Forward);
    console->swipe(SwipeKind::Cancel);
    ASSERT_TRUE(server->waitFor([&] { return authorisations(*server, 12580).size() == 3; }, kWait));
    EXPECT_EQ(authorisations(*server),
              (std::vector<Bytes>{{0x7E, 0x00, 0x01, 0x01, 0x60, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                                   0x02, 0x00, 0xAA, 0xBB, 0x7E},
                                  {0x7E, 0x00, 0x01, 0x01, 0x60, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                                   0x01, 0x00, 0xAA, 0xBB, 0x7E},
                                  {0x7E, 0x00, 0x01, 0x01, 0x60, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00,
                                   0x00, 0x00, 0xAA, 0xBB, 0x7E}}));
    ASSERT_TRUE(waitForLine(" 取消刷卡\r\n"));
    EXPECT_EQ(panelLines(), (Lines{" 逆向刷卡\r\n", " 正向刷卡\r\n", " 取消刷卡\r\n"}));
}

TEST_F(GateLink, SwipesWhileDisconnectedOnlyAddTheirLineUntilTheLinkComesBack) {
    g_uiChinese = false;
    init("127.0.4.25");
    // No device yet: the first connect fails and the reconnect thread keeps trying.
    open();
    ASSERT_TRUE(trace.waitFor("127.0.4.25--12580\n"));
    ASSERT_TRUE(
        eventually([&] { return trace.err().find("connect failed\n") != std::string::npos; }));
    EXPECT_EQ(trace.err(), "connect failed\n");
    console->swipe(SwipeKind::Reverse);
    ASSERT_TRUE(waitForLine(" Reverse Swipe\r\n"));

    ASSERT_TRUE(server->start());
    ASSERT_TRUE(waitForLink(1));
    ASSERT_TRUE(waitForClient());
    console->swipe(SwipeKind::Cancel);
    ASSERT_TRUE(server->waitFor([&] { return authorisations(*server, 12580).size() == 1; }, kWait));
    // The swipe made while disconnected was not sent later: the one
    // authorisation is the cancel.
    const auto got = authorisations(*server);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0][11], 0x00);
    ASSERT_TRUE(waitForLine(" Cancle Swipe\r\n"));
    EXPECT_EQ(panelLines(), (Lines{" Reverse Swipe\r\n", " Cancle Swipe\r\n"}));
}

TEST_F(GateLink, AlarmsFlowAgainAfterTheDeviceDropsTheLink) {
    g_uiChinese = false;
    init("127.0.4.26");
    ASSERT_TRUE(server->start());
    open();
    ASSERT_TRUE(waitForLink(1));
    pushAlarm(0x02);
    ASSERT_TRUE(waitForLine(" chuangru\r\n"));

    server->dropAll();
    ASSERT_TRUE(waitForLink(2));  // the library reconnected by itself
    ASSERT_TRUE(eventually([&] { return trace.err().find("peer closed\n") != std::string::npos; }));
    EXPECT_EQ(trace.err(), "peer closed\n");
    pushAlarm(0x04);
    ASSERT_TRUE(waitForLine(" nixing\r\n"));
    EXPECT_EQ(panelLines(), (Lines{" chuangru\r\n", " nixing\r\n"}));
}

TEST_F(GateLink, StopEndsABlockedReadAndTheLinkCanStartAgain) {
    init("127.0.4.27");
    ASSERT_TRUE(server->start());
    open();
    ASSERT_TRUE(waitForLink(1));
    ASSERT_TRUE(waitForClient());
    // The device is silent: the receive thread sits in a read with a 60 s time-out.
    console->stop();
    EXPECT_EQ(console->gateClient(), nullptr);
    EXPECT_TRUE(server->waitFor([&] { return server->openConnections() == 0; }, kWait));
    EXPECT_EQ(trace.err().find("peer closed"), std::string::npos);

    // Swipes after the stop only add their line.
    console->swipe(SwipeKind::Forward);
    EXPECT_EQ(queue.alarmLines.size(), 1u);

    g_uiChinese = false;
    EXPECT_TRUE(console->startAlarmLink(panel, address()));
    ASSERT_TRUE(waitForLink(2));
    pushAlarm(0x05);
    ASSERT_TRUE(waitForLine(" zhiliu\r\n"));
}

TEST_F(GateLink, ADetachedPanelIsLeftAloneAndANewPanelTakesOverTheRunningLink) {
    g_uiChinese = false;
    init("127.0.4.28");
    ASSERT_TRUE(server->start());
    open();
    ASSERT_TRUE(waitForLink(1));
    pushAlarm(0x09);
    ASSERT_TRUE(waitForLine(" aqqzhanyong\r\n"));

    console->detachPanel(panel);  // the dialog goes away
    const size_t oldUpdates = panel.texts(kPanel).size();
    RecordingControlSink next;
    bool nextStarted = false;
    EXPECT_FALSE(openAlarmLink(*console, nextStarted, 1, next, address()));
    ASSERT_TRUE(waitForLine(" aqqzhanyong\r\n", &next));  // shown at once, no push needed
    pushAlarm(0x0A);
    ASSERT_TRUE(waitForLine(" jzyxtx\r\n", &next));
    EXPECT_EQ(panel.texts(kPanel).size(), oldUpdates);
    EXPECT_EQ(server->connectionsAccepted(12580), 1);
    console->detachPanel(next);  // next goes before the fixture stops the console
}

}  // namespace
