// SDL2's audio output: the plain path where no sound server runs (ALSA on Linux). SDL reports
// nothing of the device's latency, so the clock counts what the callback has handed over, less
// the one buffer it is still queued behind.
#include "audio/decoder.h"
#include "audio/platform/output.h"
#include "audio/platform/output_format.h"
#include "audio/quiet.h"
#include "audio/steady.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

using output_format::kChannels;
constexpr int kDeviceBufferFrames = 1024;  // ~21 ms at 48 kHz: small latency, few wake-ups

double secondsSince(Clock::time_point start, Clock::time_point now) {
    return std::chrono::duration<double>(now - start).count();
}

struct SdlStream {
    std::vector<int16_t> pcm;  // interleaved, in the output format
    int64_t lengthFrames = 0;

    // Written by the audio callback only.
    int64_t cursor = 0;
    std::atomic<bool> playing{false};

    // What the callback last handed to the device, and when (guarded by SdlOutput::published).
    int64_t writtenBefore = 0;
    int64_t writtenAfter = 0;
    Clock::time_point callbackTime{};
    bool anyCallback = false;

    SteadyPosition steady;  // main thread only
};

struct SdlOutput {
    SDL_AudioDeviceID device = 0;
    int rate = 48000;
    int bufferFrames = 0;
    std::vector<std::unique_ptr<SdlStream>> streams;  // by handle - 1; null for streams it does not play
    std::mutex published;
    void* quiet = nullptr;  // what keeps the system sound libraries quiet
};

void mixCallback(void* user, Uint8* out, int bytes) {
    SdlOutput* audio = static_cast<SdlOutput*>(user);
    std::memset(out, 0, static_cast<size_t>(bytes));
    const int64_t frames = bytes / output_format::kBytesPerFrame;
    int16_t* dst = reinterpret_cast<int16_t*>(out);
    const Clock::time_point now = Clock::now();
    for (auto& s : audio->streams) {
        if (!s || !s->playing.load(std::memory_order_acquire)) continue;
        const int64_t before = s->cursor;
        const int64_t n = std::min(frames, s->lengthFrames - before);
        for (int64_t i = 0; i < n * kChannels; ++i) {
            int v = dst[i] + s->pcm[static_cast<size_t>(before * kChannels + i)];
            dst[i] = static_cast<int16_t>(std::clamp(v, -32768, 32767));
        }
        if (n <= 0) continue;  // ended: the last estimate runs on to the length
        s->cursor = before + n;
        std::lock_guard<std::mutex> lock(audio->published);
        s->writtenBefore = before;
        s->writtenAfter = s->cursor;
        s->callbackTime = now;
        s->anyCallback = true;
    }
}

SdlStream* find(void* output, uint32_t handle) {
    SdlOutput* audio = static_cast<SdlOutput*>(output);
    return handle <= audio->streams.size() ? audio->streams[handle - 1].get() : nullptr;
}

// Brings decoded PCM to the output format: 16-bit, stereo, the output rate.
bool convertToOutput(const DecodedPcm& in, int rate, std::vector<int16_t>& out, std::string& error) {
    if (in.channels == kChannels && in.rate == rate) {
        out = in.samples;
        return true;
    }
    SDL_AudioCVT cvt;
    if (SDL_BuildAudioCVT(&cvt, AUDIO_S16SYS, static_cast<Uint8>(in.channels), in.rate, AUDIO_S16SYS,
                          kChannels, rate) < 0) {
        error = SDL_GetError();
        return false;
    }
    const size_t inBytes = in.samples.size() * sizeof(int16_t);
    std::vector<Uint8> buf(inBytes * static_cast<size_t>(cvt.len_mult) + 16);
    std::memcpy(buf.data(), in.samples.data(), inBytes);
    cvt.buf = buf.data();
    cvt.len = static_cast<int>(inBytes);
    if (SDL_ConvertAudio(&cvt) < 0) {
        error = SDL_GetError();
        return false;
    }
    out.resize(static_cast<size_t>(cvt.len_cvt) / sizeof(int16_t));
    std::memcpy(out.data(), buf.data(), out.size() * sizeof(int16_t));
    return true;
}

// Frames heard so far by the device, estimated between callbacks from the monotonic clock.
int64_t deviceFrames(SdlOutput* audio, SdlStream& s, Clock::time_point now) {
    int64_t before, after;
    Clock::time_point at;
    {
        std::lock_guard<std::mutex> lock(audio->published);
        if (!s.anyCallback) return 0;
        before = s.writtenBefore;
        after = s.writtenAfter;
        at = s.callbackTime;
    }
    // What a callback writes is heard after the buffer the device is playing now.
    const int64_t latency = audio->bufferFrames;
    const int64_t elapsed = static_cast<int64_t>(secondsSince(at, now) * audio->rate);
    int64_t heard = before - latency + elapsed;
    // Never ahead of what the device was given.
    heard = std::min(heard, after);
    return std::max<int64_t>(heard, 0);
}

// The callbacks' estimate, steadied. It starts once the device has played its first buffer:
// an output may take more data than it plays while it fills its own buffers.
double smoothDeviceFrames(SdlOutput* audio, SdlStream& s, Clock::time_point now) {
    int64_t played, given;
    {
        std::lock_guard<std::mutex> lock(audio->published);
        played = s.writtenBefore;
        given = s.writtenAfter;
    }
    const double target = static_cast<double>(deviceFrames(audio, s, now));
    return s.steady.next(target, played > 0, 0.5 * audio->bufferFrames, static_cast<double>(given), audio->rate, now);
}

void* sdlOpen(int device, int frequency, std::string& said) {
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        said = SDL_GetError();
        return nullptr;
    }
    const char* driver = SDL_GetCurrentAudioDriver();
    // The dummy driver plays nothing and keeps poor time: it is no clock to drive pictures.
    if (!driver || std::strcmp(driver, "dummy") == 0) {
        said = "no audio driver";
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        return nullptr;
    }
    auto audio = std::make_unique<SdlOutput>();
    audio->rate = frequency;
    audio->quiet = quietSoundLibraries();
    SDL_AudioSpec want{};
    want.freq = frequency;
    want.format = AUDIO_S16SYS;
    want.channels = kChannels;
    want.samples = kDeviceBufferFrames;
    want.callback = mixCallback;
    want.userdata = audio.get();
    SDL_AudioSpec have{};
    const char* name = nullptr;
    if (device >= 0) name = SDL_GetAudioDeviceName(device, 0);
    audio->device = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
    if (audio->device == 0) {
        said = SDL_GetError();
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        releaseSoundLibraries(audio->quiet);
        return nullptr;
    }
    audio->bufferFrames = have.samples;
    said = std::string(driver) + ", " + std::to_string(have.freq) + " Hz, " + std::to_string(have.samples) +
           "-frame buffer";
    SDL_PauseAudioDevice(audio->device, 0);
    return audio.release();
}

int64_t sdlAdd(void* output, uint32_t handle, const DecodedPcm& pcm, std::string& why) {
    SdlOutput* audio = static_cast<SdlOutput*>(output);
    auto s = std::make_unique<SdlStream>();
    if (!convertToOutput(pcm, audio->rate, s->pcm, why)) return -1;
    s->lengthFrames = static_cast<int64_t>(s->pcm.size() / kChannels);
    const int64_t length = s->lengthFrames;
    SDL_LockAudioDevice(audio->device);
    if (audio->streams.size() < handle) audio->streams.resize(handle);
    audio->streams[handle - 1] = std::move(s);
    SDL_UnlockAudioDevice(audio->device);
    return length;
}

void sdlStart(void* output, uint32_t handle) {
    SdlOutput* audio = static_cast<SdlOutput*>(output);
    SdlStream* s = find(output, handle);
    if (!s) return;
    SDL_LockAudioDevice(audio->device);
    s->cursor = 0;
    s->playing.store(true, std::memory_order_release);
    {
        std::lock_guard<std::mutex> lock(audio->published);
        s->writtenBefore = s->writtenAfter = 0;
        s->anyCallback = false;
    }
    SDL_UnlockAudioDevice(audio->device);
    s->steady.reset();
}

bool sdlHeard(void* output, uint32_t handle, double& frames, std::string& why) {
    SdlOutput* audio = static_cast<SdlOutput*>(output);
    SdlStream* s = find(output, handle);
    if (!s) return false;
    // A device that went away (unplugged, its server gone) calls back no more.
    if (SDL_GetAudioDeviceStatus(audio->device) == SDL_AUDIO_STOPPED) {
        why = "the device went away";
        return false;
    }
    frames = smoothDeviceFrames(audio, *s, Clock::now());
    return true;
}

int64_t sdlTaken(void* output, uint32_t handle) {
    SdlOutput* audio = static_cast<SdlOutput*>(output);
    SdlStream* s = find(output, handle);
    if (!s) return 0;
    std::lock_guard<std::mutex> lock(audio->published);
    return s->writtenAfter;
}

double sdlLatency(void* output) {
    SdlOutput* audio = static_cast<SdlOutput*>(output);
    return static_cast<double>(audio->bufferFrames) / audio->rate;
}

void sdlClose(void* output) {
    SdlOutput* audio = static_cast<SdlOutput*>(output);
    SDL_CloseAudioDevice(audio->device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    SDL_Quit();
    releaseSoundLibraries(audio->quiet);
    delete audio;
}

}  // namespace

extern const AudioOutput kSdlOutput = {"sdl", sdlOpen, sdlAdd, sdlStart, sdlHeard, sdlTaken, sdlLatency, nullptr, sdlClose};
