#include "SceneFeed.h"

#include "Scene.h"
#include "core/NumberText.h"
#include "core/Utc8Time.h"

namespace {

constexpr size_t kFrameNumberBytes = 8;
// The scene's clock when no rate is given (clients fed back to back).
constexpr double kDefaultSceneFps = 10.0;

}  // namespace

void collectionPayload(uint64_t seed, uint64_t n, size_t size, std::vector<uint8_t>& out) {
    thread_local scene::Frame frame;
    scene::Scene(seed).frame(n, frame);
    out.resize(size);
    for (size_t i = 0; i < size; ++i) {
        out[i] = i < kFrameNumberBytes ? static_cast<uint8_t>(n >> (8 * i))
                                       : frame.points[i % frame.points.size()];
    }
}

SceneFeed::SceneFeed(uint64_t seed, double fps, size_t collectBytes)
    : seed_(seed),
      fps_(fps > 0 ? fps : kDefaultSceneFps),
      period_(std::chrono::duration_cast<std::chrono::microseconds>(
          std::chrono::duration<double>(1.0 / fps_))),
      collectBytes_(collectBytes) {}

bool SceneFeed::streamFrame(uint64_t n, StreamFrameParts& out) {
    thread_local scene::Frame frame;
    scene::Scene(seed_).frame(n, frame);
    // Swapped, not copied: both buffers are kept for the next frame.
    out.points.swap(frame.points);
    out.objects.swap(frame.objects);
    out.areas = frame.areas;
    return true;
}

bool SceneFeed::collectionFrame(uint64_t n, std::vector<uint8_t>& payload, int64_t& time) {
    collectionPayload(seed_, n, collectBytes_, payload);
    time = nowEpochMs();
    return true;
}

std::chrono::microseconds SceneFeed::pauseAfter(uint64_t) const {
    return period_;
}

std::string SceneFeed::pace() const {
    return formatC("%.1f frames/s", fps_);
}
