// Time to project one device frame (38400 points) into the top view, and to
// render the whole picture with its overlay. Target: projection below 1 ms.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

#include "BenchFrame.h"
#include "Scene.h"
#include "core/Trace.h"
#include "views/BilinearStretch.h"
#include "views/TopView.h"

namespace {

void BM_ProjectTopView(benchmark::State& state) {
    const scene::Frame& f = benchFrame();
    auto view = std::make_unique<TopViewImage>();
    TopViewRects rects;
    const TopViewBounds b = TopViewBoundsForArea(f.areas);
    for (auto _ : state) {
        ProjectTopView(*view, f.points.data(), f.points.size(), kTopViewHeightRange, b.xMin, b.xMax,
                       b.yMin, b.yMax, static_cast<int>(f.objects.size()), f.objects.data(),
                       f.areas, rects);
        benchmark::DoNotOptimize(view->pixels.data());
        benchmark::ClobberMemory();
    }
    state.counters["points"] = static_cast<double>(f.points.size() / 12);
}
BENCHMARK(BM_ProjectTopView)->Unit(benchmark::kMicrosecond);

void BM_RenderTopViewWithOverlay(benchmark::State& state) {
    const scene::Frame& f = benchFrame();
    auto view = std::make_unique<TopViewImage>();
    TopViewRects rects;
    setTraceSink([](TraceStream, const std::string&) {});  // the per-object trace lines
    for (auto _ : state) {
        RenderTopView(*view, f.points.data(), f.points.size(), static_cast<int>(f.objects.size()),
                      f.objects.data(), f.areas, rects);
        benchmark::DoNotOptimize(view->pixels.data());
        benchmark::ClobberMemory();
    }
    setTraceSink(nullptr);
}
BENCHMARK(BM_RenderTopViewWithOverlay)->Unit(benchmark::kMicrosecond);

// The stretch of the top view into its 640 x 480 control: the tool's own
// against cv::resize, which gives the same bytes.
void BM_StretchToControl(benchmark::State& state) {
    cv::setNumThreads(1);
    cv::Mat src(kTopViewHeight, kTopViewWidth, CV_8UC3);
    cv::randu(src, 0, 255);
    cv::Mat dst;
    BilinearStretch stretch;
    for (auto _ : state) {
        if (state.range(0) == 0)
            cv::resize(src, dst, cv::Size(640, 480), 0, 0, cv::INTER_LINEAR);
        else
            stretch.apply(src, dst, cv::Size(640, 480));
        benchmark::DoNotOptimize(dst.data);
    }
    state.SetLabel(state.range(0) == 0 ? "cv::resize" : "BilinearStretch");
}
// Run with --benchmark_repetitions=7: the machine is shared, so the spread
// (min and max beside the median) says more than the mean.
void withSpread(benchmark::internal::Benchmark* b) {
    b->ComputeStatistics(
         "min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); })
        ->ComputeStatistics(
            "max",
            [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); })
        ->ReportAggregatesOnly(true)
        ->Unit(benchmark::kMicrosecond);
}

BENCHMARK(BM_StretchToControl)->Arg(0)->Arg(1)->Apply(withSpread);

// The same stretch written as 4 bytes a pixel (blue, green, red, 255) for a
// 32-bit screen format: cv::resize then cv::cvtColor, the tool's stretch then
// cv::cvtColor, and the tool's stretch straight into the 4-byte layout.
void BM_StretchToControlBgrx(benchmark::State& state) {
    cv::setNumThreads(1);
    cv::Mat src(kTopViewHeight, kTopViewWidth, CV_8UC3);
    cv::randu(src, 0, 255);
    cv::Mat scaled, dst;
    BilinearStretch stretch;
    const cv::Size size(640, 480);
    for (auto _ : state) {
        switch (state.range(0)) {
            case 0:
                cv::resize(src, scaled, size, 0, 0, cv::INTER_LINEAR);
                cv::cvtColor(scaled, dst, cv::COLOR_BGR2BGRA);
                break;
            case 1:
                stretch.apply(src, scaled, size);
                cv::cvtColor(scaled, dst, cv::COLOR_BGR2BGRA);
                break;
            default:
                stretch.applyToBgrx(src, dst, size);
        }
        benchmark::DoNotOptimize(dst.data);
    }
    const char* labels[] = {"cv::resize + cvtColor", "BilinearStretch + cvtColor",
                            "BilinearStretch::applyToBgrx"};
    state.SetLabel(labels[state.range(0)]);
}
BENCHMARK(BM_StretchToControlBgrx)->DenseRange(0, 2)->Apply(withSpread);

}  // namespace

BENCHMARK_MAIN();
