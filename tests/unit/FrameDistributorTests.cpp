// The frame distributor: from the receiver's latest frame to the main
// dialog's copies, never more than 10 object records.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <thread>

#include "TraceCapture.h"
#include "core/Flags.h"
#include "core/FrameDistributor.h"
#include "core/SharedState.h"
#include "core/ViewFrames.h"

namespace {

// Hands a frame with the given point bytes to the state.
void storeFrame(SharedState& state, std::string points, int32_t n, const ObjRecord* records,
                const AreaBlock& areas) {
    state.StoreFrame(points, n, records, areas);
}

std::vector<ObjRecord> makeRecords(int n, int firstIndex) {
    std::vector<ObjRecord> records(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        records[static_cast<size_t>(i)].index = firstIndex + i;
        records[static_cast<size_t>(i)].value = 1.5f + static_cast<float>(i);
    }
    return records;
}

AreaBlock makeAreas(float first) {
    AreaBlock areas{};
    for (size_t i = 0; i < areas.size(); ++i) areas[i] = first + 0.25f * static_cast<float>(i);
    return areas;
}

// Runs the distributor for the life of the object.
class Distributor {
public:
    Distributor(SharedState& state, ViewFrames& frames)
        : frames_(frames), thread_(RunFrameDistributor, std::ref(state), std::ref(frames)) {}
    ~Distributor() {
        frames_.stop.request();
        thread_.join();
    }

private:
    ViewFrames& frames_;
    std::thread thread_;
};

class FrameDistributor : public ::testing::Test {
protected:
    TraceCapture trace;
    SharedState state;
    ViewFrames frames;
};

TEST_F(FrameDistributor, CopiesFrameAndRaisesFlags) {
    g_pointFrameNew = 0;
    const std::string points = "0123456789ab";
    const auto records = makeRecords(3, 7);
    storeFrame(state, points, 3, records.data(), makeAreas(1.0f));
    {
        Distributor distributor(state, frames);
        ASSERT_TRUE(trace.waitFor("all area"));
    }
    EXPECT_EQ(trace.out(), "all area[1.00,1.25] [1.50,1.75]\n");
    EXPECT_EQ(frames.m_pointNew.load(), 1);
    EXPECT_EQ(frames.m_objNew.load(), 1);
    EXPECT_EQ(g_pointFrameNew.load(), 1);
    EXPECT_EQ(pointBytesOf(frames.m_pointData), points);
    EXPECT_EQ(frames.m_objCount, 3);
    EXPECT_EQ(frames.m_objBuf[0].index, 7);
    EXPECT_EQ(frames.m_objBuf[2].index, 9);
    EXPECT_EQ(frames.m_objBuf[3].index, 0) << "nothing beyond the frame's records";
    EXPECT_EQ(frames.m_areas, makeAreas(1.0f));
    std::lock_guard<std::mutex> lock(state.frameMutex);
    EXPECT_FALSE(state.frameReady);
}

TEST_F(FrameDistributor, TwoFramesBeforeWakingGiveOnlyTheSecond) {
    const auto first = makeRecords(2, 1);
    const auto second = makeRecords(1, 50);
    storeFrame(state, "AAAA", 2, first.data(), makeAreas(1));
    storeFrame(state, "BB", 1, second.data(), makeAreas(9));
    {
        Distributor distributor(state, frames);
        ASSERT_TRUE(trace.waitFor("all area"));
        // A third frame is handed on as well.
        storeFrame(state, "C", 0, nullptr, makeAreas(3));
        ASSERT_TRUE(trace.waitFor("all area[3.00"));
    }
    EXPECT_EQ(trace.out(), "all area[9.00,9.25] [9.50,9.75]\nall area[3.00,3.25] [3.50,3.75]\n");
    EXPECT_EQ(pointBytesOf(frames.m_pointData), "C");
    EXPECT_EQ(frames.m_objBuf[0].index, 50);
}

TEST_F(FrameDistributor, ABlockAViewHoldsIsNeverWrittenAndFreeBlocksAreReused) {
    Distributor distributor(state, frames);
    storeFrame(state, "first", 0, nullptr, makeAreas(1));
    ASSERT_TRUE(trace.waitFor("all area[1.00"));
    PointBlock held;
    {
        std::lock_guard<std::mutex> lock(frames.m_pointMutex);
        held = frames.m_pointData;  // a view reading the first frame
    }
    std::set<const std::string*> blocks;
    for (int i = 2; i < 12; ++i) {
        storeFrame(state, std::string(static_cast<size_t>(i), 'x'), 0, nullptr, makeAreas(i));
        char area[32];
        std::snprintf(area, sizeof area, "all area[%d.00", i);
        ASSERT_TRUE(trace.waitFor(area));
        std::lock_guard<std::mutex> lock(frames.m_pointMutex);
        EXPECT_NE(frames.m_pointData.get(), held.get());
        EXPECT_EQ(*frames.m_pointData, std::string(static_cast<size_t>(i), 'x'));
        blocks.insert(frames.m_pointData.get());
    }
    EXPECT_EQ(*held, "first") << "the held frame stays as it was";
    EXPECT_LE(blocks.size(), 2u) << "blocks nobody holds are filled again";
    frames.releasePoints(held);
}

TEST_F(FrameDistributor, FrameWithoutObjectsKeepsBufferButZeroesCount) {
    frames.m_objCount = 4;
    frames.m_objBuf[0].index = 42;
    storeFrame(state, "P", 0, nullptr, makeAreas(0));
    {
        Distributor distributor(state, frames);
        ASSERT_TRUE(trace.waitFor("all area"));
    }
    EXPECT_EQ(frames.m_objCount, 0);
    EXPECT_EQ(frames.m_objNew.load(), 0);
    EXPECT_EQ(frames.m_objBuf[0].index, 42);
    EXPECT_EQ(frames.m_pointNew.load(), 1);
}

TEST(FrameDistributorRecords, NeverMoreThanTenNorMoreThanTheFrameHolds) {
    const auto records = makeRecords(15, 1);
    // A frame with the given count and the first `held` records, as a faulty
    // receiver might leave it, taken by a fresh distributor.
    auto distribute = [&](int32_t count, size_t held, ViewFrames& frames) {
        TraceCapture trace;
        SharedState state;
        {
            std::lock_guard<std::mutex> lock(state.frameMutex);
            state.objCount = count;
            state.objects.assign(records.begin(), records.begin() + held);
            state.frameReady = true;
        }
        Distributor distributor(state, frames);
        ASSERT_TRUE(trace.waitFor("all area"));
    };
    ViewFrames capped, existing, negative;
    distribute(15, 15, capped);
    EXPECT_EQ(capped.m_objCount, 10);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(capped.m_objBuf[static_cast<size_t>(i)].index, i + 1);
    distribute(5, 2, existing);
    EXPECT_EQ(existing.m_objCount, 2) << "only records that exist are copied";
    distribute(-3, 15, negative);
    EXPECT_EQ(negative.m_objCount, 0);
    EXPECT_EQ(negative.m_objNew.load(), 0);
}

TEST_F(FrameDistributor, StopsWhileWaitingForAFrame) {
    { Distributor distributor(state, frames); }  // joins: the stop is seen while idle
    EXPECT_EQ(frames.m_pointNew.load(), 0);
}

}  // namespace
