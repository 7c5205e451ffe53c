#pragma once
#include <cstdint>
#include <string>
#include <vector>

struct DecodedPcm {
    std::vector<int16_t> samples;  // interleaved
    int rate = 0;
    int channels = 0;
};

// Decodes a whole MP3 file to 16-bit PCM. Gapless: the encoder's delay and padding are
// removed, so sample 0 is the first sample of the music. On failure, `error` says why.
bool decodeMp3(const char* path, DecodedPcm& out, std::string& error);
