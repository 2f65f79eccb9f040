// Entry of the GUI test program: one QApplication for all tests, on Qt's
// offscreen platform unless the caller chose another one.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <memory>

#include "ScopedTimings.h"

namespace {

// Every test must leave the shared waits as it found them (each test that
// shortens them holds a ScopedTimings); a test that does not fails here.
class TimingsLeftAsFound : public ::testing::EmptyTestEventListener {
    void OnTestStart(const ::testing::TestInfo&) override {
        before_ = std::make_unique<ScopedTimings>();
    }
    void OnTestEnd(const ::testing::TestInfo&) override {
        EXPECT_EQ(before_->changed(), "") << "timings the test changed and did not restore";
        before_.reset();
    }
    std::unique_ptr<ScopedTimings> before_;
};

}  // namespace

int main(int argc, char** argv) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::UnitTest::GetInstance()->listeners().Append(new TimingsLeftAsFound);
    return RUN_ALL_TESTS();
}
