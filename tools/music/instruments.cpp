#include "instruments.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "dsp.h"

namespace velmora::music {

namespace {

constexpr int kBlock = 32;  // control rate for filters, LFOs and glides
// Percussive tails stop 70 dB down, far below anything audible in the mix.
constexpr float kFloor = 3e-4f;

struct Pan {
    float l, r;
    explicit Pan(float pan) {
        float a = (std::clamp(pan, -1.0f, 1.0f) + 1.0f) * (kPi / 4.0f);
        l = std::cos(a) * 1.41421356f;
        r = std::sin(a) * 1.41421356f;
    }
};

// Sine by rotation: cheap for the many partials of bells and breaths. Starts at zero.
struct Rotor {
    float re = 1.0f, im = 0.0f, c = 1.0f, s = 0.0f;
    void set(float hz) {
        float w = kTwoPi * hz / kRate;
        c = std::cos(w);
        s = std::sin(w);
    }
    float tick() {
        float r = re * c - im * s;
        im = re * s + im * c;
        re = r;
        return im;
    }
    void renormalise() {
        float m = 1.0f / std::sqrt(re * re + im * im);
        re *= m;
        im *= m;
    }
};

inline float decayTo(float seconds) { return expCoef(std::max(seconds, 0.0005f)); }

// A linear ramp over the first frames so nothing starts with a step.
inline float onsetRamp(int64_t i, int64_t frames) {
    return i < frames ? static_cast<float>(i) / frames : 1.0f;
}

void renderWind(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    Rng rng(seed);
    SmoothRandom centre(seed + 1, 0.11f * kBlock), width(seed + 2, 0.07f * kBlock),
        gust(seed + 3, 0.23f * kBlock), howl(seed + 4, 0.05f * kBlock);
    Svf bpL, bpR, howlL, howlR, lowL, lowR;
    lowL.set(180.0f, 0.7f);
    lowR.set(180.0f, 0.7f);
    Adsr env(n.p2 > 0 ? n.p2 : 4.0f, 1.0f, 1.0f, 6.0f);
    float amp = 0.0f;
    for (int64_t i = 0; i < frames; ++i) {
        if (i % kBlock == 0) {
            float c = 720.0f * std::exp2(1.3f * centre.next());
            float spread = 1.0f + 0.25f * width.next();
            bpL.set(c * spread, 1.4f);
            bpR.set(c / spread, 1.4f);
            float h = 1150.0f * std::exp2(0.5f * howl.next());
            howlL.set(h, 9.0f);
            howlR.set(h * 1.013f, 9.0f);
            amp = 0.55f + 0.45f * gust.next();
        }
        if (i == n.length) env.gateOff();
        float e = env.tick() * amp * n.velocity;
        float nl = rng.bipolar(), nr = rng.bipolar();
        float l = bpL.bandpass(nl) + 0.35f * howlL.bandpass(nl) + 0.9f * lowL.lowpass(nl);
        float r = bpR.bandpass(nr) + 0.35f * howlR.bandpass(nr) + 0.9f * lowR.lowpass(nr);
        L[i] += l * e;
        R[i] += r * e;
        if (env.done()) break;
    }
}

void renderDrone(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    constexpr int kVoices = 4;
    const float detune[kVoices] = {-0.07f, -0.02f, 0.03f, 0.08f};
    const float pans[kVoices] = {-0.8f, 0.3f, -0.3f, 0.8f};
    Rng rng(seed);
    SawOsc saw[kVoices];
    float dt[kVoices];
    for (int v = 0; v < kVoices; ++v) {
        saw[v].phase = rng.uniform();
        dt[v] = midiHz(n.pitch + detune[v]) / kRate;
    }
    SineOsc sub;
    const double subDt = midiHz(n.pitch) / kRate;
    Svf fl, fr;
    SmoothRandom sweep(seed + 7, 0.06f * kBlock);
    Adsr env(n.p2 > 0 ? n.p2 : 6.0f, 1.0f, 1.0f, 8.0f);
    const float base = n.p1 > 0 ? n.p1 : 500.0f;
    for (int64_t i = 0; i < frames; ++i) {
        if (i % kBlock == 0) {
            float c = base * std::exp2(0.9f * sweep.next());
            fl.set(c, 0.9f);
            fr.set(c * 1.07f, 0.9f);
        }
        if (i == n.length) env.gateOff();
        float l = 0.0f, r = 0.0f;
        for (int v = 0; v < kVoices; ++v) {
            float s = saw[v].tick(dt[v]);
            float p = (pans[v] + 1.0f) * 0.5f;
            l += s * (1.0f - p);
            r += s * p;
        }
        float s = sub.tick(subDt) * 0.8f;
        float e = env.tick() * n.velocity * 0.35f;
        L[i] += (fl.lowpass(l) + s) * e;
        R[i] += (fr.lowpass(r) + s) * e;
        if (env.done()) break;
    }
}

// Plucked string: a delay loop with an averaging damper and an all-pass for exact tuning.
void renderOud(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    const float hz = midiHz(n.pitch);
    const float period = kRate / hz;
    // The fractional part stays in [0.1, 1.1): an all-pass coefficient near 1 would ring at Nyquist.
    const int len = std::max(2, static_cast<int>(period - 0.6f));
    const float frac = period - 0.5f - len;
    const float apC = (1.0f - frac) / (1.0f + frac);
    std::vector<float> loop(len, 0.0f);
    Rng rng(seed);
    // Excitation: a soft noise burst with a comb notch for the plucking point.
    const float bright = n.p1 > 0 ? n.p1 : 0.5f;
    float lp = 0.0f;
    for (int i = 0; i < len; ++i) {
        lp += bright * (rng.bipolar() - lp);
        loop[i] = lp;
    }
    const int pluck = std::max(1, len / 7);
    for (int i = len - 1; i >= pluck; --i) loop[i] -= loop[i - pluck];
    float mean = 0.0f;
    for (float v : loop) mean += v;
    mean /= len;
    for (float& v : loop) v -= mean;

    const float t60 = 3.2f * std::clamp(220.0f / hz, 0.45f, 1.5f);
    const float loss = std::pow(10.0f, -3.0f * period / (t60 * kRate));
    Svf body, air, tone;
    body.set(240.0f, 1.6f);
    air.set(3200.0f, 0.8f);
    tone.set(3000.0f + 4000.0f * bright, 0.6f);
    Adsr gate(0.003f, 10.0f, 1.0f, 0.4f);
    const Pan pan(n.pan);
    float prev = 0.0f, apIn = 0.0f, apOut = 0.0f;
    int idx = 0;
    for (int64_t i = 0; i < frames; ++i) {
        if (i == n.length) gate.gateOff();
        float y = loop[idx];
        float avg = 0.5f * (y + prev);
        prev = y;
        float ap = apC * avg + apIn - apC * apOut;
        apIn = avg;
        apOut = ap;
        loop[idx] = ap * loss;
        if (++idx == len) idx = 0;
        float s = tone.lowpass(y + 0.6f * body.bandpass(y) + 0.15f * air.bandpass(y));
        float e = gate.tick() * n.velocity * 0.7f;
        L[i] += s * e * pan.l;
        R[i] += s * e * pan.r;
        if (gate.done()) break;
    }
}

// A breathy end-blown flute: a few harmonics, a scooped onset, delayed vibrato, breath noise.
void renderNey(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    Rng rng(seed);
    Rotor h1, h2, h3;
    Svf breath, hiss, hissTop;
    hiss.set(3000.0f, 0.7f);
    hissTop.set(8000.0f, 0.7f);
    Adsr env(0.14f, 0.5f, 0.8f, 1.2f);
    SmoothRandom wobble(seed + 3, 3.0f * kBlock);
    const Pan pan(n.pan);
    const float scoop = n.p2 != 0.0f ? n.p2 : -0.45f;
    float vib = 0.0f;
    for (int64_t i = 0; i < frames; ++i) {
        if (i % kBlock == 0) {
            float t = static_cast<float>(i) / kRate;
            float glide = scoop * std::exp(-t / 0.06f);
            float depth = 0.16f * std::clamp((t - 0.3f) / 0.4f, 0.0f, 1.0f);
            vib = depth * std::sin(kTwoPi * 5.1f * t) + 0.03f * wobble.next();
            float hz = midiHz(n.pitch + glide + vib);
            h1.set(hz);
            h2.set(2.0f * hz);
            h3.set(3.0f * hz);
            breath.set(std::min(2.0f * hz, 9000.0f), 3.0f);
            if (i % 1024 == 0) { h1.renormalise(); h2.renormalise(); h3.renormalise(); }
        }
        if (i == n.length) env.gateOff();
        float e = env.tick() * n.velocity;
        float noise = rng.bipolar();
        float tone = h1.tick() + 0.22f * h2.tick() + 0.07f * h3.tick();
        float s = (tone * 0.5f + 0.5f * breath.bandpass(noise) + 0.02f * hissTop.lowpass(hiss.highpass(noise))) * e;
        L[i] += s * pan.l;
        R[i] += s * pan.r;
        if (env.done()) break;
    }
}

void renderFrameDrum(const Note& n, uint32_t seed, float* L, float* R, int64_t frames, bool low) {
    Rng rng(seed);
    Svf skin;
    skin.set(low ? 260.0f : 2300.0f, low ? 1.0f : 1.3f);
    SineOsc body;
    const Pan pan(n.pan);
    const float tone = low ? 68.0f : 330.0f;
    const float bodyDecay = decayTo(low ? 0.32f : 0.05f), noiseDecay = decayTo(low ? 0.05f : 0.045f);
    float be = 1.0f, ne = 1.0f;
    for (int64_t i = 0; i < frames; ++i) {
        float t = static_cast<float>(i) / kRate;
        float hz = tone + (low ? 55.0f : 40.0f) * std::exp(-t / 0.03f);
        float s = body.tick(hz / kRate) * be * (low ? 1.0f : 0.35f) + skin.bandpass(rng.bipolar()) * ne * (low ? 0.5f : 1.1f);
        be *= bodyDecay;
        ne *= noiseDecay;
        s *= onsetRamp(i, 48) * n.velocity;
        L[i] += s * pan.l;
        R[i] += s * pan.r;
        if (be < kFloor && ne < kFloor) break;
    }
}

void renderShaker(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    Rng rng(seed);
    Svf hp, bp;
    hp.set(5200.0f, 0.7f);
    bp.set(7800.0f, 1.2f);
    const Pan pan(n.pan);
    const float attack = 0.012f * kRate, decay = decayTo(0.05f);
    float e = 1.0f;
    for (int64_t i = 0; i < frames; ++i) {
        float a = std::min(1.0f, i / attack);
        if (i >= attack) e *= decay;
        float x = rng.bipolar();
        float s = (hp.highpass(x) + 0.5f * bp.bandpass(x)) * a * e * n.velocity * 0.6f;
        L[i] += s * pan.l;
        R[i] += s * pan.r;
        if (e < kFloor) break;
    }
}

// Unison saws with stereo spread, slow drift, a lowpass per side and a slow envelope.
void renderPad(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    constexpr int kVoices = 6;
    const float detune[kVoices] = {-0.15f, -0.09f, -0.03f, 0.03f, 0.085f, 0.14f};
    const float pans[kVoices] = {-1.0f, 0.6f, -0.25f, 0.25f, -0.6f, 1.0f};
    Rng rng(seed);
    SawOsc saw[kVoices];
    for (auto& s : saw) s.phase = rng.uniform();
    SmoothRandom drift(seed + 11, 0.4f * kBlock), sweep(seed + 12, 0.08f * kBlock);
    const float attack = n.p2 > 0 ? n.p2 : 0.8f;
    Adsr env(attack, 2.0f, 0.85f, 1.2f + 3.5f * attack);
    const float cutoff = n.p1 > 0 ? n.p1 : 1400.0f;
    Svf fl, fr;
    float dt[kVoices], gr[kVoices];
    const float centre = std::clamp(n.pan, -1.0f, 1.0f) * 0.5f;
    for (int v = 0; v < kVoices; ++v) gr[v] = std::clamp((pans[v] + 1.0f) * 0.5f + centre, 0.0f, 1.0f);
    for (int64_t i = 0; i < frames; ++i) {
        if (i % kBlock == 0) {
            float d = 0.03f * drift.next();
            for (int v = 0; v < kVoices; ++v) dt[v] = midiHz(n.pitch + detune[v] + (v & 1 ? d : -d)) / kRate;
            float c = cutoff * std::exp2(0.35f * sweep.next()) * (0.55f + 0.45f * env.level());
            fl.set(c, 0.75f);
            fr.set(c, 0.75f);
        }
        if (i == n.length) env.gateOff();
        float l = 0.0f, r = 0.0f;
        for (int v = 0; v < kVoices; ++v) {
            float s = saw[v].tick(dt[v]);
            l += s * (1.0f - gr[v]);
            r += s * gr[v];
        }
        float e = env.tick() * n.velocity * 0.22f;
        L[i] += fl.lowpass(l) * e;
        R[i] += fr.lowpass(r) * e;
        if (env.done()) break;
    }
}

void renderKick(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    Rng rng(seed);
    Svf click;
    click.set(3600.0f, 0.9f);
    SineOsc osc;
    const float base = n.p1 > 0 ? n.p1 : 44.0f;
    const float decay = decayTo(n.p2 > 0 ? n.p2 : 0.18f), clickDecay = decayTo(0.004f);
    const float sweepA = decayTo(0.038f), sweepB = decayTo(0.006f);
    const int64_t hold = samplesAt(0.03);
    float amp = 1.0f, ce = 1.0f, ea = 105.0f, eb = 180.0f;
    const float norm = 1.0f / std::tanh(1.6f);
    for (int64_t i = 0; i < frames; ++i) {
        const float hz = base + ea + eb;
        ea *= sweepA;
        eb *= sweepB;
        float x = osc.tick(hz / kRate) * amp + click.bandpass(rng.bipolar()) * ce * 0.3f;
        if (i > hold) amp *= decay;
        ce *= clickDecay;
        float s = std::tanh(1.6f * x) * norm * onsetRamp(i, 24) * n.velocity;
        L[i] += s;
        R[i] += s;
        if (amp < kFloor) break;
    }
}

void renderClap(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    Rng rng(seed);
    Svf bl, br, hl, hr;
    bl.set(1250.0f, 1.1f);
    br.set(1350.0f, 1.1f);
    hl.set(650.0f, 0.7f);
    hr.set(650.0f, 0.7f);
    // Three quick slaps, then the room of the clap.
    const int64_t offsets[4] = {0, 430, 910, 1350};
    const float burst = decayTo(0.006f), tail = decayTo(n.p1 > 0 ? n.p1 : 0.13f);
    float e = 1.0f;
    for (int64_t i = 0; i < frames; ++i) {
        int64_t since = i;
        for (int k = 1; k < 4; ++k)
            if (i >= offsets[k]) since = i - offsets[k];
        if (since == 0) e = 1.0f;
        e *= i >= offsets[3] ? tail : burst;
        float a = e * onsetRamp(since, 12) * n.velocity * 1.6f;
        float l = hl.highpass(bl.bandpass(rng.bipolar())), r = hr.highpass(br.bandpass(rng.bipolar()));
        L[i] += l * a;
        R[i] += r * a;
        if (i > offsets[3] && e < kFloor) break;
    }
}

void renderSnare(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    Rng rng(seed);
    Svf nl, nr;
    nl.set(3800.0f, 0.6f);
    nr.set(4200.0f, 0.6f);
    Rotor m1, m2;
    m1.set(188.0f);
    m2.set(331.0f);
    const float bodyDecay = decayTo(0.07f), noiseDecay = decayTo(n.p1 > 0 ? n.p1 : 0.14f);
    float be = 1.0f, ne = 1.0f;
    for (int64_t i = 0; i < frames; ++i) {
        float body = (m1.tick() + 0.5f * m2.tick()) * be * 0.6f;
        be *= bodyDecay;
        ne *= noiseDecay;
        float r = onsetRamp(i, 16) * n.velocity;
        L[i] += (body + nl.bandpass(rng.bipolar()) * ne * 1.2f) * r;
        R[i] += (body + nr.bandpass(rng.bipolar()) * ne * 1.2f) * r;
        if (ne < kFloor) break;
    }
}

// Metal: six detuned pulses through a band, mixed with high noise (hats and cymbals).
struct Metal {
    PulseOsc osc[6];
    float dt[6];
    Svf band, high;
    Metal(float scale, float centre) {
        const float f[6] = {205.3f, 304.4f, 369.6f, 522.7f, 540.0f, 800.0f};
        for (int k = 0; k < 6; ++k) dt[k] = f[k] * scale / kRate;
        band.set(centre, 1.0f);
        high.set(centre * 0.7f, 0.7f);
    }
    float tick() {
        float s = 0.0f;
        for (int k = 0; k < 6; ++k) s += osc[k].tick(dt[k]);
        return high.highpass(band.bandpass(s * 0.2f));
    }
};

void renderHat(const Note& n, uint32_t seed, float* L, float* R, int64_t frames, bool open) {
    Rng rng(seed);
    Metal metal(1.6f, 9500.0f);
    Svf nh;
    nh.set(7500.0f, 0.7f);
    const Pan pan(n.pan);
    const float decay = decayTo(n.p1 > 0 ? n.p1 : (open ? 0.17f : 0.035f));
    float e = 1.0f;
    for (int64_t i = 0; i < frames; ++i) {
        float s = (metal.tick() * 0.8f + nh.highpass(rng.bipolar()) * 0.7f) * e * onsetRamp(i, 12) * n.velocity;
        e *= decay;
        L[i] += s * pan.l;
        R[i] += s * pan.r;
        if (e < kFloor) break;
    }
}

void renderCrash(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    Rng rng(seed);
    Metal ml(2.3f, 7000.0f), mr(2.37f, 7300.0f);
    Svf hl, hr;
    hl.set(4200.0f, 0.6f);
    hr.set(4500.0f, 0.6f);
    const float decay = decayTo(n.p1 > 0 ? n.p1 : 0.9f);
    float e = 1.0f;
    for (int64_t i = 0; i < frames; ++i) {
        float a = onsetRamp(i, 48) * e * n.velocity;
        e *= decay;
        L[i] += (ml.tick() * 0.6f + hl.highpass(rng.bipolar())) * a * 0.7f;
        R[i] += (mr.tick() * 0.6f + hr.highpass(rng.bipolar())) * a * 0.7f;
        if (e < kFloor) break;
    }
}

void renderBass(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    Rng rng(seed);
    SawOsc a, b;
    a.phase = rng.uniform();
    b.phase = rng.uniform();
    SineOsc sub;
    const float hz = midiHz(n.pitch);
    const float dta = hz * 1.0017f / kRate, dtb = hz * 0.9983f / kRate;
    Svf f;
    Adsr env(0.003f, 0.25f, 0.75f, 0.25f);
    const float cutoff = n.p1 > 0 ? n.p1 : 500.0f, envDepth = n.p2 > 0 ? n.p2 : 3.0f;
    const float fdecay = decayTo(0.11f);
    float fe = 1.0f;
    for (int64_t i = 0; i < frames; ++i) {
        if (i % kBlock == 0) f.set(cutoff * (1.0f + envDepth * fe), 1.15f);
        fe *= fdecay;
        if (i == n.length) env.gateOff();
        float x = f.lowpass(0.5f * (a.tick(dta) + b.tick(dtb))) + 0.7f * sub.tick(hz / kRate);
        float s = std::tanh(1.3f * x) * env.tick() * n.velocity * 0.8f;
        L[i] += s;
        R[i] += s;
        if (env.done()) break;
    }
}

void renderArp(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    Rng rng(seed);
    SawOsc a;
    PulseOsc b;
    a.phase = rng.uniform();
    b.phase = rng.uniform();
    const float hz = midiHz(n.pitch);
    const float dta = hz / kRate, dtb = hz * 1.004f / kRate;
    Svf f;
    Adsr env(0.002f, n.p2 > 0 ? n.p2 : 0.22f, 0.0f, 0.35f);
    const float cutoff = n.p1 > 0 ? n.p1 : 900.0f;
    const float fdecay = decayTo(0.09f);
    float fe = 1.0f;
    const Pan pan(n.pan);
    for (int64_t i = 0; i < frames; ++i) {
        if (i % kBlock == 0) f.set(cutoff * (1.0f + 5.0f * fe), 1.5f);
        fe *= fdecay;
        if (i == n.length) env.gateOff();
        float s = f.lowpass(a.tick(dta) * 0.6f + b.tick(dtb, 0.3f) * 0.4f) * env.tick() * n.velocity * 0.7f;
        L[i] += s * pan.l;
        R[i] += s * pan.r;
        if (env.done() || (env.level() < kFloor && i > 4800)) break;
    }
}

// Seven detuned saws across the stereo field, an octave-down pulse and delayed vibrato.
void renderLead(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    constexpr int kVoices = 7;
    const float detune[kVoices] = {-0.19f, -0.11f, -0.04f, 0.0f, 0.05f, 0.12f, 0.2f};
    const float pans[kVoices] = {-0.95f, 0.65f, -0.35f, 0.0f, 0.35f, -0.65f, 0.95f};
    const float weights[kVoices] = {0.6f, 0.75f, 0.9f, 1.0f, 0.9f, 0.75f, 0.6f};
    Rng rng(seed);
    SawOsc saw[kVoices];
    for (auto& s : saw) s.phase = rng.uniform();
    PulseOsc sub;
    Svf fl, fr;
    Adsr env(0.006f, 0.45f, 0.7f, 0.8f);
    const float cutoff = n.p1 > 0 ? n.p1 : 2500.0f;
    const float fdecay = decayTo(0.25f);
    float fe = 1.0f, dt[kVoices], subDt = 0.0f;
    for (int64_t i = 0; i < frames; ++i) {
        if (i % kBlock == 0) {
            float t = static_cast<float>(i) / kRate;
            float vib = 0.11f * std::clamp((t - 0.22f) / 0.3f, 0.0f, 1.0f) * std::sin(kTwoPi * 5.6f * t);
            float glide = n.p2 * std::exp(-t / 0.05f);
            for (int v = 0; v < kVoices; ++v) dt[v] = midiHz(n.pitch + detune[v] + vib + glide) / kRate;
            subDt = midiHz(n.pitch - 12.0f + vib + glide) / kRate;
            float c = cutoff * (1.0f + 2.0f * fe);
            fl.set(c, 0.8f);
            fr.set(c, 0.8f);
            fe *= std::pow(fdecay, static_cast<float>(kBlock));
        }
        if (i == n.length) env.gateOff();
        float l = 0.0f, r = 0.0f;
        for (int v = 0; v < kVoices; ++v) {
            float s = saw[v].tick(dt[v]) * weights[v];
            float p = (pans[v] + 1.0f) * 0.5f;
            l += s * (1.0f - p);
            r += s * p;
        }
        float s = sub.tick(subDt) * 0.3f;
        float e = env.tick() * n.velocity * 0.2f;
        L[i] += fl.lowpass(l + s) * e;
        R[i] += fr.lowpass(r + s) * e;
        if (env.done()) break;
    }
}

// Additive bell: inharmonic partials with their own decays; a hair apart left and right.
void renderBell(const Note& n, uint32_t /*seed*/, float* L, float* R, int64_t frames) {
    constexpr int kPartials = 6;
    const float ratio[kPartials] = {0.5f, 1.0f, 2.0f, 2.76f, 4.07f, 5.4f};
    const float amp[kPartials] = {0.3f, 1.0f, 0.45f, 0.3f, 0.14f, 0.08f};
    const float t60[kPartials] = {4.0f, 3.0f, 2.0f, 1.3f, 0.8f, 0.5f};
    const float length = n.p1 > 0 ? n.p1 : 1.0f;
    const float hz = midiHz(n.pitch);
    const Pan pan(n.pan);
    Rotor rl[kPartials], rr[kPartials];
    float e[kPartials], d[kPartials];
    int count = 0;
    for (int k = 0; k < kPartials; ++k) {
        float f = hz * ratio[k];
        if (f > 15000.0f) break;
        rl[k].set(f - 0.35f);
        rr[k].set(f + 0.35f);
        e[k] = amp[k];
        d[k] = std::pow(10.0f, -3.0f / (t60[k] * length * kRate));
        ++count;
    }
    Adsr gate(0.0015f, 10.0f, 1.0f, 2.0f);
    for (int64_t i = 0; i < frames; ++i) {
        if (i % 1024 == 0)
            for (int k = 0; k < count; ++k) { rl[k].renormalise(); rr[k].renormalise(); }
        if (i == n.length) gate.gateOff();
        float l = 0.0f, r = 0.0f;
        for (int k = 0; k < count; ++k) {
            l += rl[k].tick() * e[k];
            r += rr[k].tick() * e[k];
            e[k] *= d[k];
        }
        float g = gate.tick() * n.velocity * 0.3f;
        L[i] += l * g * pan.l;
        R[i] += r * g * pan.r;
        if (gate.done() || e[0] + e[1] < 1e-4f) break;
    }
}

void renderImpact(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    Rng rng(seed);
    SineOsc sub;
    Svf nl, nr;
    const float subDecay = decayTo(n.p1 > 0 ? n.p1 : 1.3f), noiseDecay = decayTo(0.5f);
    float se = 1.0f, ne = 1.0f;
    for (int64_t i = 0; i < frames; ++i) {
        float t = static_cast<float>(i) / kRate;
        if (i % kBlock == 0) {
            float c = 150.0f + 9000.0f * std::exp(-t / 0.22f);
            nl.set(c, 0.8f);
            nr.set(c * 1.05f, 0.8f);
        }
        float hz = 29.0f + 48.0f * std::exp(-t / 0.22f) + 90.0f * std::exp(-t / 0.012f);
        float s = std::tanh(1.8f * sub.tick(hz / kRate) * se) * 0.9f;
        se *= subDecay;
        float a = onsetRamp(i, 48) * n.velocity;
        L[i] += (s + nl.lowpass(rng.bipolar()) * ne * 0.9f) * a;
        R[i] += (s + nr.lowpass(rng.bipolar()) * ne * 0.9f) * a;
        ne *= noiseDecay;
        if (se < kFloor && ne < kFloor) break;
    }
}

// Noise through a band that climbs over the gate, with a crescendo; p1 is the top frequency.
void renderRiser(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    Rng rng(seed);
    Svf bl, br;
    Adsr gate(0.005f, 10.0f, 1.0f, 0.06f);
    const float top = n.p1 > 0 ? n.p1 : 9000.0f, bottom = 250.0f;
    const float len = static_cast<float>(std::max<int64_t>(n.length, 1));
    float x = 0.0f;
    for (int64_t i = 0; i < frames; ++i) {
        if (i % kBlock == 0) {
            x = std::min(1.0f, i / len);
            float c = bottom * std::pow(top / bottom, x);
            bl.set(c, 2.2f);
            br.set(c * 1.04f, 2.2f);
        }
        if (i == n.length) gate.gateOff();
        float a = gate.tick() * x * x * n.velocity;
        L[i] += bl.bandpass(rng.bipolar()) * a;
        R[i] += br.bandpass(rng.bipolar()) * a;
        if (gate.done()) break;
    }
}

// A cymbal played backwards: rises over the gate and stops dead (with a few ms of release).
void renderSwell(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    Rng rng(seed);
    Metal ml(2.3f, 7000.0f), mr(2.37f, 7300.0f);
    Svf hl, hr;
    hl.set(3000.0f, 0.6f);
    hr.set(3200.0f, 0.6f);
    Adsr gate(0.002f, 10.0f, 1.0f, 0.03f);
    const float len = static_cast<float>(std::max<int64_t>(n.length, 1));
    for (int64_t i = 0; i < frames; ++i) {
        if (i == n.length) gate.gateOff();
        float x = std::min(1.0f, i / len);
        float a = gate.tick() * x * x * x * n.velocity * 0.6f;
        L[i] += (ml.tick() * 0.5f + hl.highpass(rng.bipolar())) * a;
        R[i] += (mr.tick() * 0.5f + hr.highpass(rng.bipolar())) * a;
        if (gate.done()) break;
    }
}

// A falling whoosh that flies across the stereo field, from pan to -pan.
void renderZap(const Note& n, uint32_t seed, float* L, float* R, int64_t frames) {
    Rng rng(seed);
    Svf band;
    SineOsc tone;
    Adsr env(0.02f, 10.0f, 1.0f, 1.0f);
    const float len = static_cast<float>(std::max<int64_t>(n.length, 1));
    float x = 0.0f, hz = 0.0f;
    for (int64_t i = 0; i < frames; ++i) {
        if (i % kBlock == 0) {
            x = std::min(1.0f, i / len);
            band.set(5200.0f * std::pow(300.0f / 5200.0f, x), 2.5f);
            hz = 1700.0f * std::pow(90.0f / 1700.0f, x);
        }
        if (i == n.length) env.gateOff();
        float s = (band.bandpass(rng.bipolar()) + 0.25f * tone.tick(hz / kRate)) * env.tick() * (1.0f - 0.6f * x) * n.velocity;
        Pan p(n.pan * (1.0f - 2.0f * x));
        L[i] += s * p.l;
        R[i] += s * p.r;
        if (env.done()) break;
    }
}

void renderSub(const Note& n, uint32_t /*seed*/, float* L, float* R, int64_t frames) {
    SineOsc osc;
    const double dt = midiHz(n.pitch) / kRate;
    Adsr env(n.p2 > 0 ? n.p2 : 0.08f, 1.0f, 1.0f, 4.0f);
    for (int64_t i = 0; i < frames; ++i) {
        if (i == n.length) env.gateOff();
        float s = osc.tick(dt) * env.tick() * n.velocity * 0.7f;
        L[i] += s;
        R[i] += s;
        if (env.done()) break;
    }
}

}  // namespace

int64_t tailFrames(Instrument instrument, const Note& note) {
    switch (instrument) {
    case Instrument::Wind: return samplesAt(9.0);
    case Instrument::Drone: return samplesAt(11.0);
    case Instrument::Pad: return samplesAt(1.4 * (1.2 + 3.5 * (note.p2 > 0 ? note.p2 : 0.8)));
    case Instrument::Bell: return samplesAt(6.0 * (note.p1 > 0 ? note.p1 : 1.0));
    case Instrument::Impact: return samplesAt(1.0 + 8.5 * (note.p1 > 0 ? note.p1 : 1.3));
    case Instrument::Crash: return samplesAt(7.5 * (note.p1 > 0 ? note.p1 : 1.0));
    case Instrument::Oud: return samplesAt(8.0);
    case Instrument::Sub: return samplesAt(6.0);
    default: return samplesAt(3.0);
    }
}

void renderNote(Instrument instrument, const Note& note, uint32_t seed, float* left, float* right, int64_t room) {
    const int64_t frames = std::min(room, note.length + tailFrames(instrument, note));
    if (frames <= 0) return;
    switch (instrument) {
    case Instrument::Wind: renderWind(note, seed, left, right, frames); break;
    case Instrument::Drone: renderDrone(note, seed, left, right, frames); break;
    case Instrument::Oud: renderOud(note, seed, left, right, frames); break;
    case Instrument::Ney: renderNey(note, seed, left, right, frames); break;
    case Instrument::FrameDum: renderFrameDrum(note, seed, left, right, frames, true); break;
    case Instrument::FrameTek: renderFrameDrum(note, seed, left, right, frames, false); break;
    case Instrument::Shaker: renderShaker(note, seed, left, right, frames); break;
    case Instrument::Pad: renderPad(note, seed, left, right, frames); break;
    case Instrument::Kick: renderKick(note, seed, left, right, frames); break;
    case Instrument::Clap: renderClap(note, seed, left, right, frames); break;
    case Instrument::Snare: renderSnare(note, seed, left, right, frames); break;
    case Instrument::HatClosed: renderHat(note, seed, left, right, frames, false); break;
    case Instrument::HatOpen: renderHat(note, seed, left, right, frames, true); break;
    case Instrument::Crash: renderCrash(note, seed, left, right, frames); break;
    case Instrument::Bass: renderBass(note, seed, left, right, frames); break;
    case Instrument::Arp: renderArp(note, seed, left, right, frames); break;
    case Instrument::Lead: renderLead(note, seed, left, right, frames); break;
    case Instrument::Bell: renderBell(note, seed, left, right, frames); break;
    case Instrument::Impact: renderImpact(note, seed, left, right, frames); break;
    case Instrument::Riser: renderRiser(note, seed, left, right, frames); break;
    case Instrument::Swell: renderSwell(note, seed, left, right, frames); break;
    case Instrument::Zap: renderZap(note, seed, left, right, frames); break;
    case Instrument::Sub: renderSub(note, seed, left, right, frames); break;
    }
}

}  // namespace velmora::music
