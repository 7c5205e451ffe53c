// The built soundtrack as the demo hears it: decoded by the audio layer's decoder, then
// measured for length, loudness, peaks and for where its sections change.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "audio/decoder.h"
#include "dsp.h"
#include "loudness.h"
#include "score.h"

using namespace velmora::music;
namespace tl = velmora::music::timeline;

namespace {

const char* const kPath = "data/dunesong.mp3";

struct Decoded {
    DecodedPcm pcm;
    std::vector<float> stereo;  // full scale 1.0
    std::string error;
    bool ok = false;
    size_t frames() const { return stereo.size() / 2; }
};

const Decoded& soundtrack() {
    static const Decoded d = [] {
        Decoded r;
        r.ok = decodeMp3(kPath, r.pcm, r.error);
        r.stereo.reserve(r.pcm.samples.size());
        for (int16_t s : r.pcm.samples) r.stereo.push_back(s / 32768.0f);
        return r;
    }();
    return d;
}

#define REQUIRE_SOUNDTRACK()                                                      \
    const Decoded& track = soundtrack();                                          \
    ASSERT_TRUE(track.ok) << kPath << ": " << track.error;                        \
    ASSERT_EQ(track.pcm.channels, 2);                                             \
    ASSERT_EQ(track.pcm.rate, kRate)

// Mean loudness over [from, to) seconds, from 100 ms K-weighted powers.
double loudnessBetween(const std::vector<double>& power, double from, double to) {
    const size_t a = static_cast<size_t>(std::ceil(from * 10.0)), b = static_cast<size_t>(to * 10.0);
    double sum = 0.0;
    for (size_t i = a; i < b && i < power.size(); ++i) sum += power[i];
    return -0.691 + 10.0 * std::log10(sum / std::max<size_t>(1, b - a) + 1e-20);
}

// Energy of the difference of the channels against their sum, in dB: 0 for uncorrelated
// channels, very negative for mono.
double sideToMidDb(const std::vector<float>& stereo, double from, double to) {
    double side = 1e-20, mid = 1e-20;
    for (int64_t i = samplesAt(from); i < samplesAt(to); ++i) {
        const double l = stereo[2 * i], r = stereo[2 * i + 1];
        side += (l - r) * (l - r);
        mid += (l + r) * (l + r);
    }
    return 10.0 * std::log10(side / mid);
}

// Mono sum through an optional band filter.
enum class Band { Full, Low };
std::vector<float> band(const std::vector<float>& stereo, Band which) {
    const size_t n = stereo.size() / 2;
    std::vector<float> out(n);
    Biquad f;
    if (which == Band::Low) {
        // Low-pass at 150 Hz (bilinear Butterworth).
        const double w = std::tan(3.14159265358979 * 150.0 / kRate), k = 1.0 / (1.0 + std::sqrt(2.0) * w + w * w);
        f.b0 = w * w * k;
        f.b1 = 2.0 * f.b0;
        f.b2 = f.b0;
        f.a1 = 2.0 * (w * w - 1.0) * k;
        f.a2 = (1.0 - std::sqrt(2.0) * w + w * w) * k;
    }
    for (size_t i = 0; i < n; ++i) {
        const double m = 0.5 * (stereo[2 * i] + stereo[2 * i + 1]);
        out[i] = static_cast<float>(which == Band::Full ? m : f.tick(m));
    }
    return out;
}

double energy(const std::vector<float>& x, int64_t from, int64_t count) {
    double e = 1e-12;
    for (int64_t i = std::max<int64_t>(0, from); i < from + count && i < static_cast<int64_t>(x.size()); ++i)
        e += static_cast<double>(x[i]) * x[i];
    return e;
}

struct Change {
    double seconds;  // where the energy changes most
    double db;       // by how much, one window after against one window before
};

// Searches +-60 ms around `expected` for the sharpest rise of energy between two windows of
// `window` seconds (10 ms suits transients, low bands need longer).
Change sharpestRise(const std::vector<float>& x, double expected, double window) {
    const int64_t w = samplesAt(window), centre = samplesAt(expected), reach = samplesAt(0.06);
    Change best{expected, -1e9};
    for (int64_t t = centre - reach; t <= centre + reach; t += 24) {
        const double ratio = 10.0 * std::log10(energy(x, t, w) / energy(x, t - w, w));
        if (ratio > best.db) best = {static_cast<double>(t) / kRate, ratio};
    }
    return best;
}

}  // namespace

TEST(Soundtrack, DecodesGaplessToTheFullLengthAndFadesAfterTheEnd) {
    REQUIRE_SOUNDTRACK();
    // Every sample of the score and nothing else: no encoder delay, no padding.
    EXPECT_EQ(static_cast<int64_t>(track.frames()), samplesAt(tl::kEnd));
    const std::vector<double> power = kWeightedPower(track.stereo.data(), track.frames());
    // The credits are still playing when the demo's clock passes 185 s, and the last tenth
    // of a second is silence.
    EXPECT_GT(loudnessBetween(power, 184.5, 185.0), -25.0);
    EXPECT_LT(loudnessBetween(power, 187.5, 187.9), -50.0);
    float tail = 0.0f;
    for (size_t i = 2 * static_cast<size_t>(samplesAt(187.9)); i < track.stereo.size(); ++i)
        tail = std::max(tail, std::fabs(track.stereo[i]));
    EXPECT_LE(tail, 2.0f / 32768.0f);
    // It starts from silence too: the wind rises, nothing clicks in.
    float head = 0.0f;
    for (size_t i = 0; i < 2 * 480; ++i) head = std::max(head, std::fabs(track.stereo[i]));
    EXPECT_LE(head, 4.0f / 32768.0f);
}

TEST(Soundtrack, LoudnessAndTruePeakWithinBounds) {
    REQUIRE_SOUNDTRACK();
    const double lufs = integratedLoudness(track.stereo.data(), track.frames());
    EXPECT_NEAR(lufs, -14.0, 1.0);
    const double tp = toDb(truePeak(track.stereo.data(), track.frames()));
    EXPECT_LE(tp, -1.0);
    size_t clipped = 0;
    for (int16_t s : track.pcm.samples) clipped += (s >= 32767 || s <= -32767);
    EXPECT_EQ(clipped, 0u);
    std::fprintf(stderr, "soundtrack: %.2f LUFS integrated, true peak %.2f dBTP\n", lufs, tp);
}

TEST(Soundtrack, AnIndependentMeterAgrees) {
    // ffmpeg's own EBU R128 meter on the same file, as a check on ours.
    FILE* p = popen("ffmpeg -hide_banner -nostats -i data/dunesong.mp3 -af ebur128=peak=true:framelog=verbose "
                    "-f null - 2>&1 | tail -n 12", "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    while (std::fgets(buf, sizeof buf, p)) out += buf;
    const int status = pclose(p);
    if (out.find("Integrated loudness") == std::string::npos) {
        if (status != 0 && out.find("not found") != std::string::npos) GTEST_SKIP() << "ffmpeg is not installed";
        FAIL() << "no summary from ffmpeg:\n" << out;
    }
    double lufs = 0.0, peak = 0.0;
    ASSERT_EQ(std::sscanf(out.c_str() + out.find("I:"), "I: %lf", &lufs), 1) << out;
    ASSERT_EQ(std::sscanf(out.c_str() + out.find("Peak:"), "Peak: %lf", &peak), 1) << out;
    EXPECT_NEAR(lufs, -14.0, 1.0) << out;
    EXPECT_LE(peak, -1.0) << out;
}

TEST(Soundtrack, SectionsFollowTheProgramme) {
    REQUIRE_SOUNDTRACK();
    const std::vector<double> power = kWeightedPower(track.stereo.data(), track.frames());
    // Leave out the first second after each change, where tails and hits overlap.
    const double desert = loudnessBetween(power, 4.0, tl::kFadeStart);
    const double particles = loudnessBetween(power, tl::kParticles + 1, tl::kMeteor);
    const double meteor = loudnessBetween(power, tl::kMeteor + 1, tl::kMountain);
    const double mountain = loudnessBetween(power, tl::kMountain + 1, tl::kStarNight);
    const double night = loudnessBetween(power, tl::kStarNight + 1, tl::kCredits);
    std::fprintf(stderr, "sections: desert %.1f, particles %.1f, meteor %.1f, mountain %.1f, night %.1f LUFS\n",
                 desert, particles, meteor, mountain, night);

    // The meteor sky is the most energetic; the desert and the night are calm beside it.
    EXPECT_GT(meteor, particles + 0.5);
    EXPECT_GT(meteor, mountain + 0.5);
    EXPECT_LT(desert, meteor - 3.0);
    EXPECT_LT(night, meteor - 3.0);
    EXPECT_LT(night, mountain - 3.0);
    // The night is wide where the beat sections keep their weight in the middle.
    EXPECT_GT(sideToMidDb(track.stereo, tl::kStarNight + 1, tl::kCredits),
              sideToMidDb(track.stereo, tl::kMeteor + 1, tl::kMountain) + 4.0);
    // The mountain climbs: its last third is louder than its first.
    const double climbFrom = loudnessBetween(power, tl::kMountain + 1, tl::kMountain + 10);
    const double climbTo = loudnessBetween(power, tl::kStarNight - 10, tl::kStarNight);
    EXPECT_GT(climbTo, climbFrom + 1.5);

    // The desert fades from 58 s into near-silence at 64.3 s, and the hit breaks it.
    const double fade1 = loudnessBetween(power, 58.0, 60.0), fade2 = loudnessBetween(power, 60.0, 62.0),
                 fade3 = loudnessBetween(power, 62.0, 64.0);
    EXPECT_GT(loudnessBetween(power, 50.0, 58.0), fade1);
    EXPECT_GT(fade1, fade2 + 2.0);
    EXPECT_GT(fade2, fade3 + 6.0);
    EXPECT_LT(loudnessBetween(power, tl::kDesertEnd, tl::kDesertEnd + 0.3), -45.0);
    EXPECT_GT(loudnessBetween(power, tl::kTitle, tl::kTitle + 1.0), desert);
}

TEST(Soundtrack, EachChangeLandsOnItsTime) {
    REQUIRE_SOUNDTRACK();
    // Each new section opens with an onset: broadband for the hits, in the bass for the
    // sections that start on a kick or a boom.
    const std::vector<float> full = band(track.stereo, Band::Full), low = band(track.stereo, Band::Low);
    struct Expect {
        double seconds;
        const std::vector<float>* signal;
        double window;
        const char* what;
    };
    const Expect changes[] = {
        {tl::kTitle, &full, 0.01, "the title hit"},
        {tl::kParticles, &low, 0.02, "the first beat"},
        {tl::kMeteor, &low, 0.02, "the meteor sky"},
        {tl::kMountain, &low, 0.02, "the mountain"},
        {tl::kStarNight, &low, 0.02, "the star night"},
        {tl::kCredits, &full, 0.01, "the credits"},
    };
    for (const Expect& e : changes) {
        const Change c = sharpestRise(*e.signal, e.seconds, e.window);
        std::fprintf(stderr, "%-16s expected %.3f s, found %.4f s (%+.1f dB)\n", e.what, e.seconds, c.seconds, c.db);
        EXPECT_NEAR(c.seconds, e.seconds, 0.020) << e.what;
        EXPECT_GT(c.db, 9.0) << e.what << ": no clear change";
    }
}
