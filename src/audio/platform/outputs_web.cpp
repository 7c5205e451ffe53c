// The browser: Web Audio.
#include "audio/platform/output.h"

const AudioOutput* const kAudioOutputs[] = {&kWebAudioOutput, nullptr};
