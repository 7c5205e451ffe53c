#pragma once
// A test stream: a quiet 440 Hz sine, stereo at 48 kHz, as the decoder would hand it over.
#include "audio/decoder.h"

#include <cmath>
#include <cstddef>
#include <cstdint>

inline DecodedPcm tone(double seconds) {
    constexpr double kPi = 3.14159265358979323846;  // M_PI is POSIX, not C++
    DecodedPcm pcm;
    pcm.rate = 48000;
    pcm.channels = 2;
    const size_t frames = static_cast<size_t>(seconds * pcm.rate);
    pcm.samples.resize(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const auto v = static_cast<int16_t>(3000.0 * std::sin(2.0 * kPi * 440.0 * i / pcm.rate));
        pcm.samples[2 * i] = pcm.samples[2 * i + 1] = v;
    }
    return pcm;
}
