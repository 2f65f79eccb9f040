#include "views/ReplayPlayer.h"

#include <chrono>
#include <utility>

#include "core/Flags.h"
#include "core/FrameDistributor.h"
#include "core/ThreadName.h"
#include "core/Trace.h"
#include "core/Utc8Time.h"
#include "core/ViewFrames.h"
#include "views/StandardGateAreas.h"

namespace {

int64_t steadyNowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::chrono::steady_clock::time_point steadyAt(int64_t ms) {
    return std::chrono::steady_clock::time_point(std::chrono::milliseconds(ms));
}

// Raises or lowers the replay under the lock every hand-off to the views holds.
void setReplaying(ViewFrames& frames, bool replaying) {
    std::lock_guard<std::mutex> lock(frames.m_publishMutex);
    frames.m_replaying = replaying;
}

}  // namespace

ReplayTiming& replayTiming() {
    static ReplayTiming timing;
    return timing;
}

AreaBlock replayAreas(ViewFrames& frames) {
    std::lock_guard<std::mutex> lock(frames.m_areaMutex);
    return frames.m_haveLiveAreas ? frames.m_liveAreas : standardGateAreas();
}

std::string replayRefusalText(RecordPlaylist::Refusal refusal, const std::string& path) {
    switch (refusal) {
        case RecordPlaylist::Refusal::None:
            return std::string();
        case RecordPlaylist::Refusal::Unreadable:
            return std::string(uiText("无法读取：\n", "Cannot read:\n")) + path +
                   uiText("\n（文件或文件夹打不开或读不出）",
                          "\n(the file or folder cannot be opened or read)");
        case RecordPlaylist::Refusal::NotRecordFile:
            return std::string(uiText("不是数据记录文件：\n", "Not a record file:\n")) + path +
                   uiText("\n（文件头不是数据记录文件的文件头）",
                          "\n(its header is not the header of a record file)");
        case RecordPlaylist::Refusal::NoRecordFiles:
            return std::string(
                       uiText("文件夹中没有数据记录文件：\n", "No record file in the folder:\n")) +
                   path;
        case RecordPlaylist::Refusal::NoRecords:
            return std::string(uiText("没有一条完整的记录：\n", "Not one whole record in:\n")) +
                   path;
    }
    return std::string();
}

std::string replayPositionText(const ReplayState& state) {
    return streamTimestamp(state.time) + "  #" + std::to_string(state.record + 1) + " / " +
           std::to_string(state.count);
}

std::string replayReadoutLine() {
    return uiText("正在回放数据文件（记录中没有目标）\r\n",
                  "playing a recording (records hold no objects)\r\n");
}

void traceReplayOpened(const RecordPlaylist& playlist) {
    for (const std::string& path : playlist.skipped())
        tracef(uiText("回放：%s 不是数据记录文件，已跳过\n",
                      "replay: %s is not a record file, passed over\n"),
               path.c_str());
    for (const RecordPlaylist::File& file : playlist.files()) {
        const unsigned long long records = file.index.records;
        tracef(uiText("回放：%s：%llu 条记录\n", "replay: %s: %llu records\n"), file.path.c_str(),
               records);
        const unsigned long long torn = file.index.tornBytes();
        if (torn > 0)
            tracef(uiText("回放：%s：末尾 %llu 字节是不完整的记录，已略去\n",
                          "replay: %s: the last %llu bytes are a torn record, left out\n"),
                   file.path.c_str(), torn);
    }
}

ReplayPlayer::ReplayPlayer(std::unique_ptr<RecordPlaylist> playlist, ViewFrames& frames,
                           Report report)
    : m_playlist(std::move(playlist)),
      m_frames(frames),
      m_report(std::move(report)),
      m_schedule(m_playlist->size(),
                 [list = m_playlist.get()](size_t record) { return list->time(record); }) {
    setReplaying(m_frames, true);
    m_thread = std::thread([this] { run(); });
}

ReplayPlayer::~ReplayPlayer() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stop = true;
    }
    m_cond.notify_all();
    m_frames.m_pointBell.ring();  // a wait for the 2D view ends at once
    m_thread.join();
    setReplaying(m_frames, false);
}

void ReplayPlayer::play() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_schedule.play(steadyNowMs())) m_showPending = true;
    m_reportPending = true;
    m_cond.notify_all();
}

void ReplayPlayer::pause() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_schedule.pause();
    m_reportPending = true;
    m_cond.notify_all();
}

void ReplayPlayer::togglePlay() {
    bool playing = false;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        playing = m_schedule.playing();
    }
    playing ? pause() : play();
}

void ReplayPlayer::step(long delta) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_schedule.step(delta)) m_showPending = true;
    m_reportPending = true;
    m_cond.notify_all();
}

void ReplayPlayer::seek(size_t record) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_schedule.seek(record, steadyNowMs())) m_showPending = true;
    m_reportPending = true;
    m_cond.notify_all();
}

void ReplayPlayer::setSpeed(double speed) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_schedule.setSpeed(speed);
    m_reportPending = true;
    m_cond.notify_all();
}

ReplayState ReplayPlayer::state() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return stateLocked();
}

ReplayState ReplayPlayer::stateLocked() const {
    ReplayState s;
    s.record = m_schedule.position();
    s.count = m_schedule.count();
    s.time = m_playlist->time(s.record);
    s.playing = m_schedule.playing();
    s.speed = m_schedule.speed();
    return s;
}

void ReplayPlayer::run() {
    nameThisThread("kest-replay");
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stop) {
        if (m_schedule.advance(steadyNowMs())) m_showPending = true;
        if (m_showPending) {
            m_showPending = false;
            const size_t record = m_schedule.position();
            lock.unlock();
            const bool shown = show(record);
            lock.lock();
            if (!shown) m_schedule.pause();
            m_reportPending = true;
        }
        if (m_reportPending) {
            m_reportPending = false;
            const ReplayState now = stateLocked();
            lock.unlock();
            if (m_report) m_report(now);
            lock.lock();
            continue;  // a command may have come meanwhile
        }
        auto woken = [this] { return m_stop || m_showPending || m_reportPending; };
        if (m_schedule.playing() && !m_schedule.atEnd())
            m_cond.wait_until(lock, steadyAt(m_schedule.nextDueMs()), woken);
        else
            m_cond.wait(lock, woken);
    }
}

bool ReplayPlayer::show(size_t record) {
    std::shared_ptr<std::string> block;
    {
        std::lock_guard<std::mutex> lock(m_frames.m_pointMutex);
        for (const auto& candidate : m_pool)
            if (candidate.use_count() == 1) block = candidate;
    }
    if (!block) {
        block = std::make_shared<std::string>();
        m_pool.push_back(block);
    }
    if (!m_playlist->read(record, *block, kMaxReplayRecordBytes)) {
        tracef(uiText("回放：第 %zu 条记录读不出（%s 已改变或被删除）\n",
                      "replay: record %zu cannot be read (%s changed or removed)\n"),
               record + 1, m_playlist->fileOf(record).path.c_str());
        return false;
    }
    // The 2D view takes each record before the next one replaces it, as long
    // as it keeps up: every record is drawn.
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(replayTiming().viewTakeWaitMs.load());
    m_frames.m_pointBell.waitUntil(
        until, [this] { return m_frames.m_pointNew.load() == 0 || m_stop.load(); });
    if (m_stop) return true;
    PublishFrame(m_frames, FrameSource::Replay, block, nullptr, 0, replayAreas(m_frames));
    ++m_shown;
    return true;
}
