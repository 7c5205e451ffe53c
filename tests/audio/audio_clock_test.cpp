// The audio layer's clock, as the frame loop sees it.
#include "tone.h"
#include "audio/audio.h"
#include "audio/decoder.h"
#include "audio/platform/output.h"
#include "gl_context.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <ostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;


double seconds(Audio* audio, AudioStream s) {
    return audioChannelBytes2Seconds(audio, s, audioChannelGetPosition(audio, s));
}

// One reading of the clock, with the wall time just before and just after it: whatever the
// scheduler does to this thread, the reading was taken somewhere between the two.
struct Reading {
    double before, after;  // wall clock, seconds
    double clock;          // the stream's position, seconds
    double taken;          // what the output had taken of the stream by then, seconds
    double latency;        // what the output said then stands between the two, seconds
};

using Readings = std::vector<Reading>;

// Waits for the stream to be heard (an output may take a while to start), then reads the clock
// about every millisecond for `span` seconds of wall time. Empty if it never started.
Readings readClock(Audio* audio, AudioStream s, double span) {
    const Clock::time_point origin = Clock::now();
    auto wall = [&] { return std::chrono::duration<double>(Clock::now() - origin).count(); };
    while (seconds(audio, s) < 0.1) {
        if (wall() > 20.0) return {};
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    Readings r;
    const double from = wall();
    do {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Reading x;
        x.before = wall();
        x.clock = seconds(audio, s);
        x.after = wall();
        x.taken = audioChannelBytes2Seconds(audio, s, audioChannelGetTaken(audio, s));
        x.latency = audioLatency(audio);
        r.push_back(x);
    } while (r.back().after - from < span);
    return r;
}

bool monotonic(const Readings& r) {
    for (size_t i = 1; i < r.size(); ++i)
        if (r[i].clock < r[i - 1].clock) return false;
    return true;
}

// How far each advance of the clock went beyond the most wall time that can have passed
// between the same two readings, allowing `speed` above real time.
std::vector<double> overshoots(const Readings& r, double speed) {
    std::vector<double> out;
    for (size_t i = 1; i < r.size(); ++i)
        out.push_back((r[i].clock - r[i - 1].clock) - (r[i].after - r[i - 1].before) * speed);
    return out;
}

// How far each advance fell short of the least wall time that passed between the two readings.
double worstLag(const Readings& r) {
    double worst = 0;
    for (size_t i = 1; i < r.size(); ++i)
        worst = std::max(worst, (r[i].before - r[i - 1].after) - (r[i].clock - r[i - 1].clock));
    return worst;
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// The clock's speed against what the output consumed: at each callback seen within a reading
// or two, where the clock stood against what had been taken; the median slope over all pairs of
// such points 1.5 s or more apart, so a stall of the sound server, which the clock follows
// and then catches up with, does not count. NaN where no callback was seen that closely (on a
// busy machine the readings themselves can come further apart).
constexpr double kSlopeBaseline = 1.5;  // seconds of output between the readings of a slope

double speedAgainstOutput(const Readings& r) {
    constexpr double kCloseSeconds = 0.002;
    std::vector<std::pair<double, double>> points;  // taken, clock
    for (size_t i = 1; i < r.size(); ++i)
        if (r[i].taken > r[i - 1].taken && r[i].clock - r[i - 1].clock < kCloseSeconds)
            points.emplace_back(r[i].taken, r[i].clock);
    std::vector<double> slopes;
    for (size_t i = 0; i < points.size(); ++i)
        for (size_t j = i + 1; j < points.size(); ++j)
            if (points[j].first - points[i].first >= kSlopeBaseline)
                slopes.push_back((points[j].second - points[i].second) / (points[j].first - points[i].first));
    return slopes.empty() ? std::nan("") : median(slopes);
}

constexpr double kFrame = 1.0 / 48000;
constexpr double kMaxSteer = 0.05;     // how fast the device clock may gain on real time
constexpr double kNearSteer = 0.004;   // how fast it may gain within half a buffer of the output
constexpr double kStutter = 0.001;     // an advance this far beyond the wall time is a visible jump

// No output at all: the silent clock, as the audio layer falls back to it.
class SilentClock : public ::testing::Test {
protected:
    void SetUp() override {
        velmora::test::CaptureStdout err(2);
        audio = audioInitOn(nullptr, -1, 48000);
        initMessage = err.finish();
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
    const Readings r = readClock(audio, s, 3.0);
    ASSERT_FALSE(r.empty());
    EXPECT_TRUE(monotonic(r));
    // Every advance is the wall time between the two readings, to the frame.
    const std::vector<double> over = overshoots(r, 1.0);
    const double worstOver = *std::max_element(over.begin(), over.end());
    EXPECT_LE(worstOver, kFrame + 1e-6);
    EXPECT_LE(worstLag(r), kFrame + 1e-6);
    // And over the whole window the speed is real time.
    constexpr double kSpeedError = 0.002;
    const double advance = r.back().clock - r.front().clock;
    EXPECT_GE(advance, (r.back().before - r.front().after) * (1 - kSpeedError) - kFrame);
    EXPECT_LE(advance, (r.back().after - r.front().before) * (1 + kSpeedError) + kFrame);
    std::fprintf(stderr, "silent clock: %zu readings, worst overshoot %.4f ms, worst lag %.4f ms, speed %.5f\n",
                 r.size(), worstOver * 1e3, worstLag(r) * 1e3, advance / (r.back().after - r.front().before));
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
    const velmora::test::TempDir tmp("velmora-audio");
    const std::string corrupt = tmp / "corrupt.mp3";
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
        const Clock::time_point before = Clock::now();
        audioChannelPlay(audio, s, false);
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        const double t = seconds(audio, s);
        const double wall = std::chrono::duration<double>(Clock::now() - before).count();
        // Running from the play call on wall time, whatever the length of the sleep was.
        EXPECT_GE(t, 0.1 - kFrame);
        EXPECT_LE(t, wall);
    }
}

}  // namespace

void PrintTo(const AudioOutput* o, std::ostream* os) { *os << o->name; }

namespace {

// Each of the platform's outputs, in the order they are tried.
class DeviceClock : public ::testing::TestWithParam<const AudioOutput*> {};

TEST_P(DeviceClock, FollowsWhatIsHeard) {
    velmora::test::CaptureStdout err(2);
    Audio* audio = audioInitOn(GetParam(), -1, 48000);
    err.finish();
    if (!audioHasDevice(audio)) {
        audioFree(audio);
        // A run that started a sound server of its own names it: not reaching it is a fault.
        if (std::getenv("PULSE_SERVER")) FAIL() << "no sound output through PULSE_SERVER " << std::getenv("PULSE_SERVER");
        GTEST_SKIP() << "no sound device here";
    }
    // Where the sound server itself did not keep time (a busy machine can starve it for most of a
    // window), what the clock should read cannot be told from what the output took; nor where
    // the readings came too far apart to place the callbacks; nor where the output went more than
    // two buffers without taking more: the clock's target then stands at what it was given, and a
    // late callback puts its point on a slope out by its lateness (a 50 ms gap in a 1.5 s baseline
    // is 2 % of speed). Such a window is judged for smoothness only, and the measurement is made
    // again.
    constexpr int kAttempts = 4;
    bool judged = false;
    for (int attempt = 0; attempt < kAttempts && !judged; ++attempt) {
        AudioStream s = audioStreamCreatePcm(audio, tone(4.0));
        audioChannelPlay(audio, s, false);
        const Readings r = readClock(audio, s, 3.0);
        ASSERT_FALSE(r.empty()) << "the output never started playing";
        EXPECT_TRUE(monotonic(r));
        std::vector<double> latencies;
        for (const Reading& x : r) latencies.push_back(x.latency);
        const double latency = median(latencies);

        // Smooth: no advance goes visibly beyond the wall time between its two readings, except
        // where the clock rightly follows a sound server that stalled for longer than it rides
        // over (the output took nothing for a tenth of a second) and then caught up.
        const std::vector<double> over = overshoots(r, 1 + kMaxSteer);
        long jumps = 0, afterStalls = 0, stalls = 0;
        double lastTake = r.front().before, stallEnd = -1, longestGap = 0;
        for (size_t i = 1; i < r.size(); ++i) {
            if (r[i].taken > r[i - 1].taken) {
                longestGap = std::max(longestGap, r[i].after - lastTake);
                if (r[i].after - lastTake > 0.1) {
                    stallEnd = r[i].after;
                    ++stalls;
                }
                lastTake = r[i].after;
            }
            if (over[i - 1] <= kStutter) continue;
            ++(stallEnd >= 0 && r[i].after - stallEnd < 0.5 ? afterStalls : jumps);
        }
        EXPECT_EQ(jumps, 0) << "jumps beyond " << kStutter * 1e3 << " ms";

        const double pace = (r.back().taken - r.front().taken) / (r.back().after - r.front().before);
        std::vector<double> behind;
        for (const Reading& x : r) behind.push_back(x.taken - x.clock);
        const double speed = speedAgainstOutput(r);
        std::fprintf(stderr, "device clock: %zu readings, worst overshoot %.3f ms, %ld jumps (%ld after stalls), "
                     "output at %.4f of real time with %ld stalls (longest gap %.1f ms), %.1f ms behind what was taken "
                     "(latency %.1f ms), speed %.5f of the output's\n",
                     r.size(), *std::max_element(over.begin(), over.end()) * 1e3, jumps, afterStalls, pace, stalls,
                     longestGap * 1e3, median(behind) * 1e3, latency * 1e3, speed);
        if (stalls > 0 || longestGap > 2 * latency || std::fabs(pace - 1.0) > 0.03 || std::isnan(speed)) continue;
        judged = true;
        EXPECT_GT(latency, 0.0);
        EXPECT_LT(latency, 0.1);

        // Within half a buffer of the output the clock keeps to real time, gaining at most
        // kNearSteer: an output running further off real time than that (a starved server, still
        // within the pace allowed above) leaves the clock drifting up to half a buffer from it
        // before it is pulled along, which both the lag and a slope may show.
        const double offPace = std::max(0.0, std::fabs(pace - 1.0) - kNearSteer);
        const double halfBuffer = 0.5 * latency;
        const double lead = std::min(halfBuffer, offPace * (r.back().after - r.front().before));
        // What is heard: the clock stays behind what the output has taken by the latency the output
        // reports (for a callback output, the buffer being played, which what was handed over last
        // is queued behind), to within a few milliseconds of how far its account has aged.
        constexpr double kAccountAge = 0.005;
        EXPECT_GE(median(behind), latency - lead - kAccountAge);
        // At the output's speed.
        const double drift = std::min(offPace, halfBuffer / kSlopeBaseline);
        EXPECT_NEAR(speed, 1.0, 0.005 + drift);

        // Holds at the length once the music has ended, however long the output took to get there.
        const uint64_t length = audioChannelGetLength(audio, s);
        const Clock::time_point limit = Clock::now() + std::chrono::seconds(30);
        while (audioChannelGetPosition(audio, s) < length && Clock::now() < limit)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(audioChannelGetPosition(audio, s), length);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(audioChannelGetPosition(audio, s), length);
    }
    audioFree(audio);
    if (!judged) GTEST_SKIP() << "no window in " << kAttempts << " tries could be judged";
}

std::vector<const AudioOutput*> platformOutputs() {
    std::vector<const AudioOutput*> out;
    for (const AudioOutput* const* o = kAudioOutputs; *o; ++o) out.push_back(*o);
    return out;
}

INSTANTIATE_TEST_SUITE_P(Outputs, DeviceClock, ::testing::ValuesIn(platformOutputs()),
                         [](const ::testing::TestParamInfo<const AudioOutput*>& i) { return std::string(i.param->name); });

TEST(Decoder, RejectsWhatIsNotAnMp3) {
    DecodedPcm pcm;
    std::string error;
    EXPECT_FALSE(decodeMp3("/nonexistent.mp3", pcm, error));
    EXPECT_FALSE(error.empty());
    const velmora::test::TempDir tmp("velmora-decoder");
    velmora::test::writeFile(tmp / "empty.mp3", "");
    error.clear();
    EXPECT_FALSE(decodeMp3((tmp / "empty.mp3").c_str(), pcm, error));
    EXPECT_FALSE(error.empty());
    EXPECT_TRUE(pcm.samples.empty());
}

}  // namespace
