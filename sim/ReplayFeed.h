// A recording played back by the simulated device: every record of a record
// file, or of a folder of them, in turn and round again at the end. The stream
// port sends each record's data as the point block of a frame with no objects
// and the standard gate's areas; the collection port sends it as the payload
// of a frame stamped with the record's time, so that recording the replay
// gives the same records again.
//
// Frames follow the recorded time stamps as the tool's player paces them
// (replayGapMs): the pause between two records is the gap between their
// stamps, a gap longer than 2 s shortened to 2 s (a recording stopped and
// started again, or a device that went quiet). Records are read from their
// files one at a time as they are sent.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "FrameFeed.h"
#include "stream/RecordPlaylist.h"

// Waits of the simulator's replay, in one place; tests shorten them here.
struct ReplayFeedTiming {
    // From the last record back to the first: one frame of the device at
    // its 10 frames per second.
    std::atomic<int> loopGapMs{100};
};
ReplayFeedTiming& replayFeedTiming();

// Records longer than a device frame carries are passed over.
constexpr uint64_t kLongestSentRecord = kMaxCollectionPayload;

class ReplayFeed : public FrameFeed {
public:
    // Opens the record file or the folder of record files at path. False
    // when there is nothing to play, with the reason in refusal(). Torn
    // tails, files of a folder that are no record files and records too long
    // to send are logged here, once.
    bool open(const std::string& path);
    const std::string& refusal() const { return refusal_; }

    // Records played in one round.
    size_t records() const { return played_.size(); }
    // Time stamp of frame n's record.
    int64_t timeOf(uint64_t n) const;

    bool streamFrame(uint64_t n, StreamFrameParts& out) override;
    bool collectionFrame(uint64_t n, std::vector<uint8_t>& payload, int64_t& time) override;
    std::chrono::microseconds pauseAfter(uint64_t n) const override;
    std::string pace() const override { return "the recording's time stamps"; }

private:
    // Reads the record of frame n; logs the first record that cannot be read.
    bool read(uint64_t n, std::vector<uint8_t>& data);
    size_t recordOf(uint64_t n) const { return played_[n % played_.size()]; }

    RecordPlaylist playlist_;
    std::vector<size_t> played_;  // playlist numbers of the records sent, in order
    std::string refusal_;
    std::mutex readMutex_;  // the playlist reads through one file handle
    std::atomic<bool> readFailureLogged_{false};
};
