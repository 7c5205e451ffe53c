// The sound server's output (PulseAudio, or PipeWire through pipewire-pulse), on libpulse's
// threaded main loop. What is heard comes from the server's own timing of the stream: how far it
// has read, less what is still queued in the sink and the device behind it (a Bluetooth codec's
// delay included, as far as the server knows it), carried forward between its reports.
#include "audio/decoder.h"
#include "audio/platform/output.h"
#include "audio/steady.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// What the demo asks the server to buffer; the server may grant more, and PULSE_LATENCY_MSEC
// overrides it. The clock counts whatever it is, so this only trades start-up delay against
// the risk of running dry on a busy machine.
constexpr pa_usec_t kTargetLatencyUsec = 50 * 1000;
// How far the server's successive accounts of a stream disagree with the time between them.
constexpr double kAccountJitterSeconds = 0.005;

struct PulseStream {
    std::vector<int16_t> pcm;  // interleaved, at its own rate and channel count: the server converts
    pa_sample_spec spec{};
    pa_stream* stream = nullptr;
    size_t written = 0;  // bytes handed to the server (main loop's lock)

    // Main thread only: the last advance of the server's time, to run on from once it has been
    // given the whole stream and stops counting (it reports no time for what plays out of the sink).
    double lastHeard = 0;
    Clock::time_point lastHeardAt{};
    double latency = 0;  // seconds written but not yet heard, at the last reading
    SteadyPosition steady;

    size_t bytes() const { return pcm.size() * sizeof(int16_t); }
};

struct PulseOutput {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    int rate = 48000;
    std::vector<std::unique_ptr<PulseStream>> streams;  // by handle - 1; null for streams it does not play
    PulseStream* latest = nullptr;                      // the stream last started
};

// Holds the main loop's lock for a scope: every libpulse call outside its own thread needs it.
class Locked {
public:
    explicit Locked(PulseOutput* p) : loop_(p->loop) { pa_threaded_mainloop_lock(loop_); }
    ~Locked() { pa_threaded_mainloop_unlock(loop_); }
    Locked(const Locked&) = delete;
    Locked& operator=(const Locked&) = delete;

private:
    pa_threaded_mainloop* loop_;
};

PulseOutput* self(void* output) { return static_cast<PulseOutput*>(output); }

PulseStream* find(void* output, uint32_t handle) {
    PulseOutput* p = self(output);
    return handle <= p->streams.size() ? p->streams[handle - 1].get() : nullptr;
}

void signalLoop(void* loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop*>(loop), 0); }

void onContextState(pa_context*, void* loop) { signalLoop(loop); }

// The server asks for more: give it what is left, up to what it asks.
void onWritable(pa_stream* stream, size_t asked, void* user) {
    PulseStream* s = static_cast<PulseStream*>(user);
    const size_t n = std::min(asked, s->bytes() - s->written);
    if (n == 0) return;
    const auto* from = reinterpret_cast<const uint8_t*>(s->pcm.data()) + s->written;
    if (pa_stream_write(stream, from, n, nullptr, 0, PA_SEEK_RELATIVE) == 0) s->written += n;
}

void dropStream(PulseStream& s) {
    if (!s.stream) return;
    pa_stream_set_write_callback(s.stream, nullptr, nullptr);
    pa_stream_disconnect(s.stream);
    pa_stream_unref(s.stream);
    s.stream = nullptr;
}

void pulseClose(void* output);

void* pulseOpen(int /*device*/, int rate, std::string& said) {
    auto p = std::make_unique<PulseOutput>();
    p->rate = rate;
    p->loop = pa_threaded_mainloop_new();
    if (!p->loop) {
        said = "no main loop";
        return nullptr;
    }
    p->context = pa_context_new(pa_threaded_mainloop_get_api(p->loop), "Velmora");
    if (!p->context) {
        said = "no context";
        pa_threaded_mainloop_free(p->loop);
        return nullptr;
    }
    pa_context_set_state_callback(p->context, onContextState, p->loop);
    bool ready = false;
    {
        Locked lock(p.get());
        // No server of our own: where none runs, the plain path plays instead.
        if (pa_context_connect(p->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0 &&
            pa_threaded_mainloop_start(p->loop) >= 0) {
            for (;;) {
                const pa_context_state_t state = pa_context_get_state(p->context);
                if (state == PA_CONTEXT_READY) ready = true;
                if (ready || !PA_CONTEXT_IS_GOOD(state)) break;
                pa_threaded_mainloop_wait(p->loop);
            }
        }
        if (ready)
            said = std::string("pulse, ") + std::to_string(rate) + " Hz, server " +
                   (pa_context_get_server(p->context) ? pa_context_get_server(p->context) : "?");
        else
            said = std::string("no sound server (") + pa_strerror(pa_context_errno(p->context)) + ")";
    }
    if (!ready) {
        pulseClose(p.release());
        return nullptr;
    }
    return p.release();
}

int64_t pulseAdd(void* output, uint32_t handle, const DecodedPcm& pcm, std::string& why) {
    PulseOutput* p = self(output);
    auto s = std::make_unique<PulseStream>();
    s->spec.format = PA_SAMPLE_S16NE;
    s->spec.rate = static_cast<uint32_t>(pcm.rate);
    s->spec.channels = static_cast<uint8_t>(std::clamp(pcm.channels, 0, static_cast<int>(PA_CHANNELS_MAX)));
    if (s->spec.channels != pcm.channels || !pa_sample_spec_valid(&s->spec)) {
        why = "a format the sound server does not take";
        return -1;
    }
    s->pcm = pcm.samples;
    const int64_t frames = static_cast<int64_t>(s->pcm.size()) / pcm.channels;
    if (p->streams.size() < handle) p->streams.resize(handle);
    p->streams[handle - 1] = std::move(s);
    return frames * p->rate / pcm.rate;
}

void pulseStart(void* output, uint32_t handle) {
    PulseOutput* p = self(output);
    PulseStream* s = find(output, handle);
    if (!s) return;
    Locked lock(p);
    dropStream(*s);
    s->written = 0;
    s->lastHeard = 0;
    s->steady.reset();
    s->stream = pa_stream_new(p->context, "Velmora", &s->spec, nullptr);
    if (!s->stream) return;  // heard() then says the output is gone
    pa_stream_set_write_callback(s->stream, onWritable, s);
    pa_buffer_attr attr;
    attr.maxlength = static_cast<uint32_t>(-1);
    attr.tlength = static_cast<uint32_t>(pa_usec_to_bytes(kTargetLatencyUsec, &s->spec));
    attr.prebuf = static_cast<uint32_t>(-1);
    attr.minreq = static_cast<uint32_t>(-1);
    attr.fragsize = static_cast<uint32_t>(-1);
    // The server's timing, updated by itself; the latency asked for is the whole way to the
    // device, not only the server's buffer.
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
    pa_stream_connect_playback(s->stream, nullptr, &attr, flags, nullptr, nullptr);
    p->latest = s;
}

// The server's last account of the stream: how far it had read, less what the sink and the
// device still held, carried forward by the time since, but only while the server says the
// stream is playing. (libpulse's own interpolation runs on from the moment the stream is
// connected, before the sink has taken anything, so it reads ahead of the sound at the start
// and after every underrun.)
bool pulseHeard(void* output, uint32_t handle, double& frames, std::string& why) {
    PulseOutput* p = self(output);
    PulseStream* s = find(output, handle);
    double heard = 0;
    bool whole = false;
    double written = 0;
    {
        Locked lock(p);
        const bool good = s && s->stream && PA_CONTEXT_IS_GOOD(pa_context_get_state(p->context)) &&
                          PA_STREAM_IS_GOOD(pa_stream_get_state(s->stream));
        if (!good) {
            why = std::string("the sound server: ") + pa_strerror(pa_context_errno(p->context));
            return false;
        }
        const pa_timing_info* t = pa_stream_get_timing_info(s->stream);
        if (t && t->read_index > 0) {
            const double read = static_cast<double>(pa_bytes_to_usec(static_cast<uint64_t>(t->read_index), &s->spec));
            heard = (read - static_cast<double>(t->sink_usec)) / 1e6;
            if (t->playing) heard += static_cast<double>(pa_timeval_age(&t->timestamp)) / 1e6;
        }
        whole = s->written == s->bytes();
        written = static_cast<double>(pa_bytes_to_usec(s->written, &s->spec)) / 1e6;
    }
    const Clock::time_point now = Clock::now();
    if (heard > s->lastHeard) {
        s->lastHeard = heard;
        s->lastHeardAt = now;
    } else if (whole && s->lastHeard > 0) {
        heard = s->lastHeard + std::chrono::duration<double>(now - s->lastHeardAt).count();
    }
    heard = std::max(0.0, heard);
    frames = s->steady.next(heard * p->rate, s->lastHeard > 0, kAccountJitterSeconds * p->rate, written * p->rate,
                            p->rate, now);
    s->latency = written - frames / p->rate;
    return true;
}

int64_t pulseTaken(void* output, uint32_t handle) {
    PulseOutput* p = self(output);
    PulseStream* s = find(output, handle);
    if (!s) return 0;
    Locked lock(p);
    const int64_t frames = static_cast<int64_t>(s->written / pa_frame_size(&s->spec));
    return frames * p->rate / static_cast<int64_t>(s->spec.rate);
}

// What stood between the written and the heard at the last reading, as the server accounts it.
double pulseLatency(void* output) {
    const PulseStream* s = self(output)->latest;
    return s && s->lastHeard > 0 ? s->latency : static_cast<double>(kTargetLatencyUsec) / 1e6;
}

void pulseClose(void* output) {
    PulseOutput* p = self(output);
    {
        Locked lock(p);
        for (auto& s : p->streams)
            if (s) dropStream(*s);
        pa_context_disconnect(p->context);
        pa_context_unref(p->context);
    }
    pa_threaded_mainloop_stop(p->loop);
    pa_threaded_mainloop_free(p->loop);
    delete p;
}

}  // namespace

extern const AudioOutput kPulseOutput = {"pulse",    pulseOpen,   pulseAdd, pulseStart, pulseHeard,
                                         pulseTaken, pulseLatency, nullptr,  pulseClose};
