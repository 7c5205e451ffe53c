// Windows: SDL's output (its WASAPI driver).
#include "audio/platform/output.h"

const AudioOutput* const kAudioOutputs[] = {&kSdlOutput, nullptr};
