// Statistics of the stall probe: how late the GUI thread ran each tick of a
// timer. The ticks are grouped into periods (a second in the tool): when a
// tick arrives in a later period, the line of the period before is due. At the
// end come the open period's line and one summary line over every tick.
//
// Lines (times in seconds on the caller's clock, delays in milliseconds with
// one decimal, always with '.'):
//
//   stall 1765152012.000 max_ms=3.4 ticks=98
//   stall-summary ticks=5600 longest_ms=312.5 p99_ms=4.1
//
// A period in which no tick ran at all (the GUI thread was blocked for the
// whole of it) has no line: its stall shows in the line of the period in which
// the late tick finally ran. The 99th percentile is the nearest-rank one: the
// smallest delay that at least 99 % of the ticks do not exceed.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class StallStats {
public:
    // periodUs: length of a period in microseconds (1 s in the tool).
    explicit StallStats(int64_t periodUs = 1000000);

    // A tick that ran at atUs (microseconds on the caller's clock, never
    // decreasing) delayUs late (negative counts as on time). Returns the line
    // of the period that ended before this tick ("" while it is still open).
    std::string addTick(int64_t atUs, int64_t delayUs);
    // The open period's line (if any tick is in it) followed by the summary
    // line. Further ticks start over with a new period.
    std::string finish();

    // Ticks seen, the longest delay, and the nearest-rank percentile (0 < p
    // <= 100) of the delays, in microseconds; 0 when no tick has run.
    size_t ticks() const { return m_delays.size(); }
    int64_t longestUs() const { return m_longestUs; }
    int64_t percentileUs(int percent) const;

    // The two line formats on their own.
    static std::string periodLine(int64_t startUs, int64_t maxDelayUs, int ticks);
    static std::string summaryLine(size_t ticks, int64_t longestUs, int64_t p99Us);

private:
    std::string closePeriod();

    int64_t m_periodUs;
    bool m_open = false;  // a period has ticks that are not written yet
    int64_t m_periodIndex = 0;
    int64_t m_periodMaxUs = 0;
    int m_periodTicks = 0;
    int64_t m_longestUs = 0;
    // Every delay, in microseconds (4 bytes a tick: 1.4 MB an hour at 100
    // ticks a second), for an exact percentile at the end.
    std::vector<uint32_t> m_delays;
};
