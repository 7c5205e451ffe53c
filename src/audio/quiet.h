#pragma once
// Keeps the system's own sound libraries from printing while SDL looks for a
// device (ALSA prints a screenful to stderr when there is none). The handle
// is given back once the device is closed; null where there is nothing to do.
void* quietSoundLibraries();
void releaseSoundLibraries(void* handle);
