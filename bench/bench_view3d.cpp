// Frames per second the 3D view draws under Xvfb (Mesa's software renderer):
// each round hands the view a new scene frame, as the 3D worker does, and
// waits until it is drawn. Run it on an X display:
//   xvfb-run -a -s "-screen 0 1280x1024x24" build/bench/bench_view3d
// The baseline in the same run is an empty view (grid and axes only).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <QApplication>
#include <QCoreApplication>
#include <memory>

#include "Scene.h"
#include "ui/View3dWidget.h"

namespace {

double minOf(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}
double maxOf(const std::vector<double>& v) {
    return *std::max_element(v.begin(), v.end());
}

void drawFrames(benchmark::State& state, bool withCloud) {
    auto share = std::make_shared<Cloud3dShare>();
    View3dWidget view(share, nullptr);
    view.resize(640, 480);  // the size of control 1004
    view.show();
    QCoreApplication::processEvents();
    scene::Scene scene(11);
    scene::Frame frame;
    std::vector<ColoredPoint> cloud;
    uint64_t n = 0;
    const uint64_t before = view.framesDrawn();
    for (auto _ : state) {
        if (withCloud) {
            scene.frame(n++, frame);
            ProcessCloud(frame.points.data(), frame.points.size(), frame.areas, cloud);
            {
                std::lock_guard<std::mutex> lock(share->m_3dMutex);
                share->m_3dColored.swap(cloud);
            }
            share->m_3dNew = true;
            view.takeLatestCloud();
        }
        view.repaint();  // draws now, on this (the GUI) thread
        QCoreApplication::processEvents();
    }
    state.counters["fps"] = benchmark::Counter(static_cast<double>(view.framesDrawn() - before),
                                               benchmark::Counter::kIsRate);
}

void BM_View3dDrawsSceneFrames(benchmark::State& state) {
    drawFrames(state, true);
}
void BM_View3dEmptyBaseline(benchmark::State& state) {
    drawFrames(state, false);
}
BENCHMARK(BM_View3dDrawsSceneFrames)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ComputeStatistics("min", minOf)
    ->ComputeStatistics("max", maxOf);
BENCHMARK(BM_View3dEmptyBaseline)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ComputeStatistics("min", minOf)
    ->ComputeStatistics("max", maxOf);

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "xcb", 0);
    QApplication app(argc, argv);
    ::benchmark::Initialize(&argc, argv);
    ::benchmark::RunSpecifiedBenchmarks();
    ::benchmark::Shutdown();
    return 0;
}
