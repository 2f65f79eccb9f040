// Reading upgrade packages: which files count as packages, finding
// "upinfo.txt" in tar and zip archives (also damaged ones), its parse with
// the device format's quirks, and the choice procedure of the 升级 dialog.
#include <gtest/gtest.h>

#include <cstring>

#include "PackageFiles.h"
#include "TempFiles.h"
#include "TraceCapture.h"
#include "maintenance/UpgradeChoice.h"
#include "maintenance/UpgradePackage.h"
#include "platform/ScriptedPrompt.h"

namespace {

const std::string kUpinfo =
    "version=V2.1.0\r\nfiletype=3\r\nishaveupfile=1\r\nishaveprofile=0\r\nishavealgfile=1\r\n"
    "date=2025-06-30\r\n";

TEST(UpgradePackage, KindIsTheLastExtensionInSmallLetters) {
    const std::pair<const char*, PackageKind> cases[] = {
        {"D:\\pkg\\UPDATE.ZIP", PackageKind::Zip},
        {"/tmp/update.tar", PackageKind::Tar},
        {"/tmp/a.tar.zip", PackageKind::Zip},
        {"D:\\pkg.new\\update", PackageKind::Unsupported},
        {"update.tar.gz", PackageKind::Unsupported},
        {"tar", PackageKind::Tar},  // no dot: the whole path is the extension
        {"", PackageKind::Unsupported},
    };
    for (const auto& c : cases) EXPECT_EQ(packageKindOf(c.first), c.second) << c.first;
}

TEST(UpgradePackage, ParseKeepsTheFormatsQuirks) {
    struct Case {
        const char* what;
        std::string text;
        const char* version;
        int32_t filetype;
        int32_t ishavealgfile;
        const char* date;
    };
    const Case cases[] = {
        {"plain", kUpinfo, "V2.1.0", 3, 1, "2025-06-30"},
        // The one character after the key is skipped, whatever it is.
        {"space before the separator", "version = V 1.0\r\n", "=V1.0", 0, 0, ""},
        {"any separator", "version:V3\r\nfiletype#12\r\n", "V3", 12, 0, ""},
        // Without CR each value runs to the end of the text; numbers still
        // come from their leading digits.
        {"LF only", "filetype=7\nversion=V1\ndate=D\n", "V1\ndate=D\n", 7, 0, "D\n"},
        {"tabs stay, spaces go", "version=\tA B\r\n", "\tAB", 0, 0, ""},
        // Each key is searched from the start: a version text holding "date"
        // is where the date is found.
        {"key inside another value", "version=olddate_x\r\ndate=2025\r\n", "olddate_x", 0, 0, "x"},
        {"missing keys", "nothing here", "", 0, 0, ""},
        {"key at the very end", "version", "", 0, 0, ""},
        {"negative and junk numbers", "filetype=-4x\r\nishavealgfile=abc\r\n", "", -4, 0, ""},
        {"huge number", "filetype=99999999999999\r\n", "", INT32_MAX, 0, ""},
        {"value cut at 63", "version=" + std::string(80, 'v') + "\r\n", nullptr, 0, 0, ""},
    };
    TraceCapture trace;
    for (const Case& c : cases) {
        UpInfo info;
        info.ishaveupfile = 99;  // every key is written, found or not
        parseUpinfo(c.text, info);
        const std::string version = c.version ? c.version : std::string(63, 'v');
        EXPECT_EQ(upInfoText(info.version), version) << c.what;
        EXPECT_EQ(info.filetype, c.filetype) << c.what;
        EXPECT_EQ(info.ishavealgfile, c.ishavealgfile) << c.what;
        EXPECT_EQ(upInfoText(info.date), c.date) << c.what;
        EXPECT_EQ(info.ishaveupfile, c.text == kUpinfo ? 1 : 0) << c.what;
    }
    EXPECT_NE(trace.out().find("upinfo.txt  -->" + kUpinfo + "\n"), std::string::npos);
}

TEST(UpgradePackage, TarMemberSearch) {
    const std::string good = makeTar({{"app.bin", std::string(700, 'a')}, {"upinfo.txt", kUpinfo}});
    std::string lyingSize = makeTar({{"app.bin", "abc"}, {"upinfo.txt", kUpinfo}});
    // The first member claims 8 GiB (77777777777 octal).
    std::memcpy(&lyingSize[124], "77777777777", 11);
    std::string lyingUpinfo = makeTar({{"upinfo.txt", kUpinfo}});
    std::memcpy(&lyingUpinfo[124], "00000077777", 11);

    struct Case {
        const char* what;
        std::string archive;
        MemberSearch expected;
    };
    const Case cases[] = {
        {"at the root after another member", good, MemberSearch::Found},
        {"stored as ./upinfo.txt", makeTar({{"./upinfo.txt", kUpinfo}}), MemberSearch::NotFound},
        {"in a sub-folder", makeTar({{"pkg/upinfo.txt", kUpinfo}}), MemberSearch::NotFound},
        {"not a regular member", makeTar({{"upinfo.txt", kUpinfo, '5'}}), MemberSearch::NotFound},
        {"type NUL counts as regular", makeTar({{"upinfo.txt", kUpinfo, '\0'}}),
         MemberSearch::Found},
        {"no upinfo.txt", makeTar({{"app.bin", "x"}}), MemberSearch::NotFound},
        {"empty file", "", MemberSearch::NotFound},
        {"zero-byte upinfo.txt", makeTar({{"upinfo.txt", ""}}), MemberSearch::Found},
        {"size field past the end", lyingSize, MemberSearch::Damaged},
        {"upinfo size past the end", lyingUpinfo, MemberSearch::Damaged},
        {"cut inside a header", good.substr(0, 512 + 1024 + 100), MemberSearch::Damaged},
        {"cut inside upinfo.txt", good.substr(0, 512 + 1024 + 512 + 10), MemberSearch::Damaged},
        {"not an archive, whole blocks", std::string(5120, 'z'), MemberSearch::NotFound},
        {"not an archive, partial block", std::string(5000, 'z'), MemberSearch::Damaged},
    };
    TempDir dir;
    for (const Case& c : cases) {
        const std::string path = dir.file("p.tar");
        writeFile(path, c.archive);
        std::string text = "stale";
        EXPECT_EQ(findTarMember(path, "upinfo.txt", text), c.expected) << c.what;
        if (c.expected == MemberSearch::Found && c.archive == good) {
            EXPECT_EQ(text, kUpinfo);
        }
    }
    std::string text;
    EXPECT_EQ(findTarMember(dir.file("missing.tar"), "upinfo.txt", text), MemberSearch::NotFound);
}

TEST(UpgradePackage, ZipEntrySearch) {
    TempDir dir;
    struct Case {
        const char* what;
        std::vector<ArchiveMember> members;
        MemberSearch expected;
        std::string text;
    };
    const Case cases[] = {
        {"at the root",
         {{"app.bin", "xyz"}, {"upinfo.txt", kUpinfo}},
         MemberSearch::Found,
         kUpinfo},
        {"in a sub-folder",
         {{"pkg/v2/upinfo.txt", "version=A\r\n"}},
         MemberSearch::Found,
         "version=A\r\n"},
        {"under ./", {{"./upinfo.txt", "x"}}, MemberSearch::Found, "x"},
        {"text up to its first NUL",
         {{"upinfo.txt", std::string("ab\0cd", 5)}},
         MemberSearch::Found,
         "ab"},
        {"zero-byte upinfo.txt", {{"upinfo.txt", ""}}, MemberSearch::Found, ""},
        {"no upinfo.txt", {{"app.bin", "x"}}, MemberSearch::NotFound, ""},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string path = dir.file("case" + std::to_string(n++) + ".zip");
        ASSERT_TRUE(writeZip(path, c.members)) << c.what;
        std::string text;
        EXPECT_EQ(findZipUpinfo(path, text), c.expected) << c.what;
        EXPECT_EQ(text, c.text) << c.what;
    }

    // Damaged archives: not a zip, empty, cut short, a corrupt entry.
    const std::string whole = dir.file("whole.zip");
    ASSERT_TRUE(writeZip(whole, {{"upinfo.txt", std::string(4000, 'q') + kUpinfo}}));
    const std::string bytes = readFile(whole);
    std::string corrupt = bytes;
    corrupt[60] ^= 0x55;  // inside the deflated data of the entry
    const std::pair<const char*, std::string> damaged[] = {
        {"not a zip", std::string(3000, 'z')},
        {"empty", ""},
        {"cut short", bytes.substr(0, bytes.size() / 2)},
        {"corrupt entry", corrupt},
    };
    for (const auto& d : damaged) {
        const std::string path = dir.file("damaged.zip");
        writeFile(path, d.second);
        std::string text;
        EXPECT_EQ(findZipUpinfo(path, text), MemberSearch::Damaged) << d.first;
    }
}

TEST(UpgradePackage, ZipEntryNamesAreNormalised) {
    const std::pair<const char*, const char*> cases[] = {
        {"upinfo.txt", "upinfo.txt"},
        {"C:\\pkg\\upinfo.txt", "pkg\\upinfo.txt"},
        {"//\\\\a/b", "a/b"},
        {"a/../b/upinfo.txt", "b/upinfo.txt"},
        {"..\\..\\x/..\\upinfo.txt", "upinfo.txt"},
        {"a..b/c", "a..b/c"},  // two dots inside a name are no parent folder
        {"..", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(normaliseZipEntryName(c.first), c.second) << c.first;
    EXPECT_EQ(normaliseZipEntryName(std::string(300, 'n')).size(), 260u);
}

class UpgradeChoiceTest : public ::testing::Test {
protected:
    std::string tarPackage(const std::string& upinfo, const std::string& name = "a.tar") {
        const std::string path = dir.file(name);
        writeFile(path, makeTar({{"upinfo.txt", upinfo}, {"app.bin", "APP"}}));
        return path;
    }
    std::vector<std::string> boxTexts() const {
        std::vector<std::string> texts;
        for (const auto& a : prompt.asked()) texts.push_back(a.text);
        return texts;
    }

    TempDir dir;
    ScriptedPrompt prompt;
    TraceCapture trace;
    UpgradeChoice choice{prompt, true};
};

TEST_F(UpgradeChoiceTest, AcceptedTarBuildsTheWholeRequestOnce) {
    const std::string path = tarPackage(kUpinfo);
    ASSERT_TRUE(choice.choose(path));
    ASSERT_TRUE(choice.ready());

    const auto asked = prompt.asked();
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_EQ(asked[0].text, kUpinfo);
    EXPECT_EQ(asked[0].caption, "确认升级包数据");
    EXPECT_EQ(asked[0].buttons, PromptButtons::OkCancel);

    const std::string file = readFile(path);
    const Request& request = choice.request();
    ASSERT_EQ(request.size(), kUpgradeHeaderSize + file.size());
    EXPECT_EQ(std::string(request.begin() + kUpgradeHeaderSize, request.end()), file);
    const UpInfo sent = decodeUpInfo(request.data() + 4);
    EXPECT_EQ(request[0], 1);
    EXPECT_EQ(sent.filesize, static_cast<int32_t>(file.size()));
    EXPECT_EQ(sent.filetype, 3);
    EXPECT_EQ(upInfoText(sent.filename), "update.tar");
    EXPECT_EQ(upInfoText(sent.version), "V2.1.0");
}

TEST_F(UpgradeChoiceTest, RejectionsKeepTheEarlierPackage) {
    const std::string first = tarPackage(kUpinfo);
    ASSERT_TRUE(choice.choose(first));
    const Request accepted = choice.request();

    struct Case {
        const char* what;
        std::string path;
        int answer;
        const char* box;  // the box before any confirmation, nullptr for none
    };
    std::string lying = makeTar({{"upinfo.txt", kUpinfo}});
    std::memcpy(&lying[124], "00000077777", 11);
    writeFile(dir.file("lying.tar"), lying);
    writeFile(dir.file("junk.zip"), "not a zip at all");
    writeFile(dir.file("no-upinfo.tar"), makeTar({{"app.bin", "x"}}));
    const Case cases[] = {
        {"unsupported", dir.file("pkg.bin"), kAnswerOk, "不支持的文件格式！"},
        {"no upinfo.txt in the tar", dir.file("no-upinfo.tar"), kAnswerOk,
         "升级包内未找到 upinfo.txt！"},
        {"lying tar", dir.file("lying.tar"), kAnswerOk, "升级包已损坏或不完整！"},
        {"damaged zip", dir.file("junk.zip"), kAnswerOk, "升级包已损坏或不完整！"},
        {"cancelled", tarPackage("version=V9\r\n", "b.tar"), kAnswerCancel, nullptr},
    };
    for (const Case& c : cases) {
        ScriptedPrompt casePrompt;
        UpgradeChoice again{casePrompt, true};
        ASSERT_TRUE(again.choose(first));
        casePrompt.queueAnswer(c.answer);
        EXPECT_FALSE(again.choose(c.path)) << c.what;
        EXPECT_TRUE(again.ready()) << c.what;
        EXPECT_EQ(again.request(), accepted) << c.what;
        const auto asked = casePrompt.asked();
        ASSERT_EQ(asked.size(), 2u) << c.what;
        if (c.box) {
            EXPECT_EQ(asked[1].text, c.box) << c.what;
            EXPECT_EQ(asked[1].caption, "KestTools") << c.what;
        } else {
            EXPECT_EQ(asked[1].caption, "确认升级包数据") << c.what;
        }
    }
}

TEST_F(UpgradeChoiceTest, ZipWithoutUpinfoIsConfirmedEmptyAndKeepsEarlierFields) {
    ASSERT_TRUE(choice.choose(tarPackage(kUpinfo)));
    const std::string zip = dir.file("plain.zip");
    ASSERT_TRUE(writeZip(zip, {{"app.bin", "APP"}}));
    ASSERT_TRUE(choice.choose(zip));
    EXPECT_EQ(prompt.asked().back().text, "");
    // Fields a reading does not write keep their earlier values, the
    // tar's file name among them; only the size is the new package's.
    const UpInfo sent = decodeUpInfo(choice.request().data() + 4);
    EXPECT_EQ(upInfoText(sent.version), "V2.1.0");
    EXPECT_EQ(upInfoText(sent.filename), "update.tar");
    EXPECT_EQ(sent.filesize, static_cast<int32_t>(readFile(zip).size()));

    UpgradeChoice fresh{prompt, false};
    ASSERT_TRUE(fresh.choose(zip));
    EXPECT_EQ(upInfoText(fresh.info().filename), "");
    EXPECT_EQ(fresh.info().filetype, 0);
}

}  // namespace
