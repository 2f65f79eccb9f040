// kestctl on recordings, without a device: `info` describes each record file
// (a folder file by file, a torn tail, a path that is no recording), and
// `export-ply` writes the chosen records, numbered across the files of a
// folder, as the tool's own PLY export writes the same points.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "KestctlRun.h"
#include "RecordFileBytes.h"
#include "TempFiles.h"
#include "core/ByteOrder.h"
#include "views/PlyExport.h"
#include "views/StandardGateAreas.h"

namespace {

// A block of points on a ramp inside the gate, the ramp's height set by step.
std::string rampPoints(int step) {
    std::string bytes(60 * 12, '\0');
    auto* p = reinterpret_cast<uint8_t*>(bytes.data());
    for (int i = 0; i < 60; ++i, p += 12) {
        writeF32le(p, -0.3f + 0.01f * static_cast<float>(i));
        writeF32le(p + 4, -0.6f + 0.02f * static_cast<float>(i));
        writeF32le(p + 8, 0.02f * static_cast<float>(i * step));
    }
    return bytes;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const std::string& line : lines) all += line + "\n";
    return all;
}

class KestctlRecordings : public ::testing::Test {
protected:
    KestctlRecordings() {
        const std::string header = recordFileHeaderBytes();
        std::filesystem::create_directories(dir.file("rec"));
        // Three records 100 ms apart (one short), then a file of one record and a torn tail.
        writeFile(dir.file("rec/PointData1.bin"),
                  header + recordBytes(1000, rampPoints(1)) + recordBytes(1100, rampPoints(2)) +
                      recordBytes(1200, rampPoints(3).substr(0, 300)));
        writeFile(dir.file("rec/PointData2.bin"),
                  header + recordBytes(9000, rampPoints(4)) + recordHeaderBytes(9100, 720) + "abc");
        writeFile(dir.file("notes.txt"), "no recording");
    }
    TempDir dir;
};

TEST_F(KestctlRecordings, InfoDescribesEachFile) {
    const struct {
        std::string args;
        int exit;
        std::vector<std::string> says;
    } cases[] = {
        {"--json info " + dir.file("rec"),
         0,
         {"\"file\":\"" + dir.file("rec/PointData1.bin") + "\"", "\"records\":\"3\"",
          "\"first_ms\":\"1000\"", "\"last_ms\":\"1200\"", "\"duration_s\":\"0.200\"",
          "\"mean_rate_hz\":\"10.000\"", "\"min_bytes\":\"300\"", "\"max_bytes\":\"720\"",
          "\"file\":\"" + dir.file("rec/PointData2.bin") + "\"", "\"torn_bytes\":\"19\"",
          "\"first_time\":\"1970-01-01 08:00:09_000\""}},
        {"info " + dir.file("rec/PointData2.bin"),
         0,
         {"1 records, 1970-01-01 08:00:09_000 to 1970-01-01 08:00:09_000",
          "torn tail left out, bytes 19"}},
        {"--lang zh info " + dir.file("rec/PointData1.bin"),
         0,
         {"3 条记录", "(0.200 s, 10.00 条/秒)"}},
        {"info " + dir.file("rec/PointData1.bin") + " " + dir.file("notes.txt"),
         2,
         {dir.file("notes.txt") + ": not a record file", "3 records"}},
        {"info " + dir.file("missing"), 2, {dir.file("missing") + ": cannot be read"}},
    };
    for (const auto& c : cases) {
        const CtlRun run = kestctl(c.args);
        EXPECT_EQ(run.exitCode, c.exit) << c.args;
        const std::string out = joined(run.lines);
        for (const std::string& text : c.says)
            EXPECT_NE(out.find(text), std::string::npos) << c.args << "\n  lacks " << text << "\n"
                                                         << out;
    }
}

TEST_F(KestctlRecordings, ExportPlyWritesTheChosenRecordsAsTheToolDoes) {
    const std::string out = dir.file("ply");
    const CtlRun run = kestctl("export-ply " + dir.file("rec") + " --records 2:4 --out " + out);
    ASSERT_EQ(run.exitCode, 0) << joined(run.lines);
    EXPECT_FALSE(std::filesystem::exists(out + "/record000001.ply"));
    EXPECT_FALSE(std::filesystem::exists(out + "/record000005.ply"));
    // Record 2 of the first file, the short record 3, record 4 from the second file.
    const struct {
        const char* name;
        std::string points;
    } files[] = {{"record000002.ply", rampPoints(2)},
                 {"record000003.ply", rampPoints(3).substr(0, 300)},
                 {"record000004.ply", rampPoints(4)}};
    for (const auto& f : files) {
        const std::string expected = dir.file("expected.ply");
        ASSERT_GT(WritePlyFile(expected, reinterpret_cast<const uint8_t*>(f.points.data()),
                               f.points.size(), standardGateAreas(), "KestTools recorded frame"),
                  0);
        EXPECT_EQ(readFile(out + "/" + f.name), readFile(expected)) << f.name;
    }

    const struct {
        std::string args;
        const char* says;
    } refused[] = {
        {"export-ply " + dir.file("rec") + " --records 3:5 --out " + out,
         "no such records (3:5, 1:4)"},
        {"export-ply " + dir.file("notes.txt") + " --out " + out, "not a record file"},
        {"export-ply " + dir.file("rec") + " --records 1 --out /proc/kest-no-such",
         "cannot be written"},
    };
    for (const auto& c : refused) {
        const CtlRun run2 = kestctl(c.args);
        EXPECT_EQ(run2.exitCode, 2) << c.args;
        EXPECT_NE(joined(run2.lines).find(c.says), std::string::npos) << joined(run2.lines);
    }
}

}  // namespace
