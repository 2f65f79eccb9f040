// A faulty device for any link: plays one fault on the first connection a
// client makes, then behaves (every later connection gets a valid frame).
// The link supplies its own bytes: a valid frame, garbage and a frame with
// lengths or counts out of range. Runs on a LoopbackListener.
//
// On a request/response link the device first reads the client's request on
// every connection, and may carry the conversation on after its answer
// (answering polls, taking a result).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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
    // Request/response links: takes only part of the client's request, then
    // answers with the valid frame and closes, the rest of the request unread.
    UnreadRequest,
};

const char* name(Fault fault);
// The faults of every link (UnreadRequest is not among them).
std::vector<Fault> allFaults();
// Those of a link where the client sends a request first: allFaults and UnreadRequest.
std::vector<Fault> requestFaults();

// Made before the client starts, so that measuring the client's memory does
// not count the peer's own buffers.
struct LinkBytes {
    Bytes valid;       // must arrive after recovery
    Bytes outOfRange;  // lengths/counts out of range
    Bytes garbage;     // megabytes that hold no frame

    // Bytes of the client's request that the device reads on every
    // connection before it sends anything; 0 for a link the device speaks
    // first. A connection whose client does not send them is closed.
    size_t requestSize = 0;
    // Where the mid-frame faults cut the valid frame (bytes sent before the
    // break); 0 cuts it in its middle.
    size_t cutAt = 0;
    // Leading bytes of the valid frame that Dribble sends one at a time; the
    // rest follows whole (a picture of a megabyte dribbled byte by byte would
    // take many minutes). Everything by default.
    size_t dribbleBytes = SIZE_MAX;
    // What the device does after the valid frame on a connection that stays
    // open, such as answering a client's polls; false closes the connection.
    // Runs on the listener's accept thread, so it must return once the client
    // has gone. None: the connection stays open and silent.
    std::function<bool(int fd)> afterValid;
    // Sees every request the device read (connection number, bytes).
    std::function<void(int n, const Bytes& request)> onRequest;
};

// The device's part for a LoopbackListener. On the first connection: the
// fault, and where the connection stays open the valid frame after it. On
// every later connection: the valid frame.
LoopbackListener::Script faultScript(const LinkBytes& link, Fault fault);

// The console lines in which a client says that something went wrong, each
// once and in order of first appearance with how often it came ("line x3"),
// joined by " | ": what a fault case reports, for its log line.
std::string failureLines(const std::string& console);

// Random bytes with many copies of marker (a link's start marker), so that
// the parser tries, and rejects, many windows; never the byte `never` (one
// that every valid frame holds), so that no frame can appear by chance.
Bytes markerRichGarbage(size_t n, uint8_t marker, uint8_t never, uint32_t seed);

}  // namespace faults
