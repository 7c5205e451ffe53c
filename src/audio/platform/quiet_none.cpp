// Systems whose sound libraries keep quiet on their own.
#include "audio/quiet.h"

void* quietSoundLibraries() { return nullptr; }

void releaseSoundLibraries(void*) {}
