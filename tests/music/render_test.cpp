// Renders the score again, as the build did, and holds it against the built file: the same
// bytes, and a decoded stream whose sample 0 is the score's sample 0.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/decoder.h"
#include "dsp.h"
#include "encode.h"
#include "render.h"
#include "score.h"

using namespace velmora::music;

namespace {

const char* const kPath = "data/dunesong.mp3";

struct Lag {
    int lag;
    double correlation;
};

// The lag of `decoded` against `score` (mono sums) with the highest normalised correlation,
// looked for within +-`reach` frames around the window [from, from + count).
Lag bestLag(const std::vector<float>& score, const std::vector<int16_t>& decoded, int64_t from, int64_t count, int reach) {
    auto s = [&](int64_t i) { return 0.5 * (score[2 * i] + score[2 * i + 1]); };
    auto d = [&](int64_t i) { return (decoded[2 * i] + decoded[2 * i + 1]) / 65536.0; };
    double ss = 0.0;
    for (int64_t i = from; i < from + count; ++i) ss += s(i) * s(i);
    Lag best{0, -2.0};
    for (int lag = -reach; lag <= reach; ++lag) {
        double sd = 0.0, dd = 0.0;
        for (int64_t i = from; i < from + count; ++i) {
            const double v = d(i + lag);
            sd += s(i) * v;
            dd += v * v;
        }
        const double c = sd / std::sqrt(ss * dd + 1e-30);
        if (c > best.correlation) best = {lag, c};
    }
    return best;
}

}  // namespace

TEST(SoundtrackRender, SameBytesAsTheBuildAndGaplessFromSampleZero) {
    std::ifstream in(kPath, std::ios::binary);
    ASSERT_TRUE(in) << kPath << " is missing: build the data first";
    const std::vector<uint8_t> built((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());

    // The build rendered on two threads; this renders on one. The partition is fixed, so the
    // samples, and so the bytes, must not differ.
    const std::vector<float> pcm = renderSoundtrack(1);
    ASSERT_EQ(static_cast<int64_t>(pcm.size()), 2 * samplesAt(timeline::kEnd));
    std::vector<uint8_t> mp3;
    std::string error;
    ASSERT_TRUE(encodeMp3(pcm, mp3, error)) << error;
    ASSERT_EQ(mp3.size(), built.size());
    size_t firstDifference = mp3.size();
    for (size_t i = 0; i < mp3.size(); ++i)
        if (mp3[i] != built[i]) { firstDifference = i; break; }
    EXPECT_EQ(firstDifference, mp3.size()) << "the encodings differ from byte " << firstDifference;

    // Decoded with gapless handling, the stream lines up with the score exactly: at the start
    // (wind and drone, noise-like, so the correlation peak is sharp) and deep into the track.
    DecodedPcm decoded;
    ASSERT_TRUE(decodeMp3(kPath, decoded, error)) << error;
    ASSERT_EQ(decoded.samples.size(), pcm.size());
    const int reach = 1500;  // wider than any encoder delay
    for (double at : {1.0, 100.0}) {
        const Lag l = bestLag(pcm, decoded.samples, samplesAt(at), samplesAt(2.0), reach);
        std::fprintf(stderr, "offset at %.0f s: %d samples (correlation %.4f)\n", at, l.lag, l.correlation);
        EXPECT_LE(std::abs(l.lag), 1) << "at " << at << " s";
        EXPECT_GT(l.correlation, 0.95) << "at " << at << " s";
    }
}
