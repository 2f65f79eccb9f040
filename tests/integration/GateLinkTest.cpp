// The gate event console against the simulated gate-linkage server: the alarm
// link on its port, the panel fed by pushes, the card swipes on the wire,
// heartbeats, reconnection after a drop, and a stop that ends every thread.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "GateServer.h"
#include "KestSdk/DeviceClientTiming.h"
#include "TraceCapture.h"
#include "core/ControlIds.h"
#include "core/ControlSink.h"
#include "core/Flags.h"
#include "gate/GateConsole.h"
#include "gate/GateTiming.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;

constexpr auto kWait = 10000ms;   // upper bound for anything a test waits for
constexpr auto kPollStep = 10ms;  // re-check period of eventually()

// For what offers no wait of its own (the trace's error stream).
bool eventually(const std::function<bool()>& predicate) {
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (!predicate()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(kPollStep);
    }
    return true;
}

// The alarm panel as the refresher sees it, with a wait for a text to arrive.
class PanelSink : public ControlSink {
public:
    void setControlText(int controlId, const std::string& text) override {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (controlId == ids::kAlarmPanel) {
                text_ = text;
                ++updates_;
            }
        }
        cond_.notify_all();
    }
    void controlSize(int, int& width, int& height) const override { width = height = 0; }
    void showImage(int, const cv::Mat&) override {}

    bool waitForText(const std::string& needle) {
        return waitFor(
            [&](const std::string& text) { return text.find(needle) != std::string::npos; });
    }
    bool waitFor(const std::function<bool(const std::string&)>& predicate) {
        std::unique_lock<std::mutex> lock(mutex_);
        return cond_.wait_for(lock, kWait, [&] { return predicate(text_); });
    }
    std::string text() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    int updates() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return updates_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cond_;
    std::string text_;
    int updates_ = 0;
};

// Lines of a panel text with their time prefixes removed.
std::vector<std::string> bodies(const std::string& text) {
    std::vector<std::string> out;
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

int authorisationsOn(const GateServer& server, uint16_t port) {
    int n = 0;
    for (const auto& r : server.received())
        if (r.frame[4] == 0x60 && r.port == port) ++n;
    return n;
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

    TraceCapture trace;
    std::string address_;
    std::unique_ptr<GateServer> server;
    AlarmQueue queue;
    GateTiming timing;
    PanelSink panel;
    std::unique_ptr<GateConsole> console;
    bool alarmLinkStarted = false;
    bool savedChinese = true;
    int savedReconnectStep = 100;
};

TEST_F(GateLink, OpenConnectsToTheAlarmPortAndPushesBecomePanelLines) {
    g_uiChinese = false;
    init("127.0.4.20");
    ASSERT_TRUE(server->start());
    openAlarmLink(*console, alarmLinkStarted, 1, panel, address());
    EXPECT_TRUE(alarmLinkStarted);
    ASSERT_TRUE(trace.waitFor("127.0.4.20--12580\n"));
    ASSERT_TRUE(waitForLink(1));
    EXPECT_EQ(server->connectionsAccepted(12581), 0);

    // The simulator's whole script, in order: 17 lines from 19 frames.
    for (const SimGateFrame& frame : gatePushScript()) ASSERT_EQ(server->pushToAll(frame), 1);
    ASSERT_TRUE(panel.waitFor([](const std::string& text) { return bodies(text).size() == 17; }));
    const std::vector<std::string> expected = {
        " weisui\r\n", " chuangru\r\n",  " qiangxing\r\n", " nixing\r\n",      " zhiliu\r\n",
        " kuayue\r\n", " sqcs\r\n",      " yiliuwu\r\n",   " aqqzhanyong\r\n", " jzyxtx\r\n",
        " czyxtx\r\n", " finish\r\n",    " opendoor\r\n",  " closedoor\r\n",   " pausedoor\r\n",
        " weisui\r\n", " closedoor\r\n",
    };
    // Prefixes are stripped for the comparison but must be there.
    const std::string text = panel.text();
    EXPECT_EQ(bodies(text), expected);
    EXPECT_EQ(text.rfind("[", 0), 0u);
    EXPECT_EQ(trace.count("[PUSH]7E 00 01 01 01 00 01 00 00 00 00 00 FF AA BB 7E\n"), 1);
    EXPECT_EQ(trace.count("[PUSH]"), 19);
}

TEST_F(GateLink, ResponsesToHeartbeatsLeaveThePanelAlone) {
    g_uiChinese = true;
    init("127.0.4.21", 10);
    ASSERT_TRUE(server->start());
    openAlarmLink(*console, alarmLinkStarted, 1, panel, address());
    ASSERT_TRUE(waitForLink(1));
    server->pushToAll(makeGateFrame(1, 0x01, 0, 0x08, 0, 0, 0, 0xFF));
    ASSERT_TRUE(panel.waitForText(" 遗留物\r\n"));
    const int updatesBefore = panel.updates();
    // Heartbeats arrive and each is answered with a response frame.
    ASSERT_TRUE(server->waitFor([&] { return server->countReceived(0x61) >= 5; }, kWait));
    // A push after the responses: its line is the only change the panel sees.
    server->pushToAll(makeGateFrame(1, 0x01, 0, 0x99, 0, 0, 0, 0xFF));
    ASSERT_TRUE(panel.waitForText(" 告警结束\r\n"));
    EXPECT_EQ(panel.updates(), updatesBefore + 1);
    EXPECT_EQ(bodies(panel.text()), (std::vector<std::string>{" 遗留物\r\n", " 告警结束\r\n"}));
}

TEST_F(GateLink, HeartbeatsArriveAtTheDeviceWithTheShortenedPeriod) {
    init("127.0.4.22", 5);
    ASSERT_TRUE(server->start());
    openAlarmLink(*console, alarmLinkStarted, 1, panel, address());
    ASSERT_TRUE(server->waitFor([&] { return server->countReceived(0x61) >= 4; }, kWait));
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
    openAlarmLink(*console, alarmLinkStarted, 2, panel, address());
    ASSERT_TRUE(trace.waitFor("127.0.4.23--12581\n"));
    ASSERT_TRUE(waitForLink(1, 12581));

    openAlarmLink(*console, alarmLinkStarted, 1, panel, address());
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
    openAlarmLink(*console, alarmLinkStarted, 1, panel, address());
    ASSERT_TRUE(waitForLink(1));
    ASSERT_TRUE(waitForClient());
    console->swipe(SwipeKind::Reverse);
    console->swipe(SwipeKind::Forward);
    console->swipe(SwipeKind::Cancel);
    ASSERT_TRUE(server->waitFor([&] { return authorisationsOn(*server, 12580) == 3; }, kWait));
    std::vector<ReceivedGateFrame> got;
    for (const auto& r : server->received())
        if (r.frame[4] == 0x60) got.push_back(r);
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(Bytes(got[0].frame.begin(), got[0].frame.end()),
              (Bytes{0x7E, 0x00, 0x01, 0x01, 0x60, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00,
                     0xAA, 0xBB, 0x7E}));
    EXPECT_EQ(Bytes(got[1].frame.begin(), got[1].frame.end()),
              (Bytes{0x7E, 0x00, 0x01, 0x01, 0x60, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00,
                     0xAA, 0xBB, 0x7E}));
    EXPECT_EQ(Bytes(got[2].frame.begin(), got[2].frame.end()),
              (Bytes{0x7E, 0x00, 0x01, 0x01, 0x60, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                     0xAA, 0xBB, 0x7E}));
    ASSERT_TRUE(panel.waitForText(" 取消刷卡\r\n"));
    EXPECT_EQ(bodies(panel.text()),
              (std::vector<std::string>{" 逆向刷卡\r\n", " 正向刷卡\r\n", " 取消刷卡\r\n"}));
}

TEST_F(GateLink, SwipesWhileDisconnectedOnlyAddTheirLineUntilTheLinkComesBack) {
    g_uiChinese = false;
    init("127.0.4.25");
    // No device yet: the first connect fails and the reconnect thread keeps trying.
    openAlarmLink(*console, alarmLinkStarted, 1, panel, address());
    ASSERT_TRUE(trace.waitFor("127.0.4.25--12580\n"));
    ASSERT_TRUE(
        eventually([&] { return trace.err().find("connect failed\n") != std::string::npos; }));
    EXPECT_EQ(trace.err(), "connect failed\n");
    console->swipe(SwipeKind::Reverse);
    ASSERT_TRUE(panel.waitForText(" Reverse Swipe\r\n"));

    ASSERT_TRUE(server->start());
    ASSERT_TRUE(waitForLink(1));
    ASSERT_TRUE(waitForClient());
    console->swipe(SwipeKind::Cancel);
    ASSERT_TRUE(server->waitFor([&] { return authorisationsOn(*server, 12580) == 1; }, kWait));
    // The swipe made while disconnected was not sent later: the one
    // authorisation is the cancel.
    std::vector<ReceivedGateFrame> got;
    for (const auto& r : server->received())
        if (r.frame[4] == 0x60) got.push_back(r);
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].frame[11], 0x00);
    ASSERT_TRUE(panel.waitForText(" Cancle Swipe\r\n"));
    EXPECT_EQ(bodies(panel.text()),
              (std::vector<std::string>{" Reverse Swipe\r\n", " Cancle Swipe\r\n"}));
}

TEST_F(GateLink, AlarmsFlowAgainAfterTheDeviceDropsTheLink) {
    g_uiChinese = false;
    init("127.0.4.26");
    ASSERT_TRUE(server->start());
    openAlarmLink(*console, alarmLinkStarted, 1, panel, address());
    ASSERT_TRUE(waitForLink(1));
    server->pushToAll(makeGateFrame(1, 0x01, 0, 0x02, 0, 0, 0, 0xFF));
    ASSERT_TRUE(panel.waitForText(" chuangru\r\n"));

    server->dropAll();
    ASSERT_TRUE(waitForLink(2));  // the library reconnected by itself
    ASSERT_TRUE(eventually([&] { return trace.err().find("peer closed\n") != std::string::npos; }));
    EXPECT_EQ(trace.err(), "peer closed\n");
    server->pushToAll(makeGateFrame(1, 0x01, 0, 0x04, 0, 0, 0, 0xFF));
    ASSERT_TRUE(panel.waitForText(" nixing\r\n"));
    EXPECT_EQ(bodies(panel.text()), (std::vector<std::string>{" chuangru\r\n", " nixing\r\n"}));
}

TEST_F(GateLink, StopEndsABlockedReadAndTheLinkCanStartAgain) {
    init("127.0.4.27");
    ASSERT_TRUE(server->start());
    openAlarmLink(*console, alarmLinkStarted, 1, panel, address());
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
    server->pushToAll(makeGateFrame(1, 0x01, 0, 0x05, 0, 0, 0, 0xFF));
    ASSERT_TRUE(panel.waitForText(" zhiliu\r\n"));
}

TEST_F(GateLink, ADetachedPanelIsLeftAloneAndANewPanelTakesOverTheRunningLink) {
    g_uiChinese = false;
    init("127.0.4.28");
    ASSERT_TRUE(server->start());
    openAlarmLink(*console, alarmLinkStarted, 1, panel, address());
    ASSERT_TRUE(waitForLink(1));
    server->pushToAll(makeGateFrame(1, 0x01, 0, 0x09, 0, 0, 0, 0xFF));
    ASSERT_TRUE(panel.waitForText(" aqqzhanyong\r\n"));

    console->detachPanel(panel);  // the dialog goes away
    const int oldUpdates = panel.updates();
    PanelSink next;
    bool nextStarted = false;
    EXPECT_FALSE(openAlarmLink(*console, nextStarted, 1, next, address()));
    ASSERT_TRUE(next.waitForText(" aqqzhanyong\r\n"));  // shown at once, no push needed
    server->pushToAll(makeGateFrame(1, 0x01, 0, 0x0A, 0, 0, 0, 0xFF));
    ASSERT_TRUE(next.waitForText(" jzyxtx\r\n"));
    EXPECT_EQ(panel.updates(), oldUpdates);
    EXPECT_EQ(server->connectionsAccepted(12580), 1);
    console->detachPanel(next);  // next goes before the fixture stops the console
}

}  // namespace
