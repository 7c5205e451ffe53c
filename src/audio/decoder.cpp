#include "audio/decoder.h"

#include <mpg123.h>

#include <memory>

namespace {

struct HandleCloser {
    void operator()(mpg123_handle* h) const {
        mpg123_close(h);
        mpg123_delete(h);
    }
};

}  // namespace

bool decodeMp3(const char* path, DecodedPcm& out, std::string& error) {
    out = DecodedPcm{};
#if MPG123_API_VERSION < 46
    mpg123_init();  // a no-op, and deprecated, from API 46 on
#endif
    int err = MPG123_OK;
    std::unique_ptr<mpg123_handle, HandleCloser> h(mpg123_new(nullptr, &err));
    if (!h) {
        error = mpg123_plain_strerror(err);
        return false;
    }
    mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    mpg123_param(h.get(), MPG123_REMOVE_FLAGS, MPG123_IGNORE_INFOFRAME, 0.0);
    // Always 16-bit signed; keep the file's own rate and channel count.
    mpg123_format_none(h.get());
    for (long rate : {8000L, 11025L, 12000L, 16000L, 22050L, 24000L, 32000L, 44100L, 48000L})
        mpg123_format(h.get(), rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);

    if (mpg123_open(h.get(), path) != MPG123_OK) {
        error = mpg123_strerror(h.get());
        return false;
    }
    long rate = 0;
    int channels = 0, encoding = 0;
    if (mpg123_getformat(h.get(), &rate, &channels, &encoding) != MPG123_OK) {
        error = "not an MPEG audio stream";
        return false;
    }
    // The length from the tag frame, or an estimate: only a hint to allocate once.
    const off_t frames = mpg123_length(h.get());
    if (frames > 0) out.samples.reserve(static_cast<size_t>(frames) * static_cast<size_t>(channels));

    unsigned char chunk[32768];
    for (;;) {
        size_t got = 0;
        err = mpg123_read(h.get(), chunk, sizeof chunk, &got);
        const int16_t* s = reinterpret_cast<const int16_t*>(chunk);
        out.samples.insert(out.samples.end(), s, s + got / sizeof(int16_t));
        if (err == MPG123_DONE) break;
        if (err == MPG123_NEW_FORMAT) {
            mpg123_getformat(h.get(), &rate, &channels, &encoding);
            continue;
        }
        if (err != MPG123_OK) {
            error = mpg123_strerror(h.get());
            return false;
        }
    }
    if (out.samples.empty()) {
        error = "no audio frames";
        return false;
    }
    out.rate = static_cast<int>(rate);
    out.channels = channels;
    return true;
}
