// The walk over a record file's headers: what it counts, where it says a torn
// tail begins, which files it refuses, and that it reads no record's data (a
// sparse file of several gigabytes costs it no memory).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "HeapWatch.h"
#include "RecordFileBytes.h"
#include "TempFiles.h"
#include "stream/CollectionFormat.h"
#include "stream/RecordFileIndex.h"

namespace {

TEST(RecordFileIndex, CountsWholeRecordsAndMeasuresTheTornTail) {
    const std::string header = recordFileHeaderBytes();
    const std::string two = recordBytes(5, "abcd") + recordBytes(-1, "");  // 20 + 16 bytes
    std::string wrongEnd = header;
    wrongEnd[44] = 0x00;
    std::string wrongWord = header;
    wrongWord[20] = 0x02;  // the fixed 1 at offset 20
    struct Case {
        const char* name;
        std::string bytes;
        RecordScan result;
        uint64_t records;
        uint64_t torn;
        std::vector<uint64_t> offsets;
    } cases[] = {
        {"empty file", "", RecordScan::BadHeader, 0, 0, {}},
        {"47 bytes of a header", header.substr(0, 47), RecordScan::BadHeader, 0, 0, {}},
        {"header only", header, RecordScan::Ok, 0, 0, {}},
        {"whole records", header + two, RecordScan::Ok, 2, 0, {48, 68}},
        {"last record header torn",
         header + two + recordHeaderBytes(9, 4).substr(0, 15),
         RecordScan::Ok,
         2,
         15,
         {48, 68}},
        {"last record data torn",
         header + two + recordBytes(9, "xyz").substr(0, 18),
         RecordScan::Ok,
         2,
         18,
         {48, 68}},
        {"length one past the data",
         header + recordHeaderBytes(1, 5) + "abcd",
         RecordScan::Ok,
         0,
         20,
         {}},
        {"length exactly the data",
         header + recordHeaderBytes(1, 4) + "abcd",
         RecordScan::Ok,
         1,
         0,
         {48}},
        {"length above 2^63",
         header + two + recordHeaderBytes(2, (1ull << 63) + 7) + "zz",
         RecordScan::Ok,
         2,
         18,
         {48, 68}},
        {"length 2^64 - 1", header + recordHeaderBytes(2, ~0ull) + "zz", RecordScan::Ok, 0, 18, {}},
        {"wrong end marker", wrongEnd + two, RecordScan::BadHeader, 0, 0, {}},
        {"wrong fixed word", wrongWord + two, RecordScan::BadHeader, 0, 0, {}},
    };
    TempDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.file("f.bin");
        writeFile(path, c.bytes);
        RecordFileIndex index;
        std::vector<uint64_t> offsets;
        std::vector<int64_t> times;
        ASSERT_EQ(scanRecordFile(path, index,
                                 [&](const RecordLocation& r) {
                                     offsets.push_back(r.offset);
                                     times.push_back(r.time);
                                 }),
                  c.result);
        EXPECT_EQ(index.fileBytes, c.bytes.size());
        if (c.result != RecordScan::Ok) continue;
        EXPECT_EQ(index.values, kPointDataHeaderValues);
        EXPECT_EQ(index.records, c.records);
        EXPECT_EQ(index.tornBytes(), c.torn);
        EXPECT_EQ(index.wholeBytes + c.torn, c.bytes.size());
        EXPECT_EQ(offsets, c.offsets);
        // The same file read whole into memory gives the same records.
        RecordFileContents contents;
        ASSERT_TRUE(decodeRecordFile(c.bytes, contents));
        EXPECT_EQ(contents.records.size(), c.records);
        EXPECT_EQ(contents.trailingBytes, c.torn);
        for (size_t i = 0; i < contents.records.size(); ++i)
            EXPECT_EQ(contents.records[i].time, times[i]);
    }
    RecordFileIndex index;
    EXPECT_EQ(scanRecordFile(dir.file("missing.bin"), index), RecordScan::Unreadable);
    EXPECT_EQ(scanRecordFile(dir.file(""), index), RecordScan::Unreadable);  // a folder
}

// Two records of 2 GB each and a third cut short, with holes for data: the
// walk reads 48 + 3 * 16 bytes and its heap does not grow with the file.
TEST(RecordFileIndex, AFileOfGigabytesIsWalkedWithoutReadingItsData) {
    TempDir dir;
    const std::string path = dir.file("big.bin");
    constexpr uint64_t kData = 2ull << 30;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    const auto putAt = [fd](uint64_t offset, const std::string& bytes) {
        return ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
               static_cast<ssize_t>(bytes.size());
    };
    const uint64_t second = kRecordFileHeaderSize + kRecordHeaderSize + kData;
    const uint64_t third = second + kRecordHeaderSize + kData;
    const bool written = putAt(0, recordFileHeaderBytes() + recordHeaderBytes(1, kData)) &&
                         putAt(second, recordHeaderBytes(2, kData)) &&
                         putAt(third, recordHeaderBytes(3, kData)) && putAt(third + 1000, "end");
    ::close(fd);
    if (!written) GTEST_SKIP() << "the temporary folder takes no sparse file of 4 GB";

    HeapWatch heap;
    RecordFileIndex index;
    std::vector<RecordLocation> records;
    ASSERT_EQ(scanRecordFile(path, index, [&](const RecordLocation& r) { records.push_back(r); }),
              RecordScan::Ok);
    EXPECT_LT(heap.peakGrowth(), 64u << 10);
    EXPECT_EQ(index.records, 2u);
    EXPECT_EQ(index.wholeBytes, third);
    EXPECT_EQ(index.tornBytes(), 1003u);  // the third record header and what follows it
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[1].offset, second);
    EXPECT_EQ(records[1].time, 2);
    EXPECT_EQ(records[1].length, kData);
}

}  // namespace
