// Time to project one device frame (38400 points) into the top view, and to
// render the whole picture with its overlay. Target: projection below 1 ms.
#include <benchmark/benchmark.h>
#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <thread>
#include <vector>

#include "BenchFrame.h"
#include "Scene.h"
#include "core/Trace.h"
#include "views/BilinearStretch.h"
#include "views/TopView.h"

namespace {

// The machine is shared: repetitions report their spread as well as the median.
double minimum(const std::vector<double>& v) {
    return v.empty() ? 0.0 : *std::min_element(v.begin(), v.end());
}
double maximum(const std::vector<double>& v) {
    return v.empty() ? 0.0 : *std::max_element(v.begin(), v.end());
}

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
BENCHMARK(BM_ProjectTopView)
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("min", minimum)
    ->ComputeStatistics("max", maximum);

// The live path's conditions. The receiver thread has just written the frame's
// points on another core, and the 2D worker, woken at 10-25 frames a second,
// finds its own buffers gone from its caches after the other work in between.
// Before each timed call, a sweep of a buffer larger than this core's caches
// evicts the view's buffers, then a thread on the other core rewrites the
// points, so that every point line is read from the other core's cache.
class PointWriter {
public:
    PointWriter(std::vector<uint8_t>& points, const std::vector<uint8_t>& source)
        : points_(points), source_(source), thread_([this] { run(); }) {
        pthread_getaffinity_np(pthread_self(), sizeof(saved_), &saved_);
        if (std::thread::hardware_concurrency() >= 2) {
            pin(pthread_self(), 0);
            pin(thread_.native_handle(), 1);
        }
    }
    ~PointWriter() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
        }
        wake_.notify_all();
        thread_.join();
        pthread_setaffinity_np(pthread_self(), sizeof(saved_), &saved_);
    }
    // Rewrites the points on the writer thread and waits until it is done.
    void rewrite() {
        std::unique_lock<std::mutex> lock(mutex_);
        ++requested_;
        wake_.notify_all();
        wake_.wait(lock, [this] { return done_ == requested_; });
    }

private:
    static void pin(pthread_t thread, int cpu) {
        cpu_set_t set;
        CPU_ZERO(&set);
        CPU_SET(cpu, &set);
        pthread_setaffinity_np(thread, sizeof(set), &set);  // best effort
    }
    void run() {
        std::unique_lock<std::mutex> lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stop_ || done_ != requested_; });
            if (stop_) return;
            std::memcpy(points_.data(), source_.data(), source_.size());
            done_ = requested_;
            wake_.notify_all();
        }
    }

    std::vector<uint8_t>& points_;
    const std::vector<uint8_t>& source_;
    std::mutex mutex_;
    std::condition_variable wake_;
    uint64_t requested_ = 0, done_ = 0;
    bool stop_ = false;
    cpu_set_t saved_{};  // the benchmark thread's own cores, given back at the end
    std::thread thread_;
};

void BM_ProjectTopViewColdCaches(benchmark::State& state) {
    const scene::Frame& f = benchFrame();
    std::vector<uint8_t> points(f.points.size());
    auto view = std::make_unique<TopViewImage>();
    TopViewRects rects;
    const TopViewBounds b = TopViewBoundsForArea(f.areas);
    // Several times the second-level cache of a core (2 MB here).
    std::vector<uint64_t> sweep(8u << 20 >> 3, 1);
    uint64_t sum = 0;
    PointWriter writer(points, f.points);
    for (auto _ : state) {
        state.PauseTiming();
        for (size_t k = 0; k < sweep.size(); k += 8) sum += sweep[k]++;  // one word a line
        writer.rewrite();
        state.ResumeTiming();
        ProjectTopView(*view, points.data(), points.size(), kTopViewHeightRange, b.xMin, b.xMax,
                       b.yMin, b.yMax, static_cast<int>(f.objects.size()), f.objects.data(),
                       f.areas, rects);
        benchmark::DoNotOptimize(view->pixels.data());
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(sum);
    state.counters["points"] = static_cast<double>(f.points.size() / 12);
}
BENCHMARK(BM_ProjectTopViewColdCaches)
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(2000)
    ->ComputeStatistics("min", minimum)
    ->ComputeStatistics("max", maximum);

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
    b->ComputeStatistics("min", minimum)
        ->ComputeStatistics("max", maximum)
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
