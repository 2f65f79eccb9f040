// The stream frame layout, pinned to literal bytes.
#include <gtest/gtest.h>

#include <vector>

#include "stream/StreamFrame.h"

namespace {

TEST(StreamFrame, HeaderEncodesMarkersTypeAndLengthLittleEndian) {
    StreamHeader h;
    h.datalen = 0x01020304;
    h.reserved = 0xDEADBEEF;
    uint8_t bytes[kStreamHeaderSize];
    encodeStreamHeader(h, bytes);
    const std::vector<uint8_t> expected = {0xBB, 0xAA, 0x00, 0x00, 0x01, 0x00, 0x00,
                                           0x00, 0x04, 0x03, 0x02, 0x01, 0xEF, 0xBE,
                                           0xAD, 0xDE, 0xDD, 0xCC, 0x00, 0x00};
    EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + sizeof bytes), expected);
}

TEST(StreamFrame, HeaderDecodesFieldsAndChecksMarkers) {
    const uint8_t bytes[kStreamHeaderSize] = {0xBB, 0xAA, 0x00, 0x00, 0x02, 0x00, 0x00,
                                              0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0x00,
                                              0x00, 0x00, 0xDD, 0xCC, 0x01, 0x00};
    const StreamHeader h = decodeStreamHeader(bytes);
    EXPECT_EQ(h.fron, 0xAABBu);
    EXPECT_EQ(h.type, 2);
    EXPECT_EQ(h.datalen, -1);
    EXPECT_EQ(h.end, 0x1CCDDu);
    // A marker with a stray high byte is no marker.
    EXPECT_FALSE(streamMarkersValid(h));
    StreamHeader good = h;
    good.end = kStreamEndMarker;
    EXPECT_TRUE(streamMarkersValid(good));
}

TEST(StreamFrame, PointFrameIsHeaderThenLengthPointsCountRecordsAreas) {
    const std::vector<uint8_t> point = {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00,
                                        0x00, 0xC0, 0x00, 0x00, 0x00, 0x3F};
    ObjRecord r;
    r.index = 3;
    r.kind = 0;
    r.area = 2;
    r.value = 1.5f;
    r.x1 = 0.25f;
    r.y1 = -0.5f;
    r.x2 = 1.0f;
    r.y2 = 2.0f;
    AreaBlock areas{};
    areas[0] = 1.0f;
    areas[27] = -1.0f;

    std::vector<uint8_t> out = {0x55};  // appends after what is there
    appendPointFrame(out, point.data(), point.size(), &r, 1, areas);

    std::vector<uint8_t> expected = {0x55,
                                     // header: datalen 164 = 4 + 12 + 4 + 32 + 112
                                     0xBB, 0xAA, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0xA4, 0x00,
                                     0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xDD, 0xCC, 0x00, 0x00,
                                     // pointLen, point
                                     0x0C, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x3F, 0x00, 0x00,
                                     0x00, 0xC0, 0x00, 0x00, 0x00, 0x3F,
                                     // objnum, record
                                     0x01, 0x00, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00, 0x00,
                                     0x00, 0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x3F,
                                     0x00, 0x00, 0x80, 0x3E, 0x00, 0x00, 0x00, 0xBF, 0x00, 0x00,
                                     0x80, 0x3F, 0x00, 0x00, 0x00, 0x40,
                                     // area block
                                     0x00, 0x00, 0x80, 0x3F};
    expected.insert(expected.end(), 104, 0x00);
    expected.insert(expected.end(), {0x00, 0x00, 0x80, 0xBF});
    EXPECT_EQ(out, expected);
}

TEST(StreamFrame, EmptyFrameHasCountZeroAndAreasRightAfterIt) {
    std::vector<uint8_t> out;
    appendPointFrame(out, nullptr, 0, nullptr, 0, AreaBlock{});
    ASSERT_EQ(out.size(), kStreamHeaderSize + 4 + 4 + kAreaBlockSize);
    EXPECT_EQ(out[8], 120);  // datalen
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 20, out.begin() + 28),
              std::vector<uint8_t>(8, 0x00));
}

TEST(StreamFrame, PlausibleLengthsAndCounts) {
    EXPECT_FALSE(pointLenPlausible(-1));
    EXPECT_TRUE(pointLenPlausible(0));
    EXPECT_TRUE(pointLenPlausible(460800));
    EXPECT_TRUE(pointLenPlausible(16 * 1024 * 1024));
    EXPECT_FALSE(pointLenPlausible(16 * 1024 * 1024 + 1));
    EXPECT_FALSE(objnumPlausible(-1));
    EXPECT_TRUE(objnumPlausible(0));
    EXPECT_TRUE(objnumPlausible(10));
    EXPECT_FALSE(objnumPlausible(11));
}

}  // namespace
