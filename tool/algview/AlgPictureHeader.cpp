#include "algview/AlgPictureHeader.h"

#include "core/ByteOrder.h"

namespace {

constexpr size_t kRequestOffset = 0;  // in the request
constexpr size_t kLengthOffset = 0;   // in the frame header

AlgFrameKind kindOf(int32_t length) {
    if (length <= 0) return AlgFrameKind::Empty;
    if (length > kMaxAlgObjBytes) return AlgFrameKind::OutOfRange;
    return length == kAlgObjBytes ? AlgFrameKind::Picture : AlgFrameKind::WrongSize;
}

}  // namespace

std::array<uint8_t, kAlgRequestSize> encodeAlgRequest(int32_t request) {
    std::array<uint8_t, kAlgRequestSize> bytes{};
    writeI32le(bytes.data() + kRequestOffset, request);
    return bytes;
}

int32_t decodeAlgRequest(const uint8_t* bytes) {
    return readI32le(bytes + kRequestOffset);
}

std::array<uint8_t, kAlgPictureHeaderSize> encodeAlgFrameHeader(int32_t length) {
    std::array<uint8_t, kAlgPictureHeaderSize> bytes{};
    writeI32le(bytes.data() + kLengthOffset, length);
    return bytes;
}

AlgFrameHeader decodeAlgFrameHeader(const uint8_t* bytes) {
    AlgFrameHeader header;
    header.length = readI32le(bytes + kLengthOffset);
    header.kind = kindOf(header.length);
    return header;
}

size_t algFrameBytesToRead(const AlgFrameHeader& header) {
    switch (header.kind) {
        case AlgFrameKind::Picture:
        case AlgFrameKind::WrongSize:
            return static_cast<size_t>(header.length);
        case AlgFrameKind::Empty:
        case AlgFrameKind::OutOfRange:
            return 0;
    }
    return 0;
}
