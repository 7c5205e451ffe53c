// The audio layer's clock, as the frame loop sees it.
#include "audio/audio.h"
#include "audio/decoder.h"
#include "gl_context.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr double kBytesPerSecond = 48000.0 * 2 * 2;

DecodedPcm tone(double seconds) {
    DecodedPcm pcm;
    pcm.rate = 48000;
    pcm.channels = 2;
    const size_t frames = static_cast<size_t>(seconds * pcm.rate);
    pcm.samples.resize(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const auto v = static_cast<int16_t>(3000.0 * std::sin(2.0 * M_PI * 440.0 * i / pcm.rate));
        pcm.samples[2 * i] = pcm.samples[2 * i + 1] = v;
    }
    return pcm;
}

double seconds(Audio* audio, AudioStream s) {
    return audioChannelBytes2Seconds(audio, s, audioChannelGetPosition(audio, s));
}

struct ClockFigures {
    double maxStep = 0;       // largest advance between readings ~1 ms apart, seconds
    bool monotonic = true;
    double rateError = 0;     // relative to the wall clock
};

// Reads the clock every millisecond for `span` seconds of wall time.
ClockFigures measure(Audio* audio, AudioStream s, double span) {
    ClockFigures f;
    // An output may take a moment to start; the clock holds near 0 until it is heard.
    const Clock::time_point limit = Clock::now() + std::chrono::seconds(3);
    while (seconds(audio, s) < 0.1 && Clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const Clock::time_point start = Clock::now();
    const double first = seconds(audio, s);
    double prev = first;
    double wall = 0;
    while (wall < span) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const Clock::time_point now = Clock::now();
        const double t = seconds(audio, s);
        const double gap = std::chrono::duration<double>(now - start).count() - wall;
        wall += gap;
        if (t < prev) f.monotonic = false;
        // Only the part of a step beyond the wall time between the readings is a jump.
        f.maxStep = std::max(f.maxStep, t - prev - std::max(0.0, gap - 0.001));
        prev = t;
    }
    f.rateError = std::fabs((prev - first) / wall - 1.0);
    std::fprintf(stderr, "clock: max step %.3f ms, rate error %.4f %%\n", f.maxStep * 1e3, f.rateError * 100);
    return f;
}

class SilentClock : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("SDL_AUDIODRIVER", "dummy", 1);  // refused as a clock: forces the silent one
        velmora::test::CaptureStdout err(2);
        audio = audioInit(-1, 48000);
        initMessage = err.finish();
        unsetenv("SDL_AUDIODRIVER");
    }
    void TearDown() override { audioFree(audio); }
    Audio* audio = nullptr;
    std::string initMessage;
};

TEST_F(SilentClock, SaysSoOnStderrOnly) {
    EXPECT_FALSE(audioHasDevice(audio));
    EXPECT_NE(initMessage.find("silent clock"), std::string::npos) << initMessage;
    EXPECT_EQ(std::count(initMessage.begin(), initMessage.end(), '\n'), 1);
}

TEST_F(SilentClock, ConvertsBytesAtTheOutputFormat) {
    AudioStream s = audioStreamCreatePcm(audio, tone(0.5));
    EXPECT_DOUBLE_EQ(audioChannelBytes2Seconds(audio, s, 0), 0.0);
    EXPECT_DOUBLE_EQ(audioChannelBytes2Seconds(audio, s, 192000), 1.0);
    EXPECT_DOUBLE_EQ(audioChannelBytes2Seconds(audio, s, 4), 1.0 / 48000);
    EXPECT_EQ(audioChannelGetLength(audio, s), 24000u * 4);
    EXPECT_LT(audioChannelBytes2Seconds(audio, 0, 4), 0.0);
    EXPECT_EQ(audioChannelGetPosition(audio, 99), 0u);
}

TEST_F(SilentClock, StandsStillUntilPlayedThenRunsInRealTime) {
    AudioStream s = audioStreamCreatePcm(audio, tone(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(audioChannelGetPosition(audio, s), 0u);
    audioChannelPlay(audio, s, false);
    ClockFigures f = measure(audio, s, 3.0);
    EXPECT_TRUE(f.monotonic);
    EXPECT_LT(f.maxStep, 0.003);
    EXPECT_LT(f.rateError, 0.005);
}

TEST_F(SilentClock, HoldsAtTheLengthAfterTheEnd) {
    AudioStream s = audioStreamCreatePcm(audio, tone(0.25));
    audioChannelPlay(audio, s, false);
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(audioChannelGetPosition(audio, s), audioChannelGetLength(audio, s));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(audioChannelGetPosition(audio, s), audioChannelGetLength(audio, s));
}

TEST_F(SilentClock, MissingOrCorruptFileIsNamedAndRunsWithoutEnd) {
    const std::string corrupt = "/tmp/velmora-corrupt.mp3";
    velmora::test::writeFile(corrupt, std::string(4096, '\x5a'));
    for (const std::string& path : {std::string("/nonexistent/dunesong.mp3"), corrupt}) {
        velmora::test::CaptureStdout out(1);
        velmora::test::CaptureStdout err(2);
        AudioStream s = audioStreamCreateFile(audio, path.c_str());
        const std::string said = err.finish();
        EXPECT_EQ(out.finish(), "");
        EXPECT_NE(said.find(path), std::string::npos) << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_EQ(audioChannelGetLength(audio, s), 0u);
        audioChannelPlay(audio, s, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const double t = seconds(audio, s);
        EXPECT_GT(t, 0.08);
        EXPECT_LT(t, 0.5);
    }
}

TEST(DeviceClock, FollowsWhatIsHeard) {
    velmora::test::CaptureStdout err(2);
    Audio* audio = audioInit(-1, 48000);
    err.finish();
    if (!audioHasDevice(audio)) {
        audioFree(audio);
        GTEST_SKIP() << "no sound device here";
    }
    EXPECT_GT(audioLatency(audio), 0.0);
    EXPECT_LT(audioLatency(audio), 0.1);
    AudioStream s = audioStreamCreatePcm(audio, tone(4.0));
    audioChannelPlay(audio, s, false);
    ClockFigures f = measure(audio, s, 3.0);
    EXPECT_TRUE(f.monotonic);
    EXPECT_LT(f.maxStep, 0.003);
    EXPECT_LT(f.rateError, 0.005);
    std::this_thread::sleep_for(std::chrono::milliseconds(1200));
    EXPECT_EQ(audioChannelGetPosition(audio, s), audioChannelGetLength(audio, s));
    audioFree(audio);
}

TEST(Decoder, RejectsWhatIsNotAnMp3) {
    DecodedPcm pcm;
    std::string error;
    EXPECT_FALSE(decodeMp3("/nonexistent.mp3", pcm, error));
    EXPECT_FALSE(error.empty());
    velmora::test::writeFile("/tmp/velmora-empty.mp3", "");
    error.clear();
    EXPECT_FALSE(decodeMp3("/tmp/velmora-empty.mp3", pcm, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(pcm.samples.empty());
}

}  // namespace
