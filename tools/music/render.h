#pragma once
// Renders the whole score to interleaved stereo float PCM at 48000 Hz, mastered: mixed through
// the shared reverb and delay, high-passed, bus-compressed, normalised to the target loudness
// and limited below the true-peak ceiling.
#include <cstdint>
#include <vector>

namespace velmora::music {

constexpr double kTargetLufs = -14.0;
constexpr double kCeilingDbtp = -2.0;  // leaves room for the encoder's overshoot

struct RenderReport {
    double lufs = 0.0;            // integrated loudness of the result
    double truePeakDb = 0.0;      // 4x oversampled
    double masterGainDb = 0.0;    // normalisation gain applied before the limiter
    double secondsVoices = 0.0;   // wall time of each stage
    double secondsEffects = 0.0;
    double secondsMaster = 0.0;
};

// The same samples for any `threads` >= 1: the tracks are split into a fixed partition and
// summed in a fixed order.
std::vector<float> renderSoundtrack(int threads, RenderReport* report = nullptr);

// The sidechain gain for each frame: dips at each kick, recovers before the next beat.
std::vector<float> duckingCurve(const std::vector<int64_t>& kicks, const std::vector<float>& depths, int64_t frames);

// Gain per frame that keeps `gain * peakEnvelope` at or below `ceiling`: reaches each peak with
// a 5 ms ramp and recovers exponentially. Never above 1.
std::vector<float> limiterGain(const std::vector<float>& peakEnvelope, float gain, float ceiling);

}  // namespace velmora::music
