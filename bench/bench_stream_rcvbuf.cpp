// The stream socket's receive buffer on this kernel: frames per second and
// frame latency with the kernel's own auto-tuned buffer, and with SO_RCVBUF
// 3686400 set before connect (which the kernel caps at twice
// net.core.rmem_max and which ends its auto-tuning). A sender on loopback
// sends point frames of the device's size (38400 points), each stamped with
// its send time: back to back for the rate, paced at 15 frames per second
// for the latency, and paced with a receiver that stalls 300 ms every
// second, as a busy tool would, for the latency after a stall.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "stream/StreamFrame.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr const char* kAddress = "127.0.11.210";
constexpr uint16_t kPort = 58111;
constexpr size_t kPointLen = 38400 * kPointSize;
constexpr int kDeviceReceiveBuffer = 3686400;
// What a kernel with the default net.core.rmem_max grants for it (then doubled).
constexpr int kDefaultRmemMax = 212992;

std::vector<uint8_t> frameTemplate() {
    std::vector<uint8_t> points(kPointLen, 0x20);
    std::vector<uint8_t> out;
    appendPointFrame(out, points.data(), points.size(), nullptr, 0, AreaBlock{});
    return out;
}

struct Result {
    double fps = 0;
    double meanLatencyMs = 0;
    double p99LatencyMs = 0;
    int effectiveBuffer = 0;
};

// periodMs 0: back to back. stallEveryMs > 0: the receiver sleeps stallMs that often.
Result run(int bufferMode, int periodMs, int seconds, int stallEveryMs, int stallMs) {
    const int listener = ::socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    ::setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(kPort);
    inet_pton(AF_INET, kAddress, &addr.sin_addr);
    ::bind(listener, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    ::listen(listener, 1);

    std::atomic<bool> running{true};
    std::thread sender([&] {
        const int fd = ::accept(listener, nullptr, nullptr);
        std::vector<uint8_t> frame = frameTemplate();
        auto next = Clock::now();
        while (running) {
            const int64_t stamp = Clock::now().time_since_epoch().count();
            std::memcpy(frame.data() + kStreamHeaderSize + 4, &stamp, sizeof stamp);
            size_t sent = 0;
            while (sent < frame.size()) {
                const ssize_t n =
                    ::send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
                if (n <= 0) break;
                sent += static_cast<size_t>(n);
            }
            if (sent < frame.size()) break;
            if (periodMs > 0) {
                next += std::chrono::milliseconds(periodMs);
                std::this_thread::sleep_until(next);
            }
        }
        ::close(fd);
    });

    Result r;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (bufferMode != 0) {
        const int size = bufferMode == 1 ? kDeviceReceiveBuffer : kDefaultRmemMax;
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
    }
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        std::vector<uint8_t> buffer(frameTemplate().size());
        std::vector<double> latencies;
        const auto start = Clock::now();
        const auto end = start + std::chrono::seconds(seconds);
        auto nextStall = start + std::chrono::milliseconds(stallEveryMs);
        while (Clock::now() < end) {
            size_t got = 0;
            while (got < buffer.size()) {
                const ssize_t n = ::recv(fd, buffer.data() + got, buffer.size() - got, 0);
                if (n <= 0) break;
                got += static_cast<size_t>(n);
            }
            if (got < buffer.size()) break;
            int64_t stamp = 0;
            std::memcpy(&stamp, buffer.data() + kStreamHeaderSize + 4, sizeof stamp);
            latencies.push_back(std::chrono::duration<double, std::milli>(
                                    Clock::now().time_since_epoch() - Clock::duration(stamp))
                                    .count());
            if (stallEveryMs > 0 && Clock::now() >= nextStall) {
                std::this_thread::sleep_for(std::chrono::milliseconds(stallMs));
                nextStall += std::chrono::milliseconds(stallEveryMs);
            }
        }
        const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
        socklen_t len = sizeof r.effectiveBuffer;
        ::getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &r.effectiveBuffer, &len);
        r.fps = static_cast<double>(latencies.size()) / elapsed;
        if (!latencies.empty()) {
            double sum = 0;
            for (double l : latencies) sum += l;
            r.meanLatencyMs = sum / static_cast<double>(latencies.size());
            std::sort(latencies.begin(), latencies.end());
            r.p99LatencyMs = latencies[latencies.size() * 99 / 100];
        }
    }
    running = false;
    ::shutdown(fd, SHUT_RDWR);
    ::close(fd);
    sender.join();
    ::close(listener);
    return r;
}

void report(benchmark::State& state, const Result& r) {
    state.counters["fps"] = r.fps;
    state.counters["latency_ms"] = r.meanLatencyMs;
    state.counters["p99_ms"] = r.p99LatencyMs;
    state.counters["rcvbuf"] = r.effectiveBuffer;
}

void BM_BackToBack(benchmark::State& state) {
    for (auto _ : state) report(state, run(static_cast<int>(state.range(0)), 0, 2, 0, 0));
}
void BM_Paced15fps(benchmark::State& state) {
    for (auto _ : state) report(state, run(static_cast<int>(state.range(0)), 66, 3, 0, 0));
}
void BM_Paced15fpsWithStalls(benchmark::State& state) {
    for (auto _ : state) report(state, run(static_cast<int>(state.range(0)), 66, 4, 1000, 300));
}

// Argument: 0 = the kernel's auto-tuning, 1 = SO_RCVBUF 3686400 (granted in
// full where rmem_max allows), 2 = SO_RCVBUF as capped by a default rmem_max.
BENCHMARK(BM_BackToBack)->DenseRange(0, 2)->DenseRange(0, 2)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Paced15fps)->DenseRange(0, 2)->Iterations(1)->UseRealTime();
BENCHMARK(BM_Paced15fpsWithStalls)->DenseRange(0, 2)->Iterations(1)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
