// Time to project one device frame (38400 points) into the top view, and to
// render the whole picture with its overlay. Target: projection below 1 ms.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>

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
BENCHMARK(BM_StretchToControl)
    ->Arg(0)
    ->Arg(1)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
