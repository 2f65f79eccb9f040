// kestctl's command line and its output: which arguments run, which are
// refused with exit code 2, the JSON of a report and the progress bar.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ProcessLocale.h"
#include "TempFiles.h"
#include "cli/CliOptions.h"
#include "cli/CliReport.h"
#include "cli/Progress.h"
#include "cli/TextEscape.h"

namespace {

ParseOutcome parse(std::vector<std::string> args, CliOptions& options, std::string& message) {
    args.insert(args.begin(), "kestctl");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    return parseCli(static_cast<int>(argv.size()), argv.data(), options, message);
}

TEST(KestctlArgs, GoodCommandLines) {
    CliOptions o;
    std::string message;
    ASSERT_EQ(parse({"--device", "127.0.0.1", "--device", "10.0.0.2", "--jobs", "8", "--json",
                     "--lang", "zh", "--timeout", "3", "interface", "10.0.0.5", "70000"},
                    o, message),
              ParseOutcome::Run)
        << message;
    EXPECT_EQ(o.devices, (std::vector<std::string>{"127.0.0.1", "10.0.0.2"}));
    EXPECT_EQ(o.jobs, 8);
    EXPECT_TRUE(o.json);
    EXPECT_TRUE(o.chinese);
    EXPECT_EQ(o.timeoutSeconds, 3);
    EXPECT_EQ(o.command, CliCommand::Interface);
    EXPECT_EQ(o.address, "10.0.0.5");
    EXPECT_EQ(o.port, 70000);  // no range check: the device gets what was typed

    TempDir dir;
    writeFile(dir.file("devices"), "# station A\n127.0.0.2\n\n  127.0.0.3  # gate 3\r\n");
    CliOptions fromFile;
    ASSERT_EQ(
        parse({"--devices", dir.file("devices"), "upgrade", "pkg.tar", "--yes"}, fromFile, message),
        ParseOutcome::Run)
        << message;
    EXPECT_EQ(fromFile.devices, (std::vector<std::string>{"127.0.0.2", "127.0.0.3"}));
    EXPECT_EQ(fromFile.package, "pkg.tar");
    EXPECT_TRUE(fromFile.yes);
    EXPECT_EQ(fromFile.sendTimeoutSeconds, 0);  // the tool's own stall limit

    CliOptions slowDevice;
    ASSERT_EQ(parse({"--device", "127.0.0.1", "--timeout", "2", "--send-timeout", "120", "upgrade",
                     "pkg.tar"},
                    slowDevice, message),
              ParseOutcome::Run)
        << message;
    EXPECT_EQ(slowDevice.timeoutSeconds, 2);
    EXPECT_EQ(slowDevice.sendTimeoutSeconds, 120);

    CliOptions record;
    ASSERT_EQ(parse({"--device", "127.0.0.1", "record", "--seconds", "5", "--out", "/tmp/x"},
                    record, message),
              ParseOutcome::Run);
    EXPECT_EQ(record.seconds, 5);
    EXPECT_EQ(record.outDir, "/tmp/x");
}

TEST(KestctlArgs, RecordRangesOfExportPly) {
    const struct {
        const char* range;
        uint64_t first, last;  // last 0: to the end
    } cases[] = {{"2:4", 2, 4}, {"3", 3, 3}, {"5:", 5, 0}, {":7", 1, 7}, {"1:1", 1, 1}};
    for (const auto& c : cases) {
        CliOptions o;
        std::string message;
        ASSERT_EQ(parse({"export-ply", "rec", "--records", c.range, "--out", "d"}, o, message),
                  ParseOutcome::Run)
            << c.range << message;
        EXPECT_EQ(o.paths, std::vector<std::string>{"rec"});
        EXPECT_EQ(o.firstRecord, c.first) << c.range;
        EXPECT_EQ(o.lastRecord, c.last) << c.range;
    }
}

TEST(KestctlArgs, BadCommandLinesSayWhy) {
    TempDir dir;
    writeFile(dir.file("bad-devices"), "127.0.0.1\nnot-an-address\n");
    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const Case cases[] = {
        {{}, "no command"},
        {{"--device", "127.0.0.1"}, "no command"},
        {{"--device", "127.0.0.1", "explode"}, "unknown command explode"},
        {{"reboot"}, "no device"},
        {{"--device", "1.2.3", "reboot"}, "not an IPv4 address: 1.2.3"},
        {{"--device"}, "--device needs a value"},
        {{"--device", "127.0.0.1", "--jobs", "0", "reboot"}, "--jobs takes"},
        {{"--device", "127.0.0.1", "--lang", "fr", "reboot"}, "--lang takes"},
        {{"--device", "127.0.0.1", "--timeout", "x", "reboot"}, "--timeout takes"},
        {{"--device", "127.0.0.1", "--send-timeout", "0", "upgrade", "p"}, "--send-timeout takes"},
        {{"--device", "127.0.0.1", "--frobnicate", "reboot"}, "unknown option --frobnicate"},
        {{"--device", "127.0.0.1", "reboot", "now"}, "reboot takes no arguments"},
        {{"--device", "127.0.0.1", "upgrade"}, "upgrade takes one PACKAGE"},
        {{"--device", "127.0.0.1", "set-ip", "300.1.1.1"}, "set-ip takes"},
        {{"--device", "127.0.0.1", "interface", "10.0.0.5", "90x"}, "interface takes"},
        {{"--device", "127.0.0.1", "record"}, "record takes --seconds"},
        {{"--device", "127.0.0.1", "swipe", "sideways"}, "swipe takes forward, reverse or cancel"},
        {{"--devices", dir.file("bad-devices"), "reboot"},
         ":2: not an IPv4 address: not-an-address"},
        {{"--devices", dir.file("missing"), "reboot"}, "cannot read the devices file"},
        {{"info"}, "info takes one or more"},
        {{"--device", "127.0.0.1", "info", "a.bin"}, "info works on files and takes no device"},
        {{"export-ply", "a.bin", "b.bin"}, "export-ply takes one record file"},
        {{"export-ply", "a.bin", "--records", "0:3"}, "--records takes"},
        {{"export-ply", "a.bin", "--records", "5:2"}, "--records takes"},
        {{"export-ply", "a.bin", "--records", ":"}, "--records takes"},
        {{"export-ply", "a.bin", "--records", "1:x"}, "--records takes"},
        {{"export-ply", "a.bin", "--records", "-2"}, "--records takes"},
    };
    for (const Case& c : cases) {
        CliOptions o;
        std::string message;
        EXPECT_EQ(parse(c.args, o, message), ParseOutcome::Error) << c.says;
        EXPECT_NE(message.find(c.says), std::string::npos) << message;
    }
}

TEST(KestctlArgs, HelpForTheToolAndEachCommand) {
    CliOptions o;
    std::string message;
    EXPECT_EQ(parse({"--help"}, o, message), ParseOutcome::Help);
    EXPECT_NE(message.find("exit codes: 0 success, 2 bad input, 3 device refused, 4 no answer"),
              std::string::npos);
    EXPECT_EQ(parse({"swipe", "--help"}, o, message), ParseOutcome::Help);
    EXPECT_EQ(message.rfind("usage: kestctl --device ADDR swipe", 0), 0u) << message;
}

TEST(KestctlReport, TextJsonAndExitCodes) {
    const CommandResult refused{ExchangeEnd::Status, -1, false};
    DeviceReport r =
        exchangeReport("127.0.0.9", "reboot", refused, "device reboot fail!\n", true, false);
    EXPECT_EQ(r.exitCode, kExitRefused);
    EXPECT_EQ(reportLine(r, false), "127.0.0.9: device reboot fail!");
    EXPECT_EQ(reportLine(r, true),
              "{\"device\":\"127.0.0.9\",\"command\":\"reboot\",\"result\":\"refused\",\"exit\":3,"
              "\"status\":-1,\"message\":\"device reboot fail!\"}");

    const CommandResult odd{ExchangeEnd::Status, 7, false};
    EXPECT_EQ(exchangeReport("a", "reboot", odd, nullptr, true, true).message, "未知状态 7");
    EXPECT_EQ(exchangeReport("a", "reboot", odd, nullptr, true, true).exitCode, kExitUnexpected);
    const CommandResult silent{ExchangeEnd::NoStatus, 0, false};
    EXPECT_EQ(exchangeReport("a", "x", silent, nullptr, true, false).exitCode, kExitNoAnswer);
    const CommandResult unreachable{ExchangeEnd::ConnectFailed, 0, false};
    EXPECT_EQ(exchangeReport("a", "x", unreachable, nullptr, false, false).message,
              "cannot connect to the update server");

    DeviceReport fields;
    fields.device = "d";
    fields.command = "version";
    fields.message = "quote \" back \\ tab \t ctl \x01";
    fields.fields = {{"version", "V1"}};
    EXPECT_EQ(reportLine(fields, true),
              "{\"device\":\"d\",\"command\":\"version\",\"result\":\"success\",\"exit\":0,"
              "\"message\":\"quote \\\" back \\\\ tab \\t ctl \\u0001\",\"version\":\"V1\"}");
}

TEST(KestctlReport, FailuresAreNeverSuccess) {
    struct Case {
        const char* what;
        const char* command;
        CommandResult result;
        bool chinese;
        int exitCode;
        const char* message;
    };
    CommandResult cutUpgrade{ExchangeEnd::Status, 0, true};
    cutUpgrade.bytesSent = 1048576;
    cutUpgrade.bytesTotal = 52428816;
    CommandResult cutSilent = cutUpgrade;
    cutSilent.end = ExchangeEnd::NoStatus;
    CommandResult cutReboot{ExchangeEnd::Status, 0, true};
    cutReboot.bytesTotal = 4;
    CommandResult cutRecord{ExchangeEnd::Status, 0, false};
    cutRecord.recordCutShort = true;
    const Case cases[] = {
        {"package cut, then 0", "upgrade", cutUpgrade, false, kExitNoAnswer,
         "update package not sent whole (1048576 / 52428816 bytes sent)"},
        {"package cut, then silence", "upgrade", cutSilent, true, kExitNoAnswer,
         "升级文件未完整发送 (1048576 / 52428816 字节已发送)"},
        {"reboot cut, then 0", "reboot", cutReboot, false, kExitNoAnswer,
         "request not sent whole (0 / 4 bytes sent)"},
        {"version record cut", "version", cutRecord, false, kExitNoAnswer, "no complete answer"},
        {"version record cut zh", "version", cutRecord, true, kExitNoAnswer, "应答不完整"},
    };
    for (const Case& c : cases) {
        const DeviceReport r =
            exchangeReport("127.0.0.9", c.command, c.result, "升级成功!\n", false, c.chinese);
        EXPECT_EQ(r.exitCode, c.exitCode) << c.what;
        EXPECT_EQ(r.message, c.message) << c.what;
        EXPECT_EQ(std::string(resultWord(r.exitCode)), "no answer") << c.what;
    }
}

// Device texts in a report: any bytes in, valid UTF-8 JSON and a harmless
// terminal line out.
TEST(KestctlReport, DeviceTextsAreEscapedForJsonAndTerminal) {
    struct Case {
        const char* what;
        std::string text;
        const char* json;
        const char* terminal;
    };
    const Case cases[] = {
        {"plain and Chinese", "V1.2 版本", "V1.2 版本", "V1.2 版本"},
        {"colour escape", "\x1b[31mred", "\\u001b[31mred", "\\x1b[31mred"},
        {"DEL and unit separator", "a\x7f\x1f", "a\\u007f\\u001f", "a\\x7f\\x1f"},
        {"C1 control (CSI)",
         "\xc2\x9b"
         "2J",
         "\\u009b2J", "\\u009b2J"},
        {"last C1 and first printable above it", "\xc2\x9f\xc2\xa0", "\\u009f\xc2\xa0",
         "\\u009f\xc2\xa0"},
        {"lone 0xFF", "V\xff", "V\\ufffd", "V\\xff"},
        {"overlong slash", "\xc0\xaf", "\\ufffd\\ufffd", "\\xc0\\xaf"},
        {"surrogate", "\xed\xa0\x80", "\\ufffd\\ufffd\\ufffd", "\\xed\\xa0\\x80"},
        {"above U+10FFFF", "\xf4\x90\x80\x80", "\\ufffd\\ufffd\\ufffd\\ufffd",
         "\\xf4\\x90\\x80\\x80"},
        {"largest code point", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf", "\xf4\x8f\xbf\xbf"},
        {"sequence cut at the end", "ab\xe4\xb8", "ab\\ufffd\\ufffd", "ab\\xe4\\xb8"},
    };
    for (const Case& c : cases) {
        DeviceReport r;
        r.device = "d";
        r.command = "version";
        r.message = c.text;
        EXPECT_EQ(reportLine(r, true),
                  std::string("{\"device\":\"d\",\"command\":\"version\",\"result\":\"success\","
                              "\"exit\":0,\"message\":\"") +
                      c.json + "\"}")
            << c.what;
        EXPECT_EQ(reportLine(r, false), std::string("d: ") + c.terminal) << c.what;
    }
}

TEST(KestctlReport, PackageTextKeepsItsLinesOnTheTerminal) {
    EXPECT_EQ(terminalLines("version=V9\r\nfiletype=2\n\x1b[2J\r\n"),
              "version=V9\nfiletype=2\n\\x1b[2J\n");
    EXPECT_EQ(terminalLines("a\rb"), "a\\x0db");  // a lone carriage return is no line end
    EXPECT_EQ(terminalLines(""), "");
}

TEST(KestctlProgress, BarAndPercentSteps) {
    const uint64_t mb = 1 << 20;
    EXPECT_EQ(progressBar(128 * mb, 256 * mb, 2.0, 10),
              "[#####-----]  50%    128.0/256.0 MB    64.0 MB/s  0:02 left");
    {
        ProcessLocale comma(kCommaLocale);
        ASSERT_TRUE(comma.active()) << "run scripts/install-deps.sh";
        EXPECT_EQ(progressBar(128 * mb, 256 * mb, 2.0, 10),
                  "[#####-----]  50%    128.0/256.0 MB    64.0 MB/s  0:02 left");
    }
    EXPECT_EQ(progressBar(0, 256 * mb, 0.0, 4), "[----]   0%      0.0/256.0 MB");
    EXPECT_EQ(progressBar(10, 10, 1.0, 4).substr(0, 11), "[####] 100%");
    EXPECT_EQ(percentStep(0, 100), 0);
    EXPECT_EQ(percentStep(19, 100), 10);
    EXPECT_EQ(percentStep(100, 100), 100);
    EXPECT_EQ(percentStep(0, 0), 100);
}

}  // namespace
