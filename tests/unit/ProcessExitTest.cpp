// The end of the process: the hook set before it runs first, once, and then
// the process ends with the status given (checked in a child process).
#include <gtest/gtest.h>

#include <cstdio>

#include "app/ProcessExit.h"

namespace {

TEST(ProcessExit, TheHookRunsOnceBeforeTheEnd) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            setBeforeProcessEnd([] { std::fprintf(stderr, "summary written\n"); });
            EndProcess(3);
        },
        ::testing::ExitedWithCode(3), "summary written");
    // A hook that itself ends the process does not run again.
    EXPECT_EXIT(
        {
            setBeforeProcessEnd([] {
                std::fprintf(stderr, "once;");
                EndProcess(4);
            });
            EndProcess(3);
        },
        ::testing::ExitedWithCode(4), "^once;$");
    // A removed hook does not run.
    EXPECT_EXIT(
        {
            setBeforeProcessEnd([] { std::fprintf(stderr, "summary written\n"); });
            setBeforeProcessEnd(nullptr);
            std::fprintf(stderr, "no hook");
            EndProcess(5);
        },
        ::testing::ExitedWithCode(5), "^no hook$");
}

}  // namespace
