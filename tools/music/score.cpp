#include "score.h"

#include <algorithm>
#include <cmath>
#include <initializer_list>

#include "dsp.h"

namespace velmora::music {

namespace {

using namespace timeline;

// A local tempo grid: beats counted from the section's first sample.
struct Grid {
    double start;  // seconds
    double beat;   // seconds per beat
    int64_t at(double beats) const { return samplesAt(start + beats * beat); }
    int64_t span(double from, double beats) const { return at(from + beats) - at(from); }
    double seconds(double beats) const { return beats * beat; }
};

// Whole bars fill every section exactly, so each change falls on a downbeat.
const Grid kDesertGrid{0.0, kFadeStart / 64.0};                         // 16 bars to the fade, 66.2 bpm
const Grid kBeatGrid{kParticles, (kMeteor - kParticles) / 48.0};        // 12 bars, 117.4 bpm
const Grid kMeteorGrid{kMeteor, (kMountain - kMeteor) / 64.0};          // 16 bars, 131.7 bpm
const Grid kMountainGrid{kMountain, (kStarNight - kMountain) / 56.0};   // 14 bars, 114.7 bpm
const Grid kNightGrid{kStarNight, (kCredits - kStarNight) / 32.0};      // 8 bars, 66.2 bpm

struct Step {
    double beat, length;
    float pitch;
};

// Harmony of the beat sections: bass root, pad voicing and arpeggio tones.
struct Chord {
    float bass;
    std::initializer_list<float> pad;
    std::initializer_list<float> arp;
};

const Chord kDm{38, {50, 57, 62, 65}, {62, 65, 69, 74, 77, 81}};
const Chord kBb{34, {50, 53, 58, 62}, {58, 62, 65, 70, 74, 77}};
const Chord kF{41, {48, 53, 57, 60}, {60, 65, 69, 72, 77, 81}};
const Chord kC{36, {48, 52, 55, 60}, {60, 64, 67, 72, 76, 79}};
const Chord kA{33, {49, 52, 57, 61}, {61, 64, 69, 73, 76, 81}};

class Builder {
public:
    Builder() { score_.frames = samplesAt(kEnd); }

    int add(const char* name, Instrument instrument, float gainDb, float reverb, float delay, float duck,
            int group, bool followsFade = true) {
        Track t;
        t.name = name;
        t.instrument = instrument;
        t.gain = dbGain(gainDb);
        t.reverbSend = reverb;
        t.delaySend = delay;
        t.duck = duck;
        t.group = group;
        t.followsFade = followsFade;
        score_.tracks.push_back(std::move(t));
        return static_cast<int>(score_.tracks.size()) - 1;
    }

    void note(int track, int64_t start, int64_t length, float pitch, float velocity, float pan = 0.0f,
              float p1 = 0.0f, float p2 = 0.0f) {
        if (start < 0 || start >= score_.frames || length <= 0) return;
        Note n;
        n.start = start;
        n.length = length;
        n.pitch = pitch;
        n.velocity = velocity;
        n.pan = pan;
        n.p1 = p1;
        n.p2 = p2;
        score_.tracks[track].notes.push_back(n);
    }

    void note(int track, const Grid& g, double beat, double beats, float pitch, float velocity,
              float pan = 0.0f, float p1 = 0.0f, float p2 = 0.0f) {
        note(track, g.at(beat), g.span(beat, beats), pitch, velocity, pan, p1, p2);
    }

    void kick(int track, const Grid& g, double beat, float velocity, float depth, float tune = 0.0f,
              float decay = 0.0f) {
        note(track, g, beat, 0.25, 36, velocity, 0.0f, tune, decay);
        score_.kicks.push_back({g.at(beat), depth});
    }

    void span(double seconds, const Grid& g, float reverb) {
        score_.spans.push_back({samplesAt(seconds), static_cast<int>(std::lround(g.seconds(0.75) * kRate)), reverb});
    }

    Score finish() {
        for (Track& t : score_.tracks)
            std::stable_sort(t.notes.begin(), t.notes.end(),
                             [](const Note& a, const Note& b) { return a.start < b.start; });
        std::stable_sort(score_.kicks.begin(), score_.kicks.end(),
                         [](const Kick& a, const Kick& b) { return a.position < b.position; });
        return std::move(score_);
    }

private:
    Score score_;
};

// Track indices, shared by the sections.
struct Tracks {
    int wind, drone, oud, ney, dum, tek, shaker, desertPad;
    int kick, clap, snare, hat, openHat, crash, bass, arp, lead, pad, bell, impact, riser, swell, zap,
        nightPad, sub;
};

void phrase(Builder& b, int track, const Grid& g, double atBeat, std::initializer_list<Step> steps,
            float velocity, float pan, float p1 = 0.0f, float transpose = 0.0f, float p2 = 0.0f) {
    int i = 0;
    for (const Step& s : steps) {
        // A little life in the dynamics, fixed by position.
        float v = velocity * (0.85f + 0.15f * static_cast<float>((hash32(static_cast<uint32_t>(atBeat * 8) + i) & 255) / 255.0));
        b.note(track, g, atBeat + s.beat, s.length, s.pitch + transpose, v, pan, p1, p2);
        ++i;
    }
}

// ---- 0 to 64.3 s: the desert. Wind, a drone on D, a plucked string and a breathy flute in the
// Hijaz mode on D (D Eb F# G A Bb C), frame drums; fading from 58 s into near-silence.
void desert(Builder& b, const Tracks& t) {
    const Grid& g = kDesertGrid;
    b.span(0.0, g, 4.5f);
    b.note(t.wind, 0, samplesAt(kDesertEnd), 60, 0.9f, 0.0f, 0.0f, 5.0f);
    b.note(t.drone, samplesAt(0.3), samplesAt(kDesertEnd - 0.3), 38, 1.0f, 0.0f, 420.0f, 8.0f);
    b.note(t.drone, samplesAt(2.0), samplesAt(kDesertEnd - 2.0), 45, 0.7f, 0.0f, 520.0f, 9.0f);
    b.note(t.drone, g.at(16), samplesAt(kDesertEnd) - g.at(16), 50, 0.45f, 0.0f, 700.0f, 10.0f);

    // The string's phrases, call and answer.
    const std::initializer_list<Step> p1 = {{0, .5, 62}, {.5, .5, 63}, {1, 1, 66}, {2, .5, 67}, {2.5, .5, 66},
                                            {3, .5, 63}, {3.5, 2.5, 62}};
    const std::initializer_list<Step> p2 = {{0, 1, 69}, {1, .5, 70}, {1.5, .5, 69}, {2, .5, 67}, {2.5, .5, 66},
                                            {3, 1, 67}, {4, .5, 66}, {4.5, .5, 63}, {5, 3, 62}};
    const std::initializer_list<Step> p3 = {{0, .25, 62}, {.25, .25, 63}, {.5, .5, 66}, {1, 1, 69}, {2, .5, 72},
                                            {2.5, .5, 70}, {3, 1, 69}, {4, .5, 67}, {4.5, .5, 66}, {5, .5, 67},
                                            {5.5, 2.5, 69}};
    const std::initializer_list<Step> p4 = {{0, .5, 70}, {.5, .5, 69}, {1, .5, 67}, {1.5, .5, 66}, {2, 1, 63},
                                            {3, .5, 66}, {3.5, .5, 63}, {4, 4, 62}};
    phrase(b, t.oud, g, 4, p1, 0.8f, -0.2f, 0.45f);
    phrase(b, t.oud, g, 12, p2, 0.8f, -0.2f, 0.5f);
    phrase(b, t.oud, g, 20, p3, 0.85f, -0.2f, 0.55f);
    phrase(b, t.oud, g, 28, p4, 0.85f, -0.2f, 0.55f);
    // An ostinato under the flute.
    for (int bar = 8; bar < 12; ++bar) {
        const double o = bar * 4.0;
        phrase(b, t.oud, g, o, {{0, .5, 50}, {1.5, .5, 62}, {2, .5, 57}, {2.5, .5, 63}, {3, .5, 62}, {3.5, .25, 57}},
               0.7f, 0.35f, 0.4f);
    }
    phrase(b, t.oud, g, 48, p1, 0.85f, -0.25f, 0.6f, 12.0f);
    phrase(b, t.oud, g, 56, p3, 0.85f, -0.25f, 0.6f);
    phrase(b, t.oud, g, 64, {{0, 3, 62}, {0.02, 3, 50}, {2, 2, 57}}, 0.75f, 0.0f, 0.45f);

    // The flute enters at the middle of the desert.
    phrase(b, t.ney, g, 36, {{0, 2, 69}, {2, 1, 70}, {3, 1, 69}, {4, 1.5, 67}, {5.5, .5, 66}, {6, 2, 67}}, 0.9f, 0.15f);
    phrase(b, t.ney, g, 44, {{0, 1, 66}, {1, 1, 63}, {2, 1, 66}, {3, 1, 67}, {4, 4, 69}}, 0.9f, 0.15f);
    phrase(b, t.ney, g, 52, {{0, 2, 74}, {2, 1, 72}, {3, 1, 70}, {4, 2, 69}, {6, .5, 70}, {6.5, .5, 69}, {7, 1, 67}},
           0.95f, 0.15f);
    phrase(b, t.ney, g, 60, {{0, 1, 66}, {1, 1, 63}, {2, 6, 62}}, 0.9f, 0.15f);

    // Frame drums from bar 4, the shaker from bar 8.
    for (int bar = 4; bar < 16; ++bar) {
        const double o = bar * 4.0;
        const float v = bar < 8 ? 0.55f : 0.8f;
        b.note(t.dum, g, o, 0.5, 40, v, -0.1f);
        b.note(t.tek, g, o + 1.0, 0.25, 60, v * 0.8f, 0.3f);
        b.note(t.tek, g, o + 1.5, 0.25, 60, v * 0.55f, 0.3f);
        b.note(t.dum, g, o + 2.0, 0.5, 40, v * 0.85f, -0.1f);
        b.note(t.tek, g, o + 3.0, 0.25, 60, v * 0.8f, 0.3f);
        if (bar % 2) b.note(t.tek, g, o + 3.5, 0.25, 60, v * 0.5f, 0.3f);
        if (bar >= 8)
            for (int e = 0; e < 8; ++e) b.note(t.shaker, g, o + e * 0.5, 0.25, 60, e % 2 ? 0.8f : 0.5f, 0.45f);
    }
    // A final dum as the fade begins.
    b.note(t.dum, g, 64, 0.5, 40, 0.7f, -0.1f);

    // Pads: D, Eb over D, C minor over D, D.
    const std::initializer_list<float> chords[4] = {{50, 54, 57, 62}, {50, 55, 58, 63}, {50, 55, 60, 63}, {50, 54, 57, 62}};
    for (int bar = 8; bar < 16; ++bar)
        for (float p : chords[bar % 4]) b.note(t.desertPad, g, bar * 4.0, 4.0, p, 0.8f, 0.0f, 950.0f, 1.2f);
    for (float p : chords[0]) b.note(t.desertPad, g.at(64), samplesAt(kDesertEnd - 0.5) - g.at(64), p, 0.8f, 0.0f, 800.0f, 1.0f);
}

// ---- 64.3 to 70 s: a swell out of the silence, the hit at 65.53, then the beat gathers.
void title(Builder& b, const Tracks& t) {
    const Grid& g = kBeatGrid;  // counted back from 70 s
    b.span(kTitle, g, 5.5f);
    const int64_t hit = samplesAt(kTitle);
    b.note(t.swell, samplesAt(kTitle - 0.95), samplesAt(0.95), 60, 0.8f);
    b.note(t.impact, hit, samplesAt(1.0), 30, 1.0f);
    b.note(t.crash, hit, samplesAt(0.5), 60, 1.0f, 0.0f, 1.1f);
    for (float p : {50.0f, 57.0f, 62.0f, 64.0f, 65.0f, 69.0f})
        b.note(t.pad, hit, samplesAt(1.6), p, 1.0f, 0.0f, 3200.0f, 0.004f);
    for (float p : {74.0f, 81.0f}) b.note(t.bell, hit, samplesAt(0.5), p, 0.9f, p == 74.0f ? -0.3f : 0.3f, 1.6f);
    b.note(t.sub, hit, samplesAt(2.5), 26 + 12, 0.8f);
    // The chord lingers, quietly.
    for (float p : {57.0f, 62.0f, 65.0f, 69.0f})
        b.note(t.pad, samplesAt(kTitle + 0.8), samplesAt(kParticles - 0.2) - samplesAt(kTitle + 0.8), p, 0.6f, 0.0f, 700.0f, 1.5f);
    // Arpeggio fading in with its filter closed, then opening.
    const float tones[6] = {62, 65, 69, 74, 77, 81};
    for (int s = -24; s < 0; ++s) {
        const double beat = s * 0.25;
        const float x = (s + 24) / 24.0f;
        b.note(t.arp, g, beat, 0.2, tones[(s + 24) % 6], 0.2f + 0.5f * x, (s % 2) ? 0.45f : -0.45f, 350.0f + 500.0f * x);
    }
    b.note(t.riser, g, -4, 4, 60, 0.9f, 0.0f, 9000.0f);
    for (int s = -8; s < 0; ++s) b.note(t.snare, g, s * 0.25, 0.2, 60, 0.25f + 0.5f * (s + 8) / 8.0f, 0.0f);
    for (int s = 0; s < 8; ++s) b.note(t.snare, g, -1.0 + s * 0.125, 0.1, 60, 0.6f + 0.05f * s, 0.0f, 0.09f);
}

void drumsBar(Builder& b, const Tracks& t, const Grid& g, int bar, float depth, bool claps, int hats,
              bool openHats, float energy) {
    const double o = bar * 4.0;
    for (int k = 0; k < 4; ++k) b.kick(t.kick, g, o + k, 0.9f + 0.1f * energy, depth, 44.0f, 0.15f + 0.05f * energy);
    if (claps) {
        b.note(t.clap, g, o + 1, 0.25, 60, 0.75f + 0.2f * energy);
        b.note(t.clap, g, o + 3, 0.25, 60, 0.75f + 0.2f * energy);
    }
    const float accent[4] = {0.35f, 0.2f, 0.65f, 0.25f};
    for (int s = 0; s < 16; ++s) {
        if (hats == 8 && s % 2) continue;
        if (hats == 0) break;
        b.note(t.hat, g, o + s * 0.25, 0.1, 60, accent[s % 4] * (0.8f + 0.3f * energy), 0.25f);
    }
    if (openHats)
        for (int k = 0; k < 4; ++k) b.note(t.openHat, g, o + k + 0.5, 0.25, 60, 0.45f + 0.2f * energy, -0.2f);
}

void padChord(Builder& b, int track, const Grid& g, double beat, double beats, const Chord& c, float vel,
              float cutoff, float attack) {
    for (float p : c.pad) b.note(track, g, beat, beats, p, vel, 0.0f, cutoff, attack);
}

// ---- 70 to 94.524 s: particles. The beat arrives: four to the floor, off-beat bass, a
// glittering arpeggio and scattered bells; Dm Bb F C.
void particles(Builder& b, const Tracks& t) {
    const Grid& g = kBeatGrid;
    b.span(kParticles, g, 2.4f);
    const Chord* prog[4] = {&kDm, &kBb, &kF, &kC};
    Rng rng(0x5EED0070u);
    for (int bar = 0; bar < 12; ++bar) {
        const double o = bar * 4.0;
        const Chord& c = *prog[bar % 4];
        const float x = bar / 11.0f;  // progress through the section
        if (bar % 4 == 0) b.note(t.crash, g, o, 0.5, 60, bar == 0 ? 1.0f : 0.7f, 0.0f, 0.6f);
        if (bar < 11) {
            drumsBar(b, t, g, bar, 0.6f + 0.15f * x, bar >= 4, bar >= 2 ? 16 : 0, bar >= 6, x);
        } else {
            for (int k = 0; k < 2; ++k) b.kick(t.kick, g, o + k, 1.0f, 0.75f, 44.0f, 0.3f);
            b.note(t.clap, g, o + 1, 0.25, 60, 0.9f);
            for (int s = 0; s < 12; ++s) b.note(t.hat, g, o + s * 0.25, 0.1, 60, 0.3f + 0.02f * s, 0.25f);
        }
        // Bass on the off-beats, with a pickup an octave up in the second half.
        for (int k = 0; k < 4; ++k) {
            if (bar == 11 && k >= 2) break;
            b.note(t.bass, g, o + k + 0.5, 0.4, c.bass, 0.9f, 0.0f, 330.0f + 400.0f * x, 3.0f);
            if (bar >= 4 && (k == 1 || k == 3)) b.note(t.bass, g, o + k + 0.75, 0.2, c.bass + 12, 0.6f, 0.0f, 400.0f + 400.0f * x, 2.0f);
        }
        padChord(b, t.pad, g, o, bar == 11 ? 2.0 : 4.0, c, 0.7f, 1200.0f + 800.0f * x, 0.25f);
        // Up and down through the chord, alternating sides.
        const int order[8] = {0, 1, 2, 3, 4, 3, 2, 1};
        std::vector<float> tones(c.arp);
        for (int s = 0; s < 16; ++s) {
            if (bar == 11 && s >= 12) break;
            float p = tones[order[s % 8] + (s >= 8 ? 1 : 0)];
            b.note(t.arp, g, o + s * 0.25, 0.2, p, 0.55f + 0.25f * ((s % 4) == 0) + 0.1f * x, (s % 2) ? 0.5f : -0.5f,
                   800.0f + 1500.0f * x);
        }
        // Bells scattered like sparks.
        if (bar >= 4) {
            const float sparks[6] = {74, 77, 79, 81, 84, 86};
            for (int e = 0; e < 8; ++e)
                if (rng.uniform() < 0.3f)
                    b.note(t.bell, g, o + e * 0.5, 0.25, sparks[rng.next() % 6], 0.35f + 0.3f * rng.uniform(),
                           rng.bipolar() * 0.85f, 0.45f);
        }
    }
    // Build into the meteor sky.
    b.note(t.riser, g, 36, 12, 60, 1.0f, 0.0f, 11000.0f);
    for (int s = 0; s < 8; ++s) b.note(t.snare, g, 44 + s * 0.25, 0.2, 60, 0.3f + 0.05f * s);
    for (int s = 0; s < 14; ++s) b.note(t.snare, g, 46 + s * 0.125, 0.1, 60, 0.6f + 0.025f * s, 0.0f, 0.08f);
}

// ---- 94.524 to 123.679 s: the meteor sky, the loudest part. Driving kick and claps, a
// rolling sixteenth bass, a wide supersaw riff, falling whooshes; Dm Bb C A.
void meteor(Builder& b, const Tracks& t) {
    const Grid& g = kMeteorGrid;
    b.span(kMeteor, g, 1.9f);
    b.note(t.impact, g.at(0), samplesAt(0.5), 30, 0.8f, 0.0f, 0.8f);
    const Chord* prog[4] = {&kDm, &kBb, &kC, &kA};
    const std::initializer_list<float> riff[4] = {
        {69, 72, 74, 72, 69, 72, 74, 77}, {77, 74, 70, 74, 77, 79, 77, 74},
        {76, 72, 67, 72, 76, 79, 76, 72}, {73, 76, 81, 76, 73, 76, 79, 76}};
    for (int bar = 0; bar < 16; ++bar) {
        const double o = bar * 4.0;
        const Chord& c = *prog[bar % 4];
        const float x = bar / 15.0f;
        if (bar % 4 == 0) b.note(t.crash, g, o, 0.5, 60, 1.0f, 0.0f, 0.65f);
        const bool last = bar == 15;
        if (!last) {
            drumsBar(b, t, g, bar, 0.85f, true, 16, true, 1.0f);
            for (int k : {1, 3}) b.note(t.snare, g, o + k, 0.2, 60, 0.55f);
        } else {
            for (int k = 0; k < 2; ++k) b.kick(t.kick, g, o + k, 1.0f, 0.85f, 44.0f, 0.2f);
            b.note(t.clap, g, o + 1, 0.25, 60, 0.95f);
        }
        // Rolling bass between the kicks.
        for (int k = 0; k < 4; ++k) {
            if (last && k >= 2) break;
            for (int s = 1; s < 4; ++s) {
                float p = c.bass + ((k == 3 && s == 3) ? 12.0f : 0.0f);
                b.note(t.bass, g, o + k + s * 0.25, 0.18, p, s == 2 ? 0.95f : 0.8f, 0.0f, 520.0f + 250.0f * x, 4.0f);
            }
        }
        padChord(b, t.pad, g, o, last ? 2.0 : 4.0, c, 0.75f, 2600.0f, 0.02f);
        // The riff from bar 4, doubled an octave down in the last four bars.
        if (bar >= 4) {
            int s = 0;
            for (float p : riff[bar % 4]) {
                if (last && s >= 4) break;
                const double len = (s % 4 == 3) ? 0.45 : 0.4;
                b.note(t.lead, g, o + s * 0.5, len, p, 0.85f + 0.1f * (s % 2 == 0), 0.0f, 2600.0f + 1200.0f * x);
                if (bar >= 12) b.note(t.lead, g, o + s * 0.5, len, p - 12, 0.6f, 0.0f, 2000.0f);
                ++s;
            }
        }
        // Arpeggio continues, brighter, in the upper octave.
        std::vector<float> tones(c.arp);
        for (int s = 0; s < 16; ++s) {
            if (last && s >= 8) break;
            b.note(t.arp, g, o + s * 0.25, 0.18, tones[(s * 2 + bar) % 6], 0.5f, (s % 2) ? 0.55f : -0.55f, 2300.0f);
        }
        // A meteor every other bar, flying alternately left and right.
        if (bar % 2 == 1 && !last) b.note(t.zap, g, o + 2, 1.5, 60, 0.8f, (bar % 4 == 1) ? -0.85f : 0.85f);
    }
    b.note(t.riser, g, 56, 8, 60, 1.0f, 0.0f, 12000.0f);
    for (int s = 0; s < 16; ++s) b.note(t.snare, g, 56 + s * 0.25, 0.2, 60, 0.3f + 0.03f * s);
    for (int s = 0; s < 14; ++s) b.note(t.snare, g, 62 + s * 0.125, 0.1, 60, 0.75f + 0.015f * s, 0.0f, 0.08f);
}

// ---- 123.679 to 152.981 s: the mountain climbs. The bass walks up the D minor scale, two bars
// per step; the arpeggio and a long-note melody rise with it, and the drums fill in.
void mountain(Builder& b, const Tracks& t) {
    const Grid& g = kMountainGrid;
    b.span(kMountain, g, 2.8f);
    const Chord steps[7] = {
        {38, {50, 57, 62, 65}, {62, 65, 69, 74}}, {40, {52, 55, 60, 64}, {64, 67, 72, 76}},
        {41, {53, 57, 60, 65}, {65, 69, 72, 77}}, {43, {55, 58, 62, 67}, {67, 70, 74, 79}},
        {45, {57, 60, 64, 69}, {69, 72, 76, 81}}, {46, {58, 62, 65, 70}, {70, 74, 77, 82}},
        {48, {60, 64, 67, 72}, {72, 76, 79, 84}}};
    const std::initializer_list<Step> melody[5] = {
        {{0, 3, 69}, {3, 1, 70}, {4, 4, 72}}, {{0, 3, 70}, {3, 1, 72}, {4, 4, 74}},
        {{0, 3, 72}, {3, 1, 74}, {4, 4, 76}}, {{0, 3, 74}, {3, 1, 76}, {4, 4, 77}},
        {{0, 3, 76}, {3, 1, 77}, {4, 2, 79}, {6, 2, 81}}};
    for (int bar = 0; bar < 14; ++bar) {
        const double o = bar * 4.0;
        const Chord& c = steps[bar / 2];
        const float x = bar / 13.0f;
        if (bar % 4 == 0) b.note(t.crash, g, o, 0.5, 60, 0.6f + 0.4f * x, 0.0f, 0.65f);
        if (bar < 4) {
            // Half time: kick on one and the and of two, clap on three.
            b.kick(t.kick, g, o, 0.9f, 0.6f, 44.0f, 0.2f);
            b.kick(t.kick, g, o + 1.5, 0.7f, 0.5f, 44.0f, 0.2f);
            b.note(t.clap, g, o + 2, 0.25, 60, 0.85f);
            for (int e = 0; e < 8; ++e) b.note(t.hat, g, o + e * 0.5, 0.1, 60, e % 2 ? 0.45f : 0.25f, 0.25f);
        } else if (bar < 13) {
            drumsBar(b, t, g, bar, 0.6f + 0.2f * x, true, bar >= 6 ? 16 : 8, bar >= 10, x - 0.5f);
        } else {
            // The last beat holds its breath for the landing.
            for (int k = 0; k < 3; ++k) b.kick(t.kick, g, o + k, 1.0f, 0.8f, 44.0f, 0.2f);
            for (int s = 0; s < 16; ++s) b.note(t.snare, g, o + s * 0.25, 0.2, 60, 0.35f + 0.035f * s, 0.0f, 0.08f);
        }
        for (int k = 0; k < 4; ++k) {
            b.note(t.bass, g, o + k + 0.5, 0.4, c.bass, 0.7f + 0.15f * x, 0.0f, 380.0f + 450.0f * x, 3.0f);
            if (bar >= 4) b.note(t.bass, g, o + k + 0.25, 0.15, c.bass, 0.45f, 0.0f, 380.0f + 450.0f * x, 2.0f);
        }
        if (bar % 2 == 0) padChord(b, t.pad, g, o, 8.0, c, 0.55f + 0.15f * x, 1000.0f + 1800.0f * x, 0.6f);
        // Always upward: the chord's tones and their octave, sixteenths.
        std::vector<float> tones(c.arp);
        for (int s = 0; s < 16; ++s) {
            float p = tones[s % 4] + ((s / 4) % 2 ? 12.0f : 0.0f) - 12.0f;
            b.note(t.arp, g, o + s * 0.25, 0.2, p, 0.4f + 0.3f * x + 0.15f * (s % 4 == 0), (s % 2) ? 0.5f : -0.5f,
                   900.0f + 2400.0f * x);
        }
        if (bar >= 4 && bar % 2 == 0)
            phrase(b, t.lead, g, o, melody[(bar - 4) / 2], 0.55f + 0.3f * x, 0.0f, 1500.0f + 2500.0f * x, 0.0f, -0.3f);
    }
    b.note(t.riser, g, 48, 8, 60, 1.0f, 0.0f, 13000.0f);
}

// ---- 152.981 to 182 s: the star night. No drums: a wide slow pad, bells twinkling through the
// echo, a soft sub and the flute's theme again, now in D major; D Bm G A.
void starNight(Builder& b, const Tracks& t) {
    const Grid& g = kNightGrid;
    b.span(kStarNight, g, 6.0f);
    // The climb lands: one soft boom and a long cymbal, then stillness.
    b.note(t.impact, g.at(0), samplesAt(0.5), 30, 0.55f, 0.0f, 1.6f);
    b.note(t.crash, g, 0, 0.5, 60, 0.6f, 0.0f, 1.1f);
    for (float p : {74.0f, 78.0f, 81.0f}) b.note(t.bell, g, 0, 1, p, 0.8f, (p - 78.0f) / 6.0f, 2.0f);
    b.note(t.sub, g, 0, 0.5, 38, 0.5f);
    struct NightChord { float root; std::initializer_list<float> pad; };
    const NightChord chords[4] = {{38, {50, 54, 57, 61, 64}}, {35, {47, 54, 57, 61, 62}},
                                  {31, {43, 50, 54, 57, 59}}, {33, {45, 52, 57, 59, 62}}};
    for (int c = 0; c < 4; ++c) {
        const double o = c * 8.0;
        for (float p : chords[c].pad) b.note(t.nightPad, g, o, 8.0, p, 0.7f, 0.0f, 1300.0f, c == 0 ? 0.05f : 1.4f);
        b.note(t.sub, g, o, 8.0, chords[c].root, 0.55f, 0.0f, 0.0f, c == 0 ? 0.05f : 1.0f);
    }
    // Twinkles on a loose eighth grid, D major pentatonic, wide.
    Rng rng(0x5EED0153u);
    const float stars[7] = {74, 76, 78, 81, 83, 86, 88};
    for (int e = 2; e < 62; ++e)
        if (rng.uniform() < 0.33f)
            b.note(t.bell, g, e * 0.5, 0.25, stars[rng.next() % 7], 0.22f + 0.3f * rng.uniform(), rng.bipolar() * 0.95f, 1.3f);
    phrase(b, t.ney, g, 8, {{0, 2, 69}, {2, 1, 71}, {3, 1, 69}, {4, 2, 66}, {6, 2, 64}}, 0.75f, -0.15f);
    phrase(b, t.ney, g, 16, {{0, 1, 62}, {1, 1, 64}, {2, 1, 66}, {3, 1, 69}, {4, 3, 71}, {7, 1, 69}}, 0.75f, -0.15f);
    phrase(b, t.ney, g, 24, {{0, 2, 69}, {2, 1, 66}, {3, 1, 64}, {4, 3.8, 64}}, 0.7f, -0.15f);
    b.note(t.wind, g.at(0), g.at(32) - g.at(0), 60, 0.35f, 0.0f, 0.0f, 4.0f);
}

// ---- 182 s to the end: the credits resolve on D major and fade out after 185 s.
void credits(Builder& b, const Tracks& t) {
    const Grid g{kCredits, kNightGrid.beat};
    b.span(kCredits, g, 7.0f);
    const int64_t at = samplesAt(kCredits);
    b.note(t.impact, at, samplesAt(0.5), 30, 0.3f, 0.0f, 1.8f);
    for (float p : {62.0f, 66.0f, 69.0f, 74.0f}) b.note(t.bell, at, samplesAt(1.0), p, 0.5f, (p - 68.0f) / 8.0f, 2.5f);
    for (float p : {50.0f, 57.0f, 62.0f, 64.0f, 66.0f})
        b.note(t.nightPad, at, samplesAt(4.5), p, 0.55f, 0.0f, 1600.0f, 0.03f);
    b.note(t.sub, at, samplesAt(4.5), 38, 0.4f, 0.0f, 0.0f, 0.02f);
    for (float p : {50.0f, 57.0f, 62.0f}) b.note(t.oud, at, samplesAt(3.0), p, 0.8f, 0.0f, 0.5f);
    const float fall[4] = {81, 78, 76, 74};
    for (int k = 0; k < 4; ++k) b.note(t.bell, g, 1.2 + k * 0.66, 0.5, fall[k], 0.5f, k % 2 ? 0.5f : -0.5f, 2.0f);
}

}  // namespace

Score buildScore() {
    Builder b;
    Tracks t;
    //                        name        instrument             gain  rev   dly   duck grp
    t.wind = b.add("wind", Instrument::Wind, -15, 0.2f, 0.0f, 0.0f, 0);
    t.drone = b.add("drone", Instrument::Drone, -16, 0.3f, 0.0f, 0.0f, 1);
    t.oud = b.add("oud", Instrument::Oud, -4, 0.35f, 0.22f, 0.0f, 1);
    t.ney = b.add("ney", Instrument::Ney, -12, 0.4f, 0.2f, 0.0f, 0);
    t.dum = b.add("dum", Instrument::FrameDum, -9, 0.2f, 0.0f, 0.0f, 0);
    t.tek = b.add("tek", Instrument::FrameTek, -9, 0.25f, 0.05f, 0.0f, 0);
    t.shaker = b.add("shaker", Instrument::Shaker, -15, 0.15f, 0.0f, 0.0f, 0);
    t.desertPad = b.add("desert pad", Instrument::Pad, -15, 0.5f, 0.0f, 0.0f, 1);
    t.kick = b.add("kick", Instrument::Kick, -7, 0.02f, 0.0f, 0.0f, 0);
    t.clap = b.add("clap", Instrument::Clap, -5, 0.25f, 0.0f, 0.0f, 0);
    t.snare = b.add("snare", Instrument::Snare, -11, 0.2f, 0.0f, 0.0f, 0);
    t.hat = b.add("hat", Instrument::HatClosed, -11, 0.05f, 0.05f, 0.0f, 0);
    t.openHat = b.add("open hat", Instrument::HatOpen, -15, 0.1f, 0.0f, 0.3f, 0);
    t.crash = b.add("crash", Instrument::Crash, -14, 0.3f, 0.0f, 0.0f, 0);
    t.bass = b.add("bass", Instrument::Bass, -6, 0.0f, 0.0f, 0.9f, 0);
    t.arp = b.add("arp", Instrument::Arp, -9, 0.2f, 0.35f, 0.5f, 0);
    t.lead = b.add("lead", Instrument::Lead, -2, 0.25f, 0.2f, 0.35f, 1);
    t.pad = b.add("pad", Instrument::Pad, -11, 0.4f, 0.0f, 0.8f, 1);
    t.bell = b.add("bell", Instrument::Bell, -5, 0.5f, 0.4f, 0.0f, 0);
    t.impact = b.add("impact", Instrument::Impact, -4, 0.4f, 0.0f, 0.0f, 0);
    t.riser = b.add("riser", Instrument::Riser, -19, 0.3f, 0.0f, 0.2f, 0);
    t.swell = b.add("swell", Instrument::Swell, -16, 0.2f, 0.0f, 0.0f, 0, false);
    t.zap = b.add("zap", Instrument::Zap, -13, 0.3f, 0.3f, 0.0f, 0);
    t.nightPad = b.add("night pad", Instrument::Pad, -13, 0.6f, 0.1f, 0.0f, 1);
    t.sub = b.add("sub", Instrument::Sub, -13, 0.0f, 0.0f, 0.0f, 0);

    desert(b, t);
    title(b, t);
    particles(b, t);
    meteor(b, t);
    mountain(b, t);
    starNight(b, t);
    credits(b, t);
    return b.finish();
}

}  // namespace velmora::music
