#include "CollectionServer.h"

#include <sys/socket.h>

#include <chrono>
#include <cstring>

#include "SimLog.h"
#include "stream/CollectionFormat.h"

CollectionServer::CollectionServer(const CollectionServerOptions& options)
    : options_(options),
      feed_(std::make_shared<SceneFeed>(
          options.seed, options.fps,
          options.payloadBytes > 0 ? static_cast<size_t>(options.payloadBytes) : 0)),
      sessions_("collect", [this](int fd, const StopFlag& stop) { serve(fd, stop); }) {}

CollectionServer::~CollectionServer() {
    stop();
}

bool CollectionServer::start() {
    if (!sessions_.start(options_.address, options_.port)) return false;
    sent_ = 0;
    simLog(name(), "listening on %s:%u, %s%s", options_.address.c_str(), options_.port,
           feed_->pace().c_str(), options_.fps > 0 ? "" : ", back to back");
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
    auto next = clock::now();
    std::vector<uint8_t> payload;
    for (int sentHere = 0; !stop.requested();) {
        if (options_.dropEvery > 0 && sentHere == options_.dropEvery) {
            simLog(name(), "dropping the link after %d frames", sentHere);
            return;
        }
        const uint64_t n = nextFrame_++;
        CollectionBlock block;
        // A frame the feed cannot give (a recording's file gone) is passed over.
        const bool got = feed_->collectionFrame(n, payload, block.time);
        if (got) {
            // The feed's payloads fit a frame (a recording's longer records
            // are passed over when it is opened).
            block.psize = static_cast<int32_t>(payload.size());
            block.presize = block.psize;
            bytes.assign(kCollectionHeaderSize + kCollectionBlockSize, 0);
            encodeCollectionHeader(CollectionHeader{}, bytes.data());
            encodeCollectionBlock(block, bytes.data() + kCollectionHeaderSize);
            bytes.insert(bytes.end(), payload.begin(), payload.end());
            if (!sendAll(fd, bytes.data(), bytes.size())) return;
            ++sent_;
            ++sentHere;
        }
        if (got && options_.fps <= 0) continue;
        next += feed_->pauseAfter(n);
        const auto now = clock::now();
        if (next < now) next = now;  // fell behind: no burst to catch up
        if (!stop.sleepUntil(next)) return;
    }
}
