// Records per second the recorder writes with its per-record flush, against
// a plain write of the same bytes (one fwrite per record, no flush) to the
// same folder in the same run. Target: the ratio at least 0.8.
// Also the count of one written file's records as `kestctl record` makes it
// after a recording (a walk over the record headers), against reading the
// file whole and decoding it, the count it made before; the second needs
// twice the file's size in memory, the first none.
// Rounds: 5; min, median and max of each are reported.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/Trace.h"
#include "stream/PointDataWriter.h"
#include "stream/RecordFileIndex.h"

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

// One file of kRecordsPerRound device frames in a fresh folder: its path.
std::string countedFile(const std::string& folder) {
    const std::vector<uint8_t> data(kRecordBytes, 0x5A);
    setTraceSink([](TraceStream, const std::string&) {});
    PointDataWriter writer;
    writer.Init(folder, "127.0.0.1");
    for (int i = 0; i < kRecordsPerRound; ++i) writer.Write(data.data(), data.size(), i);
    setTraceSink(nullptr);
    return writer.filePath;
}

void BM_CountByHeaderWalk(benchmark::State& state) {
    const std::string folder = benchFolder();
    const std::string path = countedFile(folder);
    uint64_t records = 0;
    for (auto _ : state) {
        RecordFileIndex index;
        scanRecordFile(path, index);
        records = index.records;
    }
    state.counters["records"] = static_cast<double>(records);
    std::filesystem::remove_all(folder);
}

void BM_CountByReadingWhole(benchmark::State& state) {
    const std::string folder = benchFolder();
    const std::string path = countedFile(folder);
    size_t records = 0;
    for (auto _ : state) {
        std::ifstream in(path, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(in)),
                                std::istreambuf_iterator<char>());
        RecordFileContents contents;
        decodeRecordFile(bytes, contents);
        records = contents.records.size();
    }
    state.counters["records"] = static_cast<double>(records);
    std::filesystem::remove_all(folder);
}

// Every benchmark here: three writes a round, five rounds, min/median/max.
void fiveRounds(benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)
        ->Iterations(3)
        ->UseRealTime()
        ->Repetitions(5)
        ->ComputeStatistics("min", minOf)
        ->ComputeStatistics("max", maxOf);
}

BENCHMARK(BM_RecorderFlushPerRecord)->Apply(fiveRounds);
BENCHMARK(BM_PlainWrite)->Apply(fiveRounds);
BENCHMARK(BM_CountByHeaderWalk)->Apply(fiveRounds);
BENCHMARK(BM_CountByReadingWhole)->Apply(fiveRounds);

}  // namespace
BENCHMARK_MAIN();
