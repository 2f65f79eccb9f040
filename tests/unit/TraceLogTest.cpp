// The trace's log file: every console line with its date and time, rotation
// by size keeping the newest files, and the console output left untouched.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <regex>

#include "TempFiles.h"
#include "core/Trace.h"
#include "core/TraceLog.h"

namespace {

// Standard output redirected into a file for the life of the object.
class StdoutToFile {
public:
    explicit StdoutToFile(const std::string& path) {
        std::fflush(stdout);
        saved_ = dup(1);
        FILE* f = std::fopen(path.c_str(), "wb");
        dup2(fileno(f), 1);
        std::fclose(f);
    }
    ~StdoutToFile() {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
    }

private:
    int saved_;
};

TEST(TraceLog, LinesAreDatedRotatedAndTheConsoleIsUnchanged) {
    TempDir dir;
    const std::string log = dir.file("KestTools.log");
    ASSERT_TRUE(openTraceLog(log, 2000, 3));
    std::string expectedConsole;
    {
        StdoutToFile redirect(dir.file("stdout.txt"));
        for (int i = 0; i < 200; ++i) {
            tracef("line %03d {not a format} ", i);  // a line written in two pieces
            tracef("%s\n", "end");
            char text[64];
            std::snprintf(text, sizeof text, "line %03d {not a format} end\n", i);
            expectedConsole += text;
        }
    }
    closeTraceLog();
    tracef("after the log was closed\n");

    EXPECT_EQ(readFile(dir.file("stdout.txt")), expectedConsole);

    // Three files at most, none past its size, the newest line last in the
    // current file, each line stamped.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file(""))) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("KestTools", 0) != 0) continue;
        ++files;
        EXPECT_LE(entry.file_size(), 2000u) << name;
    }
    EXPECT_EQ(files, 3);
    EXPECT_TRUE(std::filesystem::exists(dir.file("KestTools.1.log")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("KestTools.2.log")));

    const std::string current = readFile(log);
    const std::regex lastLine(
        R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} line 199 \{not a format\} end\n$)");
    EXPECT_TRUE(std::regex_search(current, lastLine)) << current;
    EXPECT_EQ(current.find("after the log was closed"), std::string::npos);
    EXPECT_EQ(readFile(dir.file("KestTools.2.log")).find("line 000"), std::string::npos)
        << "the oldest lines have been rotated away";
}

TEST(TraceLog, AnUnwritablePathLeavesTheToolWithoutALog) {
    TempDir dir;
    writeFile(dir.file("plain-file"), "x");  // no folder can be made under a file
    EXPECT_FALSE(openTraceLog(dir.file("plain-file") + "/KestTools.log"));
    tracef("still traced\n");  // nothing to crash on
    closeTraceLog();
}

TEST(TraceLog, LinesLongerThanTheStackBufferArriveWhole) {
    TempDir dir;
    ASSERT_TRUE(openTraceLog(dir.file("t.log")));
    std::string expected;
    {
        StdoutToFile redirect(dir.file("out.txt"));
        for (size_t n : {10u, 511u, 512u, 513u, 5000u}) {
            const std::string body(n, 'w');
            tracef("%s\n", body.c_str());
            expected += body + "\n";
        }
    }
    closeTraceLog();
    EXPECT_EQ(readFile(dir.file("out.txt")), expected);
    EXPECT_NE(readFile(dir.file("t.log")).find(" " + std::string(5000, 'w') + "\n"),
              std::string::npos);
}

}  // namespace
