// The stall probe in the running GUI: with KEST_STALL_LOG it appends a line
// per period and a summary that holds a stall the GUI thread really had;
// without the variable there is no timer at all. And the benchmark's script
// driver: its step lines, and steps that run inside a modal loop an earlier
// step opened.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

#include "GuiTestSupport.h"
#include "platform/StallProbe.h"
#include "ui/ScriptDriver.h"

namespace {

// Puts the probe's waits back at the end of a test.
class ScopedStallTiming {
public:
    ScopedStallTiming() : tick_(stallProbeTiming().tickMs), period_(stallProbeTiming().periodMs) {}
    ~ScopedStallTiming() {
        stallProbeTiming().tickMs = tick_;
        stallProbeTiming().periodMs = period_;
    }

private:
    int tick_, period_;
};

// The variable set (or unset with nullptr) for one test.
class ScopedStallLog {
public:
    explicit ScopedStallLog(const char* value) {
        if (value)
            setenv(kStallLogVariable, value, 1);
        else
            unsetenv(kStallLogVariable);
    }
    ~ScopedStallLog() { unsetenv(kStallLogVariable); }
};

QTimer* probeTimer() {
    return qApp->findChild<QTimer*>(QString::fromLatin1(kStallProbeTimerName));
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

size_t periodLines(const std::string& path) {
    size_t count = 0;
    for (const std::string& line : linesOf(readFile(path)))
        if (line.rfind("stall ", 0) == 0) ++count;
    return count;
}

}  // namespace

TEST(StallProbe, NoVariableNoTimer) {
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        ScopedStallLog variable(value);
        const auto probe = StallProbe::startFromEnvironment();
        EXPECT_EQ(probe, nullptr) << (value ? "empty" : "unset");
        EXPECT_EQ(probeTimer(), nullptr) << (value ? "empty" : "unset");
    }
}

TEST(StallProbe, AppendsPeriodLinesAndASummaryWithTheStall) {
    ScopedStallTiming timing;
    stallProbeTiming().tickMs = 5;
    stallProbeTiming().periodMs = 100;
    // The GUI thread is kept busy this long once; the probe must see it.
    constexpr auto kBlock = std::chrono::milliseconds(150);

    TempDir dir;
    const std::string path = dir.file("stall.log");
    writeFile(path, "earlier run\n");
    ScopedStallLog variable(path.c_str());
    auto probe = StallProbe::startFromEnvironment();
    ASSERT_NE(probe, nullptr);
    ASSERT_NE(probeTimer(), nullptr);
    EXPECT_TRUE(probeTimer()->isActive());

    QTimer::singleShot(20, [kBlock] { std::this_thread::sleep_for(kBlock); });
    ASSERT_TRUE(pumpUntil([&] { return periodLines(path) >= 3; }));
    probe.reset();
    EXPECT_EQ(probeTimer(), nullptr);

    const std::vector<std::string> lines = linesOf(readFile(path));
    ASSERT_GE(lines.size(), 5u);
    EXPECT_EQ(lines.front(), "earlier run");  // appended, not overwritten
    const std::regex period(R"(stall \d+\.\d{3} max_ms=(\d+\.\d) ticks=[1-9]\d*)");
    const std::regex summary(
        R"(stall-summary ticks=([1-9]\d*) longest_ms=(\d+\.\d) p99_ms=(\d+\.\d))");
    double longestLine = 0;
    for (size_t i = 1; i + 1 < lines.size(); ++i) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(lines[i], m, period)) << lines[i];
        longestLine = std::max(longestLine, std::stod(m[1]));
    }
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines.back(), m, summary)) << lines.back();
    // The tick after the block ran at least the block minus one interval late.
    const double blockedMs = static_cast<double>(kBlock.count() - 5);
    EXPECT_GE(std::stod(m[2]), blockedMs);
    EXPECT_EQ(std::stod(m[2]), longestLine);  // the summary's longest is a second's
    EXPECT_LE(std::stod(m[3]), std::stod(m[2]));
}

TEST(ScriptDriver, StepLines) {
    struct Case {
        const char* text;
        bool ok;
        ScriptStep::Kind kind;
        int number, y;
        const char* operand;
    };
    const Case cases[] = {
        {"sleep 250", true, ScriptStep::Sleep, 250, 0, ""},
        {"command 32778\r", true, ScriptStep::Command, 32778, 0, ""},
        {"  press 确定 ", true, ScriptStep::Press, 0, 0, "确定"},
        {"click 220 15 配准", true, ScriptStep::Click, 220, 15, "配准"},
        {"file /tmp/a b.zip", true, ScriptStep::File, 0, 0, "/tmp/a b.zip"},
        {"close 版本信息", true, ScriptStep::Close, 0, 0, "版本信息"},
        {"close", false, ScriptStep::Close, 0, 0, ""},
        {"mark upgrade zip", true, ScriptStep::Mark, 0, 0, "upgrade zip"},
        {"quit", true, ScriptStep::Quit, 0, 0, ""},
        {"sleep", false, ScriptStep::Sleep, 0, 0, ""},
        {"sleep -1", false, ScriptStep::Sleep, 0, 0, ""},
        {"sleep 10ms", false, ScriptStep::Sleep, 0, 0, ""},
        {"command 1 2", false, ScriptStep::Command, 0, 0, ""},
        {"click 220 15", false, ScriptStep::Click, 0, 0, ""},
        {"press", false, ScriptStep::Press, 0, 0, ""},
        {"quit now", false, ScriptStep::Quit, 0, 0, ""},
        {"jump 3", false, ScriptStep::Quit, 0, 0, ""},
    };
    for (const Case& c : cases) {
        std::vector<ScriptStep> steps;
        std::string error;
        const std::string text = std::string("# a comment\n\n") + c.text + "\n";
        ASSERT_EQ(parseScript(text, steps, error), c.ok) << c.text;
        if (!c.ok) continue;
        ASSERT_EQ(steps.size(), 1u) << c.text;
        EXPECT_EQ(steps[0].kind, c.kind) << c.text;
        EXPECT_EQ(steps[0].number, c.number) << c.text;
        EXPECT_EQ(steps[0].y, c.y) << c.text;
        EXPECT_EQ(steps[0].text, c.operand) << c.text;
    }
}

// The second step must run while the first one's click sits in the box's
// modal loop; a driver that waited for the click to return would never end.
TEST(ScriptDriver, StepsRunInsideTheModalLoopOfAnEarlierStep) {
    QWidget window;
    window.setWindowTitle(QStringLiteral("script window"));
    window.resize(200, 100);
    auto* open = new QPushButton(QStringLiteral("&Open box"), &window);
    open->setGeometry(10, 10, 100, 30);
    int boxResult = 0;
    QObject::connect(open, &QPushButton::clicked, [&] {
        QMessageBox box(QMessageBox::Question, QStringLiteral("box"), QStringLiteral("sure?"),
                        QMessageBox::Yes | QMessageBox::No, &window);
        boxResult = box.exec();
    });
    window.show();

    std::vector<ScriptStep> steps;
    std::string error;
    ASSERT_TRUE(parseScript("click 20 20 script window\npress Yes\n", steps, error)) << error;
    const auto driver = startScript(steps);
    EXPECT_TRUE(pumpUntil([&] { return boxResult != 0; }));
    EXPECT_EQ(boxResult, QMessageBox::Yes);
}

// The open dialog puts the focus in its name field; the path must reach the
// caller all the same (selecting a file leaves a focused name field alone, so
// the dialog used to accept with no file at all).
TEST(ScriptDriver, AnswersAFileDialogWhoseNameFieldHasTheFocus) {
    TempDir dir;
    const std::string path = dir.file("update.tar");
    writeFile(path, "package");
    QWidget window;
    window.setWindowTitle(QStringLiteral("file window"));
    window.resize(200, 100);
    auto* choose = new QPushButton(QStringLiteral("Choose"), &window);
    choose->setGeometry(10, 10, 100, 30);
    constexpr std::chrono::seconds kUnansweredAfter(5);
    bool answered = false;
    bool nameFocused = false;
    QStringList chosen;
    QObject::connect(choose, &QPushButton::clicked, [&] {
        QFileDialog dialog(&window, QStringLiteral("choose"));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setFileMode(QFileDialog::ExistingFile);
        // Shown and active with the focus in its name field before the
        // script's step can see it, as on a desktop.
        dialog.show();
        QApplication::setActiveWindow(&dialog);
        auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (name) name->setFocus();
        nameFocused = name && name->hasFocus();
        // A dialog the script could not answer ends here instead of never.
        QTimer::singleShot(kUnansweredAfter, &dialog, &QDialog::reject);
        if (dialog.exec() == QDialog::Accepted) chosen = dialog.selectedFiles();
        answered = true;
    });
    window.show();

    std::vector<ScriptStep> steps;
    std::string error;
    ASSERT_TRUE(parseScript("click 20 20 file window\nfile " + path + "\n", steps, error)) << error;
    const auto driver = startScript(steps);
    ASSERT_TRUE(pumpUntil([&] { return answered; }));
    EXPECT_TRUE(nameFocused);
    EXPECT_EQ(chosen, QStringList{QString::fromStdString(path)});
}
