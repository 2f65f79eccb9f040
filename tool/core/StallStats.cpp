#include "core/StallStats.h"

#include <algorithm>
#include <limits>

#include "core/NumberText.h"

namespace {

// Milliseconds with one decimal from microseconds, rounded half up, in
// integers: no floating-point rounding at the .x5 edges, no locale.
std::string millis(int64_t us) {
    const int64_t tenths = (std::max<int64_t>(us, 0) + 50) / 100;
    return formatC("%lld.%lld", static_cast<long long>(tenths / 10),
                   static_cast<long long>(tenths % 10));
}

// Floor division: a period index also for times before the clock's zero.
int64_t floorDiv(int64_t a, int64_t b) {
    const int64_t q = a / b;
    return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

}  // namespace

StallStats::StallStats(int64_t periodUs) : m_periodUs(periodUs > 0 ? periodUs : 1) {}

std::string StallStats::addTick(int64_t atUs, int64_t delayUs) {
    const int64_t delay = std::max<int64_t>(delayUs, 0);
    const int64_t index = floorDiv(atUs, m_periodUs);
    std::string line;
    if (m_open && index != m_periodIndex) line = closePeriod();
    if (!m_open) {
        m_open = true;
        m_periodIndex = index;
        m_periodMaxUs = 0;
        m_periodTicks = 0;
    }
    m_periodMaxUs = std::max(m_periodMaxUs, delay);
    ++m_periodTicks;
    m_longestUs = std::max(m_longestUs, delay);
    const int64_t stored = std::min<int64_t>(delay, std::numeric_limits<uint32_t>::max());
    m_delays.push_back(static_cast<uint32_t>(stored));
    return line;
}

std::string StallStats::closePeriod() {
    m_open = false;
    return periodLine(m_periodIndex * m_periodUs, m_periodMaxUs, m_periodTicks);
}

std::string StallStats::finish() {
    std::string lines;
    if (m_open) lines = closePeriod();
    return lines + summaryLine(ticks(), m_longestUs, percentileUs(99));
}

int64_t StallStats::percentileUs(int percent) const {
    if (m_delays.empty() || percent <= 0) return 0;
    const size_t n = m_delays.size();
    const size_t p = static_cast<size_t>(std::min(percent, 100));
    // Nearest rank: ceil(p * n / 100), counted from 1.
    const size_t rank = (p * n + 99) / 100;
    std::vector<uint32_t> sorted(m_delays);
    std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(rank - 1),
                     sorted.end());
    return sorted[rank - 1];
}

std::string StallStats::periodLine(int64_t startUs, int64_t maxDelayUs, int ticks) {
    const int64_t startMs = floorDiv(startUs, 1000);
    return formatC("stall %lld.%03lld max_ms=%s ticks=%d\n",
                   static_cast<long long>(floorDiv(startMs, 1000)),
                   static_cast<long long>(startMs - floorDiv(startMs, 1000) * 1000),
                   millis(maxDelayUs).c_str(), ticks);
}

std::string StallStats::summaryLine(size_t ticks, int64_t longestUs, int64_t p99Us) {
    return formatC("stall-summary ticks=%zu longest_ms=%s p99_ms=%s\n", ticks,
                   millis(longestUs).c_str(), millis(p99Us).c_str());
}
