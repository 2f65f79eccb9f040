// The registration dialog leaves the rest of the tool alone: while it is open
// the main window takes the engineer's clicks (a second 打开点云配准 says a run
// is going on, the recorder starts and stops from its menu), the main window
// going away cancels it, and the work of its steps (point dumps, projections)
// is done while the GUI thread keeps running its timers.
#include <QAbstractButton>
#include <QMenu>
#include <QMenuBar>
#include <QTimer>
#include <QWindow>
#include <QtTest/QTest>
#include <array>
#include <chrono>
#include <filesystem>
#include <functional>
#include <mutex>

#include "CollectionServer.h"
#include "GuiTestSupport.h"
#include "RegistrationScene.h"
#include "RegistrationServer.h"
#include "TraceCapture.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/SharedState.h"
#include "platform/ScriptedPrompt.h"
#include "registration/RegistrationRun.h"
#include "registration/RegistrationTiming.h"
#include "ui/CKestToolsDlg.h"
#include "ui/CRegData.h"
#include "ui/MainDlgRegistration.h"
#include "ui/RegDataResources.h"
#include "views/ViewTiming.h"

namespace {

using namespace std::chrono_literals;
using namespace regids;

void click(CRegData& dlg, int id) {
    qobject_cast<QAbstractButton*>(dlg.control(id))->click();
}

QAction* actionNamed(const QList<QAction*>& actions, const char* text) {
    for (QAction* a : actions)
        if (a->text() == QString::fromUtf8(text)) return a;
    return nullptr;
}

// Chooses menu → item of the main window with the mouse, as the engineer
// does: the clicks go through the window system, where a window blocked by a
// modal one never receives them. False when the menu did not open.
bool chooseFromMenu(CKestToolsDlg& main, const char* menu, const char* item) {
    auto* bar = main.findChild<QMenuBar*>();
    QAction* top = bar ? actionNamed(bar->actions(), menu) : nullptr;
    if (!top || !top->menu()) return false;
    const QPoint title = bar->mapTo(&main, bar->actionGeometry(top).center());
    QTest::mouseClick(main.windowHandle(), Qt::LeftButton, Qt::NoModifier, title);
    QMenu* popup = top->menu();
    if (!pumpUntil([&] { return popup->isVisible(); }, 2s)) return false;
    QAction* entry = actionNamed(popup->actions(), item);
    if (!entry) return false;
    QTest::mouseClick(popup->windowHandle(), Qt::LeftButton, Qt::NoModifier,
                      popup->actionGeometry(entry).center());
    return true;
}

// A main window logged in at one address, with the simulated registration
// and collection servers there, in a temporary working directory (the
// recorder writes below it). Registration waits are shortened and put back.
class ModelessTest : public ::testing::Test {
protected:
    ScopedTimings timings_;
    ModelessTest() {
        shortenShellWaits();
        shellTiming().streamReceiveTimeoutMs = 3000;
        RegistrationTiming& t = registrationTiming();
        saved_ = {t.pollMs.load(), t.resultSettleMs.load(), t.dialogInitPollMs.load(),
                  t.rawViewDelayMs.load()};
        t.pollMs = 20;
        t.resultSettleMs = 10;
        t.dialogInitPollMs = 10;
        t.rawViewDelayMs = 10;
        g_uiChinese = true;
        g_appClosing = false;
        registrationMatrix() = FactoryRegMatrix();
        displayMatrix() = FactoryRegMatrix();
        oldDir_ = std::filesystem::current_path();
        std::filesystem::current_path(dir.file(""));
    }
    ~ModelessTest() override {
        registrationUiHooks() = RegistrationUiHooks{};
        RegistrationTiming& t = registrationTiming();
        t.pollMs = saved_[0];
        t.resultSettleMs = saved_[1];
        t.dialogInitPollMs = saved_[2];
        t.rawViewDelayMs = saved_[3];
        std::filesystem::current_path(oldDir_);
        g_appClosing = false;  // raised by the main dialog going away
    }
    // Starts the servers and a registration run whose dialog calls whileOpen
    // from its own event loop.
    void startRun(const std::string& address, std::function<void(CRegData&)> whileOpen) {
        RegistrationServerOptions options;
        options.address = address;
        options.width = 160;
        options.height = 120;
        regServer = std::make_unique<RegistrationServer>(options);
        ASSERT_TRUE(regServer->start());
        CollectionServerOptions collect;
        collect.address = address;
        collect.fps = 100;
        collect.payloadBytes = 1000;
        collectServer = std::make_unique<CollectionServer>(collect);
        ASSERT_TRUE(collectServer->start());
        {
            std::lock_guard<std::mutex> lock(state.streamMutex);
            state.deviceIp = address;
        }
        main = std::make_unique<CKestToolsDlg>(state);
        main->setPrompt(&prompt);
        main->show();
        ASSERT_TRUE(pumpUntil([&] { return main->windowHandle() && main->isVisible(); }));
        RegistrationUiHooks& hooks = registrationUiHooks();
        hooks.service = &service;
        hooks.prompt = &prompt;
        hooks.beforeModal = [this, whileOpen](CRegData& dlg) {
            dlg.workbench().dumpDir = dir.file("");
            QTimer::singleShot(0, &dlg, [&dlg, whileOpen] {
                pumpUntil([&] { return dlg.isVisible(); });
                whileOpen(dlg);
            });
        };
        main->OnCommand(ids::kCmdPointReg);
    }

    TempDir dir;
    TraceCapture trace;
    ScriptedPrompt prompt;
    SharedState state;
    RegistrationService service;
    std::unique_ptr<RegistrationServer> regServer;
    std::unique_ptr<CollectionServer> collectServer;
    std::unique_ptr<CKestToolsDlg> main;

private:
    std::array<int, 4> saved_{};
    std::filesystem::path oldDir_;
};

TEST_F(ModelessTest, TheMainWindowsMenusWorkWhileTheDialogIsOpen) {
    prompt.queueAnswer(kAnswerOk);  // "already running"
    bool secondStartOpened = false, recordOpened = false, recordCloseOpened = false;
    bool recorded = false, stopped = false;
    startRun("127.0.26.1", [&](CRegData& dlg) {
        secondStartOpened = chooseFromMenu(*main, "配准", "打开点云配准");
        pumpUntil([&] { return !prompt.asked().empty(); }, 2s);
        recordOpened = chooseFromMenu(*main, "数据采集", "打开数据存储");
        recorded = recordOpened && pumpUntil([&] { return trace.count("time = ") >= 3; });
        recordCloseOpened = chooseFromMenu(*main, "数据采集", "关闭数据存储");
        stopped =
            recordCloseOpened && pumpUntil([&] { return !main->m_record->m_recordRunning.load(); });
        dlg.OnFinish();  // the OK command (Enter): ends the dialog whatever happened above
    });
    ASSERT_TRUE(pumpUntil([&] { return !regServer->results().empty(); }));
    ASSERT_TRUE(pumpUntil([&] { return service.WaitIdle(0ms); }));

    EXPECT_TRUE(secondStartOpened) << "the registration menu did not open";
    EXPECT_TRUE(recordOpened && recorded) << "the recorder did not start from its menu";
    EXPECT_TRUE(recordCloseOpened && stopped) << "the recorder did not stop from its menu";
    const auto asked = prompt.asked();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, "配准进程正在运行！\n");
    EXPECT_EQ(asked[0].caption, "KestTools");
    EXPECT_EQ(regServer->results().at(0).code, 2u) << "the run itself ends as before";
    EXPECT_EQ(regServer->pointSetsSent(), 1);
}

TEST_F(ModelessTest, TheMainWindowGoingAwayCancelsTheDialog) {
    bool dialogWasOpen = false, leftOpen = false;
    startRun("127.0.26.2", [&](CRegData& dlg) {
        dialogWasOpen = dlg.isVisible();
        main->reject();  // the close box
        if (!pumpUntil([&] { return !dlg.isVisible(); }, 2s)) {
            leftOpen = true;
            dlg.reject();
        }
    });
    ASSERT_TRUE(pumpUntil([&] { return service.WaitIdle(0ms); }));
    EXPECT_TRUE(dialogWasOpen);
    EXPECT_FALSE(leftOpen) << "the dialog stayed open without its main window";
    EXPECT_TRUE(regServer->results().empty()) << "a cancelled registration sends nothing";
    EXPECT_EQ(regServer->pointSetsSent(), 1);
}

// Each step's work goes to the step thread: a GUI-thread timer keeps firing
// while a 640 x 480 height confirmation or rotation is being done, and the
// console lines come in the order of the same steps done one after another
// on a single thread.
TEST(RegistrationSteps, RunOffTheGuiThreadInTheOrderPressed) {
    g_uiChinese = true;
    registrationMatrix() = FactoryRegMatrix();
    displayMatrix() = FactoryRegMatrix();
    TempDir dumps;
    ScriptedPrompt prompt;
    prompt.queueAnswer(kAnswerYes);  // swap
    // No pause after each picture: the step thread is then busy only with the work.
    struct NoSettle {
        int saved = viewTiming().drawSettleMs.exchange(0);
        ~NoSettle() { viewTiming().drawSettleMs = saved; }
    } noSettle;

    TraceCapture trace;
    std::string viaDialog;
    {
        CRegData dlg;
        dlg.setPrompt(&prompt);
        dlg.workbench().dumpDir = dumps.file("");
        dlg.SetPointData(regscene::makePoints(640, 480, 1), 640, 480);
        dlg.show();
        int ticksDuringStep = 0;
        QTimer ticker;
        QObject::connect(&ticker, &QTimer::timeout, [&] {
            if (dlg.stepPending()) ++ticksDuringStep;
        });
        ticker.start(0);
        struct Step {
            int press;
            bool heavy;  // dumps and projects the whole point set
        };
        const Step steps[] = {
            {kConfirmHeight, true},  {kStartRotation, false},   {kRotateForward, true},
            {kRotateReverse, true},  {kConfirmRotation, false}, {kConfirmGate, false},
            {kShowAreas, false},     {kZoomIn, false},          {kAdjustAreas, false},
            {kEnlargeLength, false}, {kConfirmAreas, false},
        };
        for (const Step& s : steps) {
            const int before = ticksDuringStep;
            click(dlg, s.press);
            ASSERT_TRUE(pumpUntil([&] { return !dlg.stepPending(); })) << s.press;
            if (s.heavy) {
                EXPECT_GT(ticksDuringStep, before) << "the GUI thread waited for " << s.press;
            }
        }
        ticker.stop();
        EXPECT_EQ(dlg.activeView(), kRegZoomView);
        viaDialog = trace.out();
    }
    const std::string dumpViaDialog = readFile(dumps.file("dsfile.xyz"));
    trace.clear();

    // The same steps, one after another on this thread.
    RegMatrix reg = FactoryRegMatrix(), disp = FactoryRegMatrix();
    RegWorkbench bench(reg, disp);
    bench.dumpDir = dumps.file("");
    bench.SetPointData(regscene::makePoints(640, 480, 1), 640, 480);
    bench.ConfirmHeight(2.8);
    bench.Rotate(-1.0f);
    bench.Rotate(+1.0f);
    bench.ConfirmGate(1.4, 0.76);
    bench.Zoom(-0.1);
    bench.geometry.adjustMode = kAdjustGate;
    bench.Adjust(RegAdjust::EnlargeLength);
    bench.Swap();
    EXPECT_EQ(viaDialog, trace.out());
    EXPECT_EQ(dumpViaDialog, readFile(dumps.file("dsfile.xyz")));
    EXPECT_EQ(registrationMatrix(), reg);
}

}  // namespace
