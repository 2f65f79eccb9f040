#include "StreamServer.h"

#include <cerrno>
#include <chrono>
#include <cstring>

#include "SceneFeed.h"
#include "SimLog.h"
#include "stream/StreamFrame.h"

StreamServer::StreamServer(const SimOptions& options, uint16_t port)
    : options_(options),
      port_(port),
      feed_(std::make_shared<SceneFeed>(options.seed, options.fps)),
      sessions_("stream", [this](int fd, const StopFlag&) { clientLoop(fd); }) {}

StreamServer::~StreamServer() {
    stop();
}

void StreamServer::setFeed(std::shared_ptr<FrameFeed> feed) {
    feed_ = std::move(feed);
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
    simLog(name(), "listening on %s:%u, %s%s", options_.address.c_str(), port_,
           feed_->pace().c_str(), options_.fps > 0 ? "" : ", to each client back to back");
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
    auto next = clock::now();
    StreamFrameParts parts;
    for (uint64_t n = 0; !stop_->requested(); ++n) {
        // A frame the feed cannot give (a recording's file gone) is passed
        // over; clients keep the one they had.
        if (feed_->streamFrame(n, parts)) {
            auto bytes = std::make_shared<std::vector<uint8_t>>();
            appendPointFrame(*bytes, parts.points.data(), parts.points.size(), parts.objects.data(),
                             static_cast<int>(parts.objects.size()), parts.areas);
            {
                std::lock_guard<std::mutex> lock(frameMutex_);
                latest_ = std::move(bytes);
                ++latestSeq_;
            }
            frameCond_.notify_all();
            ++produced_;
        }
        next += feed_->pauseAfter(n);
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
