// The score's schedule, the shared effects and the encoder, each without rendering the piece.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "audio/decoder.h"
#include "dsp.h"
#include "render/timeline.h"
#include "encode.h"
#include "score.h"

using namespace velmora::music;
namespace tl = velmora::music::timeline;

namespace {

const Track* findTrack(const Score& s, Instrument inst) {
    for (const Track& t : s.tracks)
        if (t.instrument == inst) return &t;
    return nullptr;
}

bool onsetAt(const Score& s, Instrument inst, double seconds) {
    const Track* t = findTrack(s, inst);
    if (!t) return false;
    const int64_t at = samplesAt(seconds);
    return std::any_of(t->notes.begin(), t->notes.end(), [&](const Note& n) { return std::llabs(n.start - at) <= 1; });
}

}  // namespace

TEST(MusicScore, EveryChangeIsScheduledOnItsSample) {
    const Score s = buildScore();
    EXPECT_EQ(s.frames, samplesAt(tl::kEnd));
    // Each new section opens with an onset on the very sample of its time.
    EXPECT_TRUE(onsetAt(s, Instrument::Impact, tl::kTitle));
    EXPECT_TRUE(onsetAt(s, Instrument::Kick, tl::kParticles));
    EXPECT_TRUE(onsetAt(s, Instrument::Kick, tl::kMeteor));
    EXPECT_TRUE(onsetAt(s, Instrument::Crash, tl::kMeteor));
    EXPECT_TRUE(onsetAt(s, Instrument::Kick, tl::kMountain));
    EXPECT_TRUE(onsetAt(s, Instrument::Impact, tl::kStarNight));
    EXPECT_TRUE(onsetAt(s, Instrument::Impact, tl::kCredits));

    for (const Track& t : s.tracks) {
        ASSERT_FALSE(t.notes.empty()) << t.name;
        for (const Note& n : t.notes) {
            ASSERT_GE(n.start, 0) << t.name;
            ASSERT_LT(n.start, s.frames) << t.name;
            ASSERT_GT(n.length, 0) << t.name;
            ASSERT_TRUE(n.velocity > 0.0f && n.velocity <= 1.0f) << t.name;
            ASSERT_TRUE(n.pan >= -1.0f && n.pan <= 1.0f) << t.name;
        }
        // Sorted, so a track renders front to back.
        ASSERT_TRUE(std::is_sorted(t.notes.begin(), t.notes.end(),
                                   [](const Note& a, const Note& b) { return a.start < b.start; })) << t.name;
    }
    // Only the swell rises out of the silence before the hit; everything else follows the fade.
    const int64_t silentFrom = samplesAt(tl::kDesertEnd), silentTo = samplesAt(tl::kTitle);
    for (const Track& t : s.tracks)
        for (const Note& n : t.notes)
            if (n.start >= silentFrom && n.start < silentTo) {
                EXPECT_FALSE(t.followsFade) << t.name;
            }
}

TEST(MusicScore, TheBeatBelongsToTheBeatSections) {
    const Score s = buildScore();
    ASSERT_FALSE(s.kicks.empty());
    const Track* kick = findTrack(s, Instrument::Kick);
    ASSERT_NE(kick, nullptr);
    ASSERT_EQ(kick->notes.size(), s.kicks.size()) << "every kick drives the sidechain";
    for (const Kick& k : s.kicks) {
        EXPECT_GE(k.position, samplesAt(tl::kParticles));
        EXPECT_LT(k.position, samplesAt(tl::kStarNight));
        EXPECT_TRUE(k.depth > 0.0f && k.depth <= 1.0f);
    }
    // Four to the floor on each section's own grid: the beat of the particles is a 48th of
    // the section, the meteor's a 64th, the mountain's a 56th (in its second half).
    auto spacing = [&](double from, double to) {
        std::vector<int64_t> d;
        int64_t prev = -1;
        for (const Kick& k : s.kicks)
            if (k.position >= samplesAt(from) && k.position < samplesAt(to)) {
                if (prev >= 0) d.push_back(k.position - prev);
                prev = k.position;
            }
        std::sort(d.begin(), d.end());
        return d.empty() ? 0.0 : static_cast<double>(d[d.size() / 2]) / kRate;
    };
    EXPECT_NEAR(spacing(tl::kParticles, tl::kMeteor), (tl::kMeteor - tl::kParticles) / 48.0, 1e-4);
    EXPECT_NEAR(spacing(tl::kMeteor, tl::kMountain), (tl::kMountain - tl::kMeteor) / 64.0, 1e-4);
    EXPECT_NEAR(spacing(tl::kMountain + 10.0, tl::kStarNight), (tl::kStarNight - tl::kMountain) / 56.0, 1e-4);

    // The echo follows the tempo: three sixteenths of each section's beat.
    ASSERT_GE(s.spans.size(), 7u);
    for (size_t i = 1; i < s.spans.size(); ++i) EXPECT_GT(s.spans[i].start, s.spans[i - 1].start);
    for (const Span& sp : s.spans)
        if (sp.start == samplesAt(tl::kMeteor)) {
            EXPECT_NEAR(sp.delaySamples, 0.75 * (tl::kMountain - tl::kMeteor) / 64.0 * kRate, 1.0);
        }
}

TEST(MusicEffects, EchoesPingPongOnTheTempoAndFollowAChange) {
    flushDenormals();
    TempoDelay delay;
    delay.setTime(9000);
    const int n = 60000;
    std::vector<float> l(n), r(n);
    for (int i = 0; i < n; ++i) delay.process(i == 0 ? 1.0f : 0.0f, 0.0f, l[i], r[i]);
    auto peakAt = [](const std::vector<float>& x, int from, int to) {
        int best = from;
        for (int i = from; i < to; ++i)
            if (std::fabs(x[i]) > std::fabs(x[best])) best = i;
        return best;
    };
    // The first echo on the left after one delay, the next on the right after two (smeared
    // by a few samples through the feedback's tone filter), each quieter.
    EXPECT_EQ(peakAt(l, 1, 12000), 9000);
    EXPECT_NEAR(peakAt(r, 12000, 22000), 18000, 8);
    EXPECT_NEAR(peakAt(l, 22000, 31000), 27000, 16);
    EXPECT_LT(std::fabs(r[peakAt(r, 12000, 22000)]), std::fabs(l[9000]));
    for (int i = 1; i < 8990; ++i) ASSERT_EQ(l[i], 0.0f) << i;

    // After a change of time, a fresh impulse echoes at the new time.
    TempoDelay d2;
    d2.setTime(9000);
    d2.setTime(4000);
    std::vector<float> l2(12000), r2(12000);
    for (int i = 0; i < 12000; ++i) d2.process(i == 0 ? 1.0f : 0.0f, 0.0f, l2[i], r2[i]);
    EXPECT_EQ(peakAt(l2, 1, 6000), 4000);
}

TEST(MusicEffects, ReverbDecaysAtTheRequestedRate) {
    flushDenormals();
    for (float rt : {2.0f, 6.0f}) {
        Reverb reverb;
        reverb.setDecay(rt);
        Rng rng(3);
        // 10 ms of noise, then the tail's energy in 50 ms blocks.
        std::vector<double> blocks;
        double acc = 0.0;
        const int total = static_cast<int>(rt * 1.5f * kRate);
        for (int i = 0; i < total; ++i) {
            const float x = i < 480 ? rng.bipolar() : 0.0f;
            float l, r;
            reverb.process(x, x, l, r);
            acc += l * l + r * r;
            if ((i + 1) % 2400 == 0) {
                blocks.push_back(10.0 * std::log10(acc + 1e-30));
                acc = 0.0;
            }
        }
        // Fit the fall between 5 and 35 dB below the loudest block.
        const double top = *std::max_element(blocks.begin(), blocks.end());
        std::vector<std::pair<double, double>> pts;
        for (size_t k = 0; k < blocks.size(); ++k)
            if (blocks[k] < top - 5.0 && blocks[k] > top - 35.0 && k > 2) pts.push_back({k * 0.05, blocks[k]});
        ASSERT_GT(pts.size(), 5u);
        double mx = 0, my = 0, sxy = 0, sxx = 0;
        for (auto& p : pts) { mx += p.first; my += p.second; }
        mx /= pts.size();
        my /= pts.size();
        for (auto& p : pts) { sxy += (p.first - mx) * (p.second - my); sxx += (p.first - mx) * (p.first - mx); }
        const double measured = -60.0 / (sxy / sxx);
        EXPECT_NEAR(measured, rt, rt * 0.2) << "asked for " << rt << " s";
    }
}

TEST(MusicEncoder, ShortClipRoundTripsGaplessWithTheSameBytes) {
    // Two seconds of clicks on a quiet tone, a third of a second apart.
    const int frames = 2 * kRate + 123;  // not a whole number of MP3 frames
    std::vector<float> pcm(2 * frames);
    for (int i = 0; i < frames; ++i) {
        const float tone = 0.1f * std::sin(2.0f * kPi * 440.0f * i / kRate);
        const float click = (i % 16000 == 5000) ? 0.8f : 0.0f;
        pcm[2 * i] = tone + click;
        pcm[2 * i + 1] = tone - click;
    }
    std::vector<uint8_t> a, b;
    std::string error;
    ASSERT_TRUE(encodeMp3(pcm, a, error)) << error;
    ASSERT_TRUE(encodeMp3(pcm, b, error)) << error;
    EXPECT_EQ(a, b);
    // The first frame is the tag that carries the delay and padding.
    ASSERT_GT(a.size(), 200u);
    const std::string head(a.begin(), a.begin() + 200);
    EXPECT_TRUE(head.find("Xing") != std::string::npos || head.find("Info") != std::string::npos);
    EXPECT_NE(head.find("LAME"), std::string::npos);

    const std::string path = testing::TempDir() + "velmora_music_clip.mp3";
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(a.data(), 1, a.size(), f);
    std::fclose(f);
    DecodedPcm out;
    ASSERT_TRUE(decodeMp3(path.c_str(), out, error)) << error;
    std::remove(path.c_str());
    EXPECT_EQ(out.rate, kRate);
    ASSERT_EQ(out.channels, 2);
    ASSERT_EQ(out.samples.size(), pcm.size()) << "decoded length differs: delay or padding left in";
    // The clicks come back on their samples (the side channel carries only the clicks).
    for (int at = 5000; at < frames; at += 16000) {
        int best = at - 200;
        for (int i = at - 200; i <= at + 200; ++i) {
            const int side = out.samples[2 * i] - out.samples[2 * i + 1];
            if (std::abs(side) > std::abs(out.samples[2 * best] - out.samples[2 * best + 1])) best = i;
        }
        EXPECT_NEAR(best, at, 1) << "click at " << at;
    }
}

// Sound and picture follow one programme: each section of the music starts, to the millisecond,
// where the picture changes.
TEST(Programme, MusicSectionsChangeWhereThePictureDoes) {
    const double opens[] = {tl::kTitle, tl::kParticles, tl::kMeteor, tl::kMountain, tl::kStarNight, tl::kCredits};
    for (int row = 2; row <= 7; ++row) {
        const double at = opens[row - 2];
        EXPECT_NEAR(velmora::scoreRowStart(row), at, 5e-4) << "row " << row;
        EXPECT_NE(velmora::scoreRow(at - 1e-3), row) << "row " << row;
        EXPECT_EQ(velmora::scoreRow(at + 1e-3), row) << "row " << row;
    }
    // The desert, its fade toward the near silence, and the silence.
    EXPECT_EQ(velmora::scoreRow(tl::kDesertEnd - 1e-3), 1);
    EXPECT_EQ(velmora::scoreRow(tl::kDesertEnd + 1e-3), 0);
    EXPECT_EQ(velmora::fadeAt(tl::kFadeStart - 1e-3), 0.0f);
    EXPECT_GT(velmora::fadeAt(tl::kFadeStart + 1e-3), 0.0f);
    EXPECT_GT(velmora::fadeAt(tl::kDesertEnd - 1e-3), 0.99f);
}
