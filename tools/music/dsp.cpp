#include "dsp.h"

#include <algorithm>

#if defined(__SSE__) || defined(__x86_64__) || defined(_M_X64)
#include <xmmintrin.h>
#define VELMORA_HAVE_SSE 1
#endif

namespace velmora::music {

void flushDenormals() {
#ifdef VELMORA_HAVE_SSE
    // FTZ (bit 15) and DAZ (bit 6).
    _mm_setcsr(_mm_getcsr() | 0x8040u);
#endif
}

SmoothRandom::SmoothRandom(uint32_t seed, float rateHz)
    : rng_(seed), a_(rng_.bipolar()), b_(rng_.bipolar()), step_(rateHz / kRate) {}

float SmoothRandom::next() {
    t_ += step_;
    if (t_ >= 1.0f) {
        t_ -= 1.0f;
        a_ = b_;
        b_ = rng_.bipolar();
    }
    float w = 0.5f - 0.5f * std::cos(kPi * t_);
    return a_ + (b_ - a_) * w;
}

void Svf::set(float cutoffHz, float q) {
    cutoffHz = std::clamp(cutoffHz, 16.0f, 0.45f * kRate);
    float g = std::tan(kPi * cutoffHz / kRate);
    k_ = 1.0f / std::max(q, 0.3f);
    a1_ = 1.0f / (1.0f + g * (g + k_));
    a2_ = g * a1_;
    a3_ = g * a2_;
}

Biquad Biquad::highpass(double hz, double q) {
    const double w = 2.0 * 3.14159265358979323846 * hz / kRate;
    const double alpha = std::sin(w) / (2.0 * q), c = std::cos(w);
    const double a0 = 1.0 + alpha;
    Biquad f;
    f.b0 = (1.0 + c) / 2.0 / a0;
    f.b1 = -(1.0 + c) / a0;
    f.b2 = f.b0;
    f.a1 = -2.0 * c / a0;
    f.a2 = (1.0 - alpha) / a0;
    return f;
}

Adsr::Adsr(float attack, float decay, float sustain, float release)
    : attackStep_(1.0f / (std::max(attack, 0.001f) * kRate)),
      decayCoef_(expCoef(std::max(decay, 0.001f))),
      sustain_(sustain),
      releaseCoef_(std::exp(-6.9078f / (std::max(release, 0.003f) * kRate))) {}

float Adsr::tick() {
    switch (stage_) {
    case 0:
        level_ += attackStep_;
        if (level_ >= 1.0f) { level_ = 1.0f; stage_ = 1; }
        break;
    case 1:
        level_ = sustain_ + (level_ - sustain_) * decayCoef_;
        break;
    case 3:
        level_ *= releaseCoef_;
        if (level_ < 1e-4f) { level_ = 0.0f; stage_ = 4; }
        break;
    default:
        break;
    }
    return level_;
}

// ---------------------------------------------------------------------------------------------

namespace {
constexpr int kDelaySize = 1 << 17;  // 2.7 s
constexpr int kDelayMask = kDelaySize - 1;
constexpr int kCrossfade = 1440;     // 30 ms
}  // namespace

TempoDelay::TempoDelay() : bufL_(kDelaySize, 0.0f), bufR_(kDelaySize, 0.0f) {
    toneL_.set(4200.0f, 0.6f);
    toneR_.set(4200.0f, 0.6f);
}

void TempoDelay::setTime(int samples) {
    samples = std::clamp(samples, 64, kDelaySize - 2);
    if (samples == current_) return;
    previous_ = current_;
    current_ = samples;
    fade_ = kCrossfade;
}

float TempoDelay::read(const std::vector<float>& buf, int delay) const {
    return buf[(pos_ - delay) & kDelayMask];
}

void TempoDelay::process(float inL, float inR, float& outL, float& outR) {
    float l = read(bufL_, current_), r = read(bufR_, current_);
    if (fade_ > 0) {
        float w = static_cast<float>(fade_) / kCrossfade;
        l = l * (1.0f - w) + read(bufL_, previous_) * w;
        r = r * (1.0f - w) + read(bufR_, previous_) * w;
        --fade_;
    }
    outL = l;
    outR = r;
    // Darker and thinner with every repeat.
    float fl = toneL_.lowpass(l), fr = toneR_.lowpass(r);
    hpL_ += 0.026f * (fl - hpL_);
    hpR_ += 0.026f * (fr - hpR_);
    fl -= hpL_;
    fr -= hpR_;
    float mid = 0.5f * (inL + inR);
    bufL_[pos_] = 0.75f * mid + 0.25f * inL + feedback_ * fr;
    bufR_[pos_] = 0.25f * inR + feedback_ * fl;
    pos_ = (pos_ + 1) & kDelayMask;
}

// ---------------------------------------------------------------------------------------------

float Reverb::Allpass::tick(float x) {
    float d = buf[pos];
    float v = x + g * d;
    buf[pos] = v;
    if (++pos == static_cast<int>(buf.size())) pos = 0;
    return d - g * v;
}

namespace {
constexpr int kLineLengths[8] = {1931, 2213, 2539, 2791, 3109, 3371, 3659, 3967};
constexpr int kModDepth = 12;
constexpr int kDiffL[3] = {227, 173, 613};
constexpr int kDiffR[3] = {241, 181, 631};
}  // namespace

Reverb::Reverb() : predelay_(1200, 0.0f) {
    for (int i = 0; i < 8; ++i) {
        lengths_[i] = kLineLengths[i];
        lines_[i].assign(lengths_[i] + kModDepth + 4, 0.0f);
        gain_[i] = 0.0f;
    }
    for (int i = 0; i < 3; ++i) {
        diffL_[i].buf.assign(kDiffL[i], 0.0f);
        diffR_[i].buf.assign(kDiffR[i], 0.0f);
    }
    setDecay(3.0f);
}

void Reverb::setDecay(float seconds) {
    if (seconds == decay_) return;
    decay_ = seconds;
    for (int i = 0; i < 8; ++i)
        gain_[i] = std::pow(10.0f, -3.0f * lengths_[i] / (seconds * kRate));
}

void Reverb::process(float inL, float inR, float& outL, float& outR) {
    // Predelay of the mid, sides go straight in: keeps the onset of wide sounds wide.
    float pre = predelay_[prePos_];
    predelay_[prePos_] = 0.5f * (inL + inR);
    if (++prePos_ == static_cast<int>(predelay_.size())) prePos_ = 0;
    float side = 0.5f * (inL - inR);
    float dl = pre + side, dr = pre - side;
    for (int i = 0; i < 3; ++i) {
        dl = diffL_[i].tick(dl);
        dr = diffR_[i].tick(dr);
    }

    const float m = static_cast<float>(mod_.tick(0.27 / kRate)) * kModDepth;
    float s[8];
    for (int i = 0; i < 8; ++i) {
        const int size = static_cast<int>(lines_[i].size());
        if (i == 0 || i == 5) {
            float d = lengths_[i] + (i == 0 ? m : -m);
            int di = static_cast<int>(d);
            float frac = d - di;
            int a = pos_[i] - di;
            if (a < 0) a += size;
            int b = a - 1;
            if (b < 0) b += size;
            s[i] = lines_[i][a] + frac * (lines_[i][b] - lines_[i][a]);
        } else {
            int a = pos_[i] - lengths_[i];
            if (a < 0) a += size;
            s[i] = lines_[i][a];
        }
    }
    outL = 0.3f * (s[0] + s[2] + s[4] + s[6]);
    outR = 0.3f * (s[1] + s[3] + s[5] + s[7]);

    float v[8];
    for (int i = 0; i < 8; ++i) {
        damp_[i] = s[i] + dampCoef_ * (damp_[i] - s[i]);
        v[i] = damp_[i] * gain_[i];
    }
    // Fast Walsh-Hadamard transform, scaled to stay lossless.
    for (int h = 1; h < 8; h <<= 1)
        for (int i = 0; i < 8; i += h << 1)
            for (int j = i; j < i + h; ++j) {
                float a = v[j], b = v[j + h];
                v[j] = a + b;
                v[j + h] = a - b;
            }
    constexpr float kNorm = 0.35355339f;
    for (int i = 0; i < 8; ++i) {
        float x = v[i] * kNorm + ((i & 1) ? dr : dl);
        lines_[i][pos_[i]] = x;
        if (++pos_[i] == static_cast<int>(lines_[i].size())) pos_[i] = 0;
    }
}

// ---------------------------------------------------------------------------------------------

BusCompressor::BusCompressor(float thresholdDb, float ratio, float kneeDb, float attack, float release)
    : threshold_(thresholdDb), ratio_(ratio), knee_(kneeDb),
      attackCoef_(expCoef(attack)), releaseCoef_(expCoef(release)) {}

float BusCompressor::gainFor(float peak) {
    float db = 20.0f * std::log10(peak + 1e-9f);
    float coef = db > envDb_ ? attackCoef_ : releaseCoef_;
    envDb_ = db + coef * (envDb_ - db);
    float over = envDb_ - threshold_;
    float reduction;
    if (over <= -knee_ / 2) {
        reduction = 0.0f;
    } else if (over >= knee_ / 2) {
        reduction = over * (1.0f - 1.0f / ratio_);
    } else {
        float x = over + knee_ / 2;
        reduction = (1.0f - 1.0f / ratio_) * x * x / (2.0f * knee_);
    }
    return dbGain(-reduction);
}

}  // namespace velmora::music
