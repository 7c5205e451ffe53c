#pragma once
// Building blocks of the synthesiser: a seeded integer PRNG, band-limited oscillators, filters,
// envelopes and the shared effects. Everything is deterministic and allocation-free per sample.
#include <cmath>
#include <cstdint>
#include <vector>

namespace velmora::music {

constexpr int kRate = 48000;
constexpr float kPi = 3.14159265358979f;
constexpr float kTwoPi = 6.28318530717959f;

inline int64_t samplesAt(double seconds) { return static_cast<int64_t>(std::llround(seconds * kRate)); }
inline float midiHz(float note) { return 440.0f * std::exp2((note - 69.0f) / 12.0f); }
inline float dbGain(float db) { return std::pow(10.0f, db / 20.0f); }

// Makes the current thread flush subnormal floats to zero, so decaying tails never slow down.
void flushDenormals();

// 32-bit state hash and a small PCG-style generator; seeds come from note and track indices,
// so a note sounds the same whatever order it is rendered in.
inline uint32_t hash32(uint32_t x) {
    x ^= x >> 16; x *= 0x7feb352du;
    x ^= x >> 15; x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}

class Rng {
public:
    explicit Rng(uint32_t seed) : state_(hash32(seed) | 1u) {}
    uint32_t next() {
        state_ ^= state_ << 13; state_ ^= state_ >> 17; state_ ^= state_ << 5;
        return state_ * 0x9E3779BBu;
    }
    float uniform() { return static_cast<float>(next() >> 8) * (1.0f / 16777216.0f); }  // [0,1)
    float bipolar() { return uniform() * 2.0f - 1.0f; }
private:
    uint32_t state_;
};

// Smoothly varying random value in [-1, 1]: cosine interpolation between seeded points.
class SmoothRandom {
public:
    SmoothRandom(uint32_t seed, float rateHz);
    float next();
private:
    Rng rng_;
    float a_, b_, t_ = 0.0f, step_;
};

// Polynomial band-limited step for the discontinuities of naive oscillators.
inline float polyBlep(float t, float dt) {
    if (t < dt) { t /= dt; return t + t - t * t - 1.0f; }
    if (t > 1.0f - dt) { t = (t - 1.0f) / dt; return t * t + t + t + 1.0f; }
    return 0.0f;
}

struct SawOsc {
    float phase = 0.0f;
    float tick(float dt) {
        float out = 2.0f * phase - 1.0f - polyBlep(phase, dt);
        phase += dt;
        if (phase >= 1.0f) phase -= 1.0f;
        return out;
    }
};

struct PulseOsc {
    float phase = 0.0f;
    float tick(float dt, float width = 0.5f) {
        float out = phase < width ? 1.0f : -1.0f;
        out += polyBlep(phase, dt);
        float t2 = phase - width;
        if (t2 < 0.0f) t2 += 1.0f;
        out -= polyBlep(t2, dt);
        phase += dt;
        if (phase >= 1.0f) phase -= 1.0f;
        return out;
    }
};

struct SineOsc {
    double phase = 0.0;  // cycles; double so long drones keep their pitch
    float tick(double dt) {
        float out = std::sin(kTwoPi * static_cast<float>(phase));
        phase += dt;
        if (phase >= 1.0) phase -= 1.0;
        return out;
    }
};

// Trapezoidal state-variable filter: stable under fast cutoff modulation.
class Svf {
public:
    void set(float cutoffHz, float q);
    float lowpass(float x) { step(x); return v2_; }
    float bandpass(float x) { step(x); return v1_; }
    float highpass(float x) { step(x); return x - k_ * v1_ - v2_; }
    void reset() { ic1_ = ic2_ = 0.0f; }
private:
    void step(float x) {
        float v3 = x - ic2_;
        v1_ = a1_ * ic1_ + a2_ * v3;
        v2_ = ic2_ + a2_ * ic1_ + a3_ * v3;
        ic1_ = 2.0f * v1_ - ic1_;
        ic2_ = 2.0f * v2_ - ic2_;
    }
    float ic1_ = 0, ic2_ = 0, v1_ = 0, v2_ = 0;
    float k_ = 1, a1_ = 1, a2_ = 0, a3_ = 0;
};

// Second-order section in direct form I, double precision for low corner frequencies.
struct Biquad {
    double b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    static Biquad highpass(double hz, double q);
    double tick(double x) {
        double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1; x1 = x; y2 = y1; y1 = y;
        return y;
    }
};

// Attack is linear (never a step), decay and release are exponential: `decay` is a time
// constant, `release` the time to fall by 60 dB. Finished below -80 dB.
class Adsr {
public:
    Adsr(float attack, float decay, float sustain, float release);
    float tick();
    void gateOff() { if (stage_ < 3) stage_ = 3; }
    bool done() const { return stage_ == 4; }
    float level() const { return level_; }
private:
    float attackStep_, decayCoef_, sustain_, releaseCoef_;
    float level_ = 0.0f;
    int stage_ = 0;
};

inline float expCoef(float seconds) { return std::exp(-1.0f / (seconds * kRate)); }

// Stereo ping-pong echo whose time follows the tempo: a change of time crossfades between
// two read heads instead of sliding the pitch.
class TempoDelay {
public:
    TempoDelay();
    void setTime(int samples);  // takes effect with a short crossfade
    void process(float inL, float inR, float& outL, float& outR);
private:
    float read(const std::vector<float>& buf, int delay) const;
    std::vector<float> bufL_, bufR_;
    int pos_ = 0, current_ = 24000, previous_ = 24000, fade_ = 0;
    Svf toneL_, toneR_;
    float hpL_ = 0, hpR_ = 0;
    float feedback_ = 0.42f;
};

// Eight-line feedback delay network with input diffusion, damping and a slowly modulated
// pair of lines so long tails do not ring.
class Reverb {
public:
    Reverb();
    void setDecay(float seconds);
    void process(float inL, float inR, float& outL, float& outR);
private:
    struct Allpass {
        std::vector<float> buf; int pos = 0; float g = 0.6f;
        float tick(float x);
    };
    std::vector<float> lines_[8];
    int lengths_[8];
    int pos_[8] = {};
    float gain_[8];
    float damp_[8] = {};
    float dampCoef_ = 0.25f;
    std::vector<float> predelay_;
    int prePos_ = 0;
    Allpass diffL_[3], diffR_[3];
    SineOsc mod_;
    float decay_ = -1.0f;
};

// Program compressor for the mix bus: stereo-linked, soft knee, peak-hold-free log detector.
class BusCompressor {
public:
    BusCompressor(float thresholdDb, float ratio, float kneeDb, float attack, float release);
    float gainFor(float peak);  // gain to apply to this frame
private:
    float threshold_, ratio_, knee_, attackCoef_, releaseCoef_;
    float envDb_ = -120.0f;
};

}  // namespace velmora::music
