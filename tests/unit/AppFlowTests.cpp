// The application flow: login first, the main dialog only after IDOK, with
// the language of the login.
#include <gtest/gtest.h>

#include "TraceCapture.h"
#include "app/AddressText.h"
#include "app/KestToolsApp.h"
#include "core/Flags.h"

namespace {

class FakeDialogs : public AppDialogs {
public:
    int loginResult = IDOK;
    bool loginChinese = true;
    int mainRuns = 0;
    bool chineseSeenByMain = true;

    int RunLogOn(bool& chinese) override {
        EXPECT_TRUE(chinese) << "the login dialog starts in Chinese";
        chinese = loginChinese;
        return loginResult;
    }
    void RunMainDialog() override {
        ++mainRuns;
        chineseSeenByMain = g_uiChinese;
    }
};

// Only an accepted login opens the main dialog and hands its language on.
TEST(AppFlow, MainDialogOnlyAfterOkInTheLoginsLanguage) {
    for (int result : {IDCANCEL, IDOK}) {
        TraceCapture trace;
        g_uiChinese = true;
        FakeDialogs dialogs;
        dialogs.loginResult = result;
        dialogs.loginChinese = false;
        CKestToolsApp app(dialogs);
        EXPECT_FALSE(app.InitInstance());
        EXPECT_EQ(trace.out(), result == IDOK ? "rID = 1\n" : "rID = 2\n");
        EXPECT_EQ(dialogs.mainRuns, result == IDOK ? 1 : 0);
        EXPECT_EQ(g_uiChinese.load(), result != IDOK) << "a cancelled login keeps the language";
        EXPECT_EQ(dialogs.chineseSeenByMain, result != IDOK);  // unchanged when not run
    }
    g_uiChinese = true;
}

TEST(AddressText, ParsesFourNumbersModulo256) {
    std::array<uint8_t, 4> b{};
    ASSERT_TRUE(parseDottedQuad("10.1.2.3", b));
    EXPECT_EQ(b, (std::array<uint8_t, 4>{10, 1, 2, 3}));
    ASSERT_TRUE(parseDottedQuad("300.256.-1.7junk", b));
    EXPECT_EQ(b, (std::array<uint8_t, 4>{44, 0, 255, 7}));
    // Blanks before a number are skipped, like a scanf of "%d.%d.%d.%d".
    ASSERT_TRUE(parseDottedQuad(" 1. 2.3.4", b));
    EXPECT_EQ(b, (std::array<uint8_t, 4>{1, 2, 3, 4}));
    // Twenty digits do not overflow anything: 10^20 - 1 is 255 modulo 256.
    ASSERT_TRUE(parseDottedQuad("99999999999999999999.0.0.1", b));
    EXPECT_EQ(b, (std::array<uint8_t, 4>{255, 0, 0, 1}));
}

TEST(AddressText, RejectsTextThatIsNoAddress) {
    std::array<uint8_t, 4> b{9, 9, 9, 9};
    EXPECT_FALSE(parseDottedQuad("word", b));
    EXPECT_FALSE(parseDottedQuad("1.2.3", b));
    EXPECT_FALSE(parseDottedQuad("1 .2.3.4", b));
    EXPECT_FALSE(parseDottedQuad("", b));
    EXPECT_FALSE(parseDottedQuad("1.2.3.", b));
    EXPECT_EQ(b, (std::array<uint8_t, 4>{9, 9, 9, 9})) << "a failed parse leaves the bytes";
    EXPECT_EQ(formatDottedQuad({255, 255, 255, 255}), "255.255.255.255");
    EXPECT_EQ(formatDottedQuad({192, 168, 1, 221}), "192.168.1.221");
}

}  // namespace
