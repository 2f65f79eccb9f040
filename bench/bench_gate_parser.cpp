// The gate-linkage receive path (feedRecvData and the frame search) in MB/s:
// ordinary input (frames with some noise between them) and the worst case,
// garbage made entirely of 0x7E bytes, where every byte starts a candidate.
// Target: >= 500 MB/s in the worst case, and no loss on ordinary input.
#include <benchmark/benchmark.h>

#include <vector>

#include "DeviceClientTestAccess.h"
#include "KestSdk/DeviceClient.h"

namespace {

constexpr size_t kChunk = 1024;  // bytes per read, as the library receives them

std::vector<uint8_t> ordinaryStream() {
    std::vector<uint8_t> bytes;
    for (int i = 0; bytes.size() < (1 << 20); ++i) {
        const uint8_t frame[16] = {0x7E, 0x00, 0x01, 0x01, 0x01, 0x00, static_cast<uint8_t>(i),
                                   0,    0,    0,    0,    0,    0xFF, 0xAA,
                                   0xBB, 0x7E};
        bytes.insert(bytes.end(), frame, frame + 16);
        if (i % 7 == 0) bytes.insert(bytes.end(), {0x00, 0x7E, 0x55});  // noise
    }
    return bytes;
}

void feed(benchmark::State& state, const std::vector<uint8_t>& bytes) {
    DeviceClient client;
    int64_t frames = 0;
    client.setPushCallback([&](const GateFrame&, uint8_t, uint8_t, uint8_t, uint8_t, uint8_t,
                               uint8_t, uint8_t) { ++frames; });
    for (auto _ : state) {
        for (size_t at = 0; at < bytes.size(); at += kChunk)
            DeviceClientTestAccess::feedRecvData(client, bytes.data() + at,
                                                 std::min(kChunk, bytes.size() - at));
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes.size()) * state.iterations());
    state.counters["frames_per_pass"] = static_cast<double>(frames) / state.iterations();
}

void BM_GateParserOrdinary(benchmark::State& state) {
    static const std::vector<uint8_t> bytes = ordinaryStream();
    feed(state, bytes);
}
BENCHMARK(BM_GateParserOrdinary)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_GateParserAllMarkers(benchmark::State& state) {
    static const std::vector<uint8_t> bytes(1 << 20, 0x7E);
    feed(state, bytes);
}
BENCHMARK(BM_GateParserAllMarkers)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
