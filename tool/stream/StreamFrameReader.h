// Reads one stream frame from a byte source: the header, and for a point
// frame its body, with every length checked before it is used. The stream
// receiver reads from its socket through it; the fuzz target from memory.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "stream/StreamRecords.h"

enum class FrameResult { Stored, Skipped, Failed };

// Headers with bad markers in a row after which the stream is taken as out of
// step: a stray byte shifts every later header, and frame lengths being
// multiples of 4, header-by-header skipping would never line up again. The
// receive-error path reconnects, and a new connection starts in step.
constexpr int kMaxBadHeadersInARow = 3;

// Reusable buffers of the reader: the point block grows to the largest frame
// seen and is kept, so a steady stream allocates nothing per frame. After
// Stored they hold the frame.
struct StreamReadState {
    std::string points;
    std::array<uint8_t, kMaxObjRecords * kObjRecordSize> objBytes{};
    std::array<ObjRecord, kMaxObjRecords> objects{};
    int32_t objnum = 0;
    AreaBlock areas{};
    int badHeadersInARow = 0;  // reset when the caller starts a new connection
};

// Fills buffer with exactly length bytes; false when they cannot be had.
using ReadExact = std::function<bool(void* buffer, int length)>;

// Stored: a point frame is in state. Skipped: a header with bad markers (a
// single one) or of a frame type without a body. Failed: the source failed,
// a length no device sends, or the stream is out of step.
FrameResult readStreamFrame(const ReadExact& read, StreamReadState& state);
