// The simulated device's replay feed over record files built byte by byte:
// the pause after each record from the time stamps, across files and round
// again, and records too long for a device frame passed over.
#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "RecordFileBytes.h"
#include "ReplayFeed.h"
#include "TempFiles.h"

namespace {

using std::chrono::milliseconds;

TEST(ReplayFeedPacing, PausesFollowTheStampsAcrossFilesAndLoopAfterTheLast) {
    struct Case {
        const char* name;
        std::vector<std::vector<int64_t>> files;  // stamps of each file, played in this order
        std::vector<int64_t> pausesMs;            // after frames 0, 1, ... (more than a round)
    };
    const Case cases[] = {
        {"steady", {{1000, 1100, 1200}}, {100, 100, 100, 100, 100}},
        {"long gap, stamps equal and going back",
         {{1000, 1040, 5000, 5000, 4990, 5100}},
         {40, 2000, 0, 0, 110, 100, 40}},
        {"stamps at both ends of their range", {{INT64_MIN, INT64_MAX, INT64_MIN}}, {2000, 0, 100}},
        {"one record", {{7}}, {100, 100}},
        {"gap between two files", {{1000, 1100}, {1150, 9000}}, {100, 50, 2000, 100, 100}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir folder;
        size_t records = 0;
        for (size_t f = 0; f < c.files.size(); ++f) {
            std::string bytes = recordFileHeaderBytes();
            for (int64_t time : c.files[f]) bytes += recordBytes(time, std::string(24, 'p'));
            writeFile(folder.file("PointData" + std::to_string(f) + ".bin"), bytes);
            records += c.files[f].size();
        }
        writeFile(folder.file("notes.txt"), "no record file: passed over");
        ReplayFeed feed;
        ASSERT_TRUE(feed.open(folder.file(""))) << feed.refusal();
        ASSERT_EQ(feed.records(), records);
        for (size_t n = 0; n < c.pausesMs.size(); ++n)
            EXPECT_EQ(feed.pauseAfter(n), milliseconds(c.pausesMs[n])) << "after frame " << n;
    }
}

TEST(ReplayFeedPacing, RecordsTooLongForADeviceFrameArePassedOver) {
    // The longest record a frame carries after one a byte longer, whose data
    // is a hole of the file so that the test writes little.
    TempDir dir;
    const std::string path = dir.file("long.bin");
    writeFile(path, recordFileHeaderBytes() + recordBytes(10, "first") +
                        recordHeaderBytes(20, kLongestSentRecord + 1));
    std::filesystem::resize_file(path, std::filesystem::file_size(path) + kLongestSentRecord + 1);
    writeFile(dir.file("last.bin"), recordBytes(30, std::string(kLongestSentRecord, 'L')));
    {
        std::ofstream out(path, std::ios::binary | std::ios::app);
        out << readFile(dir.file("last.bin"));
    }
    ReplayFeed feed;
    ASSERT_TRUE(feed.open(path)) << feed.refusal();
    ASSERT_EQ(feed.records(), 2u);
    std::vector<uint8_t> payload;
    int64_t time = 0;
    ASSERT_TRUE(feed.collectionFrame(1, payload, time));
    EXPECT_EQ(time, 30);
    EXPECT_EQ(payload.size(), kLongestSentRecord);
    EXPECT_EQ(feed.pauseAfter(0), milliseconds(20));  // between the records played

    // Nothing but such a record: nothing to play.
    writeFile(path, recordFileHeaderBytes() + recordHeaderBytes(20, kLongestSentRecord + 1));
    std::filesystem::resize_file(path, std::filesystem::file_size(path) + kLongestSentRecord + 1);
    EXPECT_FALSE(feed.open(path));
    EXPECT_EQ(feed.refusal(), path + ": no record short enough for a device frame");
}

}  // namespace
