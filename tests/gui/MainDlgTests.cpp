// The main dialog: layout, captions in both languages, the menu bar, command
// dispatch, the alarm panel, Escape and the frame distributor's life.
#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <thread>

#include "GuiTestSupport.h"
#include "TraceCapture.h"
#include "core/ControlIds.h"
#include "core/ControlSink.h"
#include "core/Flags.h"
#include "core/SharedState.h"
#include "ui/CKestToolsDlg.h"
#include "ui/DialogResources.h"

namespace {

// Remembers which handler each command reached.
class RecordingDlg : public CKestToolsDlg {
public:
    explicit RecordingDlg(SharedState& state) : CKestToolsDlg(state) {}
    std::vector<std::string> calls;

#define RECORD(name)            \
    void name() override {      \
        calls.push_back(#name); \
    }
    RECORD(OnOpenStream)
    RECORD(OnOpen3D)
    RECORD(OnOpenObjInfo)
    RECORD(OnOpenAlarmLink)
    RECORD(OnOpenAlarmReceive)
    RECORD(OnForwardSwipe)
    RECORD(OnReverseSwipe)
    RECORD(OnCancelSwipe)
    RECORD(OnClearAlarmDisplay)
    RECORD(OnPointRegistration)
    RECORD(OnDataCollectOpen)
    RECORD(OnDataCollectClose)
    RECORD(OnExportPly)
    RECORD(OnReplayFile)
    RECORD(OnUpdateFile)
    RECORD(OnGetVersion)
    RECORD(OnGetHisVersion)
    RECORD(OnRollbackVersion)
    RECORD(OnAlgShowOpen)
    RECORD(OnAlgShowClose)
    RECORD(OnResetDevice)
    RECORD(OnSetDeviceIp)
    RECORD(OnInterBasic)
    RECORD(OnInterEvent)
    RECORD(OnGenBackground)
    RECORD(OnAbout)
#undef RECORD
};

class MainDlgTest : public ::testing::Test {
protected:
    void SetUp() override {
        shortenShellWaits();
        g_uiChinese = true;
        g_appClosing = false;
    }
    void TearDown() override { g_uiChinese = true; }
    ScopedTimings timings_;
};

// The menu bar's entries as "title/item/..." paths, depth first.
std::vector<std::string> menuPaths(const QList<QAction*>& actions, const std::string& prefix = "") {
    std::vector<std::string> paths;
    for (QAction* action : actions) {
        if (action->isSeparator()) continue;
        paths.push_back(prefix + action->text().toStdString());
        if (action->menu()) {
            auto sub = menuPaths(action->menu()->actions(), paths.back() + "/");
            paths.insert(paths.end(), sub.begin(), sub.end());
        }
    }
    return paths;
}

TEST_F(MainDlgTest, LayoutFollowsTheTable) {
    SharedState state;
    CKestToolsDlg dlg(state);
    EXPECT_EQ(dlg.size(), QSize(kMainWidth, kMainHeight));
    for (const ControlSpec& control : kMainControls) {
        QWidget* w = dlg.control(control.id);
        ASSERT_NE(w, nullptr) << control.id;
        EXPECT_EQ(w->geometry(), QRect(control.x, control.y, control.w, control.h)) << control.id;
        // Control positions are client pixels, below the menu bar.
        EXPECT_GE(w->mapTo(&dlg, QPoint(0, 0)).y(), dlg.menuBar()->sizeHint().height() + control.y);
    }
    auto* readout = qobject_cast<QPlainTextEdit*>(dlg.control(ids::kReadout));
    ASSERT_NE(readout, nullptr);
    EXPECT_TRUE(readout->isReadOnly());
    EXPECT_EQ(readout->font().pointSize(), 20);
    int w = 0, h = 0;
    dlg.sink().controlSize(ids::kView2d, w, h);
    EXPECT_EQ(QSize(w, h), QSize(640, 480));
}

TEST_F(MainDlgTest, ChineseCaptionsAndMenu) {
    SharedState state;
    CKestToolsDlg dlg(state);
    for (const ControlSpec& control : kMainControls) {
        if (control.kind == ControlKind::Button) {
            EXPECT_EQ(widgetText(dlg.control(control.id)), control.chinese);
        }
    }
    std::vector<std::string> titles;
    for (QAction* top : dlg.menuBar()->actions()) titles.push_back(top->text().toStdString());
    EXPECT_EQ(titles, (std::vector<std::string>{"帮助/help", "告警调试", "配准", "数据采集",
                                                "升级更新", "算法目标显示", "设备配置"}));
    EXPECT_EQ(dlg.menuAction(ids::kCmdInterEvent)->text().toStdString(), "事件版本");
    EXPECT_EQ(dlg.menuAction(ids::kCmdAbout)->text().toStdString(), "关于 KestTools(&A)...");
}

TEST_F(MainDlgTest, EnglishCaptionsAndMenu) {
    g_uiChinese = false;
    SharedState state;
    CKestToolsDlg dlg(state);
    EXPECT_EQ(widgetText(dlg.control(ids::kOpenStream)), "open stream");
    EXPECT_EQ(widgetText(dlg.control(ids::kOpen3d)), "open 3Dstream");
    EXPECT_EQ(widgetText(dlg.control(ids::kOpenObjInfo)), "open obj info");
    EXPECT_EQ(widgetText(dlg.control(ids::kForwardSwipe)), "Forward Swipe");
    EXPECT_EQ(widgetText(dlg.control(ids::kReverseSwipe)), "Reverse Swipe");
    EXPECT_EQ(widgetText(dlg.control(ids::kCancelSwipe)), "Clear Swipe");
    EXPECT_EQ(widgetText(dlg.control(ids::kClearAlarm)), "Clear Show");
    const std::vector<std::string> expected = {
        "帮助/help",
        "帮助/help/sysinfo",
        "帮助/help/关于 KestTools(&A)...",
        "test warn(no Gate use)",
        "test warn(no Gate use)/open",
        "test warn(no Gate use)/open recv(not use)",
        "reg",
        "reg/open point reg",
        "reg/open rgb reg(not use)",
        "data collect",
        "data collect/open data collect",
        "data collect/close data collect",
        "data collect/export cloud (PLY)",
        "data collect/replay file",
        "update",
        "update/update file",
        "update/get now version",
        "update/get his version(not use)",
        "update/version rollback(not use)",
        "show alg obj",
        "show alg obj/open show alg obj",
        "show alg obj/close show alg obj",
        "device set",
        "device set/reset device",
        "device set/set device ip",
        "device set/set data inter",
        "device set/set data inter/Basic",
        "device set/set data inter/Event",
        "device set/gen background",
    };
    EXPECT_EQ(menuPaths(dlg.menuBar()->actions()), expected);
}

TEST_F(MainDlgTest, EveryCommandReachesItsHandler) {
    SharedState state;
    RecordingDlg dlg(state);
    const std::vector<std::pair<int, std::string>> menu = {
        {ids::kCmdAlarmOpen, "OnOpenAlarmLink"},
        {ids::kCmdAlarmOpenRecv, "OnOpenAlarmReceive"},
        {ids::kCmdPointReg, "OnPointRegistration"},
        {ids::kCmdDataCollectOpen, "OnDataCollectOpen"},
        {ids::kCmdDataCollectClose, "OnDataCollectClose"},
        {ids::kCmdExportPly, "OnExportPly"},
        {ids::kCmdReplayFile, "OnReplayFile"},
        {ids::kCmdUpdateFile, "OnUpdateFile"},
        {ids::kCmdGetVersion, "OnGetVersion"},
        {ids::kCmdHisVersion, "OnGetHisVersion"},
        {ids::kCmdRollback, "OnRollbackVersion"},
        {ids::kCmdAlgShowOpen, "OnAlgShowOpen"},
        {ids::kCmdAlgShowClose, "OnAlgShowClose"},
        {ids::kCmdResetDevice, "OnResetDevice"},
        {ids::kCmdSetDeviceIp, "OnSetDeviceIp"},
        {ids::kCmdInterBasic, "OnInterBasic"},
        {ids::kCmdInterEvent, "OnInterEvent"},
        {ids::kCmdGenBackground, "OnGenBackground"},
        {ids::kCmdAbout, "OnAbout"},
    };
    for (const auto& [id, handler] : menu) {
        dlg.calls.clear();
        QAction* action = dlg.menuAction(id);
        ASSERT_NE(action, nullptr) << id;
        action->trigger();
        EXPECT_EQ(dlg.calls, std::vector<std::string>{handler}) << id;
    }
    const std::vector<std::pair<int, std::string>> buttons = {
        {ids::kOpenStream, "OnOpenStream"},        {ids::kOpen3d, "OnOpen3D"},
        {ids::kOpenObjInfo, "OnOpenObjInfo"},      {ids::kForwardSwipe, "OnForwardSwipe"},
        {ids::kReverseSwipe, "OnReverseSwipe"},    {ids::kCancelSwipe, "OnCancelSwipe"},
        {ids::kClearAlarm, "OnClearAlarmDisplay"},
    };
    dlg.ShowAlarmPanel(1);  // the swipe buttons are disabled while hidden
    for (const auto& [id, handler] : buttons) {
        dlg.calls.clear();
        qobject_cast<QAbstractButton*>(dlg.control(id))->click();
        EXPECT_EQ(dlg.calls, std::vector<std::string>{handler}) << id;
    }
    // System information and RGB registration have no handler.
    for (int id : {ids::kCmdSysInfo, ids::kCmdRgbReg}) {
        dlg.calls.clear();
        ASSERT_NE(dlg.menuAction(id), nullptr);
        dlg.menuAction(id)->trigger();
        EXPECT_FALSE(dlg.OnCommand(id));
        EXPECT_TRUE(dlg.calls.empty());
    }
    EXPECT_FALSE(dlg.OnCommand(12345));
}

TEST_F(MainDlgTest, AlarmPanelHiddenUntilShown) {
    TraceCapture trace;
    SharedState state;
    CKestToolsDlg dlg(state);
    dlg.show();
    EXPECT_EQ(trace.out(), "state = 0\n");
    for (int id : {ids::kAlarmPanel, ids::kForwardSwipe, ids::kReverseSwipe, ids::kCancelSwipe,
                   ids::kClearAlarm}) {
        EXPECT_FALSE(dlg.control(id)->isVisible()) << id;
        EXPECT_FALSE(dlg.control(id)->isEnabled() && id != ids::kAlarmPanel) << id;
    }
    EXPECT_TRUE(dlg.control(ids::kOpenStream)->isVisible());

    dlg.ShowAlarmPanel(1);
    EXPECT_EQ(trace.out(), "state = 0\nstate = 1\n");
    for (int id : {ids::kAlarmPanel, ids::kForwardSwipe, ids::kReverseSwipe, ids::kCancelSwipe,
                   ids::kClearAlarm}) {
        EXPECT_TRUE(dlg.control(id)->isVisible()) << id;
        EXPECT_TRUE(dlg.control(id)->isEnabled()) << id;
    }
    dlg.ShowAlarmPanel(0);
    EXPECT_FALSE(dlg.control(ids::kClearAlarm)->isVisible());
    EXPECT_FALSE(dlg.control(ids::kClearAlarm)->isEnabled());
}

TEST_F(MainDlgTest, EscapeNeverClosesButCloseBoxDoes) {
    SharedState state;
    CKestToolsDlg dlg(state);
    dlg.show();
    QWidget* readout = dlg.control(ids::kReadout);
    readout->setFocus();
    for (QWidget* target : {static_cast<QWidget*>(&dlg), readout}) {
        dlg.m_algShowStop = 0;
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(target, &escape);
        EXPECT_EQ(dlg.m_algShowStop.load(), 1);
        EXPECT_TRUE(dlg.isVisible());
    }
    // A posted Escape (how the algorithm display is closed) behaves the same.
    dlg.m_algShowStop = 0;
    QCoreApplication::postEvent(&dlg,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    QCoreApplication::processEvents();
    EXPECT_EQ(dlg.m_algShowStop.load(), 1);
    EXPECT_TRUE(dlg.isVisible());

    dlg.close();
    EXPECT_FALSE(dlg.isVisible());
}

TEST_F(MainDlgTest, StreamButtonsStartTheirWorkerOnce) {
    SharedState state;
    {
        CKestToolsDlg dlg(state);
        auto click = [&](int id) { qobject_cast<QAbstractButton*>(dlg.control(id))->click(); };
        click(ids::kOpenStream);
        click(ids::kOpenStream);
        EXPECT_EQ(dlg.workerCount(), 1u);
        click(ids::kOpenObjInfo);
        click(ids::kOpenObjInfo);
        EXPECT_EQ(dlg.workerCount(), 2u);
        click(ids::kOpen3d);
        click(ids::kOpen3d);
        EXPECT_EQ(dlg.workerCount(), 3u);
    }  // the workers are stopped and joined here
    EXPECT_TRUE(g_appClosing.load());
}

TEST_F(MainDlgTest, DistributorRunsForTheDialogsLife) {
    TraceCapture trace;
    SharedState state;
    g_pointFrameNew = 0;
    {
        CKestToolsDlg dlg(state);
        AreaBlock areas{};
        areas[0] = -1.0f;
        areas[3] = 2.5f;
        std::string points = "xyz";
        state.StoreFrame(points, 0, nullptr, areas);
        ASSERT_TRUE(trace.waitFor("all area[-1.00,0.00] [0.00,2.50]\n"));
        std::lock_guard<std::mutex> lock(dlg.frames().m_pointMutex);
        EXPECT_EQ(pointBytesOf(dlg.frames().m_pointData), "xyz");
    }
    EXPECT_EQ(g_pointFrameNew.load(), 1);
    EXPECT_TRUE(g_appClosing.load());
}

TEST_F(MainDlgTest, WorkerTextsReachControlsOnTheGuiThread) {
    SharedState state;
    CKestToolsDlg dlg(state);
    std::thread worker([&] { dlg.sink().setControlText(ids::kReadout, "1: 1.75m"); });
    worker.join();
    auto* readout = qobject_cast<QPlainTextEdit*>(dlg.control(ids::kReadout));
    EXPECT_EQ(readout->toPlainText().toStdString(), "") << "posted, not written by the worker";
    QCoreApplication::processEvents();
    EXPECT_EQ(readout->toPlainText().toStdString(), "1: 1.75m");
}

TEST_F(MainDlgTest, Snapshots) {
    SharedState state;
    {
        CKestToolsDlg dlg(state);
        saveSnapshot(dlg, "main_zh.png");
        dlg.ShowAlarmPanel(1);
        saveSnapshot(dlg, "main_zh_alarm.png");
    }
    g_uiChinese = false;
    {
        CKestToolsDlg dlg(state);
        saveSnapshot(dlg, "main_en.png");
        dlg.ShowAlarmPanel(1);
        saveSnapshot(dlg, "main_en_alarm.png");
        QMenu* device = dlg.menuBar()->actions().back()->menu();
        device->popup(dlg.mapToGlobal(QPoint(0, 0)));
        QCoreApplication::processEvents();
        saveSnapshot(*device, "main_en_menu_device.png");
        device->hide();
    }
}

}  // namespace
