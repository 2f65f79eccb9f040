// A faulty device for any link: plays one fault on the first connection a
// client makes, then behaves (every later connection gets a valid frame).
// The link supplies its own bytes: a valid frame, garbage and a frame with
// lengths or counts out of range. Runs on a LoopbackListener.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "LoopbackListener.h"

namespace faults {

using Bytes = std::vector<uint8_t>;

enum class Fault {
    CloseMidFrame,  // half a frame, then the connection ends
    ResetMidFrame,  // half a frame, then a reset
    GoSilent,       // connected and silent, past the client's receive time-out
    Dribble,        // a valid frame one byte at a time
    Garbage,        // megabytes of bytes that are no frames
    OutOfRange,     // lengths and counts no device sends
};

const char* name(Fault fault);
std::vector<Fault> allFaults();

// Made before the client starts, so that measuring the client's memory does
// not count the peer's own buffers.
struct LinkBytes {
    Bytes valid;       // must arrive after recovery
    Bytes outOfRange;  // lengths/counts out of range
    Bytes garbage;     // megabytes that hold no frame
};

// The device's part for a LoopbackListener. On the first connection: the
// fault, and where the connection stays open the valid frame after it. On
// every later connection: the valid frame.
LoopbackListener::Script faultScript(const LinkBytes& link, Fault fault);

// Random bytes with many copies of marker (a link's start marker), so that
// the parser tries, and rejects, many windows; never the byte `never` (one
// that every valid frame holds), so that no frame can appear by chance.
Bytes markerRichGarbage(size_t n, uint8_t marker, uint8_t never, uint32_t seed);

}  // namespace faults
