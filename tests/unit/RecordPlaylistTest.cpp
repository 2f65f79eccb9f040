// A recording opened for playing back: a file or a folder of files in name
// order, the records numbered across files, each read from its own file, and
// the paths that cannot be played refused for a reason the engineer is told.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "RecordFileBytes.h"
#include "TempFiles.h"
#include "stream/RecordPlaylist.h"

namespace {

std::string asText(const std::vector<uint8_t>& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

TEST(RecordPlaylist, AFolderPlaysItsRecordFilesInNameOrder) {
    TempDir dir;
    const std::string header = recordFileHeaderBytes();
    // Written out of order: the names decide.
    writeFile(dir.file("PointData2.bin"), header + recordBytes(30, "third") + "torn");
    writeFile(dir.file("PointData1.bin"), header + recordBytes(10, "first") + recordBytes(20, ""));
    writeFile(dir.file("notes.txt"), "not a recording");

    RecordPlaylist playlist;
    ASSERT_EQ(playlist.open(dir.file("")), RecordPlaylist::Refusal::None);
    ASSERT_EQ(playlist.size(), 3u);
    ASSERT_EQ(playlist.files().size(), 2u);
    EXPECT_EQ(playlist.files()[1].firstRecord, 2u);
    EXPECT_EQ(playlist.skipped(), std::vector<std::string>{dir.file("notes.txt")});
    EXPECT_EQ(playlist.tornBytes(), 4u);
    std::vector<uint8_t> data;
    // Read out of order, across files and back.
    const struct {
        size_t record;
        int64_t time;
        const char* data;
        const char* file;
    } reads[] = {{2, 30, "third", "PointData2.bin"},
                 {0, 10, "first", "PointData1.bin"},
                 {1, 20, "", "PointData1.bin"},
                 {2, 30, "third", "PointData2.bin"}};
    for (const auto& r : reads) {
        ASSERT_TRUE(playlist.read(r.record, data)) << r.record;
        EXPECT_EQ(asText(data), r.data) << r.record;
        EXPECT_EQ(playlist.time(r.record), r.time);
        EXPECT_EQ(playlist.fileOf(r.record).path, dir.file(r.file));
    }
    EXPECT_FALSE(playlist.read(3, data));

    // A file cut shorter after it was opened: its record can no longer be read.
    std::filesystem::resize_file(dir.file("PointData2.bin"), 60);
    EXPECT_FALSE(playlist.read(2, data));
    EXPECT_TRUE(data.empty());
}

TEST(RecordPlaylist, PathsThatCannotBePlayedAreRefused) {
    TempDir dir;
    const std::string header = recordFileHeaderBytes();
    std::filesystem::create_directories(dir.file("empty"));
    std::filesystem::create_directories(dir.file("others"));
    writeFile(dir.file("others/a.txt"), "text");
    std::filesystem::create_directories(dir.file("headers"));
    writeFile(dir.file("headers/a.bin"), header);
    writeFile(dir.file("headers/b.bin"), header + "torn");
    writeFile(dir.file("zero.bin"), "");
    writeFile(dir.file("text.bin"), std::string(100, 'x'));
    writeFile(dir.file("header-only.bin"), header);
    using R = RecordPlaylist::Refusal;
    const struct {
        const char* path;
        R refusal;
    } cases[] = {
        {"missing.bin", R::Unreadable}, {"zero.bin", R::NotRecordFile},
        {"text.bin", R::NotRecordFile}, {"header-only.bin", R::NoRecords},
        {"empty", R::NoRecordFiles},    {"others", R::NoRecordFiles},
        {"headers", R::NoRecords},
    };
    for (const auto& c : cases) {
        RecordPlaylist playlist;
        EXPECT_EQ(playlist.open(dir.file(c.path)), c.refusal) << c.path;
        EXPECT_EQ(playlist.refusedPath(), dir.file(c.path)) << c.path;
    }
}

}  // namespace
