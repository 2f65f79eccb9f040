// When each record of a recording is shown while it plays back: the records'
// own time stamps (milliseconds) set the pace, divided by the speed, and a
// gap longer than kMaxReplayGapMs (the passage was empty, or the recorder was
// stopped and started again) is played as that long. The schedule is only
// arithmetic on instants the caller passes in, so it is tested without
// clocks or threads; the player asks it what to show and when.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

constexpr int64_t kMaxReplayGapMs = 2000;
// The speeds offered, slowest first; 1 plays in the recorded time.
constexpr double kReplaySpeeds[] = {0.25, 0.5, 1.0, 2.0, 4.0};
constexpr size_t kReplaySpeedCount = sizeof kReplaySpeeds / sizeof kReplaySpeeds[0];
// A player that is late by more than this (the reads or the drawing could not
// keep up) times the records after from when it actually showed one, rather
// than rushing through the ones it missed.
constexpr int64_t kReplayMaxLateMs = 250;

// Milliseconds from the record stamped fromTime to the one stamped toTime at
// speed 1: the difference of the stamps, at most kMaxReplayGapMs, and 0 when
// the stamps go backwards.
int64_t replayGapMs(int64_t fromTime, int64_t toTime);

class ReplaySchedule {
public:
    using TimeOf = std::function<int64_t(size_t record)>;

    // count records (at least one), record i stamped timeOf(i). It starts
    // paused on the first record at speed 1.
    ReplaySchedule(size_t count, TimeOf timeOf);

    size_t count() const { return m_count; }
    size_t position() const { return m_position; }
    bool playing() const { return m_playing; }
    double speed() const { return m_speed; }
    bool atEnd() const { return m_position + 1 >= m_count; }

    // Plays on from the record shown, the next one due a paced gap after
    // now. On the last record it starts again from the first one (then true:
    // the record to show changed).
    bool play(int64_t nowMs);
    void pause() { m_playing = false; }
    // delta records on (negative: back), within the recording; pauses. True
    // when the record to show changed.
    bool step(long delta);
    // Goes to record (the last one for anything beyond), playing or paused
    // as before; true when the record to show changed.
    bool seek(size_t record, int64_t nowMs);
    // One of kReplaySpeeds (anything else is taken to the nearest within
    // them); the next record is then due at the new pace from when the one
    // shown was.
    void setSpeed(double speed);

    // While playing and not at the end: the instant the next record is due.
    int64_t nextDueMs() const;
    // Moves on to the next record when it is due by nowMs (true). Showing the
    // last record ends the playing.
    bool advance(int64_t nowMs);

private:
    size_t m_count;
    TimeOf m_timeOf;
    size_t m_position = 0;
    bool m_playing = false;
    double m_speed = 1.0;
    int64_t m_shownAtMs = 0;  // when the record at m_position was due
};
