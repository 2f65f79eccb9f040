// End-to-end stream throughput on loopback. The simulator's stream server
// sends the same point frame back to back; in the same run we measure
//   plain:  a bare recv loop draining the byte stream, and
//   tool:   the stream receiver with the frame distributor and the 2D worker
//           running (trace into a file, as with the console redirected),
// alternately, and report frames per second of both and their ratio
// (target >= 0.8). A third phase runs the receiver alone, for comparison.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "Scene.h"
#include "StreamServer.h"
#include "core/ControlSink.h"
#include "core/FrameDistributor.h"
#include "core/SharedState.h"
#include "core/Timing.h"
#include "core/Trace.h"
#include "core/ViewFrames.h"
#include "stream/StreamFrame.h"
#include "views/TopViewWorker.h"
#include "views/ViewTiming.h"

namespace {

constexpr const char* kAddress = "127.0.2.200";
constexpr std::chrono::milliseconds kPhase{1500};
constexpr int kReceiveBuffer = 3686400;  // as the tool's stream socket

std::vector<uint8_t> g_frameBytes;

const std::vector<uint8_t>& frameBytes() {
    if (g_frameBytes.empty()) {
        scene::Frame f;
        scene::Scene s(11);
        for (uint64_t n = 0; n < 400; ++n) {
            s.frame(n, f);
            if (!f.persons.empty() && std::fabs(f.persons[0].y) < 0.2f) break;
        }
        appendPointFrame(g_frameBytes, f.points.data(), f.points.size(), f.objects.data(),
                         static_cast<int>(f.objects.size()), f.areas);
    }
    return g_frameBytes;
}

std::unique_ptr<StreamServer> startServer() {
    SimOptions o;
    o.address = kAddress;
    o.fps = 0;  // back to back
    auto server = std::make_unique<StreamServer>(o);
    const std::vector<uint8_t> bytes = frameBytes();
    server->setFrameSource([bytes](uint64_t, std::vector<uint8_t>& out) { out = bytes; });
    return server->start() ? std::move(server) : nullptr;
}

// Shows nothing: the picture stops at the control, as if painted.
class NullSink : public ControlSink {
public:
    void setControlText(int, const std::string&) override {}
    void controlSize(int, int& w, int& h) const override { w = 640, h = 480; }
    void showImage(int, const cv::Mat&) override { ++shown; }
    std::atomic<int> shown{0};
};

struct Phase {
    double frames = 0;
    double seconds = 0;
    double pictures = 0;
    double fps() const { return seconds > 0 ? frames / seconds : 0; }
};

// A bare recv loop on its own connection to a fresh server.
Phase plainRecvPhase() {
    Phase phase;
    auto server = startServer();
    if (!server) return phase;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(kStreamServerPort);
    inet_pton(AF_INET, kAddress, &addr.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        std::vector<char> buffer(1 << 20);
        uint64_t bytes = 0;
        const auto start = std::chrono::steady_clock::now();
        const auto end = start + kPhase;
        while (std::chrono::steady_clock::now() < end) {
            const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
            if (n <= 0) break;
            bytes += static_cast<uint64_t>(n);
        }
        phase.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        phase.frames = static_cast<double>(bytes) / static_cast<double>(frameBytes().size());
    }
    ::close(fd);
    return phase;
}

// The tool's receiver, with the distributor and 2D worker unless receiverOnly
// (which shows how much of the cost lies downstream), on a fresh server;
// frames are counted from the receiver's per-frame trace line.
Phase toolPhase(bool receiverOnly) {
    Phase phase;
    FILE* traceFile = std::tmpfile();
    std::atomic<uint64_t> frames{0};
    setTraceSink([traceFile, &frames](TraceStream, const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), traceFile);
        if (text.find("] objnum = ") != std::string::npos) ++frames;
    });
    auto server = startServer();
    auto shared = std::make_unique<SharedState>();
    ViewFrames views;
    NullSink sink;
    std::thread distributor([&] {
        if (!receiverOnly) RunFrameDistributor(*shared, views);
    });
    std::thread view([&] {
        if (!receiverOnly) Run2DWorker(views, sink);
    });
    shared->OpenStream(kAddress);
    if (server && shared->ConnectStream()) {
        {
            std::lock_guard<std::mutex> lock(shared->streamMutex);
            shared->stream->SetStreamOptions();
        }
        const uint64_t before = frames.load();
        const auto start = std::chrono::steady_clock::now();
        std::this_thread::sleep_for(kPhase);
        phase.frames = static_cast<double>(frames.load() - before);
        phase.pictures = sink.shown.load();
        phase.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    server.reset();  // ends the connection, so the receiver stops promptly
    views.stop.request();
    distributor.join();
    view.join();
    shared.reset();
    setTraceSink(nullptr);
    std::fclose(traceFile);
    return phase;
}

// Each iteration measures both, one after the other, so that both see about
// the same load of the machine.
void BM_StreamPlainVsTool(benchmark::State& state) {
    viewTiming().topViewStartWaitMs = 0;
    shellTiming().streamReceiveTimeoutMs = 2000;
    // The receiver's first look at the connection comes after this wait
    // unless the login connected before it started.
    shellTiming().streamReconnectWaitMs = 10;
    Phase plain, tool, alone;
    for (auto _ : state) {
        const Phase p = plainRecvPhase();
        const Phase t = toolPhase(false);
        const Phase r = toolPhase(true);
        std::fprintf(stderr,
                     "round: plain %.0f frames/s, tool %.0f frames/s (ratio %.2f), "
                     "receiver alone %.0f frames/s (ratio %.2f)\n",
                     p.fps(), t.fps(), p.fps() > 0 ? t.fps() / p.fps() : 0.0, r.fps(),
                     p.fps() > 0 ? r.fps() / p.fps() : 0.0);
        plain.frames += p.frames, plain.seconds += p.seconds;
        tool.frames += t.frames, tool.seconds += t.seconds, tool.pictures += t.pictures;
        alone.frames += r.frames, alone.seconds += r.seconds;
        state.SetIterationTime(p.seconds + t.seconds + r.seconds);
    }
    if (plain.fps() <= 0 || tool.fps() <= 0) {
        state.SkipWithError("no frames");
        return;
    }
    state.counters["plain_fps"] = plain.fps();
    state.counters["tool_fps"] = tool.fps();
    state.counters["pictures_per_s"] = tool.pictures / tool.seconds;
    state.counters["ratio"] = tool.fps() / plain.fps();
    state.counters["receiver_alone_ratio"] = alone.fps() / plain.fps();
    state.counters["frame_bytes"] = static_cast<double>(frameBytes().size());
}
BENCHMARK(BM_StreamPlainVsTool)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
