#include "AlgorithmServer.h"

#include <sys/socket.h>

#include <chrono>
#include <opencv2/imgproc.hpp>

#include "Scene.h"
#include "SimLog.h"

namespace {

// Metres of the floor shown across the picture.
constexpr float kPictureSpanMetres = 2.6f;

cv::Point toPixel(float x, float y) {
    const float scale = kAlgPictureSide / kPictureSpanMetres;
    return cv::Point(static_cast<int>(kAlgPictureSide / 2 + x * scale),
                     static_cast<int>(kAlgPictureSide / 2 - y * scale));
}

}  // namespace

void algorithmPicture(uint64_t seed, uint64_t n, std::vector<uint8_t>& out) {
    thread_local scene::Frame frame;
    scene::Scene(seed).frame(n, frame);
    out.assign(static_cast<size_t>(kAlgPictureBytes), 0);
    cv::Mat picture(kAlgPictureSide, kAlgPictureSide, CV_8UC3, out.data());
    picture.setTo(cv::Scalar(40, 32, 24));
    for (float side : {-1.0f, 1.0f}) {
        cv::rectangle(picture, toPixel(side * scene::kWallInnerX, scene::kWallHalfLength),
                      toPixel(side * scene::kWallOuterX, -scene::kWallHalfLength),
                      cv::Scalar(120, 120, 120), cv::FILLED);
    }
    for (const scene::PersonState& p : frame.persons) {
        const cv::Point centre = toPixel(p.x, p.y);
        cv::circle(picture, centre, 40, cv::Scalar(40, 200, 40), cv::FILLED);
        cv::putText(picture, std::to_string(p.index), centre + cv::Point(-10, 10),
                    cv::FONT_HERSHEY_SIMPLEX, 1.0, cv::Scalar(255, 255, 255), 2);
    }
    if (frame.hasBag) {
        cv::rectangle(picture, toPixel(frame.bag.x0, frame.bag.y0),
                      toPixel(frame.bag.x1, frame.bag.y1), cv::Scalar(0, 160, 255), cv::FILLED);
    }
    cv::putText(picture, "frame " + std::to_string(n), cv::Point(16, 40), cv::FONT_HERSHEY_SIMPLEX,
                1.0, cv::Scalar(255, 255, 255), 2);
}

AlgorithmServer::AlgorithmServer(const AlgorithmServerOptions& options)
    : options_(options),
      sessions_("alg", [this](int fd, const StopFlag& stop) { serve(fd, stop); }) {}

AlgorithmServer::~AlgorithmServer() {
    stop();
}

bool AlgorithmServer::start() {
    if (!sessions_.start(options_.address, options_.port)) return false;
    sent_ = 0;
    simLog(name(), "listening on %s:%u, %.1f pictures/s", options_.address.c_str(), options_.port,
           options_.fps);
    return true;
}

void AlgorithmServer::stop() {
    sessions_.stop();
}

void AlgorithmServer::serve(int fd, const StopFlag& stop) {
    uint8_t request[kAlgRequestSize];
    for (size_t got = 0; got < sizeof request;) {
        const ssize_t r = ::recv(fd, request + got, sizeof request - got, 0);
        if (r <= 0) return;
        got += static_cast<size_t>(r);
    }
    if (decodeAlgRequest(request) != kAlgStreamRequest) {
        simLog(name(), "request %d refused", decodeAlgRequest(request));
        return;
    }
    using clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<clock::duration>(
        std::chrono::duration<double>(options_.fps > 0 ? 1.0 / options_.fps : 0.0));
    auto next = clock::now();
    std::vector<uint8_t> picture;
    int faults = 0;
    for (uint64_t n = 0; !stop.requested(); ++n) {
        const bool faulty = options_.badEvery > 0 && (n + 1) % options_.badEvery == 0;
        if (!faulty) {
            algorithmPicture(options_.seed, n, picture);
        } else if (faults++ % 2 == 0) {
            picture.clear();  // length 0: no bytes follow
        } else {
            picture.assign(static_cast<size_t>(kAlgWrongPictureSide) * kAlgWrongPictureSide * 3,
                           0x80);
        }
        const auto header = encodeAlgFrameHeader(static_cast<int32_t>(picture.size()));
        std::vector<uint8_t> bytes(header.begin(), header.end());
        bytes.insert(bytes.end(), picture.begin(), picture.end());
        if (!sendAll(fd, bytes.data(), bytes.size())) return;
        ++sent_;
        next += period;
        const auto now = clock::now();
        if (next < now) next = now;
        if (options_.fps > 0 && !stop.sleepUntil(next)) return;
    }
}
