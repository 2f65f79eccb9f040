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
    : options_(options), port_(port), source_(sceneSource(options.seed)) {}

StreamServer::~StreamServer() {
    stop();
}

void StreamServer::setFrameSource(FrameSource source) {
    source_ = std::move(source);
}

bool StreamServer::start() {
    if (acceptThread_.joinable()) return true;
    if (!listener_.open(options_.address, port_)) {
        simLog(name(), "cannot listen on %s:%u: %s", options_.address.c_str(), port_,
               std::strerror(errno));
        return false;
    }
    {
        std::lock_guard<std::mutex> lock(frameMutex_);
        stopping_ = false;
        latest_.reset();
        latestSeq_ = 0;
    }
    produced_ = 0;
    stop_ = std::make_unique<StopFlag>();
    simLog(name(), "listening on %s:%u, %.1f frames/s", options_.address.c_str(), port_,
           options_.fps);
    produceThread_ = std::thread([this] { produceLoop(); });
    acceptThread_ = std::thread([this] { acceptLoop(); });
    return true;
}

void StreamServer::stop() {
    if (!acceptThread_.joinable()) return;
    stop_->request();
    {
        std::lock_guard<std::mutex> lock(frameMutex_);
        stopping_ = true;
    }
    frameCond_.notify_all();
    listener_.close();
    acceptThread_.join();
    produceThread_.join();
    std::list<Client> ending;
    {
        std::lock_guard<std::mutex> lock(clientsMutex_);
        ending.swap(clients_);
    }
    for (Client& c : ending) shutdownSocket(c.fd);
    for (Client& c : ending) {
        c.thread.join();
        closeSocket(c.fd);
    }
    simLog(name(), "stopped");
}

void StreamServer::dropClients() {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    for (Client& c : clients_) shutdownSocket(c.fd);
}

int StreamServer::clientCount() const {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    int n = 0;
    for (const Client& c : clients_) n += c.done ? 0 : 1;
    return n;
}

void StreamServer::reapClients() {
    std::lock_guard<std::mutex> lock(clientsMutex_);
    for (auto it = clients_.begin(); it != clients_.end();) {
        if (!it->done) {
            ++it;
            continue;
        }
        it->thread.join();
        closeSocket(it->fd);
        it = clients_.erase(it);
    }
}

void StreamServer::acceptLoop() {
    for (;;) {
        std::string peer;
        const int fd = listener_.accept(peer);
        if (fd < 0) return;
        simLog(name(), "client %s connected", peer.c_str());
        reapClients();
        std::lock_guard<std::mutex> lock(clientsMutex_);
        clients_.emplace_back();
        Client& c = clients_.back();
        c.fd = fd;
        c.peer = peer;
        c.thread = std::thread([this, &c] { clientLoop(c); });
    }
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

void StreamServer::clientLoop(Client& client) {
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
        if (!sendAll(client.fd, frame->data(), frame->size())) break;
    }
    simLog(name(), "client %s disconnected", client.peer.c_str());
    client.done = true;
}
