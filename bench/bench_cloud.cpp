// Time to process one device frame (38400 points) into the 3D view's coloured,
// clipped cloud, and to build the draw list from it. Target: ProcessCloud
// below 1 ms.
#include <benchmark/benchmark.h>

#include <cmath>
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

void BM_ProcessCloud(benchmark::State& state) {
    const scene::Frame& f = benchFrame();
    std::vector<ColoredPoint> out;
    for (auto _ : state) {
        ProcessCloud(f.points.data(), f.points.size(), f.areas, out);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.counters["points"] = static_cast<double>(out.size());
}
BENCHMARK(BM_ProcessCloud)
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ComputeStatistics("min", minOf)
    ->ComputeStatistics("max", maxOf);

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
