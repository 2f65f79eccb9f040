// The start of a collection frame as the device sends it, for tests: the
// 40-byte header and the 48-byte frame block. The payload is the caller's.
#pragma once

#include <cstdint>
#include <vector>

#include "stream/CollectionFormat.h"

inline std::vector<uint8_t> collectionFrameHead(int64_t time, int32_t psize, int32_t presize,
                                                uint32_t front = kCollectionFrontMarker) {
    std::vector<uint8_t> bytes(kCollectionHeaderSize + kCollectionBlockSize);
    CollectionHeader header;
    header.front = front;
    encodeCollectionHeader(header, bytes.data());
    CollectionBlock block;
    block.psize = psize;
    block.presize = presize;
    block.time = time;
    encodeCollectionBlock(block, bytes.data() + kCollectionHeaderSize);
    return bytes;
}
