// The settings file: read and written as raw bytes, key never added, file
// never created.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

#include "TempFiles.h"
#include "app/Settings.h"

namespace fs = std::filesystem;

namespace {

class SettingsFile : public ::testing::Test {
protected:
    void write(const std::string& bytes) { writeFile(path_, bytes); }
    std::string read() const { return readFile(path_); }

    TempDir dir_;
    const std::string path_ = dir_.file("KestTools.ini");
};

TEST_F(SettingsFile, MissingFileReadsEmptyAndIsNeverCreated) {
    EXPECT_EQ(GetHisIp(path_), "");
    EXPECT_EQ(GetAlgShowPasswd(path_), "");
    EXPECT_EQ(SetHisIp("10.1.2.3", path_), -1);
    EXPECT_FALSE(fs::exists(path_));
}

TEST_F(SettingsFile, ReadsKeysOnlyInTheBaseinfoSection) {
    struct Case {
        const char* what;
        std::string file;
        std::optional<std::string> hisIp, passwd;  // unset: not looked at
    };
    const Case cases[] = {
        {"empty file", "", "error", "error"},
        {"missing keys", "[Baseinfo]\r\nOther=1\r\n", "error", "error"},
        {"typical file", "[Baseinfo]\r\nHisIp=192.168.1.221\r\nAlgShowPasswd=kest123\r\n",
         "192.168.1.221", "kest123"},
        {"spaces and further equals dropped",
         "[Baseinfo]\nHisIp = 10.0.0.5 \nAlgShowPasswd= a=b c\n", "10.0.0.5", "abc"},
        {"a tab stays part of the key", "[Baseinfo]\nHisIp\t=10.0.0.6\n", "error", {}},
        {"keys are case-sensitive", "[Baseinfo]\nhisip=10.0.0.7\n", "error", {}},
        {"key before the header",
         "HisIp=10.0.0.1\r\n[Baseinfo]\r\nAlgShowPasswd=x\r\n",
         "error",
         {}},
        // A later header does not end the section; comments are skipped; the
        // header name loses every bracket, CR and LF.
        {"comments and headers",
         "# HisIp=1.1.1.1\n HisIp=2.2.2.2\n[[Baseinfo]]\r\n[Other]\nHisIp=10.0.0.2\n",
         "10.0.0.2",
         {}},
        {"the first matching line wins",
         "[Baseinfo]\nHisIp=10.0.0.3\nHisIp=10.0.0.4\n",
         "10.0.0.3",
         {}},
        {"empty value", "[Baseinfo]\nHisIp=\r\n", "", {}},
        {"no equals", "[Baseinfo]\nHisIp\n", "", {}},
        {"overlong value is cut",
         "[Baseinfo]\nAlgShowPasswd=" + std::string(200, '7') + "\n",
         {},
         std::string(127, '7')},
        {"a key of more than 47 characters is cut and matches nothing",
         "[Baseinfo]\n" + std::string(60, 'k') + "=1\nHisIp=10.9.9.9\n",
         "10.9.9.9",
         {}},
    };
    for (const Case& c : cases) {
        write(c.file);
        if (c.hisIp) {
            EXPECT_EQ(GetHisIp(path_), *c.hisIp) << c.what;
        }
        if (c.passwd) {
            EXPECT_EQ(GetAlgShowPasswd(path_), *c.passwd) << c.what;
        }
    }
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
    const std::string asDirectory = dir_.file("sub");
    fs::create_directory(asDirectory);
    EXPECT_EQ(SetHisIp("10.1.2.3", asDirectory), -1);
    EXPECT_TRUE(fs::is_directory(asDirectory));
}

}  // namespace
