// The settings file: read and written as raw bytes, key never added, file
// never created.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/Settings.h"

namespace fs = std::filesystem;

namespace {

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "kest-settings-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        path_ = (fs::path(dir_) / "KestTools.ini").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    void write(const std::string& bytes) {
        std::ofstream out(path_, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    }
    std::string read() const {
        std::ifstream in(path_, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

    std::string dir_;
    std::string path_;
};

TEST_F(SettingsFile, MissingFileReadsEmptyAndIsNeverCreated) {
    EXPECT_EQ(GetHisIp(path_), "");
    EXPECT_EQ(GetAlgShowPasswd(path_), "");
    EXPECT_EQ(SetHisIp("10.1.2.3", path_), -1);
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(SettingsFile, EmptyFileOrMissingKeyReadsError) {
    write("");
    EXPECT_EQ(GetHisIp(path_), "error");
    EXPECT_EQ(GetAlgShowPasswd(path_), "error");

    write("[Baseinfo]\r\nOther=1\r\n");
    EXPECT_EQ(GetHisIp(path_), "error");
    EXPECT_EQ(GetAlgShowPasswd(path_), "error");
}

TEST_F(SettingsFile, ReadsTypicalFileWithCrLf) {
    write("[Baseinfo]\r\nHisIp=192.168.1.221\r\nAlgShowPasswd=kest123\r\n");
    EXPECT_EQ(GetHisIp(path_), "192.168.1.221");
    EXPECT_EQ(GetAlgShowPasswd(path_), "kest123");
}

TEST_F(SettingsFile, SpacesDroppedTabsKeptFurtherEqualsDropped) {
    write("[Baseinfo]\nHisIp = 10.0.0.5 \nAlgShowPasswd= a=b c\n");
    EXPECT_EQ(GetHisIp(path_), "10.0.0.5");
    EXPECT_EQ(GetAlgShowPasswd(path_), "abc");

    // A tab stays part of the key, which then no longer matches.
    write("[Baseinfo]\nHisIp\t=10.0.0.6\n");
    EXPECT_EQ(GetHisIp(path_), "error");
    // Keys are case-sensitive.
    write("[Baseinfo]\nhisip=10.0.0.7\n");
    EXPECT_EQ(GetHisIp(path_), "error");
}

TEST_F(SettingsFile, KeysCountOnlyAfterTheBaseinfoHeader) {
    write("HisIp=10.0.0.1\r\n[Baseinfo]\r\nAlgShowPasswd=x\r\n");
    EXPECT_EQ(GetHisIp(path_), "error");

    // A later header does not end the section; comments are skipped; the
    // header name loses every bracket, CR and LF.
    write("# HisIp=1.1.1.1\n HisIp=2.2.2.2\n[[Baseinfo]]\r\n[Other]\nHisIp=10.0.0.2\n");
    EXPECT_EQ(GetHisIp(path_), "10.0.0.2");

    // The first matching line wins.
    write("[Baseinfo]\nHisIp=10.0.0.3\nHisIp=10.0.0.4\n");
    EXPECT_EQ(GetHisIp(path_), "10.0.0.3");
}

TEST_F(SettingsFile, EmptyValueAndNoEquals) {
    write("[Baseinfo]\nHisIp=\r\n");
    EXPECT_EQ(GetHisIp(path_), "");
    write("[Baseinfo]\nHisIp\n");
    EXPECT_EQ(GetHisIp(path_), "");
}

TEST_F(SettingsFile, OverlongValueIsCut) {
    const std::string longValue(200, '7');
    write("[Baseinfo]\nAlgShowPasswd=" + longValue + "\n");
    EXPECT_EQ(GetAlgShowPasswd(path_), std::string(127, '7'));

    // A key of more than 47 characters is cut and matches nothing.
    write("[Baseinfo]\n" + std::string(60, 'k') + "=1\nHisIp=10.9.9.9\n");
    EXPECT_EQ(GetHisIp(path_), "10.9.9.9");
}

TEST_F(SettingsFile, SetReplacesEveryHisIpLineAfterHeaderByteForByte) {
    const std::string before =
        "# settings of the tool\r\n"
        "HisIp=1.1.1.1\r\n"
        "[Baseinfo]\r\n"
        " HisIp=2.2.2.2\r\n"
        "HisIp = 3.3.3.3\r\n"
        "AlgShowPasswd=abc\r\n"
        "[Other]\n"
        "HisIp=4.4.4.4";
    write(before);
    ASSERT_EQ(SetHisIp("10.1.2.3", path_), 0);
    const std::string expected =
        "# settings of the tool\r\n"
        "HisIp=1.1.1.1\r\n"
        "[Baseinfo]\r\n"
        " HisIp=2.2.2.2\r\n"
        "HisIp=10.1.2.3\n"
        "AlgShowPasswd=abc\r\n"
        "[Other]\n"
        "HisIp=10.1.2.3\n";
    EXPECT_EQ(read(), expected);
    EXPECT_EQ(GetHisIp(path_), "10.1.2.3");
}

TEST_F(SettingsFile, SetWithoutHisIpLeavesFileUnchanged) {
    const std::string before = "[Baseinfo]\r\nAlgShowPasswd=abc\r\n\r\n";
    write(before);
    EXPECT_EQ(SetHisIp("10.1.2.3", path_), 0);
    EXPECT_EQ(read(), before);

    const std::string beforeHeader = "HisIp=1.2.3.4\n[Baseinfo]\n";
    write(beforeHeader);
    EXPECT_EQ(SetHisIp("10.1.2.3", path_), 0);
    EXPECT_EQ(read(), beforeHeader);
}

TEST_F(SettingsFile, SetKeepsLongLinesAndOddBytes) {
    // A 300-byte comment is read in pieces; every byte still comes back, and so
    // do NUL bytes and a last line without line end.
    std::string before = "#" + std::string(299, 'c') + "\r\n[Baseinfo]\r\n";
    before += std::string("Note=a\0b\r\n", 10);
    before += "HisIp=9.9.9.9\r\nTail=1";
    write(before);
    ASSERT_EQ(SetHisIp("127.0.0.1", path_), 0);
    std::string expected = "#" + std::string(299, 'c') + "\r\n[Baseinfo]\r\n";
    expected += std::string("Note=a\0b\r\n", 10);
    expected += "HisIp=127.0.0.1\nTail=1";
    EXPECT_EQ(read(), expected);
}

TEST_F(SettingsFile, SetReportsAFileThatCannotBeWritten) {
    // A directory opens for reading but not for writing.
    const std::string asDirectory = (fs::path(dir_) / "sub").string();
    fs::create_directory(asDirectory);
    EXPECT_EQ(SetHisIp("10.1.2.3", asDirectory), -1);
    EXPECT_TRUE(fs::is_directory(asDirectory));
}

}  // namespace
