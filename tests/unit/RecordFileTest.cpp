// The collection wire format and the record files, pinned to literal bytes:
// header and block, the file header, records, the 5002nd record's new file,
// the folder, names within one second, and files that cannot be written
// (never leaving a file without a record behind).
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <vector>

#include "RecordFileSizeLimit.h"
#include "TempFiles.h"
#include "TraceCapture.h"
#include "stream/CollectionFormat.h"
#include "stream/PointDataWriter.h"

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> bytesOf(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

// The record files of a folder, oldest name first.
std::vector<std::string> recordFiles(const std::string& dir) {
    std::vector<std::string> files;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec)) files.push_back(e.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

TEST(CollectionFormat, RequestHeaderBytes) {
    uint8_t bytes[kCollectionHeaderSize];
    encodeCollectionHeader(CollectionHeader{}, bytes);
    std::vector<uint8_t> expected(40, 0);
    expected[0] = 0xBB, expected[1] = 0xAA;
    expected[8] = 0x02, expected[9] = 0x80;
    expected[28] = 0xDD, expected[29] = 0xCC;
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 40), expected);
}

TEST(CollectionFormat, BlockFieldsAtTheirOffsets) {
    std::vector<uint8_t> bytes(48, 0x55);
    const uint8_t psize[] = {0x00, 0x08, 0x07, 0x00};    // 0x070800
    const uint8_t presize[] = {0xFF, 0xFF, 0xFF, 0xFF};  // -1
    const uint8_t time[] = {1, 2, 3, 4, 5, 6, 7, 0x80};  // negative int64
    std::copy(psize, psize + 4, bytes.begin() + 24);
    std::copy(presize, presize + 4, bytes.begin() + 36);
    std::copy(time, time + 8, bytes.begin() + 40);
    const CollectionBlock b = decodeCollectionBlock(bytes.data());
    EXPECT_EQ(b.psize, 0x070800);
    EXPECT_EQ(b.presize, -1);
    EXPECT_EQ(static_cast<uint64_t>(b.time), 0x8007060504030201ull);
    // The writer mirrors the reader.
    std::vector<uint8_t> again(48);
    encodeCollectionBlock(b, again.data());
    EXPECT_EQ(decodeCollectionBlock(again.data()).time, b.time);
    EXPECT_EQ(std::vector<uint8_t>(again.begin() + 24, again.begin() + 28),
              std::vector<uint8_t>(psize, psize + 4));
}

TEST(CollectionFormat, RecordSizeNeverPassesThePayload) {
    struct Case {
        int32_t psize, presize;
        size_t payload, record;
    } cases[] = {
        {100, 60, 100, 60}, {100, 100, 100, 100}, {100, 150, 100, 100}, {100, 0, 100, 0},
        {100, -5, 100, 0},  {0, 10, 0, 0},        {-7, 10, 0, 0},       {-7, -7, 0, 0},
    };
    for (const Case& c : cases) {
        CollectionBlock b;
        b.psize = c.psize;
        b.presize = c.presize;
        EXPECT_EQ(collectionPayloadSize(b), c.payload) << c.psize << "/" << c.presize;
        EXPECT_EQ(collectionRecordSize(b), c.record) << c.psize << "/" << c.presize;
    }
    EXPECT_TRUE(collectionPayloadPlausible(kMaxCollectionPayload));
    EXPECT_FALSE(collectionPayloadPlausible(kMaxCollectionPayload + 1));
}

class RecordFile : public ::testing::Test {
protected:
    std::string folder() const { return dir.file(""); }
    TempDir dir;
    TraceCapture trace;
};

TEST_F(RecordFile, HeaderAndRecordsByteForByteInTheDevicesFolder) {
    {
        PointDataWriter w;
        w.Init(folder(), "192.168.1.10");
        EXPECT_EQ(w.baseDir, folder() + "192.168.1.10/");
        EXPECT_FALSE(fs::exists(w.baseDir));  // made when the first file opens
        const uint8_t data[] = {0xA1, 0xA2, 0xA3};
        ASSERT_TRUE(w.Write(data, sizeof data, 0x0102030405060708LL));
        ASSERT_TRUE(w.Write(nullptr, 0, -2));  // presize 0: a 16-byte record
        EXPECT_EQ(w.stype, 14);
        EXPECT_EQ(w.namePrefix, "PointData");
        EXPECT_EQ(w.recordCount, 1);  // the record that opened the file is not counted
    }
    const auto files = recordFiles(folder() + "192.168.1.10");
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(fs::path(files[0]).filename().string().substr(0, 9), "PointData");
    EXPECT_EQ(fs::path(files[0]).extension(), ".bin");
    const std::vector<uint8_t> expected = {
        // file header
        0xBB, 0xAA, 0, 0, 6, 0, 0, 0, 3, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0,  //
        240, 0, 0, 0, 160, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xDD, 0xCC, 0, 0,
        // record 1: time, length 3, data
        8, 7, 6, 5, 4, 3, 2, 1, 3, 0, 0, 0, 0, 0, 0, 0, 0xA1, 0xA2, 0xA3,
        // record 2: time -2, length 0
        0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(bytesOf(readFile(files[0])), expected);
    EXPECT_EQ(trace.count("------------stype = 14\n"), 2);
    EXPECT_NE(trace.out().find("创建文件：" + files[0] + "成功\n"), std::string::npos);
}

TEST_F(RecordFile, The5002ndRecordOpensANewFileWithoutOverwriting) {
    PointDataWriter w;
    w.Init(folder(), "10.0.0.1");
    for (int i = 0; i < 5002; ++i) {
        const uint8_t data[2] = {static_cast<uint8_t>(i), static_cast<uint8_t>(i >> 8)};
        ASSERT_TRUE(w.Write(data, sizeof data, i));
    }
    w.OpenNewFile();  // a third file (no record yet), most likely within the same second
    const auto files = recordFiles(folder() + "10.0.0.1");
    ASSERT_EQ(files.size(), 3u);
    std::vector<RecordFileContents> contents(2);
    // Names of the same second get a suffix: order by size, not by name.
    size_t found = 0;
    for (const auto& f : files) {
        RecordFileContents c;
        if (fs::file_size(f) == 0) continue;
        ASSERT_TRUE(decodeRecordFile(readFile(f), c)) << f;
        EXPECT_EQ(c.values, kPointDataHeaderValues);
        EXPECT_EQ(c.trailingBytes, 0u);
        if (c.records.size() == 5001) contents[0] = c, ++found;
        if (c.records.size() == 1) contents[1] = c, ++found;
    }
    ASSERT_EQ(found, 2u);
    EXPECT_EQ(contents[0].records.front().time, 0);
    EXPECT_EQ(contents[0].records.back().time, 5000);
    EXPECT_EQ(contents[1].records[0].time, 5001);
    EXPECT_EQ(contents[1].records[0].data, std::string("\x89\x13", 2));
}

TEST_F(RecordFile, AFolderThatCannotBeMadeDropsTheRecordWithAPathLine) {
    writeFile(dir.file("blocked"), "a file, not a folder");
    PointDataWriter w;
    w.Init(folder() + "blocked/", "1.2.3.4");
    const uint8_t data[] = {1};
    EXPECT_FALSE(w.Write(data, 1, 1));
    EXPECT_EQ(w.file, nullptr);
    EXPECT_EQ(trace.count("] is not a use path!!!\n"), 2);  // tried twice
    EXPECT_NE(trace.out().find("创建目录失败：" + folder() + "blocked/1.2.3.4/"),
              std::string::npos);
    EXPECT_EQ(readFile(dir.file("blocked")), "a file, not a folder");
}

TEST_F(RecordFile, DecoderFlagsATornTailAndRefusesABadHeader) {
    std::string file(48, '\0');
    encodeRecordFileHeader(kPointDataHeaderValues, reinterpret_cast<uint8_t*>(file.data()));
    std::string record(16, '\0');
    encodeRecordHeader(7, 4, reinterpret_cast<uint8_t*>(record.data()));
    const std::string whole = file + record + "abcd";
    RecordFileContents c;
    ASSERT_TRUE(decodeRecordFile(whole + record + "ab", c));
    EXPECT_EQ(c.records.size(), 1u);
    EXPECT_EQ(c.trailingBytes, 18u);
    // A length near 2^64 must not wrap around the bounds check.
    std::string huge(16, '\0');
    encodeRecordHeader(1, ~0ull - 3, reinterpret_cast<uint8_t*>(huge.data()));
    ASSERT_TRUE(decodeRecordFile(whole + huge + "xyz", c));
    EXPECT_EQ(c.records.size(), 1u);
    std::string bad = whole;
    bad[44] = 0;
    EXPECT_FALSE(decodeRecordFile(bad, c));
    EXPECT_FALSE(decodeRecordFile(file.substr(0, 47), c));
}

// A full disk, made with a file size limit in a child process: the write that
// does not fit is cut off again, every earlier record stays whole, and the
// next record goes on in a new file.
TEST_F(RecordFile, AFullDiskLeavesOnlyWholeRecords) {
    const std::string base = folder();
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{};
        limit.rlim_cur = limit.rlim_max = 48 + 3 * (16 + 1000) + 500;
        setrlimit(RLIMIT_FSIZE, &limit);
        PointDataWriter w;
        w.Init(base, "9.9.9.9");
        const std::vector<uint8_t> data(1000, 0x42);
        int ok = 0;
        for (int i = 0; i < 5; ++i) ok += w.Write(data.data(), data.size(), i) ? 1 : 0;
        _exit(ok);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    const auto files = recordFiles(base + "9.9.9.9");
    ASSERT_GE(files.size(), 1u);
    size_t records = 0;
    std::vector<int64_t> times;
    for (const auto& f : files) {
        RecordFileContents c;
        const std::string bytes = readFile(f);
        if (bytes.empty()) continue;  // a new file that got not even its header
        ASSERT_TRUE(decodeRecordFile(bytes, c)) << f;
        EXPECT_EQ(c.trailingBytes, 0u) << f;
        for (const auto& r : c.records) {
            EXPECT_EQ(r.data, std::string(1000, 0x42));
            times.push_back(r.time);
        }
        records += c.records.size();
    }
    // Records 0..2 fit; record 3 does not and is dropped; record 4 opens a new file.
    EXPECT_EQ(records, 4u);
    std::sort(times.begin(), times.end());
    EXPECT_EQ(times, (std::vector<int64_t>{0, 1, 2, 4}));
    EXPECT_EQ(WEXITSTATUS(status), 4);
}

// Full disks at the edges of the first file, each in a child process with a
// file size limit: what Write answers, what the writer says about it, and
// that no file without a record is left (the header alone never reaches the
// disk). Each later record tries a new file, which the limit lets grow again.
TEST_F(RecordFile, AFullDiskNeverLeavesAFileWithoutARecord) {
    constexpr size_t kData = 1000;
    constexpr rlim_t kRecord = kRecordHeaderSize + kData;
    struct Case {
        const char* name;
        rlim_t limit;
        int written;                  // bit i: the i-th of three writes succeeded
        std::vector<size_t> records;  // per file left on disk, in name order
    } cases[] = {
        {"no room for the header", 30, 0, {}},
        {"the header and not the record", kRecordFileHeaderSize + kRecord - 1, 0, {}},
        {"exactly one record", kRecordFileHeaderSize + kRecord, 0b101, {1, 1}},
        {"two records and a half", kRecordFileHeaderSize + 2 * kRecord + kRecord / 2, 0b011, {2}},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string device = "9.9.8." + std::to_string(n++);
        const std::string base = folder();
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            RecordFileSizeLimit limit(c.limit);
            int written = 0;
            bool told = false, counted = false;
            {
                PointDataWriter w;
                w.Init(base, device);
                const std::vector<uint8_t> data(kData, 0x42);
                for (int i = 0; i < 3; ++i)
                    written |= w.Write(data.data(), data.size(), i) ? 1 << i : 0;
                // What the writer says about the failure and what it kept.
                const PointDataWriter::Failure failure = w.lastFailure();
                told = failure.reason == std::strerror(EFBIG) &&
                       failure.path.rfind(base + device + "/PointData", 0) == 0;
                counted = w.recordsWritten() == static_cast<uint64_t>(__builtin_popcount(written));
            }
            _exit(limit.active() && told && counted ? written : 0x40 | written);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), c.written);
        std::vector<size_t> records;
        for (const auto& f : recordFiles(base + device)) {
            RecordFileContents contents;
            ASSERT_TRUE(decodeRecordFile(readFile(f), contents)) << f << " holds no file header";
            EXPECT_EQ(contents.trailingBytes, 0u) << f;
            records.push_back(contents.records.size());
        }
        EXPECT_EQ(records, c.records);
    }
}

}  // namespace
