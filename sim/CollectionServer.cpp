#include "CollectionServer.h"

#include <sys/socket.h>

#include <chrono>
#include <cstring>

#include "Scene.h"
#include "SimLog.h"
#include "core/Utc8Time.h"
#include "stream/CollectionFormat.h"

namespace {

constexpr size_t kFrameNumberBytes = 8;

}  // namespace

void collectionPayload(uint64_t seed, uint64_t n, size_t size, std::vector<uint8_t>& out) {
    thread_local scene::Frame frame;
    scene::Scene(seed).frame(n, frame);
    out.resize(size);
    for (size_t i = 0; i < size; ++i) {
        out[i] = i < kFrameNumberBytes
                     ? static_cast<uint8_t>(n >> (8 * i))
                     : frame.points[(i - kFrameNumberBytes) % frame.points.size()];
    }
}

CollectionServer::CollectionServer(const CollectionServerOptions& options)
    : options_(options),
      sessions_("collect", [this](int fd, const StopFlag& stop) { serve(fd, stop); }) {}

CollectionServer::~CollectionServer() {
    stop();
}

bool CollectionServer::start() {
    if (!sessions_.start(options_.address, options_.port)) return false;
    sent_ = 0;
    simLog(name(), "listening on %s:%u, %.1f frames/s of %d bytes", options_.address.c_str(),
           options_.port, options_.fps, options_.payloadBytes);
    return true;
}

void CollectionServer::stop() {
    sessions_.stop();
}

void CollectionServer::serve(int fd, const StopFlag& stop) {
    uint8_t request[kCollectionHeaderSize];
    if (!receiveAll(fd, request, sizeof request)) return;
    const CollectionHeader asked = decodeCollectionHeader(request);
    if (!collectionMarkersValid(asked) || asked.command != kCollectionRequestCommand) {
        simLog(name(), "request with command 0x%X and markers %X/%X refused", asked.command,
               asked.front, asked.end);
        return;
    }
    std::vector<uint8_t> bytes(kCollectionHeaderSize);
    encodeCollectionHeader(CollectionHeader{}, bytes.data());
    if (!sendAll(fd, bytes.data(), bytes.size())) return;

    using clock = std::chrono::steady_clock;
    const auto period = std::chrono::duration_cast<clock::duration>(
        std::chrono::duration<double>(options_.fps > 0 ? 1.0 / options_.fps : 0.0));
    auto next = clock::now();
    std::vector<uint8_t> payload;
    const size_t payloadSize = options_.payloadBytes > 0 ? options_.payloadBytes : 0;
    for (int sentHere = 0; !stop.requested(); ++sentHere) {
        if (options_.dropEvery > 0 && sentHere == options_.dropEvery) {
            simLog(name(), "dropping the link after %d frames", sentHere);
            return;
        }
        const uint64_t n = nextFrame_++;
        collectionPayload(options_.seed, n, payloadSize, payload);
        CollectionBlock block;
        block.psize = options_.payloadBytes;
        block.presize = options_.payloadBytes;
        block.time = nowEpochMs();
        bytes.assign(kCollectionHeaderSize + kCollectionBlockSize, 0);
        encodeCollectionHeader(CollectionHeader{}, bytes.data());
        encodeCollectionBlock(block, bytes.data() + kCollectionHeaderSize);
        bytes.insert(bytes.end(), payload.begin(), payload.end());
        if (!sendAll(fd, bytes.data(), bytes.size())) return;
        ++sent_;
        next += period;
        const auto now = clock::now();
        if (next < now) next = now;  // fell behind: no burst to catch up
        if (options_.fps > 0 && !stop.sleepUntil(next)) return;
    }
}
