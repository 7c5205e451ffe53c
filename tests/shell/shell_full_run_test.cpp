// The whole demo, start to finish, on the music clock alone.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

TEST(FullRun, PlaysToTheEndByItselfAndExitsZeroWithNothingOnStdout) {
    const char* display = std::getenv("DISPLAY");
    if (!display || !*display) GTEST_SKIP() << "needs an X display";
    const std::string out = "/tmp/velmora-full-run.out";
    // A small private screen keeps software rendering cheap; the clock is the silent one.
    const std::string cmd = std::string("xvfb-run -a -s '-screen 0 320x180x24 -noreset' env SDL_AUDIODRIVER=dummy ") +
                            VELMORA_EXE + " > " + out + " 2>/dev/null";
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system(("timeout 300 " + cmd).c_str());
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_GT(took, 185.0);
    EXPECT_LT(took, 185.0 + 60.0);
    FILE* f = std::fopen(out.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(std::fgetc(f), EOF) << "stdout was not empty";
    std::fclose(f);
}

}  // namespace
