#pragma once
// What a sound output supplies beneath the audio layer. The stream table, the silent clock and
// the rules every clock keeps (never backwards, held at the stream's length, carried on in real
// time from its last reading when the output goes away) are written once, in audio/audio.cpp; an
// output only plays the streams it is given and says how much of each has been heard.
//
// Each platform lists the outputs it tries, best first, in one file of its own
// (outputs_<platform>.cpp, chosen in CMake).
#include <cstdint>
#include <string>

struct Audio;
struct DecodedPcm;

struct AudioOutput {
    const char* name;
    // Opens the system's default device at `rate` Hz. Null where this output cannot play, with
    // `said` saying why; otherwise `said` describes what was opened.
    void* (*open)(int device, int rate, std::string& said);
    // Takes a stream of `pcm` under `handle`. Its length in frames at the output rate, or -1
    // with `why` where it cannot be played.
    int64_t (*add)(void* output, uint32_t handle, const DecodedPcm& pcm, std::string& why);
    // Plays the stream from its beginning.
    void (*start)(void* output, uint32_t handle);
    // Frames of the stream heard so far, at the output rate, reckoned from what the output
    // itself reports and never ahead of what it took. False, with `why`, once the output has
    // gone and will play no more.
    bool (*heard)(void* output, uint32_t handle, double& frames, std::string& why);
    // Frames of the stream the output has taken so far, at the output rate.
    int64_t (*taken)(void* output, uint32_t handle);
    // The latency the output counts between what it took and what is heard, in seconds.
    double (*latency)(void* output);
    // The position the demo was given, for an output that shows it (may be null).
    void (*reported)(void* output, uint32_t handle, double seconds);
    void (*close)(void* output);
};

// This platform's outputs, best first, ending with null.
extern const AudioOutput* const kAudioOutputs[];

// The audio layer on one given output, or on the silent clock where it does not open: what
// audioInit does with each output in turn, for the tests that try every one.
Audio* audioInitOn(const AudioOutput* output, int device, int frequency);

// The outputs there are; each platform's list names those it builds.
extern const AudioOutput kPulseOutput;     // libpulse: PulseAudio, or PipeWire through pipewire-pulse
extern const AudioOutput kSdlOutput;       // SDL2's own drivers (ALSA where no sound server runs)
extern const AudioOutput kWasapiOutput;    // Windows' shared-mode audio engine
extern const AudioOutput kWebAudioOutput;  // the browser's
