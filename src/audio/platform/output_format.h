#pragma once
// What every output plays and what the audio layer's positions and lengths count in:
// interleaved 16-bit stereo, so a byte count is a frame count times four.
#include <cstdint>

namespace output_format {

constexpr int kChannels = 2;
constexpr int kBytesPerSample = 2;
constexpr int kBytesPerFrame = kChannels * kBytesPerSample;

inline uint64_t framesToBytes(int64_t frames) { return static_cast<uint64_t>(frames) * kBytesPerFrame; }

inline double bytesToSeconds(uint64_t bytes, int rate) {
    return static_cast<double>(bytes) / (static_cast<double>(rate) * kBytesPerFrame);
}

}  // namespace output_format
