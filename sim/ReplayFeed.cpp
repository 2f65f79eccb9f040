#include "ReplayFeed.h"

#include "SimLog.h"
#include "core/Utc8Time.h"
#include "stream/ReplaySchedule.h"
#include "views/StandardGateAreas.h"

namespace {

constexpr const char* kLogName = "replay";

std::string refusalText(RecordPlaylist::Refusal refusal, const std::string& path) {
    switch (refusal) {
        case RecordPlaylist::Refusal::Unreadable:
            return path + ": cannot be read";
        case RecordPlaylist::Refusal::NotRecordFile:
            return path + ": not a record file (its first 48 bytes are no record file header)";
        case RecordPlaylist::Refusal::NoRecordFiles:
            return path + ": no record file in this folder";
        case RecordPlaylist::Refusal::NoRecords:
            return path + ": not one whole record to play";
        case RecordPlaylist::Refusal::None:
            break;
    }
    return {};
}

}  // namespace

ReplayFeedTiming& replayFeedTiming() {
    static ReplayFeedTiming timing;
    return timing;
}

bool ReplayFeed::open(const std::string& path) {
    played_.clear();
    refusal_.clear();
    const RecordPlaylist::Refusal refused = playlist_.open(path);
    if (refused != RecordPlaylist::Refusal::None) {
        refusal_ = refusalText(refused, playlist_.refusedPath());
        return false;
    }
    for (const std::string& skipped : playlist_.skipped())
        simLog(kLogName, "%s: not a record file, passed over", skipped.c_str());
    for (const RecordPlaylist::File& file : playlist_.files()) {
        if (file.index.tornBytes() > 0)
            simLog(kLogName, "%s: torn record at the end, %llu bytes left out", file.path.c_str(),
                   static_cast<unsigned long long>(file.index.tornBytes()));
    }
    played_.reserve(playlist_.size());
    for (size_t i = 0; i < playlist_.size(); ++i) {
        if (playlist_.location(i).length <= kLongestSentRecord) played_.push_back(i);
    }
    if (played_.size() < playlist_.size()) {
        simLog(kLogName, "%zu records longer than %llu bytes passed over",
               playlist_.size() - played_.size(),
               static_cast<unsigned long long>(kLongestSentRecord));
    }
    if (played_.empty()) {
        refusal_ = path + ": no record short enough for a device frame";
        return false;
    }
    simLog(kLogName, "%zu records in %zu record file(s) at %s, %s .. %s, round and round",
           played_.size(), playlist_.files().size(), path.c_str(),
           streamTimestamp(timeOf(0)).c_str(), streamTimestamp(timeOf(played_.size() - 1)).c_str());
    return true;
}

int64_t ReplayFeed::timeOf(uint64_t n) const {
    return playlist_.time(recordOf(n));
}

bool ReplayFeed::read(uint64_t n, std::vector<uint8_t>& data) {
    const size_t record = recordOf(n);
    bool ok;
    {
        std::lock_guard<std::mutex> lock(readMutex_);
        ok = playlist_.read(record, data);
    }
    if (!ok && !readFailureLogged_.exchange(true)) {
        simLog(kLogName, "%s: record %zu can no longer be read; unreadable records are passed over",
               playlist_.fileOf(record).path.c_str(), record);
    }
    return ok;
}

bool ReplayFeed::streamFrame(uint64_t n, StreamFrameParts& out) {
    if (!read(n, out.points)) return false;
    out.objects.clear();  // a recording holds points only
    out.areas = standardGateAreas();
    return true;
}

bool ReplayFeed::collectionFrame(uint64_t n, std::vector<uint8_t>& payload, int64_t& time) {
    if (!read(n, payload)) return false;
    time = timeOf(n);
    return true;
}

std::chrono::microseconds ReplayFeed::pauseAfter(uint64_t n) const {
    const uint64_t i = n % played_.size();
    if (i + 1 == played_.size())
        return std::chrono::milliseconds(replayFeedTiming().loopGapMs.load());
    return std::chrono::milliseconds(replayGapMs(timeOf(i), timeOf(i + 1)));
}
