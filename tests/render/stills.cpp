// Writes stills of the show to PNG, each the frame a viewer of the whole run sees at that time
// (the rows' frames before it played at 60 per second, unseen), and the name of the GL that drew
// them to OUTDIR/renderer.txt. The portability test runs it on each GL it compares; it is also
// there for looking at.
// Usage: render_stills WIDTH HEIGHT OUTDIR TIME...
#include "offscreen.h"

#include <GL/glew.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: render_stills WIDTH HEIGHT OUTDIR TIME...\n");
        return 2;
    }
    const int width = std::atoi(argv[1]), height = std::atoi(argv[2]);
    const std::string outDir = argv[3];
    std::vector<double> times;
    for (int i = 4; i < argc; ++i) times.push_back(std::atof(argv[i]));
    std::sort(times.begin(), times.end());

    velmora::OffscreenDemo od(width, height);
    if (!od.ok()) {
        std::fprintf(stderr, "render_stills: %s\n", od.why().c_str());
        return 1;
    }
    std::ofstream(outDir + "/renderer.txt") << reinterpret_cast<const char*>(glGetString(GL_RENDERER)) << "\n";
    constexpr double kFps = 60;
    for (double still : times) {
        od.playUpTo(still, kFps);
        od.render(still);
        char name[64];
        std::snprintf(name, sizeof name, "/still_%06.2f.png", still);
        if (!velmora::writePng(outDir + name, od.read())) {
            std::fprintf(stderr, "render_stills: could not write %s\n", (outDir + name).c_str());
            return 1;
        }
    }
    return 0;
}
