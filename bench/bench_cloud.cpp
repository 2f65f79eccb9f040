// Time to process one device frame (38400 points) into the 3D view's coloured,
// clipped cloud, and to build the draw list from it. Target: ProcessCloud
// below 1 ms. ProcessCloud is measured with its plain code and with AVX2, on
// points already in cache and on points just written by another thread.
#include <benchmark/benchmark.h>

#include <cmath>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "BenchFrame.h"
#include "Scene.h"
#include "views/Cloud3d.h"
#include "views/Scene3d.h"

namespace {

double minOf(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}
double maxOf(const std::vector<double>& v) {
    return *std::max_element(v.begin(), v.end());
}

// Runs the cloud code with nothing beyond `most`; false (and the benchmark
// skipped) when this processor lacks it.
bool useInstructions(benchmark::State& state, CloudInstructions most) {
    if (most > CloudInstructionsAvailable()) {
        state.SkipWithError("this processor lacks the instructions");
        return false;
    }
    LimitCloudInstructions(most);
    return true;
}

// Warm: the same frame again and again, in cache from the call before.
void BM_ProcessCloud(benchmark::State& state, CloudInstructions most) {
    if (!useInstructions(state, most)) return;
    const scene::Frame& f = benchFrame();
    std::vector<ColoredPoint> out;
    for (auto _ : state) {
        ProcessCloud(f.points.data(), f.points.size(), f.areas, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    LimitCloudInstructions(CloudInstructions::Avx2);
    state.counters["points"] = static_cast<double>(out.size());
}

// As in the tool: before every call another thread writes the frame's points
// (the receive thread does), so they come from that core's cache or from
// memory. The rewrite is not timed.
class PointWriter {
public:
    explicit PointWriter(const std::vector<uint8_t>& source)
        : m_source(source), m_points(source.size()), m_thread([this] { run(); }) {}
    ~PointWriter() {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_quit = true;
        }
        m_wake.notify_all();
        m_thread.join();
    }
    // Returns once the other thread has written the points afresh.
    void rewrite() {
        std::unique_lock<std::mutex> lock(m_mutex);
        ++m_asked;
        m_wake.notify_all();
        m_wake.wait(lock, [this] { return m_written == m_asked; });
    }
    const std::vector<uint8_t>& points() const { return m_points; }

private:
    void run() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [this] { return m_quit || m_asked != m_written; });
            if (m_quit) return;
            const uint64_t asked = m_asked;
            lock.unlock();
            std::memcpy(m_points.data(), m_source.data(), m_source.size());
            lock.lock();
            m_written = asked;
            m_wake.notify_all();
        }
    }

    const std::vector<uint8_t>& m_source;
    std::vector<uint8_t> m_points;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    uint64_t m_asked = 0, m_written = 0;
    bool m_quit = false;
    std::thread m_thread;
};

void BM_ProcessCloudFresh(benchmark::State& state, CloudInstructions most) {
    if (!useInstructions(state, most)) return;
    const scene::Frame& f = benchFrame();
    PointWriter writer(f.points);
    std::vector<ColoredPoint> out;
    for (auto _ : state) {
        state.PauseTiming();
        writer.rewrite();
        state.ResumeTiming();
        ProcessCloud(writer.points().data(), writer.points().size(), f.areas, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    LimitCloudInstructions(CloudInstructions::Avx2);
    state.counters["points"] = static_cast<double>(out.size());
}

#define KEST_CLOUD_BENCH(fn, name, most)  \
    BENCHMARK_CAPTURE(fn, name, most)     \
        ->Unit(benchmark::kMicrosecond)   \
        ->UseRealTime()                   \
        ->Repetitions(7)                  \
        ->ComputeStatistics("min", minOf) \
        ->ComputeStatistics("max", maxOf)

KEST_CLOUD_BENCH(BM_ProcessCloud, plain, CloudInstructions::Plain);
KEST_CLOUD_BENCH(BM_ProcessCloud, avx2, CloudInstructions::Avx2);
KEST_CLOUD_BENCH(BM_ProcessCloudFresh, plain, CloudInstructions::Plain);
KEST_CLOUD_BENCH(BM_ProcessCloudFresh, avx2, CloudInstructions::Avx2);

void BM_BuildScene(benchmark::State& state) {
    const scene::Frame& f = benchFrame();
    std::vector<ColoredPoint> cloud;
    ProcessCloud(f.points.data(), f.points.size(), f.areas, cloud);
    std::vector<Point3> points;
    Scene3dDrawList list;
    Camera3d camera;
    for (auto _ : state) {
        VisiblePoints(cloud, points);
        BuildScene(camera, points, list);
        benchmark::DoNotOptimize(list.pointRgb.data());
    }
    state.counters["drawn"] = static_cast<double>(points.size());
}
BENCHMARK(BM_BuildScene)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ComputeStatistics("min", minOf)
    ->ComputeStatistics("max", maxOf);

}  // namespace
BENCHMARK_MAIN();
