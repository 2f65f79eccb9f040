#include "StreamServer.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include "Scene.h"
#include "SimLog.h"
#include "stream/StreamFrame.h"

namespace {

// The scene clock when clients are fed back to back.
constexpr double kUnthrottledSceneFps = 10.0;

StreamServer::FrameSource sceneSource(uint64_t seed) {
    auto scene = std::make_shared<scene::Scene>(seed);
    auto frame = std::make_shared<scene::Frame>();
    return [scene, frame](uint64_t n, std::vector<uint8_t>& bytes) {
        scene->frame(n, *frame);
        bytes.clear();
        appendPointFrame(bytes, frame->points.data(), frame->points.size(), frame->objects.data(),
                         static_cast<int>(frame->objects.size()), frame->areas);
    };
}

}  // namespace

StreamServer::StreamServer(const SimOptions& options, uint16_t port)
    : options_(options),
      port_(port),
      source_(sceneSource(options.seed)),
      sessions_("stream", [this](int fd, const StopFlag&) { clientLoop(fd); }) {}

StreamServer::~StreamServer() {
    stop();
}

void StreamServer::setFrameSource(FrameSource source) {
    source_ = std::move(source);
}

bool StreamServer::start() {
    if (produceThread_.joinable()) return true;
    {
        std::lock_guard<std::mutex> lock(frameMutex_);
        stopping_ = false;
        latest_.reset();
        latestSeq_ = 0;
    }
    produced_ = 0;
    stop_ = std::make_unique<StopFlag>();
    if (!sessions_.start(options_.address, port_)) return false;
    simLog(name(), "listening on %s:%u, %.1f frames/s", options_.address.c_str(), port_,
           options_.fps);
    produceThread_ = std::thread([this] { produceLoop(); });
    return true;
}

void StreamServer::stop() {
    if (!produceThread_.joinable()) return;
    stop_->request();
    {
        std::lock_guard<std::mutex> lock(frameMutex_);
        stopping_ = true;
    }
    frameCond_.notify_all();  // clients waiting for a frame end now
    sessions_.stop();
    produceThread_.join();
}

void StreamServer::dropClients() {
    sessions_.dropClients();
}

int StreamServer::clientCount() const {
    return sessions_.clientCount();
}

void StreamServer::produceLoop() {
    using clock = std::chrono::steady_clock;
    const double fps = options_.fps > 0 ? options_.fps : kUnthrottledSceneFps;
    const auto period =
        std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(1.0 / fps));
    auto next = clock::now();
    for (uint64_t n = 0; !stop_->requested(); ++n) {
        auto bytes = std::make_shared<std::vector<uint8_t>>();
        source_(n, *bytes);
        {
            std::lock_guard<std::mutex> lock(frameMutex_);
            latest_ = std::move(bytes);
            ++latestSeq_;
        }
        frameCond_.notify_all();
        ++produced_;
        next += period;
        const auto now = clock::now();
        if (next < now) next = now;  // fell behind: no burst to catch up
        if (!stop_->sleepUntil(next)) return;
    }
}

void StreamServer::clientLoop(int fd) {
    const bool throttled = options_.fps > 0;
    uint64_t sentSeq = 0;
    for (;;) {
        FrameBytes frame;
        {
            std::unique_lock<std::mutex> lock(frameMutex_);
            frameCond_.wait(lock, [&] {
                return stopping_ || (latest_ && (!throttled || latestSeq_ != sentSeq));
            });
            if (stopping_) break;
            frame = latest_;
            sentSeq = latestSeq_;
        }
        if (!sendAll(fd, frame->data(), frame->size())) break;
    }
}
