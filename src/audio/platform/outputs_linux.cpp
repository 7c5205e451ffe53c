// Linux: the sound server (PulseAudio or PipeWire), which knows what the device will take to
// play; where none runs, SDL's ALSA output.
#include "audio/platform/output.h"

const AudioOutput* const kAudioOutputs[] = {&kPulseOutput, &kSdlOutput, nullptr};
