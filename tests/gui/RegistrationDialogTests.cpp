// The registration dialog driven through its buttons (offscreen): the order
// in which buttons become usable, the swap question in both languages, the
// pictures in the picture control, OK and cancel, and a whole run from the
// main dialog's menu against the simulated registration server.
#include <QAbstractButton>
#include <QEventLoop>
#include <QKeyEvent>
#include <QLineEdit>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <functional>
#include <opencv2/core.hpp>
#include <set>

#include "GuiTestSupport.h"
#include "RegistrationScene.h"
#include "RegistrationServer.h"
#include "TempFiles.h"
#include "TraceCapture.h"
#include "core/ControlIds.h"
#include "core/Flags.h"
#include "core/SharedState.h"
#include "platform/PictureView.h"
#include "platform/ScriptedPrompt.h"
#include "registration/RegistrationRun.h"
#include "registration/RegistrationTiming.h"
#include "ui/CKestToolsDlg.h"
#include "ui/CRegData.h"
#include "ui/MainDlgRegistration.h"
#include "ui/RegDataResources.h"

namespace {

using namespace std::chrono_literals;
using namespace regids;

// Every control that the enabling order switches.
const int kSwitched[] = {
    kHeightEdit,   kConfirmHeight, kSkipRotation,  kStartRotation, kGateLengthEdit,  kGateWidthEdit,
    kConfirmGate,  kShowAreas,     kZoomIn,        kZoomOut,       kSkipAdjust,      kAdjustAreas,
    kAdjustPinch,  kFinish,        kRotateForward, kRotateReverse, kConfirmRotation, kEnlargeLength,
    kEnlargeWidth, kShrinkLength,  kShrinkWidth,   kMoveUp,        kMoveDown,        kMoveLeft,
    kMoveRight,    kConfirmAreas};

std::set<int> enabledIds(CRegData& dlg) {
    std::set<int> on;
    for (int id : kSwitched)
        if (dlg.control(id)->isEnabled()) on.insert(id);
    return on;
}

void click(CRegData& dlg, int id) {
    qobject_cast<QAbstractButton*>(dlg.control(id))->click();
}

QSize pictureSize(CRegData& dlg) {
    const auto* view = dynamic_cast<PictureView*>(dlg.control(kPicture));
    return !view || view->picture().isNull() ? QSize() : view->picture().size();
}

int lineCountOf(const std::string& text) {
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

class RegDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_uiChinese = true;
        registrationMatrix() = FactoryRegMatrix();
        displayMatrix() = FactoryRegMatrix();
        registrationTiming().dialogInitPollMs = 10;
        registrationTiming().rawViewDelayMs = 10;
    }
    void TearDown() override {
        g_uiChinese = true;
        registrationTiming().dialogInitPollMs = 1000;
        registrationTiming().rawViewDelayMs = 1000;
    }
    // A dialog with the simulated scene's points, dumping into a temporary folder.
    std::unique_ptr<CRegData> makeDialog() {
        auto dlg = std::make_unique<CRegData>();
        dlg->setPrompt(&prompt);
        dlg->workbench().dumpDir = dumps.file("");
        dlg->SetPointData(regscene::makePoints(160, 120, 1), 160, 120);
        return dlg;
    }

    TraceCapture trace;
    ScriptedPrompt prompt;
    TempDir dumps;
};

TEST_F(RegDialogTest, EnablingOrderThroughTheButtons) {
    auto dlg = makeDialog();
    EXPECT_EQ(dlg->windowTitle().toStdString(), "配准");
    EXPECT_EQ(dlg->size(), QSize(800, 600));
    EXPECT_EQ(qobject_cast<QLineEdit*>(dlg->control(kHeightEdit))->text().toStdString(), "2.8");
    EXPECT_EQ(qobject_cast<QLineEdit*>(dlg->control(kGateWidthEdit))->text().toStdString(), "0.76");
    EXPECT_EQ(g_regDialogInitialised.load(), 1);

    prompt.queueAnswer(kAnswerYes);
    prompt.queueAnswer(kAnswerNo);
    // Each press (a disabled button does nothing) and what responds after it.
    struct Step {
        int press;
        std::set<int> added, removed;
    };
    const Step steps[] = {
        {0, {kHeightEdit, kConfirmHeight}, {}},
        {kSkipRotation, {}, {}},
        {kConfirmHeight, {kSkipRotation, kStartRotation}, {}},
        {kConfirmGate, {}, {}},
        {kStartRotation, {kRotateForward, kRotateReverse, kConfirmRotation}, {}},
        {kRotateForward, {}, {}},
        {kConfirmRotation, {kGateLengthEdit, kGateWidthEdit, kConfirmGate}, {}},
        {kConfirmGate, {kShowAreas}, {}},
        {kShowAreas, {kSkipAdjust, kAdjustAreas, kAdjustPinch, kZoomIn, kZoomOut}, {}},
        {kAdjustPinch, {kEnlargeLength, kShrinkLength, kConfirmAreas}, {}},
        {kEnlargeWidth, {}, {}},
        {kEnlargeLength, {}, {}},
        {kConfirmAreas, {kFinish}, {}},  // swap question answered yes
        {kShrinkLength, {}, {kFinish}},  // a change needs a new answer
        {kSkipAdjust, {kFinish}, {}},    // answered no
        {kAdjustAreas,
         {kEnlargeWidth, kShrinkWidth, kMoveUp, kMoveDown, kMoveLeft, kMoveRight},
         {}},
        {kAdjustPinch,
         {},
         {kEnlargeWidth, kShrinkWidth, kMoveUp, kMoveDown, kMoveLeft, kMoveRight}},
    };
    std::set<int> expected;
    for (const Step& s : steps) {
        if (s.press) click(*dlg, s.press);
        for (int id : s.added) expected.insert(id);
        for (int id : s.removed) expected.erase(id);
        EXPECT_EQ(enabledIds(*dlg), expected) << "after pressing " << s.press;
    }
    EXPECT_EQ(dlg->adjustMode(), kAdjustAntiPinch);

    const auto asked = prompt.asked();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].text, "是否交换12区域位置和45区域位置？");
    EXPECT_EQ(asked[0].caption, "提示");
    EXPECT_EQ(asked[0].buttons, PromptButtons::YesNo);
    EXPECT_EQ(asked[0].icon, PromptIcon::Question);
    // Swapped once (yes), then regenerated by the next split: area 1 is the
    // low end of the gate again.
    EXPECT_LT(dlg->areaSet()[1].y0, dlg->areaSet()[5].y0);
}

TEST_F(RegDialogTest, PicturesOfEachStep) {
    auto dlg = makeDialog();
    dlg->show();
    // The raw depth view comes by itself a moment after opening.
    ASSERT_TRUE(pumpUntil([&] { return pictureSize(*dlg) == QSize(480, 320); }));
    saveSnapshot(*dlg, "registration_raw.png");

    click(*dlg, kConfirmHeight);
    EXPECT_EQ(dlg->workbench().topPicture().size(), cv::Size(392, 261));
    EXPECT_NE(trace.out().find("-1.31 1.31 -1.96 1.96 \n"), std::string::npos);
    pumpUntil([] { return false; }, 100ms);
    saveSnapshot(*dlg, "registration_top_cross.png");
    EXPECT_EQ(lineCountOf(readFile(dumps.file("dsfile.xyz"))), 160 * 120);

    click(*dlg, kSkipRotation);
    click(*dlg, kConfirmGate);
    click(*dlg, kShowAreas);
    EXPECT_EQ(dlg->activeView(), 0);
    pumpUntil([] { return false; }, 100ms);
    saveSnapshot(*dlg, "registration_areas.png");

    // Zooming makes the zoom view the one that adjusting and swapping redraw.
    const cv::Mat topBefore = dlg->workbench().topPicture().clone();
    click(*dlg, kZoomIn);
    EXPECT_EQ(dlg->activeView(), 1);
    const cv::Size zoomSize = dlg->workbench().zoomPicture().size();
    EXPECT_LT(zoomSize.width, 392);
    click(*dlg, kAdjustAreas);
    const cv::Mat zoomBefore = dlg->workbench().zoomPicture().clone();
    click(*dlg, kEnlargeWidth);
    EXPECT_GT(cv::norm(dlg->workbench().zoomPicture(), zoomBefore, cv::NORM_L1), 0.0);
    EXPECT_EQ(cv::norm(dlg->workbench().topPicture(), topBefore, cv::NORM_L1), 0.0);
    pumpUntil([] { return false; }, 100ms);
    saveSnapshot(*dlg, "registration_zoom.png");
}

TEST_F(RegDialogTest, EnglishCaptionsAndSwapQuestion) {
    g_uiChinese = false;
    auto dlg = makeDialog();
    EXPECT_EQ(dlg->windowTitle().toStdString(), "Reg");
    const std::pair<int, const char*> captions[] = {
        {kHeightLabel, "MH"},   {kConfirmHeight, "OK"}, {kGateLabel, "TLW"},     {kZoomIn, "EL"},
        {kEnlargeLength, "EL"}, {kAdjustPinch, "APA"},  {kRotateReverse, "CCW"}, {kFinish, "OK"}};
    for (const auto& c : captions) EXPECT_EQ(widgetText(dlg->control(c.first)), c.second);
    for (int id : {kConfirmHeight, kSkipRotation, kConfirmGate, kShowAreas, kSkipAdjust})
        click(*dlg, id);
    const auto asked = prompt.asked();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, "is change pos 12 area pos to 45 area pos?");
    EXPECT_EQ(asked[0].caption, "prompt");
    saveSnapshot(*dlg, "registration_english.png");
}

TEST_F(RegDialogTest, OkAndCancelEndings) {
    // Enter ends with OK even before any area was generated.
    auto dlg = makeDialog();
    QTimer::singleShot(0, dlg.get(), [&] {
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(dlg->control(kHeightEdit), &enter);
    });
    EXPECT_EQ(dlg->DoModal(), 1);
    EXPECT_EQ(dlg->areaSet(), RegAreaSet{});

    auto other = makeDialog();
    QTimer::singleShot(0, other.get(), [&] {
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QCoreApplication::sendEvent(other.get(), &esc);
    });
    EXPECT_EQ(other->DoModal(), 2);

    auto third = makeDialog();
    QTimer::singleShot(0, third.get(), [&] { third->close(); });
    EXPECT_EQ(third->DoModal(), 2);
}

TEST_F(RegDialogTest, UnusableInputsShowAnEmptyView) {
    auto dlg = makeDialog();
    dlg->show();
    // The raw view first, so that it cannot land after the empty view.
    ASSERT_TRUE(pumpUntil([&] { return pictureSize(*dlg) == QSize(480, 320); }));
    const float height = registrationMatrix().m23();
    qobject_cast<QLineEdit*>(dlg->control(kHeightEdit))->setText("abc");
    click(*dlg, kConfirmHeight);
    EXPECT_TRUE(dlg->workbench().topPicture().empty());
    EXPECT_EQ(registrationMatrix().m23(), height);
    ASSERT_TRUE(pumpUntil([&] { return pictureSize(*dlg).isEmpty(); }));
    // The redraw message brings the raw depth view back.
    dlg->OnRedrawRaw();
    ASSERT_TRUE(pumpUntil([&] { return pictureSize(*dlg) == QSize(480, 320); }));

    qobject_cast<QLineEdit*>(dlg->control(kHeightEdit))->setText("2.8");
    click(*dlg, kConfirmHeight);
    click(*dlg, kSkipRotation);
    qobject_cast<QLineEdit*>(dlg->control(kGateLengthEdit))->setText("-1.4");
    click(*dlg, kConfirmGate);
    click(*dlg, kShowAreas);
    EXPECT_EQ(dlg->areaSet(), RegAreaSet{});
    EXPECT_TRUE(dlg->workbench().topPicture().empty());
    click(*dlg, kAdjustAreas);
    click(*dlg, kEnlargeLength);  // nothing to adjust, nothing breaks
    EXPECT_EQ(dlg->areaSet(), RegAreaSet{});
    // A valid size afterwards works.
    qobject_cast<QLineEdit*>(dlg->control(kGateLengthEdit))->setText("1.4");
    click(*dlg, kConfirmGate);
    EXPECT_EQ(dlg->workbench().topPicture().size(), cv::Size(392, 261));
}

// The whole road: menu, point set from the simulated server, the dialog on
// the GUI thread for the registration thread, the result on the server.
TEST_F(RegDialogTest, MenuRunAgainstTheSimulatedServer) {
    RegistrationServerOptions options;
    options.address = "127.0.9.20";
    options.width = 160;
    options.height = 120;
    RegistrationServer server(options);
    ASSERT_TRUE(server.start());
    auto& timing = registrationTiming();
    timing.pollMs = 20;
    timing.resultSettleMs = 10;

    RegistrationService service;
    SharedState state;
    state.deviceIp = "127.0.9.20";
    CKestToolsDlg main(state);
    RegistrationUiHooks& hooks = registrationUiHooks();
    hooks.service = &service;
    hooks.prompt = &prompt;
    prompt.queueAnswer(kAnswerOk);   // "already running"
    prompt.queueAnswer(kAnswerYes);  // swap
    std::string dialogTitle;
    hooks.beforeModal = [&](CRegData& dlg) {
        dlg.workbench().dumpDir = dumps.file("");
        QTimer::singleShot(0, &dlg, [&] {
            dialogTitle = dlg.windowTitle().toStdString();
            for (int id :
                 {kConfirmHeight, kSkipRotation, kConfirmGate, kShowAreas, kSkipAdjust, kFinish})
                click(dlg, id);
        });
    };

    main.OnCommand(ids::kCmdPointReg);
    main.OnCommand(ids::kCmdPointReg);  // during the run
    ASSERT_TRUE(pumpUntil([&] { return !server.results().empty(); }));
    ASSERT_TRUE(pumpUntil([&] { return service.WaitIdle(0ms); }));
    hooks = RegistrationUiHooks{};
    timing.pollMs = 2000;
    timing.resultSettleMs = 3000;

    EXPECT_EQ(dialogTitle, "配准");
    const auto asked = prompt.asked();
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].text, "配准进程正在运行！\n");
    EXPECT_EQ(asked[0].buttons, PromptButtons::Ok);
    const RegResultRecord result = server.results().at(0);
    EXPECT_EQ(result.code, 2u);
    EXPECT_EQ(result.matrix.m23(), 2.8f);
    EXPECT_EQ(result.areas[0], (RegRect{-0.38f, -0.70f, 0.38f, 0.70f}));
    // Swapped: area 1 at the high end of the gate.
    EXPECT_FLOAT_EQ(result.areas[1].y1, 0.70f);
    EXPECT_FLOAT_EQ(result.areas[5].y0, -0.70f);
    EXPECT_EQ(result.areas[kRegReserved], RegRect{});
    EXPECT_EQ(server.pointSetsSent(), 1);
    EXPECT_FALSE(service.registrationRunning.load());
    g_appClosing = false;  // raised by the main dialog going away
}

}  // namespace
