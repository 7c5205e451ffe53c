// Linux: ALSA's error handler, replaced through the library SDL itself loads.
#include "audio/quiet.h"

#include <dlfcn.h>

namespace {

extern "C" void quietAlsaError(const char*, int, const char*, int, const char*, ...) {}

}  // namespace

void* quietSoundLibraries() {
    void* lib = dlopen("libasound.so.2", RTLD_NOW | RTLD_GLOBAL);
    if (!lib) return nullptr;
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    using SetHandler = int (*)(Handler);
    auto set = reinterpret_cast<SetHandler>(dlsym(lib, "snd_lib_error_set_handler"));
    if (set) set(quietAlsaError);
    return lib;
}

void releaseSoundLibraries(void* handle) {
    if (handle) dlclose(handle);
}
