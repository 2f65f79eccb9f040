// Redraw of the registration top view for a 640 x 480 point set: the work
// behind every button of the dialog that changes an area (projection of the
// floor points and the five areas with their labels), and the heavier steps
// that also transform the points (rotation, zoom). Target: redraw below 10 ms,
// so that each press answers at once. The baseline is the projection alone.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <vector>

#include "RegistrationScene.h"
#include "core/Trace.h"
#include "registration/RegWorkbench.h"

namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr int kRounds = 7;

double minOf(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}
double maxOf(const std::vector<double>& v) {
    return *std::max_element(v.begin(), v.end());
}

// A workbench with the simulated point set, height confirmed and the default
// gate generated, on matrices of its own; traces go nowhere.
struct Bench {
    RegMatrix reg = FactoryRegMatrix();
    RegMatrix disp = FactoryRegMatrix();
    RegWorkbench work{reg, disp};

    const std::filesystem::path dumps =
        std::filesystem::temp_directory_path() / ("kest-bench-reg-" + std::to_string(::getpid()));

    Bench() {
        setTraceSink([](TraceStream, const std::string&) {});
        std::filesystem::create_directories(dumps);
        work.dumpDir = dumps.string();
        work.SetPointData(regscene::makePoints(kWidth, kHeight, 1), kWidth, kHeight);
        work.ConfirmHeight(2.8);
        work.ConfirmGate(1.4, 0.76);
    }
    ~Bench() {
        setTraceSink(nullptr);
        std::filesystem::remove_all(dumps);
    }
};

void BM_ProjectOnly(benchmark::State& state) {
    Bench b;
    for (auto _ : state) {
        cv::Mat image =
            ProjectRegView(b.work.topFloor(), b.work.geometry.topWindow, nullptr, nullptr);
        benchmark::DoNotOptimize(image.data);
    }
    state.counters["points"] = kWidth * kHeight;
}
BENCHMARK(BM_ProjectOnly)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRounds)
    ->ComputeStatistics("min", minOf)
    ->ComputeStatistics("max", maxOf)
    ->ReportAggregatesOnly(true);

// One adjust press: split, projection with areas, rectangles and labels.
void BM_RedrawTopWithAreas(benchmark::State& state) {
    Bench b;
    b.work.geometry.adjustMode = kAdjustGate;
    int i = 0;
    for (auto _ : state) {
        const cv::Mat& image =
            b.work.Adjust(++i % 2 ? RegAdjust::EnlargeLength : RegAdjust::ShrinkLength);
        benchmark::DoNotOptimize(image.data);
    }
}
BENCHMARK(BM_RedrawTopWithAreas)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRounds)
    ->ComputeStatistics("min", minOf)
    ->ComputeStatistics("max", maxOf)
    ->ReportAggregatesOnly(true);

// One zoom press: transform of all points, new window, projection, areas.
void BM_ZoomStep(benchmark::State& state) {
    Bench b;
    int i = 0;
    for (auto _ : state) {
        const cv::Mat& image = b.work.Zoom(++i % 2 ? -0.1 : 0.1);
        benchmark::DoNotOptimize(image.data);
    }
}
BENCHMARK(BM_ZoomStep)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRounds)
    ->ComputeStatistics("min", minOf)
    ->ComputeStatistics("max", maxOf)
    ->ReportAggregatesOnly(true);

// One rotation press, including the two point dumps it writes.
void BM_RotateStepWithDumps(benchmark::State& state) {
    Bench b;
    int i = 0;
    for (auto _ : state) {
        const cv::Mat& image = b.work.Rotate(++i % 2 ? -1.0f : 1.0f);
        benchmark::DoNotOptimize(image.data);
    }
}
BENCHMARK(BM_RotateStepWithDumps)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(kRounds)
    ->ComputeStatistics("min", minOf)
    ->ComputeStatistics("max", maxOf)
    ->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
