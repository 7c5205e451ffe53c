// The whole demo, start to finish, on the music clock alone.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it

#include "shell_support.h"

#include <chrono>

namespace {

using namespace std::chrono_literals;

TEST(FullRun, PlaysToTheEndByItselfAndExitsZeroWithNothingOnStdout) {
    // A small private screen keeps software rendering cheap; the clock is the music played into
    // the run's sound server.
    velmora::test::XServer x(320, 180);
    ASSERT_FALSE(x.name().empty());
    const auto start = std::chrono::steady_clock::now();
    velmora::test::DemoProcess demo(x.name());
    // The show lasts 185 s of the clock; the limit only catches a demo that never ends.
    const int status = demo.wait(480s);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(status, 0) << demo.err();
    // The music plays in real time, so the show cannot end sooner than its length.
    EXPECT_GT(took, 185.0);
    EXPECT_EQ(demo.out(), "");
    EXPECT_TRUE(velmora::test::playedItsSoundtrack(demo.err()));
}

}  // namespace
