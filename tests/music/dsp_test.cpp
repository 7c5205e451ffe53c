// The measuring instruments and the synthesiser's building blocks, on signals whose answers are
// known in advance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <vector>

#include "dsp.h"
#include "instruments.h"
#include "loudness.h"
#include "render.h"
#include "score.h"

using namespace velmora::music;

namespace {

constexpr double kPiD = 3.14159265358979323846;

std::vector<float> stereoSine(double hz, double amplitude, double seconds, double phase = 0.0) {
    const size_t n = static_cast<size_t>(seconds * kRate);
    std::vector<float> s(2 * n);
    for (size_t i = 0; i < n; ++i) {
        const float v = static_cast<float>(amplitude * std::sin(2.0 * kPiD * hz * i / kRate + phase));
        s[2 * i] = s[2 * i + 1] = v;
    }
    return s;
}

// Energy of one frequency over a whole buffer (a single DFT bin, Hann-windowed).
double binPower(const std::vector<float>& x, double hz) {
    std::complex<double> acc = 0.0;
    const size_t n = x.size();
    for (size_t i = 0; i < n; ++i) {
        const double w = 0.5 - 0.5 * std::cos(2.0 * kPiD * i / (n - 1));
        acc += w * x[i] * std::polar(1.0, -2.0 * kPiD * hz * i / kRate);
    }
    return std::norm(acc);
}

// Power in the aliases of a sawtooth below `limit` Hz, relative to its fundamental, in dB.
double aliasLevelDb(const std::vector<float>& x, double f0, double limit) {
    const double fundamental = binPower(x, f0);
    double alias = 0.0;
    for (int k = 1; k * f0 < 4.0 * kRate; ++k) {
        double f = std::fmod(k * f0, static_cast<double>(kRate));
        if (f > kRate / 2.0) f = kRate - f;
        if (k * f0 < kRate / 2.0 || f > limit) continue;  // a true harmonic, or out of the band
        alias += binPower(x, f);
    }
    return 10.0 * std::log10(alias / fundamental);
}

}  // namespace

TEST(MusicMeter, LoudnessOfCalibrationTonesAndGating) {
    // A 997 Hz tone in both channels reads its level in dBFS, within a tenth.
    for (double db : {-6.0, -20.0, -35.0}) {
        std::vector<float> s = stereoSine(997.0, std::pow(10.0, db / 20.0), 5.0);
        EXPECT_NEAR(integratedLoudness(s.data(), s.size() / 2), db, 0.1) << db;
    }
    // K-weighting: 40 Hz reads well below 997 Hz at the same level; 4 kHz reads 3.3 dB above
    // (the head's shelf), as ffmpeg's meter reads it too.
    std::vector<float> low = stereoSine(40.0, 0.1, 5.0), high = stereoSine(4000.0, 0.1, 5.0);
    EXPECT_LT(integratedLoudness(low.data(), low.size() / 2), -20.0 - 3.0);
    EXPECT_NEAR(integratedLoudness(high.data(), high.size() / 2), -16.7, 0.15);

    // The relative gate drops a quiet stretch: 10 s at -20 then 10 s at -50 still reads -20,
    // where a plain average would read about -23.
    std::vector<float> loud = stereoSine(997.0, 0.1, 10.0), quiet = stereoSine(997.0, 0.00316, 10.0);
    loud.insert(loud.end(), quiet.begin(), quiet.end());
    EXPECT_NEAR(integratedLoudness(loud.data(), loud.size() / 2), -20.0, 0.15);

    std::vector<float> silence(2 * kRate * 2, 0.0f);
    EXPECT_TRUE(std::isinf(integratedLoudness(silence.data(), silence.size() / 2)));

    // Momentary values follow a step in level within a window.
    std::vector<float> step = stereoSine(997.0, 0.01, 3.0), up = stereoSine(997.0, 0.1, 3.0);
    step.insert(step.end(), up.begin(), up.end());
    std::vector<double> m = slidingLoudness(step.data(), step.size() / 2, 4);
    ASSERT_EQ(m.size(), 60u - 3u);
    EXPECT_NEAR(m[10], -40.0, 0.2);
    EXPECT_NEAR(m[50], -20.0, 0.2);
}

TEST(MusicMeter, TruePeakSeesBetweenSamples) {
    // A quarter-rate sine sampled 45 degrees off its crests: every sample is at 0.707, the
    // waveform reaches 1.0 between them.
    std::vector<float> s = stereoSine(kRate / 4.0, 1.0, 1.0, kPiD / 4.0);
    float samplePeak = 0.0f;
    for (float v : s) samplePeak = std::max(samplePeak, std::fabs(v));
    EXPECT_NEAR(toDb(samplePeak), -3.01, 0.05);
    EXPECT_NEAR(toDb(truePeak(s.data(), s.size() / 2)), 0.0, 0.3);

    // On slow material the true peak is the sample peak.
    std::vector<float> slow = stereoSine(200.0, 0.5, 1.0);
    EXPECT_NEAR(toDb(truePeak(slow.data(), slow.size() / 2)), toDb(0.5), 0.05);
}

TEST(MusicDsp, OscillatorsAreBandLimited) {
    // A 2950 Hz sawtooth: naive, its harmonics above Nyquist fold back loudly into the audible
    // band; with the band-limited step they stay far down.
    const double f0 = 2950.0;
    const int n = kRate / 2;
    std::vector<float> naive(n), blep(n), pulse(n);
    SawOsc saw;
    PulseOsc sq;
    double phase = 0.0;
    for (int i = 0; i < n; ++i) {
        naive[i] = static_cast<float>(2.0 * phase - 1.0);
        phase += f0 / kRate;
        if (phase >= 1.0) phase -= 1.0;
        blep[i] = saw.tick(static_cast<float>(f0 / kRate));
        pulse[i] = sq.tick(static_cast<float>(f0 / kRate));
    }
    const double naiveDb = aliasLevelDb(naive, f0, 12000.0);
    const double blepDb = aliasLevelDb(blep, f0, 12000.0);
    EXPECT_GT(naiveDb, -30.0) << "the measurement should see a naive saw's aliases";
    EXPECT_LT(blepDb, -45.0);
    EXPECT_LT(aliasLevelDb(pulse, f0, 12000.0), -40.0);
}

TEST(MusicDsp, NotesStartAndEndWithoutSteps) {
    // Every instrument, high and low: no step at the onset, a tail that reaches silence inside
    // the room it is given, no NaN, and nothing left over after its own end.
    const Instrument all[] = {Instrument::Wind, Instrument::Drone, Instrument::Oud, Instrument::Ney,
                              Instrument::FrameDum, Instrument::FrameTek, Instrument::Shaker, Instrument::Pad,
                              Instrument::Kick, Instrument::Clap, Instrument::Snare, Instrument::HatClosed,
                              Instrument::HatOpen, Instrument::Crash, Instrument::Bass, Instrument::Arp,
                              Instrument::Lead, Instrument::Bell, Instrument::Impact, Instrument::Riser,
                              Instrument::Swell, Instrument::Zap, Instrument::Sub};
    for (Instrument inst : all) {
        for (float pitch : {38.0f, 81.0f}) {
            Note note;
            note.length = samplesAt(0.6);
            note.pitch = pitch;
            const int64_t room = note.length + tailFrames(inst, note) + samplesAt(0.5);
            std::vector<float> l(room, 0.0f), r(room, 0.0f);
            renderNote(inst, note, 1234u, l.data(), r.data(), room);
            float peak = 0.0f;
            int64_t last = -1;
            for (int64_t i = 0; i < room; ++i) {
                ASSERT_TRUE(std::isfinite(l[i]) && std::isfinite(r[i])) << static_cast<int>(inst);
                const float a = std::max(std::fabs(l[i]), std::fabs(r[i]));
                peak = std::max(peak, a);
                if (a > 0.0f) last = i;
            }
            const std::string what = "instrument " + std::to_string(static_cast<int>(inst)) + " pitch " + std::to_string(pitch);
            ASSERT_GT(peak, 1e-3f) << what << " is silent";
            EXPECT_LT(peak, 4.0f) << what;
            EXPECT_LT(std::max(std::fabs(l[0]), std::fabs(r[0])), 0.02f * peak) << what << " starts with a step";
            EXPECT_LT(last, room - samplesAt(0.5)) << what << " rings past its tail";
            // The final sample is at the level of a -70 dB tail, not a cut.
            EXPECT_LT(std::max(std::fabs(l[last]), std::fabs(r[last])), 2e-3f * peak) << what << " stops with a step";
        }
    }
}

TEST(MusicDsp, DecayingTailsNeverGoSubnormal) {
    // A long reverb tail decays through the subnormal range after about 40 s of silence; with
    // flushing on, it reaches exact zero instead.
    flushDenormals();
    Reverb reverb;
    reverb.setDecay(3.0f);
    int subnormal = 0;
    bool reachedZero = false;
    float l, r;
    reverb.process(1.0f, 1.0f, l, r);
    for (int i = 0; i < 70 * kRate; ++i) {
        reverb.process(0.0f, 0.0f, l, r);
        if (std::fpclassify(l) == FP_SUBNORMAL || std::fpclassify(r) == FP_SUBNORMAL) ++subnormal;
        if (i > kRate && l == 0.0f && r == 0.0f) reachedZero = true;
    }
    EXPECT_EQ(subnormal, 0);
    EXPECT_TRUE(reachedZero);
}

TEST(MusicDsp, LimiterHoldsTheCeilingSmoothly) {
    // Bursts of various heights over a quiet bed.
    const int64_t n = kRate * 2;
    std::vector<float> env(n, 0.1f);
    Rng rng(7);
    for (int b = 0; b < 20; ++b) {
        const int64_t at = 1000 + static_cast<int64_t>(rng.uniform() * (n - 3000));
        const float height = 0.3f + 3.0f * rng.uniform();
        for (int64_t i = at; i < at + 200; ++i) env[i] = std::max(env[i], height);
    }
    const float ceiling = 0.8f, gain = 1.5f;
    const std::vector<float> g = limiterGain(env, gain, ceiling);
    ASSERT_EQ(g.size(), env.size());
    float maxStep = 0.0f;
    for (int64_t i = 0; i < n; ++i) {
        ASSERT_LE(gain * env[i] * g[i], ceiling * 1.0001f) << "frame " << i;
        ASSERT_LE(g[i], 1.0f);
        ASSERT_GT(g[i], 0.0f);
        if (i > 0) maxStep = std::max(maxStep, std::fabs(g[i] - g[i - 1]));
    }
    // Ramps, not steps: the deepest reduction here is about 0.16, spread over 5 ms.
    EXPECT_LT(maxStep, 0.02f);
    // Where nothing needs limiting the gain is left alone.
    const std::vector<float> calm = limiterGain(std::vector<float>(n, 0.2f), gain, ceiling);
    EXPECT_FLOAT_EQ(*std::min_element(calm.begin(), calm.end()), 1.0f);
}

TEST(MusicDsp, SidechainDipsAtEachKickAndRecovers) {
    const int64_t n = kRate * 2;
    const std::vector<int64_t> kicks = {kRate / 2, kRate};
    const std::vector<float> curve = duckingCurve(kicks, {0.8f, 0.4f}, n);
    EXPECT_FLOAT_EQ(curve[0], 1.0f);
    // Down already at the kick (so the kick itself is never masked), deepest just after it.
    const float atFirst = *std::min_element(curve.begin() + kRate / 2, curve.begin() + kRate / 2 + 480);
    EXPECT_NEAR(atFirst, 0.2f, 0.02f);
    EXPECT_LT(curve[kRate / 2], 0.61f);
    EXPECT_NEAR(*std::min_element(curve.begin() + kRate, curve.begin() + kRate + 480), 0.6f, 0.02f);
    // Back to unity within a quarter of a second, and smooth on the way.
    EXPECT_FLOAT_EQ(curve[kRate / 2 + samplesAt(0.25)], 1.0f);
    for (int64_t i = 1; i < n; ++i) ASSERT_LT(std::fabs(curve[i] - curve[i - 1]), 0.01f) << i;
}
