// What the live passage costs the tool, at the device's own rate. A
// KestDeviceSim child process streams frames at 10 and then 25 frames per
// second; in the same run, rounds interleaved, we measure
//   plain:  a bare recv loop draining the stream (the floor of any client);
//   tool:   the stream receiver, the frame distributor and the 2D worker
//           drawing into a sink that stops at the control, in the layout the
//           screen takes (trace into a file, as with the console redirected);
// and report, per rate, frames received, pictures drawn, CPU milliseconds per
// frame of this process (the simulator runs in its own), and the tool's CPU
// per frame against the plain loop's: min/median/max over the rounds.
//
//   bench_stream [rounds (default 5)] [seconds per phase (default 2)]
#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BenchSupport.h"
#include "core/ControlSink.h"
#include "core/FrameDistributor.h"
#include "core/SharedState.h"
#include "core/Timing.h"
#include "core/Trace.h"
#include "core/ViewFrames.h"
#include "stream/StreamFrame.h"
#include "views/Cloud3d.h"
#include "views/DrawMatToControl.h"
#include "views/TopViewWorker.h"
#include "views/View3dWorker.h"
#include "views/ViewTiming.h"

extern char** environ;

namespace {

constexpr const char* kAddress = "127.0.2.202";
constexpr int kReceiveBuffer = 3686400;  // as the tool's stream socket

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// CPU seconds of each of this process's threads by thread id, with the
// thread's name (the pipeline's are named kest-...). schedstat's first field
// is the thread's time on a processor in nanoseconds, finer than the clock
// ticks of stat.
struct ThreadCpu {
    std::string name;
    double seconds = 0;
};
std::map<int, ThreadCpu> threadCpu() {
    std::map<int, ThreadCpu> threads;
    DIR* dir = opendir("/proc/self/task");
    if (!dir) return threads;
    while (const dirent* entry = readdir(dir)) {
        const int tid = std::atoi(entry->d_name);
        if (tid <= 0) continue;
        const std::string base = std::string("/proc/self/task/") + entry->d_name;
        ThreadCpu t;
        std::getline(std::ifstream(base + "/comm"), t.name);
        double ns = 0;
        if (std::ifstream(base + "/schedstat") >> ns) t.seconds = ns / 1e9;
        threads[tid] = t;
    }
    closedir(dir);
    return threads;
}

// The simulated device in a process of its own, so its CPU is not ours.
class Simulator {
public:
    explicit Simulator(int fps) {
        const std::string rate = std::to_string(fps);
        const char* argv[] = {KEST_SIM_PATH, "--address", kAddress, "--fps", rate.c_str(), nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid_, KEST_SIM_PATH, &actions, nullptr, const_cast<char**>(argv),
                        environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // until it listens
    }
    ~Simulator() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    bool running() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

struct Phase {
    double frames = 0;
    double pictures = 0;
    double cpu = 0;                               // seconds of this process
    std::map<std::string, double> threadSeconds;  // by thread name
    double cpuMsPerFrame() const { return msPerFrame(cpu); }
    double msPerFrame(double seconds) const { return frames > 0 ? seconds * 1000 / frames : 0; }
};

// What each named thread used between two looks; threads started after the
// first look count from nothing.
std::map<std::string, double> threadSecondsBetween(const std::map<int, ThreadCpu>& before,
                                                   const std::map<int, ThreadCpu>& after) {
    std::map<std::string, double> used;
    for (const auto& [tid, t] : after) {
        const auto was = before.find(tid);
        used[t.name] += t.seconds - (was != before.end() ? was->second.seconds : 0.0);
    }
    return used;
}

int connectToStream() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(kStreamPort);
    inet_pton(AF_INET, kAddress, &addr.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
    ::close(fd);
    return -1;
}

// Counts whole frames in a byte stream: each header announces its body.
class FrameCounter {
public:
    void feed(const uint8_t* data, size_t size) {
        while (size > 0) {
            if (skip_ > 0) {
                const size_t n = std::min<uint64_t>(skip_, size);
                skip_ -= n, data += n, size -= n;
                if (skip_ == 0) ++frames;
                continue;
            }
            const size_t n = std::min(size, kStreamHeaderSize - have_);
            std::copy(data, data + n, header_ + have_);
            have_ += n, data += n, size -= n;
            if (have_ == kStreamHeaderSize) {
                have_ = 0;
                skip_ = static_cast<uint32_t>(decodeStreamHeader(header_).datalen);
            }
        }
    }
    uint64_t frames = 0;

private:
    uint8_t header_[kStreamHeaderSize] = {};
    size_t have_ = 0;
    uint64_t skip_ = 0;
};

Phase plainPhase(std::chrono::milliseconds length) {
    Phase phase;
    const int fd = connectToStream();
    if (fd < 0) return phase;
    std::vector<uint8_t> buffer(1 << 20);
    FrameCounter counter;
    const double cpuBefore = cpuSeconds();
    const auto end = std::chrono::steady_clock::now() + length;
    timeval timeout{0, 100000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    while (std::chrono::steady_clock::now() < end) {
        const ssize_t n = ::recv(fd, buffer.data(), buffer.size(), 0);
        if (n > 0) counter.feed(buffer.data(), static_cast<size_t>(n));
    }
    phase.cpu = cpuSeconds() - cpuBefore;
    phase.frames = static_cast<double>(counter.frames);
    ::close(fd);
    return phase;
}

// with3d adds the 3D worker (the cloud processed for every frame, without
// the OpenGL drawing, which runs on the GUI thread).
Phase toolPhase(std::chrono::milliseconds length, bool with3d) {
    Phase phase;
    FILE* traceFile = std::tmpfile();
    std::atomic<uint64_t> frames{0};
    setTraceSink([traceFile, &frames](TraceStream, const std::string& text) {
        std::fwrite(text.data(), 1, text.size(), traceFile);
        if (text.find("] objnum = ") != std::string::npos) ++frames;
    });
    auto shared = std::make_unique<SharedState>();
    ViewFrames views;
    CountingSink sink(getenv("THREE") == nullptr);
    std::thread distributor([&] { RunFrameDistributor(*shared, views); });
    std::thread view([&] { Run2DWorker(views, sink); });
    Cloud3dShare cloud;
    std::thread view3d;
    if (with3d) view3d = std::thread([&] { Run3DWorker(views, cloud); });
    shared->OpenStream(kAddress);
    if (shared->ConnectStream()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));  // settled
        const uint64_t framesBefore = frames.load();
        const long picturesBefore = sink.shown.load();
        const auto threadsBefore = threadCpu();
        const double cpuBefore = cpuSeconds();
        std::this_thread::sleep_for(length);
        phase.cpu = cpuSeconds() - cpuBefore;
        phase.threadSeconds = threadSecondsBetween(threadsBefore, threadCpu());
        phase.frames = static_cast<double>(frames.load() - framesBefore);
        phase.pictures = sink.shown.load() - picturesBefore;
    }
    views.stopWorkers();
    distributor.join();
    view.join();
    if (view3d.joinable()) view3d.join();
    shared.reset();
    setTraceSink(nullptr);
    std::fclose(traceFile);
    return phase;
}

struct Spread {
    double min, median, max;
};
Spread spread(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return {v.front(), v[v.size() / 2], v.back()};
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const auto length = std::chrono::milliseconds(argc > 2 ? std::atoi(argv[2]) * 1000 : 2000);
    viewTiming().topViewStartWaitMs = 0;
    view3dTiming().startWaitMs = 0;
    shellTiming().streamReceiveTimeoutMs = 2000;
    shellTiming().streamReconnectWaitMs = 10;
    UseOneThreadForPictures();

    for (int fps : {10, 25}) {
        Simulator device(fps);
        if (!device.running()) return 1;
        std::vector<double> plainCpu, toolCpu, tool3dCpu, ratio, received, drawn;
        std::map<std::string, std::vector<double>> toolThreads, tool3dThreads;
        auto perThread = [](const Phase& phase, std::map<std::string, std::vector<double>>& into) {
            for (const auto& [name, seconds] : phase.threadSeconds)
                into[name].push_back(phase.msPerFrame(seconds));
        };
        for (int r = 0; r < rounds; ++r) {
            const Phase plain = plainPhase(length);
            const Phase tool = toolPhase(length, false);
            const Phase tool3d = toolPhase(length, true);
            plainCpu.push_back(plain.cpuMsPerFrame());
            toolCpu.push_back(tool.cpuMsPerFrame());
            tool3dCpu.push_back(tool3d.cpuMsPerFrame());
            ratio.push_back(plain.cpuMsPerFrame() > 0 ? tool.cpuMsPerFrame() / plain.cpuMsPerFrame()
                                                      : 0);
            received.push_back(tool.frames);
            drawn.push_back(tool.pictures);
            perThread(tool, toolThreads);
            perThread(tool3d, tool3dThreads);
        }
        const Spread p = spread(plainCpu), t = spread(toolCpu), t3 = spread(tool3dCpu),
                     q = spread(ratio), f = spread(received), d = spread(drawn);
        std::printf("%d fps, %d rounds of %.0f s\n", fps, rounds, length.count() / 1000.0);
        std::printf("  frames received   min %6.0f  median %6.0f  max %6.0f\n", f.min, f.median,
                    f.max);
        std::printf("  pictures drawn    min %6.0f  median %6.0f  max %6.0f\n", d.min, d.median,
                    d.max);
        std::printf("  plain CPU ms/frame  min %.3f  median %.3f  max %.3f\n", p.min, p.median,
                    p.max);
        std::printf("  tool  CPU ms/frame  min %.3f  median %.3f  max %.3f  (target <= 0.4)\n",
                    t.min, t.median, t.max);
        std::printf("  tool / plain        min %.2f  median %.2f  max %.2f\n", q.min, q.median,
                    q.max);
        std::printf("  tool + 3D worker    min %.3f  median %.3f  max %.3f  (target <= 0.8)\n",
                    t3.min, t3.median, t3.max);
        // The share of each thread (medians; the main thread only waits).
        for (const auto* threads : {&toolThreads, &tool3dThreads}) {
            std::printf(threads == &toolThreads ? "  per thread, tool:     "
                                                : "  per thread, tool + 3D:");
            for (const auto& [name, ms] : *threads)
                if (name.rfind("kest-", 0) == 0 && ms.size() == static_cast<size_t>(rounds))
                    std::printf(" %s %.3f", name.c_str() + 5, spread(ms).median);
            std::printf("\n");
        }
    }
    return 0;
}
