#include "encode.h"

#include <lame/lame.h>

#include <algorithm>
#include <cstring>
#include <memory>

#include "dsp.h"

namespace velmora::music {

namespace {
struct LameCloser {
    void operator()(lame_global_flags* g) const { lame_close(g); }
};
}  // namespace

bool encodeMp3(const std::vector<float>& stereo, std::vector<uint8_t>& mp3, std::string& error) {
    mp3.clear();
    std::unique_ptr<lame_global_flags, LameCloser> gf(lame_init());
    if (!gf) {
        error = "lame_init failed";
        return false;
    }
    lame_set_in_samplerate(gf.get(), kRate);
    lame_set_out_samplerate(gf.get(), kRate);
    lame_set_num_channels(gf.get(), 2);
    lame_set_mode(gf.get(), JOINT_STEREO);
    lame_set_VBR(gf.get(), vbr_mtrh);
    lame_set_VBR_quality(gf.get(), kVbrQuality);
    lame_set_quality(gf.get(), 2);
    lame_set_bWriteVbrTag(gf.get(), 1);
    lame_set_write_id3tag_automatic(gf.get(), 0);
    if (lame_init_params(gf.get()) < 0) {
        error = "lame_init_params rejected the settings";
        return false;
    }

    const size_t frames = stereo.size() / 2;
    constexpr size_t kChunk = 1152 * 32;
    std::vector<unsigned char> buf(kChunk * 5 / 4 + 7200);
    for (size_t at = 0; at < frames; at += kChunk) {
        const int n = static_cast<int>(std::min(kChunk, frames - at));
        const int got = lame_encode_buffer_interleaved_ieee_float(gf.get(), stereo.data() + 2 * at, n, buf.data(),
                                                                  static_cast<int>(buf.size()));
        if (got < 0) {
            error = "lame_encode_buffer failed (" + std::to_string(got) + ")";
            return false;
        }
        mp3.insert(mp3.end(), buf.begin(), buf.begin() + got);
    }
    const int tail = lame_encode_flush(gf.get(), buf.data(), static_cast<int>(buf.size()));
    if (tail < 0) {
        error = "lame_encode_flush failed";
        return false;
    }
    mp3.insert(mp3.end(), buf.begin(), buf.begin() + tail);

    // The stream starts with a placeholder frame; the final tag replaces it in place.
    unsigned char tag[2880];
    const size_t tagSize = lame_get_lametag_frame(gf.get(), tag, sizeof tag);
    if (tagSize == 0 || tagSize > sizeof tag || tagSize > mp3.size()) {
        error = "no LAME tag frame";
        return false;
    }
    std::memcpy(mp3.data(), tag, tagSize);
    return true;
}

}  // namespace velmora::music
