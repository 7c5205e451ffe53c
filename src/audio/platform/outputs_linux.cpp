// Linux: SDL's output (the sound server through its pulseaudio driver, else ALSA).
#include "audio/platform/output.h"

const AudioOutput* const kAudioOutputs[] = {&kSdlOutput, nullptr};
