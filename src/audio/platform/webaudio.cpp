// The audio layer in a browser: the soundtrack decoded by our libmpg123 (gapless, as on the
// desktop) and played by Web Audio. The position is what is heard: the context time that the
// output reports as leaving the speakers, against the time the stream was scheduled to start.
#include "audio/decoder.h"
#include "audio/platform/output.h"

#include <emscripten.h>

#include <algorithm>
#include <cstdint>
#include <string>

namespace {

// Scheduled this far ahead so that the first sample is not cut by the time the call takes.
constexpr double kStartLeadSeconds = 0.05;

// The page's AudioContext and its buffers live in Module.velmoraAudio, indexed by stream.
EM_JS(int, webAudioOpen, (int rate), {
    var Context = globalThis.AudioContext || globalThis.webkitAudioContext;
    if (!Context) return 0;
    try {
        var context = new Context({sampleRate: rate, latencyHint: "interactive"});
        context.resume();
        Module.velmoraAudio = {context: context, buffers: {}, sources: {}, starts: {}};
        return context.sampleRate;
    } catch (e) {
        return 0;
    }
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

// Module.velmoraStartOffset, which only a test sets, starts the music that many seconds in.
EM_JS(void, webAudioStart, (int stream, double lead), {
    var audio = Module.velmoraAudio;
    if (audio.sources[stream]) audio.sources[stream].stop();
    var source = audio.context.createBufferSource();
    source.buffer = audio.buffers[stream];
    source.connect(audio.context.destination);
    var when = audio.context.currentTime + lead;
    var offset = Module.velmoraStartOffset || 0;
    source.start(when, offset);
    audio.sources[stream] = source;
    audio.starts[stream] = when - offset;
});

// Seconds of the stream heard so far: the output's timestamp, carried forward to now, but never
// past what the context has rendered: when a busy machine stalls the audio thread, the sound
// stalls too, and carrying the stamp forward by the wall clock would run ahead of it.
EM_JS(double, webAudioHeard, (int stream), {
    var audio = Module.velmoraAudio;
    var context = audio.context;
    var heard = context.currentTime - (context.outputLatency || 0) - (context.baseLatency || 0);
    if (context.getOutputTimestamp) {
        var stamp = context.getOutputTimestamp();
        if (stamp.performanceTime > 0)
            heard = stamp.contextTime + Math.max(0, performance.now() - stamp.performanceTime) / 1000;
    }
    return Math.min(heard, context.currentTime) - audio.starts[stream];
});

// Seconds of the stream the context has rendered so far.
EM_JS(double, webAudioRendered, (int stream), {
    var audio = Module.velmoraAudio;
    return audio.context.currentTime - audio.starts[stream];
});

// The last position the demo read, and the context's time when it read it, where the page and
// its tests can see them.
EM_JS(void, webAudioReported, (double seconds), {
    var audio = Module.velmoraAudio;
    audio.reported = seconds;
    audio.reportedAt = audio.context.currentTime;
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

struct WebAudioOutput {
    int rate = 48000;
};

int rateOf(void* output) { return static_cast<WebAudioOutput*>(output)->rate; }

void* webOpen(int /*device*/, int frequency, std::string& said) {
    const int rate = webAudioOpen(frequency);
    if (rate <= 0) {
        said = "no Web Audio";
        return nullptr;
    }
    said = "Web Audio, " + std::to_string(rate) + " Hz";
    return new WebAudioOutput{frequency};
}

int64_t webAdd(void* output, uint32_t handle, const DecodedPcm& pcm, std::string& /*why*/) {
    const int64_t frames = static_cast<int64_t>(pcm.samples.size()) / pcm.channels;
    webAudioBuffer(static_cast<int>(handle), pcm.samples.data(), static_cast<int>(frames), pcm.channels, pcm.rate);
    return frames * rateOf(output) / pcm.rate;
}

void webStart(void*, uint32_t handle) { webAudioStart(static_cast<int>(handle), kStartLeadSeconds); }

bool webHeard(void* output, uint32_t handle, double& frames, std::string& /*why*/) {
    frames = webAudioHeard(static_cast<int>(handle)) * rateOf(output);
    return true;
}

int64_t webTaken(void* output, uint32_t handle) {
    return std::max<int64_t>(0, static_cast<int64_t>(webAudioRendered(static_cast<int>(handle)) * rateOf(output)));
}

double webLatency(void*) { return webAudioLatency(); }

void webReported(void*, uint32_t, double seconds) { webAudioReported(seconds); }

void webClose(void* output) {
    webAudioClose();
    delete static_cast<WebAudioOutput*>(output);
}

}  // namespace

extern const AudioOutput kWebAudioOutput = {"webaudio", webOpen,    webAdd,      webStart, webHeard,
                                            webTaken,   webLatency, webReported, webClose};
