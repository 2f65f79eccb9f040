// The maintenance commands against the simulated upgrade and file servers:
// every status branch with its console lines, the bytes the device logged,
// an unreachable device, a silent one, and replies cut short.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <string>
#include <vector>

#include "LoopbackListener.h"
#include "MaintenanceServer.h"
#include "TraceCapture.h"
#include "core/ByteOrder.h"
#include "core/Timing.h"
#include "maintenance/MaintenanceCommands.h"
#include "maintenance/MaintenanceTiming.h"

namespace {

using namespace std::chrono_literals;

constexpr auto kWait = 5000ms;

// Lines of the trace, in order.
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        out.push_back(text.substr(start, end - start));
    return out;
}

class MaintenanceExchange : public ::testing::Test {
protected:
    MaintenanceExchange() {
        shellTiming().streamReceiveTimeoutMs = 300;
        maintenanceTiming().afterUpgradeSendMs = 2;
    }
    ~MaintenanceExchange() override { shellTiming().streamReceiveTimeoutMs = 50000; }

    // A simulated device answering every command with status (or nothing).
    void startDevice(const std::string& address, bool answer, int32_t status) {
        MaintenanceServerOptions options;
        options.address = address;
        options.answer = answer;
        options.status = status;
        options.version = "1.2.3";
        options.date = "2025-01-01";
        device = std::make_unique<MaintenanceServer>(options);
        ASSERT_TRUE(device->start());
    }
    MaintenanceRequestLog lastRequest() {
        EXPECT_TRUE(device->waitForRequests(1, kWait));
        const auto all = device->requests();
        return all.empty() ? MaintenanceRequestLog{} : all.back();
    }

    TraceCapture trace;
    std::unique_ptr<MaintenanceServer> device;
};

TEST_F(MaintenanceExchange, FileCommandsInEveryBranch) {
    struct Case {
        const char* what;
        FileCommand command;
        Request request;
        bool answer;
        int32_t status;
        ExchangeEnd end;
        std::vector<std::string> afterConnect;  // console lines after the connect line
    };
    const Case cases[] = {
        {"reboot 0",
         FileCommand::Reboot,
         buildCodeRequest(kCmdReboot),
         true,
         0,
         ExchangeEnd::Status,
         {"发送重启指令成功！"}},
        {"reboot 7 is accepted silently",
         FileCommand::Reboot,
         buildCodeRequest(kCmdReboot),
         true,
         7,
         ExchangeEnd::Status,
         {"发送重启指令成功！"}},
        {"set address -1",
         FileCommand::SetDeviceIp,
         buildSetDeviceIpRequest("0.0.0.0"),
         true,
         -1,
         ExchangeEnd::Status,
         {}},
        {"interface silent",
         FileCommand::SetInterface,
         buildSetInterfaceRequest("10.0.0.5", 9000),
         false,
         0,
         ExchangeEnd::NoStatus,
         {"接收信息失败！"}},
        {"background 0",
         FileCommand::GenerateBackground,
         buildCodeRequest(kCmdGenerateBackground),
         true,
         0,
         ExchangeEnd::Status,
         {"发送加载背景图片指令成功！"}},
    };
    int n = 10;
    for (const Case& c : cases) {
        const std::string address = "127.0.8." + std::to_string(n++);
        startDevice(address, c.answer, c.status);
        trace.clear();
        const CommandResult result = runFileCommand(c.command, address, c.request);
        EXPECT_EQ(result.end, c.end) << c.what;
        if (c.end == ExchangeEnd::Status) {
            EXPECT_EQ(result.status, c.status) << c.what;
        }
        EXPECT_FALSE(result.sendFailed) << c.what;

        std::vector<std::string> expected = {address + "--18889",
                                             "链接文件服务器：[" + address + "][18889]成功！"};
        expected.insert(expected.end(), c.afterConnect.begin(), c.afterConnect.end());
        EXPECT_EQ(lines(trace.out()), expected) << c.what;

        const MaintenanceRequestLog logged = lastRequest();
        EXPECT_TRUE(logged.complete) << c.what;
        EXPECT_EQ(logged.port, 18889) << c.what;
        EXPECT_EQ(logged.code, readU32le(c.request.data())) << c.what;
        if (c.command == FileCommand::SetDeviceIp) {
            EXPECT_EQ(logged.text, "0.0.0.0");
        }
        if (c.command == FileCommand::SetInterface) {
            EXPECT_EQ(logged.text, "10.0.0.5");
            EXPECT_EQ(logged.value, 9000u);
        }
        device->stop();
    }
}

TEST_F(MaintenanceExchange, UnreachableDeviceStopsAtTheConnect) {
    const std::string address = "127.0.8.30";  // nothing listens here
    const CommandResult file = runFileCommand(FileCommand::Reboot, address, buildCodeRequest(1));
    EXPECT_EQ(file.end, ExchangeEnd::ConnectFailed);
    UpInfo running;
    EXPECT_EQ(runGetVersion(address, running).end, ExchangeEnd::ConnectFailed);
    // The upgrade still goes to its status receive, which fails at once.
    const CommandResult upgrade = runUpgrade(address, Request(300, 1));
    EXPECT_EQ(upgrade.end, ExchangeEnd::ConnectFailed);
    EXPECT_EQ(lines(trace.out()), (std::vector<std::string>{
                                      address + "--18889",
                                      "链接文件服务器:[" + address + "][18889]失败!",
                                      address + "--18888",
                                      "链接升级服务器:[" + address + "][18888]失败!",
                                      address + "--18888",
                                      "链接升级服务器:[" + address + "][18888]失败!",
                                      "发送升级文件失败！",
                                  }));
    // An address that does not parse is no device either (never 0.0.0.0).
    trace.clear();
    EXPECT_EQ(runFileCommand(FileCommand::Reboot, "not.an.ip", buildCodeRequest(1)).end,
              ExchangeEnd::ConnectFailed);
    EXPECT_NE(trace.out().find("init not.an.ip:18889 fail!\n"), std::string::npos);
}

TEST_F(MaintenanceExchange, UpgradeSendsThePackageWhole) {
    const std::string address = "127.0.8.40";
    struct Case {
        bool answer;
        int32_t status;
        ExchangeEnd end;
        const char* lastLine;
    };
    const Case cases[] = {
        {true, 0, ExchangeEnd::Status, "发送升级文件成功！"},
        {true, -1, ExchangeEnd::Status, "发送升级文件成功！"},
        {true, 3, ExchangeEnd::Status, "发送升级文件成功！"},
        {false, 0, ExchangeEnd::NoStatus, "发送升级文件失败！"},
    };
    // A 3 MB package: several pieces on the wire, with progress after each.
    UpInfo info;
    setUpInfoText(info.version, "V2");
    Request request(kUpgradeHeaderSize + 3 * 1024 * 1024 + 17);
    for (size_t i = kUpgradeHeaderSize; i < request.size(); ++i)
        request[i] = static_cast<uint8_t>(i * 7);
    info.filesize = static_cast<int32_t>(request.size() - kUpgradeHeaderSize);
    encodeUpgradeHeader(info, request.data());
    const uint32_t crc =
        static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), request.data() + kUpgradeHeaderSize,
                                    static_cast<uInt>(request.size() - kUpgradeHeaderSize)));

    for (const Case& c : cases) {
        startDevice(address, c.answer, c.status);
        trace.clear();
        uint64_t lastSent = 0;
        int calls = 0;
        const CommandResult result =
            runUpgrade(address, request, [&](uint64_t sent, uint64_t total) {
                EXPECT_GT(sent, lastSent);
                EXPECT_EQ(total, request.size());
                lastSent = sent;
                ++calls;
            });
        EXPECT_EQ(result.end, c.end) << c.status;
        if (c.end == ExchangeEnd::Status) {
            EXPECT_EQ(result.status, c.status);
        }
        EXPECT_EQ(lastSent, request.size());
        EXPECT_GE(calls, 4);
        EXPECT_EQ(lines(trace.out()).back(), c.lastLine) << c.status;

        const MaintenanceRequestLog logged = lastRequest();
        EXPECT_TRUE(logged.complete);
        EXPECT_EQ(logged.version, "V2");
        EXPECT_EQ(logged.packageSize, info.filesize);
        EXPECT_EQ(logged.packageCrc, crc);
        device->stop();
    }
}

TEST_F(MaintenanceExchange, VersionQueryShowsTheRecordAsItArrived) {
    startDevice("127.0.8.50", true, 0);
    UpInfo running;
    CommandResult result = runGetVersion("127.0.8.50", running);
    EXPECT_EQ(result.end, ExchangeEnd::Status);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(upInfoText(running.version), "1.2.3");
    EXPECT_EQ(upInfoText(running.date), "2025-01-01");
    EXPECT_NE(trace.out().find("发送版本信息请求成功！\n"), std::string::npos);
    EXPECT_EQ(lastRequest().code, kCmdGetVersion);
    device->stop();

    // Devices that cut their reply short: after the status, inside the
    // record, inside the status.
    struct Case {
        const char* what;
        std::vector<uint8_t> reply;
        ExchangeEnd end;
        const char* version;
    };
    std::vector<uint8_t> partial = {0, 0, 0, 0};
    partial.resize(4 + 84 + 3, 0);
    partial[88] = 'V';
    partial[89] = '7';
    partial[90] = '.';
    const Case cases[] = {
        {"status then close", {0, 0, 0, 0}, ExchangeEnd::Status, ""},
        {"record cut inside the version", partial, ExchangeEnd::Status, "V7."},
        {"two bytes of status", {0, 0}, ExchangeEnd::NoStatus, ""},
        {"initial version", {0xFF, 0xFF, 0xFF, 0xFF}, ExchangeEnd::Status, ""},
    };
    int n = 51;
    for (const Case& c : cases) {
        const std::string address = "127.0.8." + std::to_string(n++);
        LoopbackListener fake([&](int, int fd) {
            loopback::receive(fd, 4, 2000);
            loopback::sendAll(fd, c.reply);
            return false;  // closes the connection
        });
        ASSERT_TRUE(fake.start(address, 18888));
        trace.clear();
        result = runGetVersion(address, running);
        EXPECT_EQ(result.end, c.end) << c.what;
        EXPECT_EQ(upInfoText(running.version), c.version) << c.what;
        const bool recordExpected = c.end == ExchangeEnd::Status && c.reply[0] == 0;
        EXPECT_EQ(trace.count("接收版本信息失败！\n"),
                  recordExpected || c.end == ExchangeEnd::NoStatus ? 1 : 0)
            << c.what;
    }
}

}  // namespace
