// Wire format of the stream server (TCP 58100, device to tool): a 20-byte
// header, and for point frames (type 1) a body of point length, point block,
// object count, object records and area block. Shared by the receiver and the
// simulated device so that there is one definition of the layout.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "stream/StreamRecords.h"

constexpr size_t kStreamHeaderSize = 20;
constexpr uint32_t kStreamFrontMarker = 0xAABB;
constexpr uint32_t kStreamEndMarker = 0xCCDD;
// The only frame type that carries a body.
constexpr int32_t kPointFrameType = 1;
constexpr size_t kPointSize = 12;  // three float32: x, y, z in metres
// The device sends 38400 points (460800 bytes); anything beyond this bound is
// not a point block and is refused before a buffer is allocated for it.
constexpr int32_t kMaxPointLen = 16 * 1024 * 1024;

struct StreamHeader {
    uint32_t fron = kStreamFrontMarker;
    int32_t type = kPointFrameType;
    int32_t datalen = 0;  // announced by the device; traced, not used
    uint32_t reserved = 0;
    uint32_t end = kStreamEndMarker;
};

void encodeStreamHeader(const StreamHeader& header, uint8_t* bytes);
StreamHeader decodeStreamHeader(const uint8_t* bytes);

inline bool streamMarkersValid(const StreamHeader& h) {
    return h.fron == kStreamFrontMarker && h.end == kStreamEndMarker;
}
inline bool pointLenPlausible(int32_t pointLen) {
    return pointLen >= 0 && pointLen <= kMaxPointLen;
}
inline bool objnumPlausible(int32_t objnum) {
    return objnum >= 0 && objnum <= kMaxObjRecords;
}

// Body length of a point frame with the given point block and record count.
size_t pointFrameBodySize(size_t pointLen, int objnum);

// Appends a whole point frame (header with datalen = body length, then the
// body) to out. objnum records are taken from records.
void appendPointFrame(std::vector<uint8_t>& out, const uint8_t* points, size_t pointLen,
                      const ObjRecord* records, int objnum, const AreaBlock& areas);
