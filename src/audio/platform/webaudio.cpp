// The audio layer in a browser: the soundtrack decoded by our libmpg123 (gapless, as on the
// desktop) and played by Web Audio. The position is what is heard: the context time that the
// output reports as leaving the speakers, against the time the stream was scheduled to start.
#include "audio/audio.h"

#include "audio/decoder.h"
#include "audio/platform/output_format.h"

#include <emscripten.h>

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
// Scheduled this far ahead so that the first sample is not cut by the time the call takes.
constexpr double kStartLeadSeconds = 0.05;
// An output that has not run for this long (no device, a policy that blocks it, an interrupted
// session) no longer holds the picture: the silent clock carries on from where the sound was.
constexpr double kStalledOutputSeconds = 2.0;

double secondsSince(Clock::time_point start, Clock::time_point now) {
    return std::chrono::duration<double>(now - start).count();
}

// The AudioContext and the stream's buffers live in Module.velmoraAudio, indexed by stream. The
// page opens the context inside the viewer's click, before full screen uses the click up (some
// engines start sound only on a click nothing else has used); without one, one is made here.
EM_JS(int, webAudioOpen, (), {
    var context = Module.velmoraAudioContext;
    delete Module.velmoraAudioContext;
    if (!context) {
        var Context = globalThis.AudioContext || globalThis.webkitAudioContext;
        if (!Context) return 0;
        try {
            context = new Context({latencyHint: "interactive"});
        } catch (e) {
            return 0;
        }
    }
    context.resume().catch(function() {});
    Module.velmoraAudio = {context: context, buffers: {}, sources: {}, starts: {}, resumedAt: 0};
    return context.sampleRate;
});

// Interleaved 16-bit PCM into an AudioBuffer at its own rate; Web Audio resamples on output.
EM_JS(void, webAudioBuffer, (int stream, const short* pcm, int frames, int channels, int rate), {
    var audio = Module.velmoraAudio;
    var buffer = audio.context.createBuffer(channels, frames, rate);
    var base = pcm >> 1;
    for (var c = 0; c < channels; ++c) {
        var out = buffer.getChannelData(c);
        for (var i = 0; i < frames; ++i) out[i] = HEAP16[base + i * channels + c] / 32768;
    }
    audio.buffers[stream] = buffer;
});

// Plays the stream from `offset` seconds, `lead` seconds from now. The first start of a run
// takes Module.velmoraStartOffset, which only a test sets, as its offset.
EM_JS(void, webAudioStart, (int stream, double lead, double offset, int first), {
    var audio = Module.velmoraAudio;
    if (audio.sources[stream]) audio.sources[stream].stop();
    var source = audio.context.createBufferSource();
    source.buffer = audio.buffers[stream];
    source.connect(audio.context.destination);
    var when = audio.context.currentTime + lead;
    if (first) offset = Module.velmoraStartOffset || 0;
    source.start(when, Math.max(0, offset));
    audio.sources[stream] = source;
    audio.starts[stream] = when - offset;
});

EM_JS(void, webAudioStop, (int stream), {
    var audio = Module.velmoraAudio;
    if (audio.sources[stream]) audio.sources[stream].stop();
    delete audio.sources[stream];
});

// Whether the context is rendering. One that is not is asked to resume now and then: an
// interruption (a call on a phone) may have ended.
EM_JS(int, webAudioRunning, (), {
    var audio = Module.velmoraAudio;
    if (audio.context.state === "running") return 1;
    var now = performance.now();
    if (now - audio.resumedAt > 1000) {
        audio.resumedAt = now;
        audio.context.resume().catch(function() {});
    }
    return 0;
});

EM_JS(void, webAudioState, (char* out, int size), {
    stringToUTF8(Module.velmoraAudio.context.state, out, size);
});

// Seconds of the stream heard so far. The context's time, carried forward with the wall clock
// since it last moved (it moves in steps of a callback in some engines), less the output's
// latency; or, where the engine's output timestamp agrees with the context (not ahead of it,
// not far behind it, not stamped in the future), that stamp carried forward, when it says less
// has been heard. Never past what the context has rendered: when a busy machine stalls the audio
// thread, the sound stalls too.
EM_JS(double, webAudioHeard, (int stream), {
    var audio = Module.velmoraAudio;
    var context = audio.context;
    var now = performance.now();
    var rendered = context.currentTime;
    if (rendered !== audio.renderedSeen) {
        audio.renderedSeen = rendered;
        audio.renderedSeenAt = now;
    }
    var latency = (context.outputLatency || 0) + (context.baseLatency || 0);
    var heard = rendered + (now - audio.renderedSeenAt) / 1000 - latency;
    if (context.getOutputTimestamp) {
        var stamp = context.getOutputTimestamp();
        if (stamp.performanceTime > 0 && stamp.performanceTime <= now &&
            stamp.contextTime <= rendered && rendered - stamp.contextTime < 0.5)
            heard = Math.min(heard, stamp.contextTime + (now - stamp.performanceTime) / 1000);
    }
    return Math.min(heard, rendered) - audio.starts[stream];
});

// Seconds of the stream the context has rendered so far.
EM_JS(double, webAudioRendered, (int stream), {
    var audio = Module.velmoraAudio;
    return audio.context.currentTime - audio.starts[stream];
});

// The last position the demo read, and the context's time and the wall clock's when it read it,
// where the page and its tests can see them.
EM_JS(void, webAudioReported, (double seconds), {
    var audio = Module.velmoraAudio;
    audio.reported = seconds;
    audio.reportedAt = audio.context.currentTime;
    audio.reportedWall = performance.now();
});

EM_JS(double, webAudioLatency, (), {
    var context = Module.velmoraAudio.context;
    return (context.outputLatency || 0) + (context.baseLatency || 0);
});

EM_JS(void, webAudioClose, (), {
    var audio = Module.velmoraAudio;
    for (var s in audio.sources) audio.sources[s].stop();
    audio.context.close();
    delete Module.velmoraAudio;
});

}  // namespace

struct StreamState {
    int64_t lengthFrames = 0;  // 0: no end
    bool silent = false;       // timed by the monotonic clock instead of the output
    bool started = false;
    Clock::time_point silentStart{};
    int64_t lastReported = 0;
    // An output stream whose context stopped running: timed by the monotonic clock from where
    // it was, until the context runs again and the sound is started there.
    bool stalled = false;
    Clock::time_point outputSeen{};  // when the context was last seen running
    Clock::time_point stalledAt{};
    int64_t stalledFrom = 0;
};

struct Audio {
    int rate = 48000;
    bool output = false;
    std::vector<std::unique_ptr<StreamState>> streams;
};

namespace {

StreamState* find(Audio* audio, AudioStream stream) {
    if (!audio || stream == 0 || stream > audio->streams.size()) return nullptr;
    return audio->streams[stream - 1].get();
}

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

}  // namespace

Audio* audioInit(int /*device*/, int frequency) {
    Audio* audio = new Audio;
    audio->rate = frequency;
    const int rate = webAudioOpen();
    if (rate <= 0) {
        std::fprintf(stderr, "audio: no sound output (no Web Audio); timing with a silent clock\n");
        return audio;
    }
    audio->output = true;
    std::fprintf(stderr, "audio: Web Audio, %d Hz\n", rate);
    return audio;
}

AudioStream audioStreamCreateFile(Audio* audio, const char* path) {
    if (!audio) return 0;
    DecodedPcm pcm;
    std::string error;
    if (!decodeMp3(path, pcm, error)) return addSilentStream(audio, path, error.c_str());
    return audioStreamCreatePcm(audio, pcm);
}

AudioStream audioStreamCreatePcm(Audio* audio, const DecodedPcm& pcm) {
    if (!audio) return 0;
    const int64_t frames = pcm.channels > 0 ? static_cast<int64_t>(pcm.samples.size()) / pcm.channels : 0;
    if (frames == 0 || pcm.rate <= 0) return addSilentStream(audio, "PCM stream", "empty");
    auto s = std::make_unique<StreamState>();
    s->lengthFrames = frames * audio->rate / pcm.rate;
    s->silent = !audio->output;
    const AudioStream handle = addStream(audio, std::move(s));
    if (audio->output)
        webAudioBuffer(static_cast<int>(handle), pcm.samples.data(), static_cast<int>(frames), pcm.channels, pcm.rate);
    return handle;
}

bool audioChannelPlay(Audio* audio, AudioStream stream, bool restart) {
    StreamState* s = find(audio, stream);
    if (!s) return false;
    if (s->started && !restart) return true;
    if (!s->silent) webAudioStart(static_cast<int>(stream), kStartLeadSeconds, 0.0, 1);
    s->silentStart = s->outputSeen = Clock::now();
    s->lastReported = 0;
    s->stalled = false;
    s->started = true;
    return true;
}

namespace {

// The seconds heard of an output stream, following the context while it runs and the silent
// clock while it does not; each change of the two is one line on stderr.
double followOutput(Audio* audio, StreamState& s, AudioStream stream, Clock::time_point now) {
    const int handle = static_cast<int>(stream);
    const double reported = static_cast<double>(s.lastReported) / audio->rate;
    if (webAudioRunning()) {
        s.outputSeen = now;
        if (s.stalled) {
            // Started where the silent clock will be once the sound is heard.
            s.stalled = false;
            webAudioStart(handle, kStartLeadSeconds, reported + kStartLeadSeconds + webAudioLatency(), 0);
            std::fprintf(stderr, "audio: the Web Audio output runs again; the clock follows it\n");
        }
        return webAudioHeard(handle);
    }
    if (!s.stalled && secondsSince(s.outputSeen, now) >= kStalledOutputSeconds) {
        s.stalled = true;
        s.stalledAt = now;
        s.stalledFrom = s.lastReported;
        webAudioStop(handle);
        char state[32];
        webAudioState(state, sizeof state);
        std::fprintf(stderr, "audio: the Web Audio output has not run for %.0f s (%s); timing with a silent clock\n",
                     kStalledOutputSeconds, state);
    }
    if (s.stalled) return static_cast<double>(s.stalledFrom) / audio->rate + secondsSince(s.stalledAt, now);
    return webAudioHeard(handle);
}

}  // namespace

uint64_t audioChannelGetPosition(Audio* audio, AudioStream stream) {
    StreamState* s = find(audio, stream);
    if (!s || !s->started) return 0;
    const Clock::time_point now = Clock::now();
    const double seconds = s->silent ? secondsSince(s->silentStart, now) : followOutput(audio, *s, stream, now);
    s->lastReported = std::max(s->lastReported, clampToLength(*s, seconds * audio->rate));
    if (!s->silent) webAudioReported(static_cast<double>(s->lastReported) / audio->rate);
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
    const int64_t frames = clampToLength(*s, webAudioRendered(static_cast<int>(stream)) * audio->rate);
    return framesToBytes(frames);
}

bool audioHasDevice(const Audio* audio) { return audio && audio->output; }

double audioLatency(const Audio* audio) { return audioHasDevice(audio) ? webAudioLatency() : 0.0; }

void audioFree(Audio* audio) {
    if (!audio) return;
    if (audio->output) webAudioClose();
    delete audio;
}
