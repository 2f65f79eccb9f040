// Readout lines in both languages and the height vote of a passage.
#include <gtest/gtest.h>

#include <cstdio>
#include <limits>

#include "core/Flags.h"
#include "views/ReadoutWorker.h"

namespace {

class Language : public ::testing::Test {
protected:
    ~Language() override { g_uiChinese = true; }
};

ObjRecord record(int index, int kind, int area, float value) {
    ObjRecord r;
    r.index = index;
    r.kind = kind;
    r.area = area;
    r.value = value;
    r.x1 = 0.1f, r.y1 = -0.25f, r.x2 = 0.5f, r.y2 = 0.125f;
    return r;
}

TEST_F(Language, PersonLineInBothLanguages) {
    const ObjRecord r = record(12, 2, 3, 1.756f);
    g_uiChinese = true;
    EXPECT_EQ(ReadoutLine(r), "[12][2][人],区域[3],坐标[0.10 -0.25][0.50 0.12],身高[1.76]米\r\n");
    g_uiChinese = false;
    EXPECT_EQ(ReadoutLine(r), "[12][2][person],area[3],pos[0.10 -0.25][0.50 0.12],hei[1.76]m\r\n");
}

TEST_F(Language, ObjectLineIsTheSameInBothLanguagesOtherKindsHaveNone) {
    const char* expected = "[-3][obj],area[4],pos[0.10 -0.25][0.50 0.12],v[0.026400]m3\r\n";
    g_uiChinese = true;
    EXPECT_EQ(ReadoutLine(record(5, -3, 4, 0.0264f)), expected);
    g_uiChinese = false;
    EXPECT_EQ(ReadoutLine(record(5, -3, 4, 0.0264f)), expected);
    EXPECT_EQ(ReadoutLine(record(5, -1, 4, 0.5f)).rfind("[-1][obj],area[4]", 0), 0u);
    EXPECT_EQ(ReadoutLine(record(5, -2, 4, 0.5f)), "");
    EXPECT_EQ(ReadoutLine(record(5, -4, 4, 0.5f)), "");
}

TEST_F(Language, HeightLineHasFourSpacesBeforeTheLineEnd) {
    g_uiChinese = true;
    EXPECT_EQ(HeightLine(1.755f), "输出身高[1.75]米    \n");
    g_uiChinese = false;
    EXPECT_EQ(HeightLine(0.0f), "output height[0.00]m    \n");
}

TEST_F(Language, OverlongLineIsCutAt127CharactersOnACharacterBoundary) {
    ObjRecord r = record(2147483647, 2147483647, 2147483647, 3e38f);
    r.x1 = -3e38f;
    g_uiChinese = true;
    const std::string line = ReadoutLine(r);
    size_t chars = 0;
    for (unsigned char c : line) chars += (c & 0xC0) != 0x80 ? 1 : 0;
    EXPECT_EQ(chars, 127u);
    EXPECT_EQ(line.rfind("[2147483647][2147483647][人],区域[2147483647],坐标[-", 0), 0u);
}

float estimate(std::initializer_list<float> heights) {
    HeightVotes votes;
    for (float h : heights) AddHeightVote(votes, h);
    return EstimateHeight(votes);
}

TEST(HeightVote, ThreeVotesAmongTheTallestWin) {
    EXPECT_FLOAT_EQ(estimate({1.72f, 1.72f, 1.72f, 1.80f}), 1.72f);
    // Three taller heights with one vote each hide the 3-vote height.
    EXPECT_FLOAT_EQ(estimate({1.60f, 1.60f, 1.60f, 1.90f, 1.85f, 1.80f}), 1.85f);
}

TEST(HeightVote, WithoutAWinnerTheSmallestIsDroppedAndTheRestAveraged) {
    const float h = estimate({1.75f, 1.76f, 1.60f});
    EXPECT_FLOAT_EQ(h, 1.755f);
    EXPECT_LT(h, 1.755);  // just below in single precision, shown as 1.75
    char text[16];
    std::snprintf(text, sizeof text, "%.02f", static_cast<double>(h));
    EXPECT_STREQ(text, "1.75");
    // Counts first, then the taller of equal counts: 178 (2), 177 (2), 176 (1).
    EXPECT_FLOAT_EQ(estimate({1.70f, 1.76f, 1.77f, 1.77f, 1.78f, 1.78f, 1.74f}),
                    (178 + 177 + 176) / 3.0f / 100.0f);
}

TEST(HeightVote, SingleVoteEmptyRoundingAndNoNumbers) {
    EXPECT_FLOAT_EQ(estimate({1.70f}), 1.70f);
    EXPECT_FLOAT_EQ(estimate({}), 0.0f);
    HeightVotes votes;
    // Heights that are no number are not counted.
    AddHeightVote(votes, std::numeric_limits<float>::quiet_NaN());
    AddHeightVote(votes, std::numeric_limits<float>::infinity());
    AddHeightVote(votes, 3e38f);
    EXPECT_TRUE(votes.empty());
    AddHeightVote(votes, 1.695f);
    AddHeightVote(votes, 1.6949f);
    EXPECT_EQ(votes.at(170), 1);
    EXPECT_EQ(votes.at(169), 1);
    EXPECT_EQ(votes.size(), 2u);
}

}  // namespace
