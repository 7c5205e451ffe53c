// The audio layer's stream table and the clock rules every output shares; each output (see
// audio/platform/output.h) supplies only how it plays and what it has heard.
#include "audio/audio.h"

#include "audio/decoder.h"
#include "audio/platform/output.h"
#include "audio/platform/output_format.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using output_format::bytesToSeconds;
using output_format::framesToBytes;

double secondsSince(Clock::time_point start, Clock::time_point now) {
    return std::chrono::duration<double>(now - start).count();
}

}  // namespace

struct StreamState {
    int64_t lengthFrames = 0;  // 0: no end
    bool silent = false;       // timed by the monotonic clock instead of the output
    bool started = false;
    Clock::time_point silentStart{};
    int64_t lastReported = 0;
    Clock::time_point lastReportedAt{};
};

struct Audio {
    int rate = 48000;
    const AudioOutput* output = nullptr;  // null: every stream is silent
    void* state = nullptr;                // the output's own
    std::vector<std::unique_ptr<StreamState>> streams;
};

namespace {

StreamState* find(Audio* audio, AudioStream stream) {
    if (!audio || stream == 0 || stream > audio->streams.size()) return nullptr;
    return audio->streams[stream - 1].get();
}

AudioStream nextHandle(const Audio* audio) { return static_cast<AudioStream>(audio->streams.size() + 1); }

AudioStream addStream(Audio* audio, std::unique_ptr<StreamState> s) {
    audio->streams.push_back(std::move(s));
    return static_cast<AudioStream>(audio->streams.size());
}

// A stream with no end on the silent clock, for what cannot be played; says why on stderr.
AudioStream addSilentStream(Audio* audio, const char* what, const char* why) {
    std::fprintf(stderr, "audio: %s: %s; timing with a silent clock\n", what, why);
    auto s = std::make_unique<StreamState>();
    s->silent = true;
    return addStream(audio, std::move(s));
}

int64_t clampToLength(const StreamState& s, double frames) {
    int64_t f = std::max<int64_t>(0, static_cast<int64_t>(frames));
    return s.lengthFrames > 0 ? std::min(f, s.lengthFrames) : f;
}

AudioStream createStream(Audio* audio, const DecodedPcm& pcm, const char* what) {
    const int64_t frames = pcm.channels > 0 ? static_cast<int64_t>(pcm.samples.size()) / pcm.channels : 0;
    if (frames == 0 || pcm.rate <= 0) return addSilentStream(audio, what, "empty");
    auto s = std::make_unique<StreamState>();
    if (!audio->output) {
        s->lengthFrames = frames * audio->rate / pcm.rate;
        s->silent = true;
        return addStream(audio, std::move(s));
    }
    std::string why;
    s->lengthFrames = audio->output->add(audio->state, nextHandle(audio), pcm, why);
    if (s->lengthFrames < 0) return addSilentStream(audio, what, why.c_str());
    return addStream(audio, std::move(s));
}

// The output has gone: every stream it played carries on from its last reading, in real time.
void loseOutput(Audio* audio, const std::string& why) {
    std::fprintf(stderr, "audio: the sound output stopped (%s); timing with a silent clock\n", why.c_str());
    for (auto& s : audio->streams) {
        if (s->silent) continue;
        s->silent = true;
        s->silentStart = s->lastReportedAt - std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(double(s->lastReported) / audio->rate));
    }
    audio->output->close(audio->state);
    audio->output = nullptr;
    audio->state = nullptr;
}

// Opens `output`; false, with `said` saying why, where it cannot play.
bool openOutput(Audio* audio, const AudioOutput* output, int device, std::string& said) {
    audio->state = output->open(device, audio->rate, said);
    if (!audio->state) return false;
    audio->output = output;
    std::fprintf(stderr, "audio: %s\n", said.c_str());
    return true;
}

void saySilent(const std::string& reasons) {
    std::fprintf(stderr, "audio: no sound output (%s); timing with a silent clock\n",
                 reasons.empty() ? "none" : reasons.c_str());
}

}  // namespace

Audio* audioInitOn(const AudioOutput* output, int device, int frequency) {
    Audio* audio = new Audio;
    audio->rate = frequency;
    std::string said;
    if (!output || !openOutput(audio, output, device, said)) saySilent(said);
    return audio;
}

Audio* audioInit(int device, int frequency) {
    Audio* audio = new Audio;
    audio->rate = frequency;
    std::string reasons;
    for (const AudioOutput* const* o = kAudioOutputs; *o; ++o) {
        std::string said;
        if (openOutput(audio, *o, device, said)) return audio;
        reasons += (reasons.empty() ? "" : "; ") + said;
    }
    saySilent(reasons);
    return audio;
}

AudioStream audioStreamCreateFile(Audio* audio, const char* path) {
    if (!audio) return 0;
    DecodedPcm pcm;
    std::string error;
    if (!decodeMp3(path, pcm, error)) return addSilentStream(audio, path, error.c_str());
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
    if (!s->silent) audio->output->start(audio->state, stream);
    s->silentStart = s->lastReportedAt = Clock::now();
    s->lastReported = 0;
    s->started = true;
    return true;
}

uint64_t audioChannelGetPosition(Audio* audio, AudioStream stream) {
    StreamState* s = find(audio, stream);
    if (!s || !s->started) return 0;
    const Clock::time_point now = Clock::now();
    double frames = 0;
    if (!s->silent) {
        std::string why;
        if (!audio->output->heard(audio->state, stream, frames, why)) loseOutput(audio, why);
    }
    if (s->silent) frames = secondsSince(s->silentStart, now) * audio->rate;
    const int64_t position = clampToLength(*s, frames);
    if (position > s->lastReported) s->lastReported = position;
    s->lastReportedAt = now;
    if (!s->silent && audio->output->reported)
        audio->output->reported(audio->state, stream, static_cast<double>(s->lastReported) / audio->rate);
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
    if (!s || s->silent || !s->started) return 0;
    return framesToBytes(clampToLength(*s, static_cast<double>(audio->output->taken(audio->state, stream))));
}

bool audioHasDevice(const Audio* audio) { return audio && audio->output; }

double audioLatency(const Audio* audio) { return audioHasDevice(audio) ? audio->output->latency(audio->state) : 0.0; }

void audioFree(Audio* audio) {
    if (!audio) return;
    if (audio->output) audio->output->close(audio->state);
    delete audio;
}
