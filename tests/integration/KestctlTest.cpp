// kestctl run as a program against simulated devices on their own loopback
// addresses: exit codes, text and JSON lines, parallel devices, and the bytes
// the simulators logged.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "CollectionServer.h"
#include "GateServer.h"
#include "KestctlRun.h"
#include "MaintenanceServer.h"
#include "PackageFiles.h"
#include "TempFiles.h"
#include "stream/CollectionFormat.h"

namespace {

using namespace std::chrono_literals;

std::unique_ptr<MaintenanceServer> device(const std::string& address, int32_t status,
                                          const std::string& version = "1.0.0") {
    MaintenanceServerOptions options;
    options.address = address;
    options.status = status;
    options.version = version;
    auto server = std::make_unique<MaintenanceServer>(options);
    EXPECT_TRUE(server->start());
    return server;
}

TEST(Kestctl, VersionOfSeveralDevicesInParallelAsJson) {
    auto a = device("127.0.8.101", 0, "V1.1");
    auto b = device("127.0.8.102", 0, "V2.2");
    const CtlRun run = kestctl(
        "--device 127.0.8.101 --device 127.0.8.102 --device 127.0.8.103 --jobs 3 --json version");
    EXPECT_EQ(run.exitCode, 4);  // the third device does not answer
    ASSERT_EQ(run.lines.size(), 3u);
    EXPECT_EQ(
        run.lines[0],
        "{\"device\":\"127.0.8.101\",\"command\":\"version\",\"result\":\"success\",\"exit\":0,"
        "\"status\":0,\"message\":\"version V1.1 date 2026-12-01\",\"version\":\"V1.1\","
        "\"date\":\"2026-12-01\"}");
    EXPECT_NE(run.lines[1].find("\"version\":\"V2.2\""), std::string::npos);
    EXPECT_EQ(run.lines[2],
              "{\"device\":\"127.0.8.103\",\"command\":\"version\",\"result\":\"no answer\","
              "\"exit\":4,\"message\":\"cannot connect to the update server\"}");
}

TEST(Kestctl, UpgradeSendsTheSamePackageToEveryDevice) {
    TempDir dir;
    const std::string package = dir.file("pkg.tar");
    const std::string bytes = makeTar(
        {{"upinfo.txt", "version=V7\r\nfiletype=2\r\n"}, {"app.bin", std::string(3 << 20, 'x')}});
    writeFile(package, bytes);
    auto ok = device("127.0.8.104", 0);
    auto same = device("127.0.8.105", -1);

    // Without --yes and without a terminal nothing is sent.
    CtlRun run = kestctl("--device 127.0.8.104 upgrade " + package);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_FALSE(ok->waitForRequests(1, 100ms));

    run = kestctl("--device 127.0.8.104 --device 127.0.8.105 --lang zh upgrade " + package +
                  " --yes");
    EXPECT_EQ(run.exitCode, 3);
    EXPECT_EQ(run.lines,
              (std::vector<std::string>{"127.0.8.104: 升级成功!", "127.0.8.105: 存在相同版本!"}));
    const uint32_t crc = static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0),
                                                     reinterpret_cast<const Bytef*>(bytes.data()),
                                                     static_cast<uInt>(bytes.size())));
    for (auto* server : {ok.get(), same.get()}) {
        ASSERT_TRUE(server->waitForRequests(1, 5000ms));
        const MaintenanceRequestLog logged = server->requests()[0];
        EXPECT_EQ(logged.version, "V7");
        EXPECT_EQ(logged.filetype, 2);
        EXPECT_EQ(logged.filename, "update.tar");
        EXPECT_EQ(logged.packageReceived, bytes.size());
        EXPECT_EQ(logged.packageCrc, crc);
    }

    writeFile(dir.file("x.bin"), "x");
    EXPECT_EQ(kestctl("--device 127.0.8.104 upgrade " + dir.file("x.bin") + " --yes").exitCode, 2);
}

TEST(Kestctl, FileServerCommandsAndTheirExitCodes) {
    auto live = device("127.0.8.106", 0);
    struct Case {
        std::string args;
        int exitCode;
        std::string line;
    };
    const Case cases[] = {
        {"--device 127.0.8.106 reboot", 0, "127.0.8.106: device reboot success!"},
        {"--device 127.0.8.106 background", 0,
         "127.0.8.106: divice get backgroud pictrue success!"},
        {"--device 127.0.8.106 set-ip 192.168.1.50", 0, "127.0.8.106: device IP set success!"},
        {"--device 127.0.8.106 interface 10.0.0.5 9000", 0,
         "127.0.8.106: device inter info success!"},
        {"--device 127.0.8.107 --timeout 1 reboot", 4,
         "127.0.8.107: cannot connect to the file server"},
    };
    for (const Case& c : cases) {
        const CtlRun run = kestctl(c.args);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.args;
        EXPECT_EQ(run.lines, std::vector<std::string>{c.line}) << c.args;
    }
    ASSERT_TRUE(live->waitForRequests(4, 5000ms));
    const auto logged = live->requests();
    EXPECT_EQ(logged[0].code, 1u);
    EXPECT_EQ(logged[1].code, 5u);
    EXPECT_EQ(logged[2].text, "192.168.1.50");
    EXPECT_EQ(logged[3].text, "10.0.0.5");
    EXPECT_EQ(logged[3].value, 9000u);

    live->setAnswer(true, 9);
    CtlRun run = kestctl("--device 127.0.8.106 reboot");
    EXPECT_EQ(run.exitCode, 5);
    EXPECT_EQ(run.lines, std::vector<std::string>{"127.0.8.106: unexpected status 9"});
    live->setAnswer(false, 0);
    run = kestctl("--device 127.0.8.106 --timeout 1 reboot");
    EXPECT_EQ(run.exitCode, 4);
    EXPECT_EQ(run.lines, std::vector<std::string>{"127.0.8.106: no answer from the device"});

    EXPECT_EQ(kestctl("--help").exitCode, 0);
    EXPECT_EQ(kestctl("--device 127.0.8.106 reboot now").exitCode, 2);
}

TEST(Kestctl, SwipeThroughTheGateLinkageLibrary) {
    GateServerOptions options;
    options.address = "127.0.8.108";
    options.pushIntervalMs = 50;  // pushes come before and after the response
    GateServer gate(options);
    ASSERT_TRUE(gate.start());
    const CtlRun run = kestctl("--device 127.0.8.108 --json swipe reverse");
    EXPECT_EQ(run.exitCode, 0);
    ASSERT_EQ(run.lines.size(), 1u);
    EXPECT_NE(run.lines[0].find("\"result\":\"success\""), std::string::npos) << run.lines[0];
    // The response echoes the authorisation: code 0x60 (byte 4), 1 (byte 5), reverse 2 (byte 11).
    EXPECT_NE(run.lines[0].find("\"response\":\"7E 00 01 00 60 01 00 00 00 00 00 02"),
              std::string::npos)
        << run.lines[0];
    ASSERT_TRUE(gate.waitFor([&] { return gate.countReceived(0x60) == 1; }, 5000ms));
    EXPECT_EQ(gate.received()[0].frame[5], 1);
    EXPECT_EQ(gate.received()[0].frame[11], 2);
    gate.stop();

    EXPECT_EQ(kestctl("--device 127.0.8.109 --timeout 1 swipe cancel").exitCode, 4);
}

TEST(Kestctl, RecordWritesTheCollectionStreamLikeTheMenu) {
    CollectionServerOptions options;
    options.address = "127.0.8.110";
    options.fps = 20;
    options.payloadBytes = 1000;
    CollectionServer server(options);
    ASSERT_TRUE(server.start());
    TempDir dir;
    const CtlRun run =
        kestctl("--device 127.0.8.110 --device 127.0.8.111 --json record --seconds 1 --out " +
                dir.file("out"));
    server.stop();
    EXPECT_EQ(run.exitCode, 4);  // nothing from the second device
    ASSERT_EQ(run.lines.size(), 2u);
    EXPECT_NE(run.lines[0].find("\"result\":\"success\""), std::string::npos) << run.lines[0];
    EXPECT_NE(run.lines[0].find("\"files\":\"1\""), std::string::npos) << run.lines[0];
    EXPECT_NE(run.lines[1].find(
                  "\"device\":\"127.0.8.111\",\"command\":\"record\",\"result\":\"no answer\""),
              std::string::npos)
        << run.lines[1];
    // The folder of the device holds whole records of the payload size.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file("out/127.0.8.110"))) {
        ++files;
        RecordFileContents contents;
        ASSERT_TRUE(decodeRecordFile(readFile(entry.path().string()), contents));
        ASSERT_FALSE(contents.records.empty());
        EXPECT_EQ(contents.trailingBytes, 0u);
        const std::string reported =
            "\"records\":\"" + std::to_string(contents.records.size()) + "\"";
        EXPECT_NE(run.lines[0].find(reported), std::string::npos) << run.lines[0];
    }
    EXPECT_EQ(files, 1);
}

}  // namespace
