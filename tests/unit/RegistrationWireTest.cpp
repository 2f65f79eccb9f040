// The registration server's records against literal bytes, the checks on a
// point set header, and the point bytes taken into the raw array.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "registration/RegistrationWire.h"

namespace {

using Bytes = std::vector<uint8_t>;

template <size_t N>
Bytes bytesOf(const std::array<uint8_t, N>& a) {
    return Bytes(a.begin(), a.end());
}

TEST(RegWire, RequestReplyAndHeaderBytes) {
    EXPECT_EQ(bytesOf(EncodeRegRequest(1)), (Bytes{0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(bytesOf(EncodeRegRequest(0)), (Bytes{0x00, 0x00, 0x00, 0x00}));
    const uint8_t reply[] = {0x01, 0x00, 0x00, 0x00};
    EXPECT_EQ(DecodeRegReply(reply), kRegAnswerPoints);
    const uint8_t other[] = {0x07, 0x01, 0x00, 0x80};
    EXPECT_EQ(DecodeRegReply(other), 0x80000107u);

    // 640 x 480, 3686400 bytes.
    const uint8_t header[] = {0x80, 0x02, 0x00, 0x00, 0xE0, 0x01,
                              0x00, 0x00, 0x00, 0x40, 0x38, 0x00};
    const RegPointHeader h = DecodeRegPointHeader(header);
    EXPECT_EQ(h.width, 640u);
    EXPECT_EQ(h.height, 480u);
    EXPECT_EQ(h.length, 3686400);
    EXPECT_EQ(bytesOf(EncodeRegPointHeader(h)), Bytes(header, header + 12));
    const uint8_t negative[] = {0x01, 0, 0, 0, 0x01, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF};
    EXPECT_EQ(DecodeRegPointHeader(negative).length, -1);
}

TEST(RegWire, HeaderPlausibility) {
    struct Case {
        uint32_t width, height;
        int32_t length;
        bool ok;
    };
    const Case cases[] = {
        {640, 480, 640 * 480 * 12, true},
        {640, 480, 100, true},             // short: the rest stays zero
        {640, 480, 640 * 480 * 24, true},  // longer: the extra is not used
        {0, 480, 0, true},                 // no points: an empty view
        {640, 0, 12, true},
        {640, 480, -1, false},
        {640, 480, INT32_MIN, false},
        {640, 480, kMaxRegPointBytes + 1, false},
        {0xFFFFFFFFu, 0xFFFFFFFFu, 12, false},  // width x height overflows 32 bits
        {65536, 65536, 12, false},
        {2048, 2048, 12, true},
        {2049, 2048, 12, false},
        // No points, but a width or height that no count can take.
        {0xFFFFFFFFu, 0, 0, false},
        {0, static_cast<uint32_t>(kMaxRegPoints) + 1, 0, false},
        {static_cast<uint32_t>(kMaxRegPoints), 1, 12, true},
        {static_cast<uint32_t>(kMaxRegPoints), 0, 0, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(RegPointHeaderPlausible(RegPointHeader{c.width, c.height, c.length}), c.ok)
            << c.width << " x " << c.height << " length " << c.length;
    }
}

TEST(RegWire, PointsIntoTheRawArray) {
    const std::vector<RegPoint> three = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
    const Bytes encoded = EncodeRegPoints(three);
    ASSERT_EQ(encoded.size(), 36u);
    EXPECT_EQ(Bytes(encoded.begin(), encoded.begin() + 4), (Bytes{0x00, 0x00, 0x80, 0x3F}));
    const std::string all(encoded.begin(), encoded.end());

    // A short set (one point and 4 bytes of the next): the tail is zero.
    std::vector<RegPoint> p = DecodeRegPoints(all.substr(0, 16), 2, 2);
    ASSERT_EQ(p.size(), 4u);
    EXPECT_EQ(p[0].z, 3.0f);
    EXPECT_EQ(p[1].x, 4.0f);
    EXPECT_EQ(p[1].y, 0.0f);
    EXPECT_EQ(p[3].z, 0.0f);
    // More bytes than width x height: the extra is not used.
    p = DecodeRegPoints(all, 2, 1);
    ASSERT_EQ(p.size(), 2u);
    EXPECT_EQ(p[1].z, 6.0f);
    EXPECT_TRUE(DecodeRegPoints(all, 0, 5).empty());
    EXPECT_TRUE(DecodeRegPoints(all, 0xFFFFFFFFu, 0xFFFFFFFFu).empty());
}

// Identity with a height of 2.5 m; gate and areas with easy values.
TEST(RegWire, ResultRecordBytes) {
    RegMatrix m;
    for (int i = 0; i < 4; ++i) m.m[i][i] = 1.0f;
    m.m23() = 2.5f;
    RegAreaSet areas{};
    areas[0] = {-0.5f, -1.0f, 0.5f, 1.0f};
    areas[3] = {-0.5f, -0.5f, 0.5f, 0.5f};

    Bytes want(180, 0x00);
    const auto put = [&want](size_t at, std::initializer_list<uint8_t> b) {
        std::copy(b.begin(), b.end(), want.begin() + at);
    };
    put(0, {0x02, 0x00, 0x00, 0x00});
    put(4, {0x00, 0x00, 0x80, 0x3F});                           // m00 = 1
    put(24, {0x00, 0x00, 0x80, 0x3F});                          // m11
    put(44, {0x00, 0x00, 0x80, 0x3F});                          // m22
    put(48, {0x00, 0x00, 0x20, 0x40});                          // m23 = 2.5
    put(64, {0x00, 0x00, 0x80, 0x3F});                          // m33
    put(68, {0x00, 0x00, 0x00, 0xBF, 0x00, 0x00, 0x80, 0xBF,    // gate x0 -0.5, y0 -1
             0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x80, 0x3F});  // x1 0.5, y1 1
    put(116, {0x00, 0x00, 0x00, 0xBF, 0x00, 0x00, 0x00, 0xBF,   // area 3
              0x00, 0x00, 0x00, 0x3F, 0x00, 0x00, 0x00, 0x3F});
    EXPECT_EQ(bytesOf(EncodeRegResult(&m, areas)), want);

    // No matrix stored yet: 64 zero bytes in its place.
    Bytes noMatrix = want;
    std::fill(noMatrix.begin() + 4, noMatrix.begin() + 68, 0);
    EXPECT_EQ(bytesOf(EncodeRegResult(nullptr, areas)), noMatrix);

    const RegResultRecord back = DecodeRegResult(want.data());
    EXPECT_EQ(back.code, 2u);
    EXPECT_EQ(back.matrix, m);
    EXPECT_EQ(back.areas, areas);
}

}  // namespace
