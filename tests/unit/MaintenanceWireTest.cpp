// The maintenance protocol's bytes: the UpInfo record and every request,
// pinned to literal bytes, and which box each outcome of a command shows.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "maintenance/MaintenanceMessages.h"
#include "maintenance/MaintenanceProtocol.h"
#include "maintenance/UpInfo.h"

namespace {

std::vector<uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

std::vector<uint8_t> text(const std::string& s) {
    return std::vector<uint8_t>(s.begin(), s.end());
}

std::vector<uint8_t> concat(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}

TEST(MaintenanceWire, RequestsAreCodeThenPayloadLittleEndian) {
    struct Case {
        const char* name;
        Request request;
        std::vector<uint8_t> expected;
    };
    const Case cases[] = {
        {"GetVersion", buildCodeRequest(kCmdGetVersion), bytes({2, 0, 0, 0})},
        {"Reboot", buildCodeRequest(kCmdReboot), bytes({1, 0, 0, 0})},
        {"GenerateBackground", buildCodeRequest(kCmdGenerateBackground), bytes({5, 0, 0, 0})},
        // The untouched address control: seven characters, no NUL.
        {"SetDeviceIp 0.0.0.0", buildSetDeviceIpRequest("0.0.0.0"),
         concat({bytes({2, 0, 0, 0, 7, 0, 0, 0}), text("0.0.0.0")})},
        // The device's own example: 20 bytes.
        {"SetInterface 10.0.0.5:9000", buildSetInterfaceRequest("10.0.0.5", 9000),
         concat({bytes({3, 0, 0, 0, 8, 0, 0, 0}), text("10.0.0.5"), bytes({0x28, 0x23, 0, 0})})},
        // Ports are not range-checked: whatever was typed goes out.
        {"SetInterface port 70000", buildSetInterfaceRequest("1.2.3.4", 70000),
         concat({bytes({3, 0, 0, 0, 7, 0, 0, 0}), text("1.2.3.4"), bytes({0x70, 0x11, 1, 0})})},
        {"SetInterface port -1", buildSetInterfaceRequest("1.2.3.4", -1),
         concat({bytes({3, 0, 0, 0, 7, 0, 0, 0}), text("1.2.3.4"), bytes({255, 255, 255, 255})})},
    };
    for (const Case& c : cases) EXPECT_EQ(c.request, c.expected) << c.name;
    EXPECT_EQ(buildSetInterfaceRequest("10.0.0.5", 9000).size(), 20u);
    EXPECT_EQ(buildSetInterfaceRequest("255.255.255.255", 1).size(), 27u);
}

TEST(MaintenanceWire, UpgradeHeaderAndRecordLayout) {
    UpInfo info;
    info.filesize = 0x01020304;
    info.filetype = 2;
    info.ishaveupfile = 1;
    info.ishaveprofile = 0;
    info.ishavealgfile = -1;
    setUpInfoText(info.filename, "update.tar");
    setUpInfoText(info.version, "V1.0");
    setUpInfoText(info.date, "2025-01-01");

    uint8_t header[kUpgradeHeaderSize];
    std::memset(header, 0xCC, sizeof header);
    encodeUpgradeHeader(info, header);
    const std::vector<uint8_t> got(header, header + sizeof header);

    std::vector<uint8_t> expected = bytes({1,   0,   0,   0,      // code Upgrade
                                           4,   3,   2,   1,      // filesize
                                           2,   0,   0,   0,      // filetype
                                           1,   0,   0,   0,      // ishaveupfile
                                           0,   0,   0,   0,      // ishaveprofile
                                           255, 255, 255, 255});  // ishavealgfile
    auto field = [&](const std::string& s) {
        std::vector<uint8_t> f(64, 0);
        std::copy(s.begin(), s.end(), f.begin());
        expected.insert(expected.end(), f.begin(), f.end());
    };
    field("update.tar");
    field("V1.0");
    field("2025-01-01");
    ASSERT_EQ(expected.size(), 216u);
    EXPECT_EQ(got, expected);

    const UpInfo back = decodeUpInfo(header + 4);
    EXPECT_EQ(back.filesize, info.filesize);
    EXPECT_EQ(back.ishavealgfile, -1);
    EXPECT_EQ(upInfoText(back.filename), "update.tar");
    EXPECT_EQ(upInfoText(back.version), "V1.0");
    EXPECT_EQ(upInfoText(back.date), "2025-01-01");
}

TEST(MaintenanceWire, RecordTextsAreCutAndAlwaysTerminated) {
    UpInfo info;
    setUpInfoText(info.version, std::string(100, 'v'));
    EXPECT_EQ(upInfoText(info.version), std::string(63, 'v'));

    // A device record whose 64-byte texts carry no NUL at all.
    UpInfoBytes raw{};
    std::fill(raw.begin() + 84, raw.end(), 'x');
    const UpInfo decoded = decodeUpInfo(raw.data());
    EXPECT_EQ(upInfoText(decoded.version), std::string(63, 'x'));
    EXPECT_EQ(upInfoText(decoded.date), std::string(63, 'x'));
    EXPECT_EQ(upInfoText(decoded.filename), "");
}

TEST(MaintenanceMessages, BoxOfEveryOutcome) {
    const CommandResult connectFailed{ExchangeEnd::ConnectFailed, 0, false};
    const CommandResult noStatus{ExchangeEnd::NoStatus, 0, false};
    auto status = [](int32_t s) { return CommandResult{ExchangeEnd::Status, s, false}; };
    // The request did not go out whole, and then the device answered (or not).
    auto cutSend = [](ExchangeEnd end, int32_t s) { return CommandResult{end, s, true}; };
    auto str = [](const char* t) { return t ? std::string(t) : std::string("<none>"); };

    struct Case {
        const char* what;
        const char* got;
        const char* expected;
    };
    const Case cases[] = {
        {"upgrade 0", upgradeBoxText(status(0), true), "升级成功!\n"},
        {"upgrade -1 en", upgradeBoxText(status(-1), false), "have the same version!\n"},
        {"upgrade 3", upgradeBoxText(status(3), true), nullptr},
        {"upgrade unreachable", upgradeBoxText(connectFailed, true), nullptr},
        {"upgrade no status", upgradeBoxText(noStatus, true), nullptr},
        {"upgrade cut, then 0", upgradeBoxText(cutSend(ExchangeEnd::Status, 0), true),
         "升级失败：升级文件未完整发送!\n"},
        {"upgrade cut, then -1 en", upgradeBoxText(cutSend(ExchangeEnd::Status, -1), false),
         "update fail: the update file was not sent whole!\n"},
        {"upgrade cut, no status", upgradeBoxText(cutSend(ExchangeEnd::NoStatus, 0), false),
         "update fail: the update file was not sent whole!\n"},
        {"reboot cut, then 0",
         fileCommandBoxText(FileCommand::Reboot, cutSend(ExchangeEnd::Status, 0), true),
         "设备重启失败!\n"},
        {"version unreachable", versionBoxText(connectFailed, true), "链接升级服务器失败!\n"},
        {"version unreachable en", versionBoxText(connectFailed, false),
         "connect to update server fail!\n"},
        {"version -1 en", versionBoxText(status(-1), false), "now is the initial version!\n"},
        {"version 0 shows the dialog", versionBoxText(status(0), true), nullptr},
        {"version 5", versionBoxText(status(5), true), nullptr},
        {"version no status", versionBoxText(noStatus, true), nullptr},
        {"reboot 0", fileCommandBoxText(FileCommand::Reboot, status(0), true), "设备重启成功!\n"},
        {"reboot 7", fileCommandBoxText(FileCommand::Reboot, status(7), true), nullptr},
        {"ip -1 en", fileCommandBoxText(FileCommand::SetDeviceIp, status(-1), false),
         "device IP set fail!\n"},
        {"interface 0 en", fileCommandBoxText(FileCommand::SetInterface, status(0), false),
         "device inter info success!\n"},
        {"background -1", fileCommandBoxText(FileCommand::GenerateBackground, status(-1), true),
         "设备加载背景图片失败!\n"},
        {"background 0 en", fileCommandBoxText(FileCommand::GenerateBackground, status(0), false),
         "divice get backgroud pictrue success!\n"},
        {"background unreachable",
         fileCommandBoxText(FileCommand::GenerateBackground, connectFailed, true), nullptr},
        {"not supported en", kNotSupportedText.in(false), "not support!\n"},
        {"no interface", kNoInterfaceText.in(true), "当前事件版本无需设置接口信息!\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(str(c.got), str(c.expected)) << c.what;
}

}  // namespace
