#pragma once
// Loudness and peak measurement after ITU-R BS.1770: K-weighted, gated integrated loudness and
// a 4x oversampled true peak. Input is interleaved stereo at 48000 Hz, full scale = 1.0.
#include <cmath>
#include <cstddef>
#include <vector>

namespace velmora::music {

// Mean square of the K-weighted signal (both channels summed) over each 100 ms step.
std::vector<double> kWeightedPower(const float* stereo, size_t frames);

// Integrated loudness in LUFS (-inf: below the absolute gate everywhere).
double integratedLoudness(const float* stereo, size_t frames);

// Loudness of each window of `windowSteps` x 100 ms, one value per 100 ms step: 4 gives the
// momentary loudness, 30 the short-term loudness.
std::vector<double> slidingLoudness(const float* stereo, size_t frames, int windowSteps);

// Largest absolute value of the 4x oversampled signal around each frame, both channels.
// The value of frame n covers the interval [n, n+1).
std::vector<float> truePeakEnvelope(const float* stereo, size_t frames);

// The largest oversampled absolute value in the whole signal.
float truePeak(const float* stereo, size_t frames);

inline double toDb(double linear) { return 20.0 * std::log10(linear); }

}  // namespace velmora::music
