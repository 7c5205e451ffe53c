// Windows: the shared-mode audio engine, whose clock is what the speakers play; SDL's output
// where it cannot be opened.
#include "audio/platform/output.h"

const AudioOutput* const kAudioOutputs[] = {&kWasapiOutput, &kSdlOutput, nullptr};
