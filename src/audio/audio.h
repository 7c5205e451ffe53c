#pragma once
// The demo's audio layer: MP3 playback whose position is the demo's clock.
//
// The position is what is being heard: it accounts for the device's buffering, advances
// smoothly between device callbacks, never goes backwards and holds at the stream's length
// once the music has ended. Without a usable output device, or without a playable file, a
// silent clock driven by a monotonic timer stands in, so the demo still runs in real time.
#include <cstdint>

struct DecodedPcm;
struct Audio;
using AudioStream = uint32_t;  // 0 is never a valid stream

// Opens the output (device -1: the system's default) at `frequency` Hz. Never fails: without a
// device every stream runs on the silent clock, and one line on stderr says so.
Audio* audioInit(int device, int frequency);

// A stream of the whole file, decoded up front. A missing or unplayable file is reported on
// stderr and gives a silent stream with no end.
AudioStream audioStreamCreateFile(Audio* audio, const char* path);
// A stream of PCM already in memory (interleaved 16-bit).
AudioStream audioStreamCreatePcm(Audio* audio, const DecodedPcm& pcm);

// Starts playback; from the beginning when `restart` is set or the stream has not played yet.
bool audioChannelPlay(Audio* audio, AudioStream stream, bool restart);

// The playback position in bytes of the stream's output format (16-bit samples).
uint64_t audioChannelGetPosition(Audio* audio, AudioStream stream);
double audioChannelBytes2Seconds(Audio* audio, AudioStream stream, uint64_t bytes);
// The stream's length in bytes; 0 for a stream with no end.
uint64_t audioChannelGetLength(Audio* audio, AudioStream stream);

// How much of the stream the output has taken so far, in bytes, as its callbacks report it
// (0 on the silent clock): what the position can be checked against.
uint64_t audioChannelGetTaken(Audio* audio, AudioStream stream);

// True when streams are heard through a device rather than timed by the silent clock.
bool audioHasDevice(const Audio* audio);
// The output latency the position allows for, in seconds (0 for the silent clock).
double audioLatency(const Audio* audio);

// Stops the output and releases every stream and the Audio itself. Null is ignored.
void audioFree(Audio* audio);
