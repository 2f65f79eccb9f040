// Wire format of the device's algorithm server (TCP 10300), little-endian.
// Shared by the viewer and the simulated device, so that there is one
// definition of the layout:
//
//   request  tool -> device, once per connection   0 request int32 = 1
//   frame    device -> tool, repeated              0 length int32 | 4 length bytes of picture
//
// A picture is 640 rows of 640 pixels, 3 bytes a pixel (blue, green, red),
// rows back to back: 1 228 800 bytes. A length of 0 or less carries no
// picture and no bytes follow it. There is no marker: a length is all the
// viewer has to stay in step with the device.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

constexpr uint16_t kAlgServerPort = 10300;
constexpr size_t kAlgRequestSize = 4;
constexpr size_t kAlgPictureHeaderSize = 4;
constexpr int32_t kAlgStreamRequest = 1;

constexpr int kAlgObjSide = 640;
constexpr int32_t kAlgObjBytes = kAlgObjSide * kAlgObjSide * 3;
// A length beyond this is no picture of the device: the stream is out of step
// and nothing is read or allocated on it.
constexpr int32_t kMaxAlgObjBytes = 16 * 1024 * 1024;

// What a frame length announces.
enum class AlgFrameKind {
    Empty,       // 0 or less: no picture, no bytes follow
    Picture,     // exactly one 640 x 640 x 3 picture follows
    WrongSize,   // a plausible number of bytes that are no picture: read and skipped
    OutOfRange,  // more than any picture: out of step, nothing more is read
};

struct AlgFrameHeader {
    int32_t length = 0;
    AlgFrameKind kind = AlgFrameKind::Empty;
};

std::array<uint8_t, kAlgRequestSize> encodeAlgRequest(int32_t request = kAlgStreamRequest);
int32_t decodeAlgRequest(const uint8_t* bytes);

std::array<uint8_t, kAlgPictureHeaderSize> encodeAlgFrameHeader(int32_t length);
// The length at the start of a frame and what it announces.
AlgFrameHeader decodeAlgFrameHeader(const uint8_t* bytes);

// Bytes that follow the header on the wire and that the viewer reads: the
// length for a picture or a wrong-sized frame, none for an empty frame and
// none for a length out of range (the viewer leaves the link instead).
size_t algFrameBytesToRead(const AlgFrameHeader& header);
