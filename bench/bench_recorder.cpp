// Records per second the recorder writes with its per-record flush, against
// a plain write of the same bytes (one fwrite per record, no flush) to the
// same folder in the same run. Target: the ratio at least 0.8.
// Rounds: 5; min, median and max of each are reported.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/Trace.h"
#include "stream/PointDataWriter.h"

namespace {

constexpr size_t kRecordBytes = 460800;  // one device frame
constexpr int kRecordsPerRound = 200;

std::string benchFolder() {
    const auto dir = std::filesystem::current_path() / "bench-recorder-files/";
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

double minOf(const std::vector<double>& v) {
    return *std::min_element(v.begin(), v.end());
}
double maxOf(const std::vector<double>& v) {
    return *std::max_element(v.begin(), v.end());
}

void BM_RecorderFlushPerRecord(benchmark::State& state) {
    const std::vector<uint8_t> data(kRecordBytes, 0x5A);
    const std::string folder = benchFolder();
    setTraceSink([](TraceStream, const std::string&) {});
    for (auto _ : state) {
        PointDataWriter writer;
        writer.Init(folder, "127.0.0.1");
        for (int i = 0; i < kRecordsPerRound; ++i) writer.Write(data.data(), data.size(), i);
    }
    setTraceSink(nullptr);
    state.SetItemsProcessed(state.iterations() * kRecordsPerRound);
    state.SetBytesProcessed(state.iterations() * kRecordsPerRound * kRecordBytes);
    std::filesystem::remove_all(folder);
}

void BM_PlainWrite(benchmark::State& state) {
    const std::vector<uint8_t> data(kRecordBytes + 16, 0x5A);
    const std::string folder = benchFolder();
    int round = 0;
    for (auto _ : state) {
        const std::string path = folder + "plain" + std::to_string(round++) + ".bin";
        std::FILE* f = std::fopen(path.c_str(), "wb");
        for (int i = 0; i < kRecordsPerRound; ++i) std::fwrite(data.data(), 1, data.size(), f);
        std::fclose(f);
    }
    state.SetItemsProcessed(state.iterations() * kRecordsPerRound);
    state.SetBytesProcessed(state.iterations() * kRecordsPerRound * kRecordBytes);
    std::filesystem::remove_all(folder);
}

BENCHMARK(BM_RecorderFlushPerRecord)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime()
    ->Repetitions(5)
    ->ComputeStatistics("min", minOf)
    ->ComputeStatistics("max", maxOf);
BENCHMARK(BM_PlainWrite)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime()
    ->Repetitions(5)
    ->ComputeStatistics("min", minOf)
    ->ComputeStatistics("max", maxOf);

}  // namespace
BENCHMARK_MAIN();
