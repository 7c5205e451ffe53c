#pragma once
// The score: every note of the piece at an absolute sample position, grouped into tracks,
// plus the kick positions that drive the sidechain and the tempo and room of each section.
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::music {

// The programme the music follows, in seconds. The picture changes at these times too.
namespace timeline {
constexpr double kFadeStart = 58.0;      // the desert starts fading away
constexpr double kDesertEnd = 64.3;      // near-silence
constexpr double kTitle = 65.53;         // the hit
constexpr double kParticles = 70.0;      // the beat
constexpr double kMeteor = 94.524;       // the most energetic part
constexpr double kMountain = 123.679;    // the climb
constexpr double kStarNight = 152.981;   // calm and wide
constexpr double kCredits = 182.0;       // resolution
constexpr double kOutro = 185.0;         // the final fade begins
constexpr double kEnd = 188.0;           // length of the track
}  // namespace timeline

enum class Instrument {
    Wind, Drone, Oud, Ney, FrameDum, FrameTek, Shaker,
    Pad, Kick, Clap, Snare, HatClosed, HatOpen, Crash,
    Bass, Arp, Lead, Bell, Impact, Riser, Swell, Zap, Sub,
};

struct Note {
    int64_t start = 0;    // sample of the onset
    int64_t length = 0;   // gate length in samples; the release rings on after it
    float pitch = 60.0f;  // MIDI note number
    float velocity = 1.0f;
    float pan = 0.0f;     // -1 left .. 1 right
    float p1 = 0.0f;      // instrument-specific: brightness, cutoff, decay
    float p2 = 0.0f;      // instrument-specific: attack, sweep
};

struct Track {
    std::string name;
    Instrument instrument;
    float gain = 1.0f;
    float reverbSend = 0.0f;
    float delaySend = 0.0f;
    float duck = 0.0f;         // how far the kick's sidechain pulls it down, 0..1
    bool followsFade = true;   // dims with the desert's fade into the title hit
    int group = 0;             // fixed render partition (0 or 1)
    std::vector<Note> notes;
};

struct Kick {
    int64_t position;
    float depth;  // sidechain depth, 0..1
};

// A stretch of the piece with its own delay time and reverb decay.
struct Span {
    int64_t start;
    int delaySamples;
    float reverbSeconds;
};

struct Score {
    std::vector<Track> tracks;
    std::vector<Kick> kicks;
    std::vector<Span> spans;
    int64_t frames = 0;
};

Score buildScore();

}  // namespace velmora::music
