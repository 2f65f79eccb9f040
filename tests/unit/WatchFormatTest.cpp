// kestctl watch: its lines and JSON objects for push frames, link changes and
// the summary, in both languages, its exit code, and its command line.
#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "cli/CliOptions.h"
#include "cli/WatchFormat.h"
#include "core/Flags.h"

namespace {

// 2026-12-31 23:30:05.042 UTC: already the next year in UTC+8.
constexpr int64_t kNewYearMs = 1798759805042;
// 2026-03-04 01:05:07.999 UTC.
constexpr int64_t kMarchMs = 1772586307999;

std::array<uint8_t, 16> push(uint8_t code, uint8_t door, uint8_t kind = 0x01) {
    return {0x7E, 0x00, 0x01, kind, 0x01, 0x00, code, 0x00,
            0x00, 0x00, 0x00, 0x00, door, 0xAA, 0xBB, 0x7E};
}

class LanguageScope {
public:
    explicit LanguageScope(bool chinese) : saved_(g_uiChinese.load()) { g_uiChinese = chinese; }
    ~LanguageScope() { g_uiChinese = saved_; }

private:
    bool saved_;
};

struct EventCase {
    const char* name;
    bool chinese;
    bool json;
    int64_t epochMs;
    std::array<uint8_t, 16> frame;
    const char* expected;
};

TEST(WatchFormat, EventLines) {
    const EventCase cases[] = {
        {"alarm alone", false, false, kMarchMs, push(0x01, 0xFF),
         "127.0.40.1: [2026-03-04 09:05:07.999]: weisui"},
        {"door alone", false, false, kMarchMs, push(0x00, 0x02),
         "127.0.40.1: [2026-03-04 09:05:07.999]: pausedoor"},
        {"alarm and door in one frame", false, false, kMarchMs, push(0x0B, 0x00),
         "127.0.40.1: [2026-03-04 09:05:07.999]: czyxtx opendoor"},
        {"alarm ended", false, false, kNewYearMs, push(0x99, 0xFF),
         "127.0.40.1: [2027-01-01 07:30:05.042]: finish"},
        {"last alarm of the table, Chinese", true, false, kMarchMs, push(0x0B, 0xFF),
         "127.0.40.1: [2026-03-04 09:05:07.999]: 出站意向通行"},
        {"alarm and door, Chinese", true, false, kMarchMs, push(0x07, 0x01),
         "127.0.40.1: [2026-03-04 09:05:07.999]: 授权超时 关门"},
        // Codes just past each table: the panel has no words, the line shows the codes.
        {"codes outside both tables", false, false, kMarchMs, push(0x0C, 0x03),
         "127.0.40.1: [2026-03-04 09:05:07.999]: code 0x0C door 0x03"},
        {"no alarm, no door change", false, false, kMarchMs, push(0x00, 0xFF),
         "127.0.40.1: [2026-03-04 09:05:07.999]: code 0x00 door 0xFF"},
        {"0x98 is not the end of an alarm", true, false, kMarchMs, push(0x98, 0xFF),
         "127.0.40.1: [2026-03-04 09:05:07.999]: code 0x98 door 0xFF"},
        {"json, alarm", false, true, kNewYearMs, push(0x01, 0xFF),
         "{\"type\":\"event\",\"device\":\"127.0.40.1\",\"time\":\"2027-01-01 07:30:05.042\","
         "\"code\":1,\"door\":255,\"text\":\"weisui\","
         "\"frame\":\"7E 00 01 01 01 00 01 00 00 00 00 00 FF AA BB 7E\"}"},
        {"json, Chinese words, unknown kind byte", true, true, kMarchMs, push(0x99, 0x00, 0x80),
         "{\"type\":\"event\",\"device\":\"127.0.40.1\",\"time\":\"2026-03-04 09:05:07.999\","
         "\"code\":153,\"door\":0,\"text\":\"告警结束 开门\","
         "\"frame\":\"7E 00 01 80 01 00 99 00 00 00 00 00 00 AA BB 7E\"}"},
        {"json, codes outside the tables", false, true, kMarchMs, push(0xEE, 0x77),
         "{\"type\":\"event\",\"device\":\"127.0.40.1\",\"time\":\"2026-03-04 09:05:07.999\","
         "\"code\":238,\"door\":119,\"text\":\"code 0xEE door 0x77\","
         "\"frame\":\"7E 00 01 01 01 00 EE 00 00 00 00 00 77 AA BB 7E\"}"},
    };
    for (const EventCase& c : cases) {
        LanguageScope language(c.chinese);
        EXPECT_EQ(eventLine("127.0.40.1", c.epochMs, c.frame, c.json), c.expected) << c.name;
    }
}

struct LinkCase {
    LinkChange change;
    bool chinese;
    bool json;
    const char* expected;
};

TEST(WatchFormat, LinkLines) {
    const LinkCase cases[] = {
        {LinkChange::Connected, false, false,
         "127.0.40.2: [2026-03-04 09:05:07.999]: link connected"},
        {LinkChange::Lost, false, false, "127.0.40.2: [2026-03-04 09:05:07.999]: link lost"},
        {LinkChange::Back, false, false, "127.0.40.2: [2026-03-04 09:05:07.999]: link back"},
        {LinkChange::Connected, true, false, "127.0.40.2: [2026-03-04 09:05:07.999]: 链接已建立"},
        {LinkChange::Lost, true, false, "127.0.40.2: [2026-03-04 09:05:07.999]: 链接断开"},
        {LinkChange::Back, true, false, "127.0.40.2: [2026-03-04 09:05:07.999]: 链接恢复"},
        // JSON keeps its English keys and words in either language.
        {LinkChange::Connected, true, true,
         "{\"type\":\"link\",\"device\":\"127.0.40.2\",\"time\":\"2026-03-04 09:05:07.999\","
         "\"link\":\"connected\"}"},
        {LinkChange::Lost, false, true,
         "{\"type\":\"link\",\"device\":\"127.0.40.2\",\"time\":\"2026-03-04 09:05:07.999\","
         "\"link\":\"lost\"}"},
        {LinkChange::Back, false, true,
         "{\"type\":\"link\",\"device\":\"127.0.40.2\",\"time\":\"2026-03-04 09:05:07.999\","
         "\"link\":\"back\"}"},
    };
    for (const LinkCase& c : cases)
        EXPECT_EQ(linkLine("127.0.40.2", kMarchMs, c.change, c.json, c.chinese), c.expected)
            << c.expected;
}

struct SummaryCase {
    WatchTally tally;
    bool chinese;
    bool json;
    const char* expected;
};

TEST(WatchFormat, SummaryLines) {
    const WatchTally busy{"127.0.40.3", 600, 2, 59912, true};
    const WatchTally single{"127.0.40.4", 1, 1, 999, true};
    const WatchTally never{"127.0.40.5", 0, 0, 0, false};
    const WatchTally exact{"127.0.40.6", 10, 0, 60000, true};
    const SummaryCase cases[] = {
        {busy, false, false, "127.0.40.3: 600 events, 2 link losses, connected 59.9 s"},
        // One of each, and 999 ms shown as 0.9 s (cut, never rounded up past what was).
        {single, false, false, "127.0.40.4: 1 event, 1 link loss, connected 0.9 s"},
        {never, false, false,
         "127.0.40.5: 0 events, 0 link losses, connected 0.0 s, never reached"},
        {never, true, false, "127.0.40.5: 0 个事件, 0 次断链, 连接 0.0 s, 从未连上"},
        {busy, false, true,
         "{\"type\":\"summary\",\"device\":\"127.0.40.3\",\"events\":600,\"link_losses\":2,"
         "\"connected_s\":59.912,\"reached\":true}"},
        {never, true, true,
         "{\"type\":\"summary\",\"device\":\"127.0.40.5\",\"events\":0,\"link_losses\":0,"
         "\"connected_s\":0.000,\"reached\":false}"},
        {exact, false, true,
         "{\"type\":\"summary\",\"device\":\"127.0.40.6\",\"events\":10,\"link_losses\":0,"
         "\"connected_s\":60.000,\"reached\":true}"},
    };
    for (const SummaryCase& c : cases)
        EXPECT_EQ(summaryLine(c.tally, c.json, c.chinese), c.expected) << c.expected;
}

TEST(WatchFormat, ExitCodeIsFourWhenAnyDeviceWasNeverReached) {
    const WatchTally reached{"127.0.40.7", 0, 3, 10, true};
    const WatchTally never{"127.0.40.8", 0, 0, 0, false};
    const struct {
        std::vector<WatchTally> tallies;
        int expected;
    } cases[] = {
        {{reached}, 0},
        {{reached, reached}, 0},  // losses do not matter once a device was
                                  // reached
        {{reached, never}, 4},
        {{never, reached}, 4},
        {{never}, 4},
    };
    for (const auto& c : cases) EXPECT_EQ(watchExitCode(c.tallies), c.expected);
}

ParseOutcome parse(std::vector<std::string> args, CliOptions& options, std::string& message) {
    args.insert(args.begin(), "kestctl");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    return parseCli(static_cast<int>(argv.size()), argv.data(), options, message);
}

TEST(WatchFormat, CommandLine) {
    const struct {
        std::vector<std::string> args;
        ParseOutcome outcome;
        int forSeconds;
        const char* messagePart;
    } cases[] = {
        {{"--device", "127.0.40.1", "watch"}, ParseOutcome::Run, 0, ""},
        {{"--device", "127.0.40.1", "--json", "watch", "--for", "60"}, ParseOutcome::Run, 60, ""},
        {{"watch", "--for", "604800", "--device", "127.0.40.1"}, ParseOutcome::Run, 604800, ""},
        {{"--device", "127.0.40.1", "watch", "--for", "604801"},
         ParseOutcome::Error,
         0,
         "--for takes seconds from 1 to 604800"},
        {{"--device", "127.0.40.1", "watch", "--for", "0"}, ParseOutcome::Error, 0, "--for"},
        {{"--device", "127.0.40.1", "watch", "--for", "1.5"}, ParseOutcome::Error, 0, "--for"},
        {{"--device", "127.0.40.1", "watch", "--for"}, ParseOutcome::Error, 0, "--for"},
        {{"watch"}, ParseOutcome::Error, 0, "no device given"},
        {{"--device", "127.0.40.1", "watch", "now"},
         ParseOutcome::Error,
         0,
         "watch takes no arguments"},
        {{"--device", "127.0.40.1", "watch", "--help"}, ParseOutcome::Help, 0, "--for S"},
    };
    for (const auto& c : cases) {
        CliOptions options;
        std::string message;
        const ParseOutcome outcome = parse(c.args, options, message);
        EXPECT_EQ(outcome, c.outcome) << c.args.back() << ": " << message;
        EXPECT_NE(message.find(c.messagePart), std::string::npos) << message;
        if (outcome == ParseOutcome::Run) {
            EXPECT_EQ(options.command, CliCommand::Watch);
            EXPECT_EQ(options.forSeconds, c.forSeconds);
        }
    }
}

}  // namespace
