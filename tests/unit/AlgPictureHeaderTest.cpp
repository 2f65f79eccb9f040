// The algorithm server's request and frame header against literal bytes, and
// what each length announces at the edges of its ranges.
#include <gtest/gtest.h>

#include <vector>

#include "algview/AlgPictureHeader.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <size_t N>
Bytes bytesOf(const std::array<uint8_t, N>& a) {
    return Bytes(a.begin(), a.end());
}

TEST(AlgPictureHeader, RequestBytes) {
    EXPECT_EQ(bytesOf(encodeAlgRequest()), (Bytes{0x01, 0x00, 0x00, 0x00}));
    const Bytes other = {0x02, 0x01, 0x00, 0x80};
    EXPECT_EQ(decodeAlgRequest(other.data()), static_cast<int32_t>(0x80000102u));
}

TEST(AlgPictureHeader, LengthsAndWhatTheyAnnounce) {
    struct Case {
        Bytes wire;
        int32_t length;
        AlgFrameKind kind;
        size_t toRead;
    };
    const Case cases[] = {
        {{0x00, 0xC0, 0x12, 0x00}, 1228800, AlgFrameKind::Picture, 1228800},  // 640 x 640 x 3
        {{0xFF, 0xBF, 0x12, 0x00}, 1228799, AlgFrameKind::WrongSize, 1228799},
        {{0x01, 0xC0, 0x12, 0x00}, 1228801, AlgFrameKind::WrongSize, 1228801},
        {{0x00, 0xB0, 0x04, 0x00}, 307200, AlgFrameKind::WrongSize, 307200},  // 320 x 320 x 3
        {{0x01, 0x00, 0x00, 0x00}, 1, AlgFrameKind::WrongSize, 1},
        {{0x00, 0x00, 0x00, 0x01}, 16777216, AlgFrameKind::WrongSize, 16777216},  // the largest
        {{0x01, 0x00, 0x00, 0x01}, 16777217, AlgFrameKind::OutOfRange, 0},
        {{0xFF, 0xFF, 0xFF, 0x7F}, 2147483647, AlgFrameKind::OutOfRange, 0},
        {{0x00, 0x00, 0x00, 0x00}, 0, AlgFrameKind::Empty, 0},
        {{0xFF, 0xFF, 0xFF, 0xFF}, -1, AlgFrameKind::Empty, 0},
        {{0x00, 0x00, 0x00, 0x80}, INT32_MIN, AlgFrameKind::Empty, 0},
    };
    for (const Case& c : cases) {
        const AlgFrameHeader h = decodeAlgFrameHeader(c.wire.data());
        EXPECT_EQ(h.length, c.length);
        EXPECT_EQ(h.kind, c.kind) << c.length;
        EXPECT_EQ(algFrameBytesToRead(h), c.toRead) << c.length;
        EXPECT_EQ(bytesOf(encodeAlgFrameHeader(c.length)), c.wire) << c.length;
    }
}

}  // namespace
