// Windows' shared-mode audio engine (WASAPI), event-driven, on a thread of its own that owns every
// COM object. What is heard is the engine's own clock (IAudioClock::GetPosition: the sample at the
// speakers, the endpoint's latency counted), carried forward from its QPC stamp and never past
// what was written. A device that goes away is replaced by the default one, and the sound and the
// clock carry on from where the sound was.
#include "audio/decoder.h"
#include "audio/platform/output.h"
#include "audio/platform/output_format.h"
#include "audio/steady.h"

#include <windows.h>

#include <audioclient.h>
#include <mmdeviceapi.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using output_format::kChannels;

constexpr DWORD kWakeMs = 100;         // the longest wait for the engine's event
constexpr DWORD kReopenMs = 250;       // between tries for a new default device
constexpr int kReopenTries = 8;        // then the output counts as gone (2 s)
constexpr double kJitterSeconds = 0.005;

template <class T>
void release(T*& p) {
    if (p) p->Release();
    p = nullptr;
}

std::string hresult(HRESULT hr) {
    char buf[16];
    snprintf(buf, sizeof buf, "0x%08lx", static_cast<unsigned long>(hr));
    return buf;
}

// 100 ns ticks of the performance counter, the unit of the engine's stamps.
int64_t qpcTicks() {
    LARGE_INTEGER now, freq;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&freq);
    return static_cast<int64_t>(static_cast<double>(now.QuadPart) * 1e7 / static_cast<double>(freq.QuadPart));
}

struct WasapiStream {
    std::vector<int16_t> pcm;  // interleaved, in the output format
    int64_t lengthFrames = 0;
    // Guarded by WasapiOutput::lock.
    bool playing = false;
    int64_t cursor = 0;         // frames of it written to the engine
    int64_t start = -1;         // the timeline frame its first frame went to; -1: none yet
    SteadyPosition steady;      // main thread only
    double latency = 0;         // main thread only: seconds written but not heard at the last reading
};

struct WasapiOutput {
    int rate = 48000;
    std::thread thread;
    std::atomic<bool> quit{false};
    HANDLE event = nullptr;

    std::mutex lock;
    std::condition_variable opened;
    bool openDone = false;
    std::vector<std::unique_ptr<WasapiStream>> streams;  // by handle - 1
    // A timeline of device frames that runs on across reopened devices.
    int64_t written = 0;       // frames written to it
    double heardAt = 0;        // frames heard at the stamp
    int64_t stampTicks = 0;    // the stamp, QPC 100 ns ticks; 0: no reading yet
    bool running = false;      // whether a device is playing now
    bool gone = false;         // no device could be had
    std::string why;           // what happened
    WasapiStream* latest = nullptr;
    double periodSeconds = 0.01;

    // The audio thread's own.
    IMMDeviceEnumerator* enumerator = nullptr;
    IAudioClient* client = nullptr;
    IAudioRenderClient* render = nullptr;
    IAudioClock* clock = nullptr;
    UINT64 clockFrequency = 1;
    UINT32 bufferFrames = 0;
    int64_t base = 0;  // the timeline frame at which this device's position 0 sits
};

WasapiOutput* self(void* output) { return static_cast<WasapiOutput*>(output); }

void closeDevice(WasapiOutput* w) {
    if (w->client) w->client->Stop();
    release(w->clock);
    release(w->render);
    release(w->client);
}

// The default render device, in our format; the engine converts to its own.
HRESULT openDevice(WasapiOutput* w) {
    IMMDevice* device = nullptr;
    HRESULT hr = w->enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &device);
    if (FAILED(hr)) return hr;
    hr = device->Activate(__uuidof(IAudioClient), CLSCTX_ALL, nullptr, reinterpret_cast<void**>(&w->client));
    release(device);
    if (FAILED(hr)) return hr;
    WAVEFORMATEX format{};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = kChannels;
    format.nSamplesPerSec = static_cast<DWORD>(w->rate);
    format.wBitsPerSample = 16;
    format.nBlockAlign = output_format::kBytesPerFrame;
    format.nAvgBytesPerSec = format.nSamplesPerSec * format.nBlockAlign;
    const DWORD flags = AUDCLNT_STREAMFLAGS_EVENTCALLBACK | AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM |
                        AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
    REFERENCE_TIME period = 0;
    w->client->GetDevicePeriod(&period, nullptr);
    hr = w->client->Initialize(AUDCLNT_SHAREMODE_SHARED, flags, 2 * period, 0, &format, nullptr);
    if (SUCCEEDED(hr)) hr = w->client->SetEventHandle(w->event);
    if (SUCCEEDED(hr)) hr = w->client->GetBufferSize(&w->bufferFrames);
    if (SUCCEEDED(hr)) hr = w->client->GetService(__uuidof(IAudioRenderClient), reinterpret_cast<void**>(&w->render));
    if (SUCCEEDED(hr)) hr = w->client->GetService(__uuidof(IAudioClock), reinterpret_cast<void**>(&w->clock));
    if (SUCCEEDED(hr)) hr = w->clock->GetFrequency(&w->clockFrequency);
    if (SUCCEEDED(hr)) hr = w->client->Start();
    if (FAILED(hr)) {
        closeDevice(w);
        return hr;
    }
    std::lock_guard<std::mutex> guard(w->lock);
    w->base = w->written;
    w->stampTicks = 0;
    w->running = true;
    w->periodSeconds = static_cast<double>(period) / 1e7;
    return S_OK;
}

// Tops the engine's buffer up with every playing stream mixed, then reads its clock.
HRESULT fill(WasapiOutput* w) {
    UINT32 padding = 0;
    HRESULT hr = w->client->GetCurrentPadding(&padding);
    if (FAILED(hr)) return hr;
    const UINT32 frames = w->bufferFrames - padding;
    if (frames > 0) {
        BYTE* data = nullptr;
        hr = w->render->GetBuffer(frames, &data);
        if (FAILED(hr)) return hr;
        auto* dst = reinterpret_cast<int16_t*>(data);
        std::fill(dst, dst + frames * kChannels, int16_t{0});
        std::lock_guard<std::mutex> guard(w->lock);
        for (auto& s : w->streams) {
            if (!s || !s->playing) continue;
            const int64_t n = std::min<int64_t>(frames, s->lengthFrames - s->cursor);
            if (n <= 0) continue;
            if (s->start < 0) s->start = w->written - s->cursor;
            const int16_t* src = s->pcm.data() + s->cursor * kChannels;
            for (int64_t i = 0; i < n * kChannels; ++i)
                dst[i] = static_cast<int16_t>(std::clamp(dst[i] + src[i], -32768, 32767));
            s->cursor += n;
        }
        w->written += frames;
        hr = w->render->ReleaseBuffer(frames, 0);
        if (FAILED(hr)) return hr;
    }
    UINT64 position = 0, stamp = 0;
    hr = w->clock->GetPosition(&position, &stamp);
    if (FAILED(hr)) return hr;
    std::lock_guard<std::mutex> guard(w->lock);
    w->heardAt = static_cast<double>(w->base) +
                 static_cast<double>(position) / static_cast<double>(w->clockFrequency) * w->rate;
    w->stampTicks = static_cast<int64_t>(stamp);
    return S_OK;
}

// The device went away: what was written but not heard is lost with it, so every stream goes
// back to where it was heard, and the timeline carries on from there on the next device.
void rewindToHeard(WasapiOutput* w) {
    std::lock_guard<std::mutex> guard(w->lock);
    const int64_t heard = std::min(w->written, static_cast<int64_t>(w->heardAt));
    for (auto& s : w->streams)
        if (s && s->start >= 0) s->cursor = std::clamp<int64_t>(heard - s->start, 0, s->cursor);
    w->written = heard;
    w->running = false;
}

void run(WasapiOutput* w) {
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    HRESULT hr = CoCreateInstance(__uuidof(MMDeviceEnumerator), nullptr, CLSCTX_ALL, __uuidof(IMMDeviceEnumerator),
                                  reinterpret_cast<void**>(&w->enumerator));
    if (SUCCEEDED(hr)) hr = openDevice(w);
    {
        std::lock_guard<std::mutex> guard(w->lock);
        if (FAILED(hr)) {
            w->gone = true;
            w->why = "no default device (" + hresult(hr) + ")";
        }
        w->openDone = true;
    }
    w->opened.notify_all();
    if (FAILED(hr)) {
        release(w->enumerator);
        CoUninitialize();
        return;
    }
    while (!w->quit.load()) {
        WaitForSingleObject(w->event, kWakeMs);
        hr = fill(w);
        if (SUCCEEDED(hr)) continue;
        closeDevice(w);
        rewindToHeard(w);
        int tries = 0;
        while (!w->quit.load() && FAILED(openDevice(w)) && ++tries < kReopenTries) Sleep(kReopenMs);
        if (!w->client && !w->quit.load()) {
            std::lock_guard<std::mutex> guard(w->lock);
            w->gone = true;
            w->why = hr == AUDCLNT_E_DEVICE_INVALIDATED ? "the device went away and no other could be opened"
                                                         : "the engine failed (" + hresult(hr) + ")";
            break;
        }
    }
    closeDevice(w);
    release(w->enumerator);
    CoUninitialize();
}

void wasapiClose(void* output);

void* wasapiOpen(int /*device*/, int rate, std::string& said) {
    auto* w = new WasapiOutput;
    w->rate = rate;
    w->event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    w->thread = std::thread(run, w);
    std::unique_lock<std::mutex> guard(w->lock);
    w->opened.wait(guard, [w] { return w->openDone; });
    if (w->gone) {
        said = w->why;
        guard.unlock();
        wasapiClose(w);
        return nullptr;
    }
    said = "wasapi, " + std::to_string(rate) + " Hz, shared mode, " + std::to_string(w->bufferFrames) + "-frame buffer";
    return w;
}

int64_t wasapiAdd(void* output, uint32_t handle, const DecodedPcm& pcm, std::string& why) {
    WasapiOutput* w = self(output);
    if (pcm.rate != w->rate || (pcm.channels != 1 && pcm.channels != kChannels)) {
        why = "a format other than the output's (" + std::to_string(pcm.rate) + " Hz, " +
              std::to_string(pcm.channels) + " channels)";
        return -1;
    }
    auto s = std::make_unique<WasapiStream>();
    if (pcm.channels == kChannels) {
        s->pcm = pcm.samples;
    } else {
        s->pcm.resize(pcm.samples.size() * 2);
        for (size_t i = 0; i < pcm.samples.size(); ++i) s->pcm[2 * i] = s->pcm[2 * i + 1] = pcm.samples[i];
    }
    s->lengthFrames = static_cast<int64_t>(s->pcm.size() / kChannels);
    const int64_t length = s->lengthFrames;
    std::lock_guard<std::mutex> guard(w->lock);
    if (w->streams.size() < handle) w->streams.resize(handle);
    w->streams[handle - 1] = std::move(s);
    return length;
}

void wasapiStart(void* output, uint32_t handle) {
    WasapiOutput* w = self(output);
    std::lock_guard<std::mutex> guard(w->lock);
    WasapiStream* s = handle <= w->streams.size() ? w->streams[handle - 1].get() : nullptr;
    if (!s) return;
    s->cursor = 0;
    s->start = -1;
    s->playing = true;
    s->steady.reset();
    w->latest = s;
}

bool wasapiHeard(void* output, uint32_t handle, double& frames, std::string& why) {
    WasapiOutput* w = self(output);
    std::unique_lock<std::mutex> guard(w->lock);
    WasapiStream* s = handle <= w->streams.size() ? w->streams[handle - 1].get() : nullptr;
    if (w->gone || !s) {
        why = w->why;
        return false;
    }
    double heard = 0;
    double written = 0;
    if (s->start >= 0 && w->stampTicks > 0) {
        double timeline = w->heardAt;
        if (w->running) timeline += static_cast<double>(qpcTicks() - w->stampTicks) / 1e7 * w->rate;
        timeline = std::min(timeline, static_cast<double>(w->written));
        heard = std::max(0.0, timeline - static_cast<double>(s->start));
        written = static_cast<double>(s->cursor);
    }
    const double jitter = std::max(kJitterSeconds, 0.5 * w->periodSeconds) * w->rate;
    guard.unlock();
    frames = s->steady.next(heard, heard > 0, jitter, written, w->rate, Clock::now());
    s->latency = (written - frames) / w->rate;
    return true;
}

int64_t wasapiTaken(void* output, uint32_t handle) {
    WasapiOutput* w = self(output);
    std::lock_guard<std::mutex> guard(w->lock);
    WasapiStream* s = handle <= w->streams.size() ? w->streams[handle - 1].get() : nullptr;
    return s ? s->cursor : 0;
}

double wasapiLatency(void* output) {
    WasapiOutput* w = self(output);
    std::lock_guard<std::mutex> guard(w->lock);
    return w->latest ? w->latest->latency : 0.0;
}

void wasapiClose(void* output) {
    WasapiOutput* w = self(output);
    w->quit.store(true);
    SetEvent(w->event);
    if (w->thread.joinable()) w->thread.join();
    CloseHandle(w->event);
    delete w;
}

}  // namespace

extern const AudioOutput kWasapiOutput = {"wasapi",    wasapiOpen,    wasapiAdd, wasapiStart, wasapiHeard,
                                          wasapiTaken, wasapiLatency, nullptr,   wasapiClose};
