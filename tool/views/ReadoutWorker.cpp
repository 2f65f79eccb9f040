#include "views/ReadoutWorker.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <utility>
#include <vector>

#include "core/ControlIds.h"
#include "core/ControlSink.h"
#include "core/Flags.h"
#include "core/NumberText.h"
#include "core/ThreadName.h"
#include "core/ViewFrames.h"
#include "views/ReplayPlayer.h"
#include "views/ViewTiming.h"

namespace {

// Idle polls after the last frame with objects until the height is shown
// (about 0.9 s) and until the readout is cleared (about 4.8 s).
constexpr int kHeightAfterIdleTicks = 30;
constexpr int kClearAfterIdleTicks = 160;
constexpr int kVoteMinCount = 3;  // a height seen this often among the tallest wins
constexpr size_t kVoteCandidates = 3;
constexpr size_t kMaxLineChars = 127;

bool isObjectKind(int32_t kind) {
    return kind == -1 || kind == -3;
}

// Cuts text to at most maxChars characters without splitting a UTF-8 sequence.
void truncateChars(std::string& text, size_t maxChars) {
    size_t chars = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (chars == maxChars) {
            text.resize(i);
            return;
        }
        ++chars;
    }
}

std::string formatLine(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string formatLine(const char* format, ...) {
    char buffer[512];
    va_list args;
    va_start(args, format);
    vsnprintfC(buffer, sizeof buffer, format, args);
    va_end(args);
    std::string line(buffer);
    truncateChars(line, kMaxLineChars);
    return line;
}

double d(float v) {
    return static_cast<double>(v);
}

}  // namespace

void AddHeightVote(HeightVotes& votes, float heightMetres) {
    const float centimetres = heightMetres * 100.0f;
    const double key = std::trunc(static_cast<double>(centimetres) + 0.5);
    if (!(key >= std::numeric_limits<int32_t>::min() && key <= std::numeric_limits<int32_t>::max()))
        return;
    ++votes[static_cast<int32_t>(key)];
}

float EstimateHeight(const HeightVotes& votes) {
    if (votes.empty()) return 0.0f;
    // Tallest first.
    std::vector<std::pair<int32_t, int32_t>> entries(votes.rbegin(), votes.rend());
    const size_t firstFew = std::min(entries.size(), kVoteCandidates);
    for (size_t i = 0; i < firstFew; ++i) {
        if (entries[i].second >= kVoteMinCount)
            return static_cast<float>(entries[i].first) / 100.0f;
    }
    // The smallest height is most likely a bent or partly seen person.
    if (entries.size() >= 2) entries.pop_back();
    std::stable_sort(entries.begin(), entries.end(),
                     [](const auto& a, const auto& b) { return a.second > b.second; });
    const size_t used = std::min(entries.size(), kVoteCandidates);
    int64_t sum = 0;
    for (size_t i = 0; i < used; ++i) sum += entries[i].first;
    return static_cast<float>(sum) / static_cast<float>(used) / 100.0f;
}

std::string ReadoutLine(const ObjRecord& r) {
    if (r.kind >= 0) {
        if (g_uiChinese.load())
            return formatLine(
                "[%d][%d][人],区域[%d],坐标[%.02f %.02f][%.02f %.02f],身高[%.02f]米\r\n", r.index,
                r.kind, r.area, d(r.x1), d(r.y1), d(r.x2), d(r.y2), d(r.value));
        return formatLine("[%d][%d][person],area[%d],pos[%.02f %.02f][%.02f %.02f],hei[%.02f]m\r\n",
                          r.index, r.kind, r.area, d(r.x1), d(r.y1), d(r.x2), d(r.y2), d(r.value));
    }
    if (isObjectKind(r.kind))
        return formatLine("[%d][obj],area[%d],pos[%.02f %.02f][%.02f %.02f],v[%f]m3\r\n", r.kind,
                          r.area, d(r.x1), d(r.y1), d(r.x2), d(r.y2), d(r.value));
    return std::string();
}

std::string HeightLine(float heightMetres) {
    if (g_uiChinese.load()) return formatLine("输出身高[%.02f]米    \n", d(heightMetres));
    return formatLine("output height[%.02f]m    \n", d(heightMetres));
}

void RunReadoutWorker(ViewFrames& frames, ControlSink& sink) {
    nameThisThread("kest-readout");
    std::array<ObjRecord, kMaxObjRecords> records{};
    HeightVotes votes;
    bool haveData = false;
    bool heightShown = false;
    int idleTicks = 0;
    std::string text;
    bool replaying = false;

    while (!frames.stop.requested()) {
        // A recording holds no objects: while one plays the readout says so,
        // and what was counted of the live passage before is dropped.
        if (frames.m_replaying.load() != replaying) {
            replaying = !replaying;
            votes.clear();
            haveData = heightShown = false;
            idleTicks = 0;
            sink.setControlText(ids::kReadout, replaying ? replayReadoutLine() : std::string());
        }
        // (A live frame's objects handed over just before a replay began are
        // not shown over its line.)
        if (frames.m_objNew.exchange(0) != 0 && !replaying) {
            idleTicks = 0;
            haveData = true;
            int n = 0;
            {
                std::lock_guard<std::mutex> lock(frames.m_objMutex);
                n = std::clamp(frames.m_objCount, 0, kMaxObjRecords);
                std::copy_n(frames.m_objBuf.begin(), n, records.begin());
            }
            text.clear();
            for (int i = 0; i < n; ++i) {
                if (records[i].kind >= 0) AddHeightVote(votes, records[i].value);
                text += ReadoutLine(records[i]);
            }
            sink.setControlText(ids::kReadout, text);
            continue;  // look for the next frame at once
        }

        // Counting on past the clear threshold changes nothing, so stop there.
        if (!replaying && idleTicks < kClearAfterIdleTicks) ++idleTicks;
        if (haveData && idleTicks >= kHeightAfterIdleTicks) {
            haveData = false;
            heightShown = true;
            sink.setControlText(ids::kReadout, HeightLine(EstimateHeight(votes)));
            votes.clear();
        } else if (idleTicks >= kClearAfterIdleTicks && heightShown) {
            heightShown = false;
            sink.setControlText(ids::kReadout, std::string());
        }
        const auto next = std::chrono::steady_clock::now() + ViewTiming::ms(viewTiming().pollMs);
        if (!frames.stop.sleepUntil(next)) return;
    }
}
