// The stall probe's statistics: which second a tick counts in, the longest
// delay of each second, the nearest-rank 99th percentile at its edges, and
// the two line formats (with '.' under a comma locale too).
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "ProcessLocale.h"
#include "core/StallStats.h"

namespace {

struct Tick {
    int64_t atUs;
    int64_t delayUs;
};

struct LinesCase {
    const char* name;
    int64_t periodUs;
    std::vector<Tick> ticks;
    // What the ticks returned, in order, then what finish() returned.
    std::string lines;
};

std::string run(const LinesCase& c) {
    StallStats stats(c.periodUs);
    std::string out;
    for (const Tick& t : c.ticks) out += stats.addTick(t.atUs, t.delayUs);
    return out + stats.finish();
}

const std::vector<LinesCase> kLinesCases = {
    {"NoTicks", 1000000, {}, "stall-summary ticks=0 longest_ms=0.0 p99_ms=0.0\n"},
    {"OneSecondKeepsItsLongest",
     1000000,
     {{10000, 1000}, {500000, 3000}, {990000, 2000}},
     "stall 0.000 max_ms=3.0 ticks=3\n"
     "stall-summary ticks=3 longest_ms=3.0 p99_ms=3.0\n"},
    // The last microsecond of a second is in it; the next one starts a new
    // second, whose line is due only when a tick of the one after arrives.
    {"SecondEdge",
     1000000,
     {{999999, 7000}, {1000000, 2000}, {1999999, 100}, {2000000, 0}},
     "stall 0.000 max_ms=7.0 ticks=1\n"
     "stall 1.000 max_ms=2.0 ticks=2\n"
     "stall 2.000 max_ms=0.0 ticks=1\n"
     "stall-summary ticks=4 longest_ms=7.0 p99_ms=7.0\n"},
    // Blocked through seconds 1 and 2: no lines for them, the late tick's
    // second carries the stall.
    {"BlockedSecondsHaveNoLine",
     1000000,
     {{500000, 0}, {3200000, 2690000}, {3210000, 0}},
     "stall 0.000 max_ms=0.0 ticks=1\n"
     "stall 3.000 max_ms=2690.0 ticks=2\n"
     "stall-summary ticks=3 longest_ms=2690.0 p99_ms=2690.0\n"},
    // Early ticks (a timer may run a little before its time) count as on time.
    {"EarlyIsOnTime",
     1000000,
     {{100, -800}},
     "stall 0.000 max_ms=0.0 ticks=1\nstall-summary ticks=1 longest_ms=0.0 p99_ms=0.0\n"},
    // One decimal, rounded half up from microseconds: 49.949 / 49.95 / 50.049.
    {"Rounding",
     1000000,
     {{0, 49949}, {1000000, 49950}, {2000000, 50049}},
     "stall 0.000 max_ms=49.9 ticks=1\n"
     "stall 1.000 max_ms=50.0 ticks=1\n"
     "stall 2.000 max_ms=50.0 ticks=1\n"
     "stall-summary ticks=3 longest_ms=50.0 p99_ms=50.0\n"},
    // Wall-clock times as the tool passes them, and a delay past 71 minutes
    // (more than 32 bits of microseconds) stays whole in the longest.
    {"EpochTimesAndHugeDelay",
     1000000,
     {{1765152012345678, 5000000000}},
     "stall 1765152012.000 max_ms=5000000.0 ticks=1\n"
     "stall-summary ticks=1 longest_ms=5000000.0 p99_ms=4294967.3\n"},
    // A shorter period (tests shorten the second) labels with milliseconds.
    {"ShortPeriod",
     100000,
     {{12345000, 1500}, {12401000, 800}},
     "stall 12.300 max_ms=1.5 ticks=1\n"
     "stall 12.400 max_ms=0.8 ticks=1\n"
     "stall-summary ticks=2 longest_ms=1.5 p99_ms=1.5\n"},
};

TEST(StallStats, LinesPerPeriodAndSummary) {
    for (const LinesCase& c : kLinesCases) EXPECT_EQ(run(c), c.lines) << c.name;
}

TEST(StallStats, LinesKeepTheirPointUnderACommaLocale) {
    ProcessLocale locale(kCommaLocale);
    ASSERT_TRUE(locale.active()) << "run scripts/install-deps.sh";
    for (const LinesCase& c : kLinesCases) EXPECT_EQ(run(c), c.lines) << c.name;
}

// Nearest rank: the ceil(0.99 n)-th smallest delay. With n up to 100 the 99th
// percentile ignores at most the one longest delay; from 101 on, one more.
TEST(StallStats, NinetyNinthPercentileAtItsEdges) {
    struct Case {
        int count;  // delays 1 ms, 2 ms, ... count ms, given in reverse
        int64_t p99Us;
    };
    const Case cases[] = {
        {1, 1000},     {2, 2000},     {99, 99000},   {100, 99000},
        {101, 100000}, {200, 198000}, {201, 199000},
    };
    for (const Case& c : cases) {
        StallStats stats;
        for (int i = c.count; i >= 1; --i) stats.addTick(0, int64_t{i} * 1000);
        EXPECT_EQ(stats.percentileUs(99), c.p99Us) << c.count << " ticks";
        EXPECT_EQ(stats.percentileUs(100), int64_t{c.count} * 1000) << c.count << " ticks";
        EXPECT_EQ(stats.longestUs(), int64_t{c.count} * 1000) << c.count << " ticks";
    }
}

TEST(StallStats, FinishStartsOver) {
    StallStats stats;
    stats.addTick(100, 4000);
    ASSERT_EQ(stats.finish(),
              "stall 0.000 max_ms=4.0 ticks=1\nstall-summary ticks=1 longest_ms=4.0 p99_ms=4.0\n");
    // The second finish has no period left to write; the summary covers all.
    EXPECT_EQ(stats.addTick(200, 1000), "");
    EXPECT_EQ(stats.finish(),
              "stall 0.000 max_ms=1.0 ticks=1\nstall-summary ticks=2 longest_ms=4.0 p99_ms=4.0\n");
}

}  // namespace
