#include "audio/audio.h"

#include "audio/decoder.h"
#include "audio/platform/output_format.h"
#include "audio/quiet.h"

#include <SDL2/SDL.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

using output_format::bytesToSeconds;
using output_format::framesToBytes;
using output_format::kChannels;
constexpr int kDeviceBufferFrames = 1024;  // ~21 ms at 48 kHz: small latency, few wake-ups

double secondsSince(Clock::time_point start, Clock::time_point now) {
    return std::chrono::duration<double>(now - start).count();
}

}  // namespace

struct StreamState {
    std::vector<int16_t> pcm;  // interleaved, in the output format
    int64_t lengthFrames = 0;  // 0: no end
    bool silent = false;       // timed by the monotonic clock instead of the device

    // Written by the audio callback only.
    int64_t cursor = 0;
    std::atomic<bool> playing{false};

    // What the callback last handed to the device, and when (guarded by Audio::published).
    int64_t writtenBefore = 0;
    int64_t writtenAfter = 0;
    Clock::time_point callbackTime{};
    bool anyCallback = false;

    // Main thread only.
    Clock::time_point silentStart{};
    int64_t lastReported = 0;
    bool started = false;
    double smoothFrames = 0;  // the device estimate with callback jitter filtered out
    Clock::time_point smoothAt{};
    bool smoothed = false;
};

struct Audio {
    SDL_AudioDeviceID device = 0;
    int rate = 48000;
    int bufferFrames = 0;
    std::vector<std::unique_ptr<StreamState>> streams;
    std::mutex published;
    void* quiet = nullptr;  // what keeps the system sound libraries quiet
};

namespace {

void mixCallback(void* user, Uint8* out, int bytes) {
    Audio* audio = static_cast<Audio*>(user);
    std::memset(out, 0, static_cast<size_t>(bytes));
    const int64_t frames = bytes / output_format::kBytesPerFrame;
    int16_t* dst = reinterpret_cast<int16_t*>(out);
    const Clock::time_point now = Clock::now();
    for (auto& s : audio->streams) {
        if (s->silent || !s->playing.load(std::memory_order_acquire)) continue;
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

StreamState* find(Audio* audio, AudioStream stream) {
    if (!audio || stream == 0 || stream > audio->streams.size()) return nullptr;
    return audio->streams[stream - 1].get();
}

AudioStream addStream(Audio* audio, std::unique_ptr<StreamState> s) {
    if (audio->device) SDL_LockAudioDevice(audio->device);
    audio->streams.push_back(std::move(s));
    const AudioStream handle = static_cast<AudioStream>(audio->streams.size());
    if (audio->device) SDL_UnlockAudioDevice(audio->device);
    return handle;
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

AudioStream createStream(Audio* audio, const DecodedPcm& pcm, const char* what) {
    auto s = std::make_unique<StreamState>();
    std::string error;
    if (!convertToOutput(pcm, audio->rate, s->pcm, error)) {
        std::fprintf(stderr, "audio: %s: %s; timing with a silent clock\n", what, error.c_str());
        s->pcm.clear();
        s->silent = true;
        return addStream(audio, std::move(s));
    }
    s->lengthFrames = static_cast<int64_t>(s->pcm.size() / kChannels);
    s->silent = audio->device == 0;
    return addStream(audio, std::move(s));
}

// Frames heard so far by the device, estimated between callbacks from the monotonic clock.
int64_t deviceFrames(Audio* audio, StreamState& s, Clock::time_point now) {
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

// Callbacks arrive with jitter, and an output may take more data than it plays while it fills
// its own buffers. Readings therefore advance with the monotonic clock from the moment the device
// has played its first buffer, and are steered toward the callbacks' estimate by at most a small
// fraction of their speed, so they neither stutter nor jump. Within callback jitter the steering
// is gentle; an output that really runs slow (a starved or busy sound server) is followed faster,
// so the picture does not run ahead of the sound. A large gap (a stalled device) is taken at once.
double smoothDeviceFrames(Audio* audio, StreamState& s, Clock::time_point now) {
    constexpr double kNearSteer = 0.004;  // of the playback speed
    constexpr double kFarSteer = 0.05;
    constexpr double kJitterBuffers = 0.5;
    constexpr double kSnapSeconds = 0.1;
    int64_t played;
    {
        std::lock_guard<std::mutex> lock(audio->published);
        played = s.writtenBefore;
    }
    const double target = static_cast<double>(deviceFrames(audio, s, now));
    if (!s.smoothed) {
        if (played == 0) return target;  // the device has not started playing yet
        s.smoothed = true;
        s.smoothFrames = target;
    } else {
        const double step = secondsSince(s.smoothAt, now) * audio->rate;
        const double error = target - (s.smoothFrames + step);
        if (std::fabs(error) > kSnapSeconds * audio->rate)
            s.smoothFrames = target;
        else {
            const double steer = (std::fabs(error) > kJitterBuffers * audio->bufferFrames ? kFarSteer : kNearSteer) * step;
            s.smoothFrames += step + std::clamp(error, -steer, steer);
        }
    }
    s.smoothAt = now;
    return s.smoothFrames;
}

}  // namespace

Audio* audioInit(int device, int frequency) {
    Audio* audio = new Audio;
    audio->rate = frequency;
    audio->quiet = quietSoundLibraries();
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
        std::fprintf(stderr, "audio: no sound output (%s); timing with a silent clock\n", SDL_GetError());
        return audio;
    }
    const char* driver = SDL_GetCurrentAudioDriver();
    // The dummy driver plays nothing and keeps poor time: it is no clock to drive pictures.
    if (!driver || std::strcmp(driver, "dummy") == 0) {
        std::fprintf(stderr, "audio: no sound output (no audio driver); timing with a silent clock\n");
        return audio;
    }
    SDL_AudioSpec want{};
    want.freq = frequency;
    want.format = AUDIO_S16SYS;
    want.channels = kChannels;
    want.samples = kDeviceBufferFrames;
    want.callback = mixCallback;
    want.userdata = audio;
    SDL_AudioSpec have{};
    const char* name = nullptr;
    if (device >= 0) name = SDL_GetAudioDeviceName(device, 0);
    audio->device = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
    if (audio->device == 0) {
        std::fprintf(stderr, "audio: no sound output (%s); timing with a silent clock\n", SDL_GetError());
        return audio;
    }
    audio->bufferFrames = have.samples;
    std::fprintf(stderr, "audio: %s, %d Hz, %d-frame buffer\n", driver, have.freq, have.samples);
    SDL_PauseAudioDevice(audio->device, 0);
    return audio;
}

AudioStream audioStreamCreateFile(Audio* audio, const char* path) {
    if (!audio) return 0;
    DecodedPcm pcm;
    std::string error;
    if (!decodeMp3(path, pcm, error)) {
        std::fprintf(stderr, "audio: %s: %s; timing with a silent clock\n", path, error.c_str());
        auto s = std::make_unique<StreamState>();
        s->silent = true;
        return addStream(audio, std::move(s));
    }
    return createStream(audio, pcm, path);
}

AudioStream audioStreamCreatePcm(Audio* audio, const DecodedPcm& pcm) {
    if (!audio) return 0;
    return createStream(audio, pcm, "PCM stream");
}

bool audioChannelPlay(Audio* audio, AudioStream stream, bool restart) {
    StreamState* s = find(audio, stream);
    if (!s) return false;
    if (s->started && !restart) return true;
    const Clock::time_point now = Clock::now();
    if (audio->device) SDL_LockAudioDevice(audio->device);
    s->cursor = 0;
    s->playing.store(true, std::memory_order_release);
    {
        std::lock_guard<std::mutex> lock(audio->published);
        s->writtenBefore = s->writtenAfter = 0;
        s->anyCallback = false;
    }
    if (audio->device) SDL_UnlockAudioDevice(audio->device);
    s->silentStart = now;
    s->lastReported = 0;
    s->smoothed = false;
    s->started = true;
    return true;
}

uint64_t audioChannelGetPosition(Audio* audio, AudioStream stream) {
    StreamState* s = find(audio, stream);
    if (!s || !s->started) return 0;
    const Clock::time_point now = Clock::now();
    int64_t frames;
    if (s->silent) {
        frames = static_cast<int64_t>(secondsSince(s->silentStart, now) * audio->rate);
    } else {
        frames = static_cast<int64_t>(smoothDeviceFrames(audio, *s, now));
    }
    if (s->lengthFrames > 0) frames = std::min(frames, s->lengthFrames);
    s->lastReported = std::max(s->lastReported, frames);
    return framesToBytes(s->lastReported);
}

double audioChannelBytes2Seconds(Audio* audio, AudioStream stream, uint64_t bytes) {
    if (!find(audio, stream)) return -1.0;
    return bytesToSeconds(bytes, audio->rate);
}

uint64_t audioChannelGetLength(Audio* audio, AudioStream stream) {
    StreamState* s = find(audio, stream);
    return s ? framesToBytes(s->lengthFrames) : 0;
}

uint64_t audioChannelGetTaken(Audio* audio, AudioStream stream) {
    StreamState* s = find(audio, stream);
    if (!s) return 0;
    std::lock_guard<std::mutex> lock(audio->published);
    return framesToBytes(s->writtenAfter);
}

bool audioHasDevice(const Audio* audio) { return audio && audio->device != 0; }

double audioLatency(const Audio* audio) {
    return audioHasDevice(audio) ? static_cast<double>(audio->bufferFrames) / audio->rate : 0.0;
}

void audioFree(Audio* audio) {
    if (!audio) return;
    if (audio->device) SDL_CloseAudioDevice(audio->device);
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    SDL_Quit();
    releaseSoundLibraries(audio->quiet);
    delete audio;
}
