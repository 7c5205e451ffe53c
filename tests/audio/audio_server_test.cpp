// The audio clock against the sound server's own account of the demo's stream: what the clock
// reads must be what the server says is being played, on servers of the test's own.
#include "tone.h"
#include "audio/audio.h"
#include "audio/decoder.h"
#include "gl_context.h"
#include "pulse_server.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using velmora::test::PulseServer;
using velmora::test::ServerAccount;


double wallSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// The audio layer opened on `server`, with `env` (NAME=VALUE, may be empty) set while it opens
// and plays, as a user's environment would be.
class Session {
public:
    Session(const std::string& server, const std::string& env = "") {
        velmora::test::setEnv("PULSE_SERVER", server.c_str());
        if (!env.empty()) {
            name_ = env.substr(0, env.find('='));
            velmora::test::setEnv(name_.c_str(), env.substr(env.find('=') + 1).c_str());
        }
        velmora::test::CaptureStdout err(2);
        audio = audioInit(-1, 48000);
        stream = audioStreamCreatePcm(audio, tone(30.0));
        audioChannelPlay(audio, stream, false);
        said = err.finish();
    }
    ~Session() {
        audioFree(audio);
        if (!name_.empty()) velmora::test::unsetEnv(name_.c_str());
        if (const char* run = saved_.empty() ? nullptr : saved_.c_str()) velmora::test::setEnv("PULSE_SERVER", run);
        else velmora::test::unsetEnv("PULSE_SERVER");
    }
    double clock() { return audioChannelBytes2Seconds(audio, stream, audioChannelGetPosition(audio, stream)); }
    double taken() { return audioChannelBytes2Seconds(audio, stream, audioChannelGetTaken(audio, stream)); }
    // Waits until the clock has run `seconds` (the server's buffers are full by then).
    bool playedFor(double seconds) {
        const Clock::time_point start = Clock::now();
        while (clock() < seconds) {
            if (wallSince(start) > 30.0) return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return true;
    }

    Audio* audio = nullptr;
    AudioStream stream = 0;
    std::string said;

private:
    std::string name_;
    std::string saved_ = std::getenv("PULSE_SERVER") ? std::getenv("PULSE_SERVER") : "";
};

double median(std::vector<double> v) {
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return v[v.size() / 2];
}

struct Case {
    const char* name;
    const char* env;       // set while the output opens
    int tunnelLatencyMs;   // >0: the stream plays into a tunnel of this fixed latency to a second server
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

class ServerLatency : public ::testing::TestWithParam<Case> {};

// The lag of the clock behind what the output has taken is what the server holds between the two:
// the stream's buffer and the sink's latency. Each comparison is made where the server's answer
// came back within a few milliseconds and no write happened meanwhile, so the clock's lag at the
// moment the server counted lies between the readings before and after.
TEST_P(ServerLatency, ClockLagsWhatTheOutputTookByWhatTheServerHolds) {
    const Case c = GetParam();
    PulseServer remote;
    std::vector<std::string> modules = {"module-null-sink"};
    if (c.tunnelLatencyMs > 0) {
        ASSERT_FALSE(remote.address().empty()) << "the second sound server did not start";
        modules = {"module-tunnel-sink server=" + remote.address() + " sink_name=tunnel latency_msec=" +
                   std::to_string(c.tunnelLatencyMs)};
    }
    PulseServer server(modules);
    ASSERT_FALSE(server.address().empty()) << "the sound server did not start";
    ServerAccount account(server.address());
    ASSERT_TRUE(account.ready());

    Session s(server.address(), c.env);
    ASSERT_TRUE(audioHasDevice(s.audio)) << s.said;
    ASSERT_TRUE(s.playedFor(1.0)) << "the output never started playing";
    if (c.tunnelLatencyMs > 0) {
        EXPECT_EQ(account.streamSink(), "tunnel");
    }

    constexpr double kClose = 0.004;  // the longest round trip to the server that is compared
    std::vector<double> lags, reported;
    const Clock::time_point start = Clock::now();
    while (lags.size() < 40 && wallSince(start) < 20.0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const double takenBefore = s.taken(), before = s.clock();
        const double latency = account.streamLatency();
        const double after = s.clock(), takenAfter = s.taken();
        ASSERT_GE(latency, 0.0) << "the server does not show one stream";
        if (takenAfter != takenBefore || after - before > kClose) continue;
        lags.push_back(takenBefore - 0.5 * (before + after));
        reported.push_back(latency);
    }
    if (lags.size() < 10) GTEST_SKIP() << "the server answered too slowly to compare (" << lags.size() << " times)";
    std::vector<double> errors;
    for (size_t i = 0; i < lags.size(); ++i) errors.push_back(lags[i] - reported[i]);
    std::fprintf(stderr, "server latency: %s: the server reports %.1f ms, the clock lags what was taken by %.1f ms\n",
                 c.name, median(reported) * 1e3, median(lags) * 1e3);
    EXPECT_NEAR(median(errors), 0.0, 0.005) << "the server reports " << median(reported) * 1e3
                                           << " ms, the clock lags what the output took by " << median(lags) * 1e3
                                           << " ms";
    if (c.tunnelLatencyMs > 0) {
        EXPECT_GE(median(reported), c.tunnelLatencyMs * 1e-3 * 0.8);
    }
}

INSTANTIATE_TEST_SUITE_P(Pulse, ServerLatency,
                         ::testing::Values(Case{"NullSink", "", 0}, Case{"LatencyMsec500", "PULSE_LATENCY_MSEC=500", 0},
                                           Case{"TunnelOfFixedLatency", "", 300}),
                         [](const ::testing::TestParamInfo<Case>& i) { return std::string(i.param.name); });

// Where no sound server runs and SDL finds no device (its dummy driver, refused as a clock), every
// output is tried and one line says why there is no sound.
TEST(NoOutput, EveryOutputIsTriedAndOneLineSaysWhy) {
    const velmora::test::TempDir nowhere("velmora-no-server");
    Session s("unix:" + nowhere / "none", "SDL_AUDIODRIVER=dummy");
    EXPECT_FALSE(audioHasDevice(s.audio));
    EXPECT_NE(s.said.find("audio: no sound output (no sound server ("), std::string::npos) << s.said;
    EXPECT_NE(s.said.find("; no audio driver); timing with a silent clock\n"), std::string::npos) << s.said;
    EXPECT_EQ(std::count(s.said.begin(), s.said.end(), '\n'), 1) << s.said;
}

// A sound server that goes away mid-run: the clock carries on from where the sound was, in real
// time, without a jump, and says so once.
TEST(ServerGone, TheClockCarriesOnInRealTime) {
    PulseServer server;
    ASSERT_FALSE(server.address().empty()) << "the sound server did not start";
    Session s(server.address());
    ASSERT_TRUE(audioHasDevice(s.audio)) << s.said;
    ASSERT_TRUE(s.playedFor(0.5)) << "the output never started playing";

    const Clock::time_point origin = Clock::now();
    struct Reading {
        double before, after, clock;
    };
    std::vector<Reading> r;
    auto read = [&] {
        Reading x;
        x.before = wallSince(origin);
        x.clock = s.clock();
        x.after = wallSince(origin);
        r.push_back(x);
    };
    velmora::test::CaptureStdout err(2);
    while (wallSince(origin) < 0.5) {
        read();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    server.kill();
    const double killedAt = wallSince(origin);
    while (wallSince(origin) < killedAt + 2.5) {
        read();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const std::string said = err.finish();

    // Never back, and never ahead of the wall time between two readings by more than the output's
    // steering allows.
    for (size_t i = 1; i < r.size(); ++i) {
        ASSERT_GE(r[i].clock, r[i - 1].clock) << "at reading " << i;
        ASSERT_LE(r[i].clock - r[i - 1].clock, (r[i].after - r[i - 1].before) * 1.05 + 0.001) << "at reading " << i;
    }
    // The last two seconds advance with the wall clock.
    const Reading* from = nullptr;
    for (const Reading& x : r)
        if (!from && x.before > killedAt + 0.5) from = &x;
    ASSERT_NE(from, nullptr);
    const Reading& to = r.back();
    EXPECT_GE(to.clock - from->clock, (to.before - from->after) * 0.998 - 0.001);
    EXPECT_LE(to.clock - from->clock, (to.after - from->before) * 1.002 + 0.001);
    EXPECT_NE(said.find("silent clock"), std::string::npos) << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
}

}  // namespace
