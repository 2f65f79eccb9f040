// A recording played back into the views: a thread of its own reads one
// record at a time from its file and hands its points to the views the way
// the frame distributor hands a live frame over (PublishFrame), paced by the
// records' time stamps (ReplaySchedule). While it runs the live frames are
// dropped; when it goes away they are drawn again.
//
// Records carry points only: no objects, and no areas. They are drawn within
// the areas of the newest frame the device sent, or those of a standard gate
// when none came (replayAreas).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "stream/CollectionFormat.h"
#include "stream/RecordPlaylist.h"
#include "stream/ReplaySchedule.h"
#include "stream/StreamRecords.h"

struct ViewFrames;

// Waits of the player, in one place; tests shorten them here.
struct ReplayTiming {
    // A record waits at most this long for the 2D view to take the record
    // before it, so that no record goes undrawn while the view keeps up, and a
    // view that is not drawing (not started yet) holds nothing up for long.
    std::atomic<int> viewTakeWaitMs{100};
};
ReplayTiming& replayTiming();

// The longest record drawn whole; a longer one (only a damaged file has one)
// is drawn with its first points up to this many bytes.
// That is the most a device frame carries.
constexpr size_t kMaxReplayRecordBytes = kMaxCollectionPayload;

// The areas a played-back record is drawn, clipped and exported within: those
// of the newest live frame, a standard gate's before any came.
AreaBlock replayAreas(ViewFrames& frames);

// Where the playing stands, as the player bar shows it.
struct ReplayState {
    size_t record = 0;  // the record shown, from 0
    size_t count = 0;
    int64_t time = 0;  // its stamp, milliseconds since 1970
    bool playing = false;
    double speed = 1.0;
};

// The box of a path that cannot be played, in the interface language: the
// path and why.
std::string replayRefusalText(RecordPlaylist::Refusal refusal, const std::string& path);
// The position text of the player bar: the record's time (UTC+8, as the trace
// prints it) and its number, "2025-03-04 09:05:07_042  #12 / 5001".
std::string replayPositionText(const ReplayState& state);
// The readout's line while a recording plays, in the interface language.
std::string replayReadoutLine();
// Trace lines about an opened recording: torn tails and passed-over files.
void traceReplayOpened(const RecordPlaylist& playlist);

class ReplayPlayer {
public:
    using Report = std::function<void(const ReplayState&)>;

    // Plays an opened playlist that holds records, paused on its first one,
    // which it shows at once. report runs on the player's thread after every
    // record shown and every change of the playing or the speed.
    ReplayPlayer(std::unique_ptr<RecordPlaylist> playlist, ViewFrames& frames, Report report);
    // Ends the thread; the live frames are drawn again.
    ~ReplayPlayer();
    ReplayPlayer(const ReplayPlayer&) = delete;
    ReplayPlayer& operator=(const ReplayPlayer&) = delete;

    void play();
    void pause();
    void togglePlay();
    void step(long delta);
    void seek(size_t record);
    void setSpeed(double speed);

    ReplayState state() const;
    const RecordPlaylist& playlist() const { return *m_playlist; }
    // Records handed to the views so far.
    size_t recordsShown() const { return m_shown.load(); }

private:
    void run();
    // Reads the record and hands it to the views; false when it cannot be read.
    bool show(size_t record);
    ReplayState stateLocked() const;

    std::unique_ptr<RecordPlaylist> m_playlist;
    ViewFrames& m_frames;
    Report m_report;

    mutable std::mutex m_mutex;
    std::condition_variable m_cond;
    ReplaySchedule m_schedule;
    bool m_showPending = true;  // the first record, at once
    bool m_reportPending = false;
    std::atomic<bool> m_stop{false};
    std::atomic<size_t> m_shown{0};
    // Blocks handed to the views; one only the pool holds is filled again.
    std::vector<std::shared_ptr<std::string>> m_pool;
    std::thread m_thread;
};
