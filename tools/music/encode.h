#pragma once
// MP3 encoding with fixed settings, so the same PCM always gives the same bytes. The first
// frame is the LAME tag, which carries the encoder delay and padding for gapless decoding.
#include <cstdint>
#include <string>
#include <vector>

namespace velmora::music {

// Variable bit rate at a fixed quality (about 220 kbit/s here): transparent, and quick to encode.
constexpr float kVbrQuality = 1.0f;

// `stereo` is interleaved, 48000 Hz, full scale 1.0.
bool encodeMp3(const std::vector<float>& stereo, std::vector<uint8_t>& mp3, std::string& error);

}  // namespace velmora::music
