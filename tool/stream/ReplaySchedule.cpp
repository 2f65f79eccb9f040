#include "stream/ReplaySchedule.h"

#include <cmath>
#include <utility>

int64_t replayGapMs(int64_t fromTime, int64_t toTime) {
    // Stamps come from a file: a difference that overflows is as good as
    // backwards (from far in the past) or a long gap.
    if (toTime <= fromTime) return 0;
    const uint64_t gap = static_cast<uint64_t>(toTime) - static_cast<uint64_t>(fromTime);
    return gap > static_cast<uint64_t>(kMaxReplayGapMs) ? kMaxReplayGapMs
                                                        : static_cast<int64_t>(gap);
}

ReplaySchedule::ReplaySchedule(size_t count, TimeOf timeOf)
    : m_count(count == 0 ? 1 : count), m_timeOf(std::move(timeOf)) {}

bool ReplaySchedule::play(int64_t nowMs) {
    bool moved = false;
    if (atEnd() && m_count > 1) {
        m_position = 0;
        moved = true;
    }
    m_playing = !atEnd();
    m_shownAtMs = nowMs;
    return moved;
}

bool ReplaySchedule::step(long delta) {
    m_playing = false;
    long target = static_cast<long>(m_position) + delta;
    if (target < 0) target = 0;
    if (target >= static_cast<long>(m_count)) target = static_cast<long>(m_count) - 1;
    const bool moved = static_cast<size_t>(target) != m_position;
    m_position = static_cast<size_t>(target);
    return moved;
}

bool ReplaySchedule::seek(size_t record, int64_t nowMs) {
    if (record >= m_count) record = m_count - 1;
    const bool moved = record != m_position;
    m_position = record;
    m_shownAtMs = nowMs;
    if (atEnd()) m_playing = false;
    return moved;
}

void ReplaySchedule::setSpeed(double speed) {
    double nearest = kReplaySpeeds[0];
    for (double offered : kReplaySpeeds)
        if (std::fabs(offered - speed) < std::fabs(nearest - speed)) nearest = offered;
    m_speed = nearest;
}

int64_t ReplaySchedule::nextDueMs() const {
    if (atEnd()) return m_shownAtMs;
    const int64_t gap = replayGapMs(m_timeOf(m_position), m_timeOf(m_position + 1));
    return m_shownAtMs + std::llround(static_cast<double>(gap) / m_speed);
}

bool ReplaySchedule::advance(int64_t nowMs) {
    if (!m_playing || atEnd()) return false;
    const int64_t due = nextDueMs();
    if (nowMs < due) return false;
    ++m_position;
    m_shownAtMs = nowMs - due > kReplayMaxLateMs ? nowMs : due;
    if (atEnd()) m_playing = false;
    return true;
}
