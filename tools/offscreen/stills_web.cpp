// Stills of the web build, as velmora-capture --still draws them on the desktop: the page calls
// velmoraStill for music times in increasing order, and each still shows what a viewer of the
// whole run sees then (the walkers brought forward unseen). The picture goes to a PNG in the
// module's file system, for the page to read.
#include "offscreen.h"

#include <emscripten.h>

#include <cstdio>

namespace {
constexpr double kFps = 60;  // velmora-capture's default, so the walkers stand where its stills show them
velmora::OffscreenDemo* stills = nullptr;
}  // namespace

// 0 when the still was written; 1 when the demo could not be built, 2 when the PNG was not written.
extern "C" EMSCRIPTEN_KEEPALIVE int velmoraStill(int width, int height, double t, const char* out) {
    if (!stills) stills = new velmora::OffscreenDemo(width, height);
    if (!stills->ok()) {
        std::fprintf(stderr, "velmora-stills: %s\n", stills->why().c_str());
        return 1;
    }
    stills->playUpTo(t, kFps);
    stills->render(t);
    return velmora::writePng(out, stills->read()) ? 0 : 2;
}

int main() { return 0; }
