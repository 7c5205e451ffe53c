// The whole demo, start to finish, on the music clock alone.
#include <gtest/gtest.h>  // before Xlib, whose macros clash with it

#include "pulse_server.h"
#include "shell_support.h"

#include <chrono>
#include <string>
#include <thread>

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

namespace {

// A sound server that dies mid-run (a crash, a restart of the desktop's audio): the picture
// carries on from where the sound was, on the monotonic clock, and the run still ends after its
// 185 s.
TEST(FullRun, CarriesOnToTheEndWhenItsSoundServerDiesMidway) {
    velmora::test::PulseServer server;
    ASSERT_FALSE(server.address().empty()) << "the sound server did not start";
    velmora::test::XServer x(320, 180);
    ASSERT_FALSE(x.name().empty());
    const auto start = std::chrono::steady_clock::now();
    velmora::test::DemoProcess demo(x.name(), server.address());
    // Playing, then some way into the music.
    const auto limit = start + 240s;
    while (demo.err().find("audio: pulse,") == std::string::npos && demo.running() &&
           std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(100ms);
    ASSERT_NE(demo.err().find("audio: pulse,"), std::string::npos) << demo.err();
    std::this_thread::sleep_for(30s);
    ASSERT_TRUE(demo.running()) << demo.err();
    server.kill();
    const int status = demo.wait(480s);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(status, 0) << demo.err();
    EXPECT_GT(took, 185.0);
    EXPECT_EQ(demo.out(), "");
    const std::string err = demo.err();
    EXPECT_NE(err.find("audio: the sound output stopped"), std::string::npos) << err;
    EXPECT_EQ(err.find("no sound output"), std::string::npos) << err;
}

}  // namespace
