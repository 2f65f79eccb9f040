// The gate event console driven through the real main dialog (offscreen)
// against the simulated gate-linkage server: the alarm menu, the pushed lines
// on the panel, the swipe buttons on the wire and the clear button.
#include <QAction>
#include <QEventLoop>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "GateServer.h"
#include "GuiTestSupport.h"
#include "KestSdk/DeviceClientTiming.h"
#include "TraceCapture.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/SharedState.h"
#include "gate/GateConsole.h"
#include "gate/GateTiming.h"
#include "ui/CKestToolsDlg.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 10000ms;  // upper bound for anything the test waits for

std::string panelText(CKestToolsDlg& dlg) {
    auto* panel = qobject_cast<QPlainTextEdit*>(dlg.control(ids::kAlarmPanel));
    return panel ? panel->toPlainText().toStdString() : "<no panel>";
}

int countOf(const std::string& text, const std::string& needle) {
    int n = 0;
    for (size_t pos = text.find(needle); pos != std::string::npos;
         pos = text.find(needle, pos + needle.size()))
        ++n;
    return n;
}

std::vector<SimGateFrame> authorisations(const GateServer& server) {
    std::vector<SimGateFrame> out;
    for (const auto& r : server.received())
        if (r.frame[4] == 0x60) out.push_back(r.frame);
    return out;
}

TEST(GateConsoleGui, MenuButtonsAndPanelAgainstTheSimulatedGate) {
    const char* address = "127.0.4.40";
    ScopedTimings timings;
    shortenShellWaits();
    g_uiChinese = true;
    g_appClosing = false;
    gateTiming().heartbeatPeriodMs = 50;
    gateTiming().receiveRetryMs = 20;
    gateTiming().panelRefreshIdleMs = 10;
    deviceClientTiming().reconnectSleepMs = 5;

    GateServerOptions options;
    options.address = address;
    options.pushIntervalMs = 0;
    GateServer server(options);
    ASSERT_TRUE(server.start());
    TraceCapture trace;

    SharedState state;
    state.deviceIp = address;
    auto dlg = std::make_unique<CKestToolsDlg>(state);
    dlg->show();
    QWidget* panel = dlg->control(ids::kAlarmPanel);
    ASSERT_NE(panel, nullptr);
    EXPECT_FALSE(panel->isVisible());

    // 告警调试 → 打开
    dlg->menuAction(ids::kCmdAlarmOpen)->trigger();
    EXPECT_TRUE(panel->isVisible());
    for (int id : {ids::kForwardSwipe, ids::kReverseSwipe, ids::kCancelSwipe, ids::kClearAlarm})
        EXPECT_TRUE(dlg->control(id)->isEnabled()) << id;
    ASSERT_TRUE(trace.waitFor("127.0.4.40--12580\n"));
    ASSERT_TRUE(server.waitFor([&] { return server.openConnections() == 1; }, kWait));
    ASSERT_TRUE(pumpUntil([&] {
        DeviceClient* client = gateConsole().gateClient();
        return client && client->isConnected();
    }));
    // Heartbeats flow on the shortened period.
    ASSERT_TRUE(server.waitFor([&] { return server.countReceived(0x61) >= 3; }, kWait));

    // A push reaches the panel in Chinese.
    server.pushToAll(makeGateFrame(0x01, 0x01, 0, 0x01, 0, 0, 0, 0x00));
    ASSERT_TRUE(pumpUntil([&] { return countOf(panelText(*dlg), "]: ") == 2; })) << panelText(*dlg);
    EXPECT_NE(panelText(*dlg).find(" 尾随"), std::string::npos);
    EXPECT_NE(panelText(*dlg).find(" 开门"), std::string::npos);

    // The swipe buttons: authorisations on the wire, their lines on the panel.
    static_cast<QPushButton*>(dlg->control(ids::kForwardSwipe))->click();
    static_cast<QPushButton*>(dlg->control(ids::kReverseSwipe))->click();
    static_cast<QPushButton*>(dlg->control(ids::kCancelSwipe))->click();
    ASSERT_TRUE(server.waitFor([&] { return authorisations(server).size() == 3; }, kWait));
    const auto auths = authorisations(server);
    EXPECT_EQ(auths[0], makeGateFrame(0x01, 0x60, 0x01, 0, 0, 0, 0x01, 0));
    EXPECT_EQ(auths[1], makeGateFrame(0x01, 0x60, 0x01, 0, 0, 0, 0x02, 0));
    EXPECT_EQ(auths[2], makeGateFrame(0x01, 0x60, 0x01, 0, 0, 0, 0x00, 0));
    ASSERT_TRUE(pumpUntil([&] { return panelText(*dlg).find(" 取消刷卡") != std::string::npos; }));
    const std::string withSwipes = panelText(*dlg);
    EXPECT_NE(withSwipes.find(" 正向刷卡"), std::string::npos);
    EXPECT_NE(withSwipes.find(" 逆向刷卡"), std::string::npos);
    saveSnapshot(*dlg, "main_dialog_alarm_panel.png");

    // 打开接收 afterwards shows the panel again but keeps the one link on 12580.
    EXPECT_TRUE(dlg->OnCommand(ids::kCmdAlarmOpenRecv));
    EXPECT_EQ(gateConsole().alarmLinkMode.load(), 2);

    // 清空告警显示 empties the panel; the next push shows only its own line.
    static_cast<QPushButton*>(dlg->control(ids::kClearAlarm))->click();
    ASSERT_TRUE(pumpUntil([&] { return panelText(*dlg).empty(); }));
    server.pushToAll(makeGateFrame(0x01, 0x01, 0, 0x04, 0, 0, 0, 0xFF));
    ASSERT_TRUE(pumpUntil([&] { return !panelText(*dlg).empty(); }));
    EXPECT_EQ(countOf(panelText(*dlg), "]: "), 1);
    EXPECT_NE(panelText(*dlg).find(" 逆行"), std::string::npos);
    EXPECT_EQ(server.connectionsAccepted(12581), 0);
    EXPECT_EQ(server.connectionsAccepted(12580), 1);
    EXPECT_EQ(trace.count("--"), 1);

    // Closing the dialog detaches its panel; the link runs on until stopped.
    dlg.reset();
    server.pushToAll(makeGateFrame(0x01, 0x01, 0, 0x05, 0, 0, 0, 0xFF));
    ASSERT_TRUE(trace.waitFor("[PUSH]7E 00 01 01 01 00 05 00"));  // a redraw with no panel
    EXPECT_EQ(server.openConnections(), 1);
    gateConsole().stop();
    EXPECT_EQ(gateConsole().gateClient(), nullptr);
    EXPECT_TRUE(server.waitFor([&] { return server.openConnections() == 0; }, kWait));
    server.stop();
}

}  // namespace
