// The audio layer's output in a browser: the soundtrack decoded by our libmpg123 (gapless, as on
// the desktop) and played by Web Audio. The position is what is heard: the context's time as the
// output reports it leaving the speakers, against the time the stream was scheduled to start.
// A context that stops running (no device, a policy that keeps it from starting, a call on a
// phone) no longer holds the picture: after a while the clock carries on by the wall clock from
// where the sound was, and the sound starts again there if the context comes back.
#include "audio/decoder.h"
#include "audio/platform/output.h"
#include "audio/steady.h"

#include <emscripten.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <map>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;
// Scheduled this far ahead so that the first sample is not cut by the time the call takes.
constexpr double kStartLeadSeconds = 0.05;
// How long a context may stop running before the clock stops waiting for it.
constexpr double kStalledOutputSeconds = 2.0;
// How far the context's own account wanders between its steps: engines step its time by one
// render callback (3 to 20 ms), and some in bursts of several.
constexpr double kAccountJitterSeconds = 0.025;

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

// How a stream is followed: by the context while it runs, by the wall clock while it does not.
struct Following {
    SteadyPosition steady;           // what the readings follow the context's account with
    Clock::time_point outputSeen{};  // when the context was last seen running
    bool stalled = false;
    Clock::time_point stalledAt{};
    double stalledFrom = 0;  // seconds heard when it stalled
    double reported = 0;     // the last position the demo was given
};

struct WebAudioOutput {
    int rate = 48000;
    std::map<uint32_t, Following> streams;
};

WebAudioOutput& of(void* output) { return *static_cast<WebAudioOutput*>(output); }

void* webOpen(int /*device*/, int frequency, std::string& said) {
    const int rate = webAudioOpen();
    if (rate <= 0) {
        said = "no Web Audio";
        return nullptr;
    }
    said = "Web Audio, " + std::to_string(rate) + " Hz";
    return new WebAudioOutput{frequency, {}};
}

int64_t webAdd(void* output, uint32_t handle, const DecodedPcm& pcm, std::string& /*why*/) {
    const int64_t frames = static_cast<int64_t>(pcm.samples.size()) / pcm.channels;
    webAudioBuffer(static_cast<int>(handle), pcm.samples.data(), static_cast<int>(frames), pcm.channels, pcm.rate);
    return frames * of(output).rate / pcm.rate;
}

void webStart(void* output, uint32_t handle) {
    webAudioStart(static_cast<int>(handle), kStartLeadSeconds, 0.0, 1);
    Following& f = of(output).streams[handle];
    f = Following{};
    f.outputSeen = Clock::now();
}

// Each change between the context and the wall clock is one line on stderr.
bool webHeard(void* output, uint32_t handle, double& frames, std::string& /*why*/) {
    const int stream = static_cast<int>(handle);
    Following& f = of(output).streams[handle];
    const Clock::time_point now = Clock::now();
    double seconds;
    if (webAudioRunning()) {
        f.outputSeen = now;
        if (f.stalled) {
            // Started where the clock will be once the sound is heard.
            f.stalled = false;
            f.steady.reset();
            webAudioStart(stream, kStartLeadSeconds, f.reported + kStartLeadSeconds + webAudioLatency(), 0);
            std::fprintf(stderr, "audio: the Web Audio output runs again; the clock follows it\n");
        }
        // Steadied, so that the readings move with the wall between the context's steps and
        // neither snap back nor jump when a step comes; never past what it has rendered.
        const int rate = of(output).rate;
        const double rendered = webAudioRendered(stream);
        frames = f.steady.next(webAudioHeard(stream) * rate, rendered > 0, kAccountJitterSeconds * rate,
                               std::max(0.0, rendered) * rate, rate, now);
        return true;
    } else {
        if (!f.stalled && secondsSince(f.outputSeen, now) >= kStalledOutputSeconds) {
            f.stalled = true;
            f.stalledAt = now;
            f.stalledFrom = f.reported;
            webAudioStop(stream);
            char state[32];
            webAudioState(state, sizeof state);
            std::fprintf(stderr, "audio: the Web Audio output has not run for %.0f s (%s); timing with a silent clock\n",
                         kStalledOutputSeconds, state);
        }
        seconds = f.stalled ? f.stalledFrom + secondsSince(f.stalledAt, now) : webAudioHeard(stream);
    }
    frames = seconds * of(output).rate;
    return true;
}

int64_t webTaken(void* output, uint32_t handle) {
    return std::max<int64_t>(0, static_cast<int64_t>(webAudioRendered(static_cast<int>(handle)) * of(output).rate));
}

double webLatency(void*) { return webAudioLatency(); }

void webReported(void* output, uint32_t handle, double seconds) {
    of(output).streams[handle].reported = seconds;
    webAudioReported(seconds);
}

void webClose(void* output) {
    webAudioClose();
    delete static_cast<WebAudioOutput*>(output);
}

}  // namespace

extern const AudioOutput kWebAudioOutput = {"webaudio", webOpen,    webAdd,      webStart, webHeard,
                                            webTaken,   webLatency, webReported, webClose};
