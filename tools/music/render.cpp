#include "render.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <deque>
#include <thread>

#include "dsp.h"
#include "instruments.h"
#include "loudness.h"
#include "score.h"

namespace velmora::music {

namespace {

using Clock = std::chrono::steady_clock;
double since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// The desert fades from 58 s to near-silence at 64.3 s and stays there until the hit.
float desertFade(int64_t n) {
    static const int64_t start = samplesAt(timeline::kFadeStart), end = samplesAt(timeline::kDesertEnd),
                         hit = samplesAt(timeline::kTitle);
    if (n < start || n >= hit) return 1.0f;
    if (n >= end) return 0.001f;
    float x = static_cast<float>(n - start) / static_cast<float>(end - start);
    return std::max(0.001f, std::pow(1.0f - x, 2.5f));
}

// After 185 s everything fades out, reaching silence a little before the end.
float outroFade(int64_t n) {
    static const int64_t start = samplesAt(timeline::kOutro), end = samplesAt(timeline::kEnd - 0.1);
    if (n < start) return 1.0f;
    if (n >= end) return 0.0f;
    float x = static_cast<float>(n - start) / static_cast<float>(end - start);
    float c = 0.5f + 0.5f * std::cos(kPi * x);
    return c * c;
}

struct Stereo {
    std::vector<float> l, r;
    explicit Stereo(int64_t frames) : l(frames, 0.0f), r(frames, 0.0f) {}
    void add(const Stereo& o) {
        for (size_t i = 0; i < l.size(); ++i) { l[i] += o.l[i]; r[i] += o.r[i]; }
    }
};

struct Buses {
    Stereo dry, reverb, delay;
    explicit Buses(int64_t frames) : dry(frames), reverb(frames), delay(frames) {}
};

void renderGroup(const Score& score, int group, const std::vector<float>& duck, Buses& out) {
    flushDenormals();
    const int64_t frames = score.frames;
    Stereo scratch(frames);
    for (size_t ti = 0; ti < score.tracks.size(); ++ti) {
        const Track& t = score.tracks[ti];
        if (t.group != group || t.notes.empty()) continue;
        int64_t begin = t.notes.front().start, end = begin;
        for (const Note& n : t.notes) end = std::max(end, std::min(frames, n.start + n.length + tailFrames(t.instrument, n)));
        std::fill(scratch.l.begin() + begin, scratch.l.begin() + end, 0.0f);
        std::fill(scratch.r.begin() + begin, scratch.r.begin() + end, 0.0f);
        for (size_t ni = 0; ni < t.notes.size(); ++ni) {
            const Note& n = t.notes[ni];
            const uint32_t seed = hash32(static_cast<uint32_t>(ti) * 0x9E3779B1u + static_cast<uint32_t>(ni));
            renderNote(t.instrument, n, seed, scratch.l.data() + n.start, scratch.r.data() + n.start, end - n.start);
        }
        for (int64_t i = begin; i < end; ++i) {
            float g = t.gain;
            if (t.duck > 0.0f) g *= 1.0f - t.duck * (1.0f - duck[i]);
            if (t.followsFade) g *= desertFade(i);
            const float l = scratch.l[i] * g, r = scratch.r[i] * g;
            out.dry.l[i] += l;
            out.dry.r[i] += r;
            out.reverb.l[i] += l * t.reverbSend;
            out.reverb.r[i] += r * t.reverbSend;
            out.delay.l[i] += l * t.delaySend;
            out.delay.r[i] += r * t.delaySend;
        }
    }
}

void runReverb(const Score& score, Stereo& bus) {
    flushDenormals();
    Reverb reverb;
    size_t next = 0;
    for (int64_t i = 0; i < score.frames; ++i) {
        while (next < score.spans.size() && score.spans[next].start <= i) reverb.setDecay(score.spans[next++].reverbSeconds);
        float l, r;
        reverb.process(bus.l[i], bus.r[i], l, r);
        bus.l[i] = l;
        bus.r[i] = r;
    }
}

void runDelay(const Score& score, Stereo& bus) {
    flushDenormals();
    TempoDelay delay;
    size_t next = 0;
    for (int64_t i = 0; i < score.frames; ++i) {
        while (next < score.spans.size() && score.spans[next].start <= i) delay.setTime(score.spans[next++].delaySamples);
        float l, r;
        delay.process(bus.l[i], bus.r[i], l, r);
        bus.l[i] = l;
        bus.r[i] = r;
    }
}

}  // namespace

std::vector<float> duckingCurve(const std::vector<int64_t>& kicks, const std::vector<float>& depths, int64_t frames) {
    std::vector<float> curve(frames, 1.0f);
    // Down in 4 ms starting just ahead of the kick, back up over 220 ms on a raised cosine.
    const int64_t lead = 96, fall = 192, rise = samplesAt(0.22);
    for (size_t k = 0; k < kicks.size(); ++k) {
        const int64_t from = std::max<int64_t>(0, kicks[k] - lead), to = std::min(frames, kicks[k] - lead + fall + rise);
        for (int64_t i = from; i < to; ++i) {
            const int64_t t = i - (kicks[k] - lead);
            float shape = t < fall ? static_cast<float>(t) / fall
                                   : 0.5f + 0.5f * std::cos(kPi * static_cast<float>(t - fall) / rise);
            curve[i] = std::min(curve[i], 1.0f - depths[k] * shape);
        }
    }
    return curve;
}

std::vector<float> limiterGain(const std::vector<float>& peakEnvelope, float gain, float ceiling) {
    const int64_t frames = static_cast<int64_t>(peakEnvelope.size());
    constexpr int64_t kWindow = 240;  // 5 ms look-ahead
    std::vector<float> need(frames);
    for (int64_t i = 0; i < frames; ++i) {
        const float p = gain * peakEnvelope[i];
        need[i] = p > ceiling ? ceiling / p : 1.0f;
    }
    // Minimum over the window ahead (monotonic queue), then release, then a box average over
    // the window behind: every frame's gain stays at or below what it needs.
    std::vector<float> held(frames);
    std::deque<int64_t> q;
    int64_t pushed = 0;
    for (int64_t i = 0; i < frames; ++i) {
        const int64_t last = std::min(frames - 1, i + kWindow - 1);
        for (; pushed <= last; ++pushed) {
            while (!q.empty() && need[q.back()] >= need[pushed]) q.pop_back();
            q.push_back(pushed);
        }
        while (q.front() < i) q.pop_front();
        held[i] = need[q.front()];
    }
    const float release = expCoef(0.08f);
    float g = 1.0f;
    for (int64_t i = 0; i < frames; ++i) {
        g = std::min(held[i], 1.0f - (1.0f - g) * release);
        held[i] = g;
    }
    std::vector<float> out(frames);
    double sum = 0.0;
    for (int64_t i = 0; i < frames; ++i) {
        sum += held[i];
        if (i >= kWindow) sum -= held[i - kWindow];
        const int64_t count = std::min<int64_t>(i + 1, kWindow);
        // Before a full window the missing frames count as 1 (the gain before the start).
        const double avg = (sum + static_cast<double>(kWindow - count)) / kWindow;
        out[i] = std::min(static_cast<float>(avg), need[i]);
    }
    return out;
}

std::vector<float> renderSoundtrack(int threads, RenderReport* report) {
    flushDenormals();
    RenderReport local;
    RenderReport& rep = report ? *report : local;
    const Score score = buildScore();
    const int64_t frames = score.frames;

    auto t0 = Clock::now();
    std::vector<int64_t> kickAt;
    std::vector<float> kickDepth;
    for (const Kick& k : score.kicks) {
        kickAt.push_back(k.position);
        kickDepth.push_back(k.depth);
    }
    const std::vector<float> duck = duckingCurve(kickAt, kickDepth, frames);

    Buses a(frames);
    {
        Buses b(frames);
        if (threads >= 2) {
            std::thread worker([&] { renderGroup(score, 1, duck, b); });
            renderGroup(score, 0, duck, a);
            worker.join();
        } else {
            renderGroup(score, 0, duck, a);
            renderGroup(score, 1, duck, b);
        }
        a.dry.add(b.dry);
        a.reverb.add(b.reverb);
        a.delay.add(b.delay);
    }
    rep.secondsVoices = since(t0);

    t0 = Clock::now();
    if (threads >= 2) {
        std::thread worker([&] { runDelay(score, a.delay); });
        runReverb(score, a.reverb);
        worker.join();
    } else {
        runReverb(score, a.reverb);
        runDelay(score, a.delay);
    }
    rep.secondsEffects = since(t0);

    t0 = Clock::now();
    std::vector<float> mix(2 * frames);
    {
        Biquad hl = Biquad::highpass(28.0, 0.7071), hr = hl;
        for (int64_t i = 0; i < frames; ++i) {
            const float f = desertFade(i);
            const float l = a.dry.l[i] + f * (a.reverb.l[i] + 0.8f * a.delay.l[i]);
            const float r = a.dry.r[i] + f * (a.reverb.r[i] + 0.8f * a.delay.r[i]);
            mix[2 * i] = static_cast<float>(hl.tick(l));
            mix[2 * i + 1] = static_cast<float>(hr.tick(r));
        }
    }
    a = Buses(0);
    // Glue on the loud parts: the threshold sits a little above the mix's own loudness.
    {
        const double level = integratedLoudness(mix.data(), frames);
        BusCompressor comp(static_cast<float>(level) + 4.0f, 2.0f, 6.0f, 0.015f, 0.18f);
        for (int64_t i = 0; i < frames; ++i) {
            const float g = comp.gainFor(std::max(std::fabs(mix[2 * i]), std::fabs(mix[2 * i + 1])));
            mix[2 * i] *= g;
            mix[2 * i + 1] *= g;
        }
    }
    // Normalise through the limiter: the limiter takes a little loudness off, so aim again.
    const std::vector<float> peaks = truePeakEnvelope(mix.data(), frames);
    const float ceiling = static_cast<float>(std::pow(10.0, kCeilingDbtp / 20.0));
    double gainDb = kTargetLufs - integratedLoudness(mix.data(), frames);
    std::vector<float> out(2 * frames);
    for (int pass = 0; pass < 8; ++pass) {
        const float gain = static_cast<float>(std::pow(10.0, gainDb / 20.0));
        const std::vector<float> g = limiterGain(peaks, gain, ceiling);
        for (int64_t i = 0; i < frames; ++i) {
            const float k = gain * g[i] * outroFade(i);
            out[2 * i] = mix[2 * i] * k;
            out[2 * i + 1] = mix[2 * i + 1] * k;
        }
        rep.lufs = integratedLoudness(out.data(), frames);
        rep.masterGainDb = gainDb;
        const double error = kTargetLufs - rep.lufs;
        if (std::fabs(error) < 0.02) break;
        gainDb += error;
    }
    rep.truePeakDb = toDb(truePeak(out.data(), frames));
    rep.secondsMaster = since(t0);
    return out;
}

}  // namespace velmora::music
