// The registration run under a comma-decimal locale (de_DE.UTF-8, as LANG
// gives it to QApplication): the edits' default "2.8", "1.4" and "0.76" reach
// the device as those numbers, and the trace and the point dump keep '.'.
#include <QAbstractButton>
#include <QLineEdit>
#include <QTimer>
#include <array>
#include <atomic>
#include <chrono>
#include <clocale>
#include <string>

#include "GuiTestSupport.h"
#include "ProcessLocale.h"
#include "RegistrationServer.h"
#include "TempFiles.h"
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

namespace {

using namespace std::chrono_literals;
using namespace regids;

constexpr const char* kAddress = "127.0.20.1";

// Shortened registration waits, put back as found.
class ShortRegistrationWaits {
public:
    ShortRegistrationWaits() {
        for (size_t i = 0; i < kCount; ++i) {
            m_saved[i] = fields()[i]->load();
            fields()[i]->store(kShort[i]);
        }
    }
    ~ShortRegistrationWaits() {
        for (size_t i = 0; i < kCount; ++i) fields()[i]->store(m_saved[i]);
    }

private:
    static constexpr size_t kCount = 4;
    static constexpr int kShort[kCount] = {20, 10, 10, 10};
    static std::array<std::atomic<int>*, kCount> fields() {
        RegistrationTiming& t = registrationTiming();
        return {&t.pollMs, &t.resultSettleMs, &t.dialogInitPollMs, &t.rawViewDelayMs};
    }
    int m_saved[kCount] = {};
};

void click(CRegData& dlg, int id) {
    qobject_cast<QAbstractButton*>(dlg.control(id))->click();
}

TEST(LocaleRegistration, DefaultEditsReachTheDeviceUnderACommaLocale) {
    ProcessLocale comma(kCommaLocale, LC_NUMERIC);
    // Never skipped: scripts/install-deps.sh generates the locale.
    ASSERT_TRUE(comma.active()) << "de_DE.UTF-8 is not available: run scripts/install-deps.sh";
    ASSERT_STREQ(std::localeconv()->decimal_point, ",");

    g_uiChinese = true;
    registrationMatrix() = FactoryRegMatrix();
    displayMatrix() = FactoryRegMatrix();
    RegistrationServerOptions options;
    options.address = kAddress;
    options.width = 160;
    options.height = 120;
    RegistrationServer server(options);
    ASSERT_TRUE(server.start());
    ShortRegistrationWaits shortWaits;

    TraceCapture trace;
    ScriptedPrompt prompt;
    TempDir dumps;
    RegistrationService service;
    SharedState state;
    state.deviceIp = kAddress;
    CKestToolsDlg main(state);
    RegistrationUiHooks& hooks = registrationUiHooks();
    hooks.service = &service;
    hooks.prompt = &prompt;
    prompt.queueAnswer(kAnswerNo);  // no swap
    std::string edits;
    hooks.beforeModal = [&](CRegData& dlg) {
        dlg.workbench().dumpDir = dumps.file("");
        QTimer::singleShot(0, &dlg, [&] {
            for (int id : {kHeightEdit, kGateLengthEdit, kGateWidthEdit})
                edits += qobject_cast<QLineEdit*>(dlg.control(id))->text().toStdString() + " ";
            for (int id :
                 {kConfirmHeight, kSkipRotation, kConfirmGate, kShowAreas, kSkipAdjust, kFinish})
                click(dlg, id);
        });
    };

    main.OnCommand(ids::kCmdPointReg);
    ASSERT_TRUE(pumpUntil([&] { return !server.results().empty(); }));
    ASSERT_TRUE(pumpUntil([&] { return service.WaitIdle(0ms); }));
    hooks = RegistrationUiHooks{};

    EXPECT_EQ(edits, "2.8 1.4 0.76 ");
    const RegResultRecord result = server.results().at(0);
    EXPECT_EQ(result.code, 2u);
    EXPECT_EQ(result.matrix.m23(), 2.8f);
    // The gate of 1.4 m by 0.76 m, not of 1 m by 0 m.
    EXPECT_EQ(result.areas[0], (RegRect{-0.38f, -0.70f, 0.38f, 0.70f}));
    EXPECT_NE(trace.out().find("-1.31 1.31 -1.96 1.96 \n"), std::string::npos) << trace.out();
    EXPECT_NE(trace.out().find("[-0.38 0.38] [-0.70 0.70]\n"), std::string::npos) << trace.out();
    const std::string dump = readFile(dumps.file("dsfile.xyz"));
    EXPECT_FALSE(dump.empty());
    EXPECT_EQ(dump.find(','), std::string::npos);
    g_appClosing = false;  // raised by the main dialog going away
}

}  // namespace
