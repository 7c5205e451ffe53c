// Plays the show at 30 frames per second in a hidden window and writes the
// window's picture at chosen music times to PNG files, for looking at.
// Usage: render_stills [-q] WIDTH HEIGHT OUTDIR TIME...
// -q draws only the stills themselves (quick, but the walkers stay at their
// starting places).
#include "gl_context.h"
#include "render/demo.h"

#include <GL/glew.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    const bool quick = argc > 1 && std::string(argv[1]) == "-q";
    if (quick) {
        --argc;
        ++argv;
    }
    if (argc < 5) {
        std::fprintf(stderr, "usage: render_stills [-q] WIDTH HEIGHT OUTDIR TIME...\n");
        return 2;
    }
    const int width = std::atoi(argv[1]), height = std::atoi(argv[2]);
    const std::string outDir = argv[3];
    std::vector<double> times;
    for (int i = 4; i < argc; ++i) times.push_back(std::atof(argv[i]));
    std::sort(times.begin(), times.end());

    velmora::test::GlContext ctx(width, height);
    if (!ctx.ok()) return 1;
    Demo* demo = new Demo(width, height);
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    std::vector<unsigned char> flipped(rgb.size());
    const double frame = 1.0 / 30.0;
    double t = frame;
    for (double still : times) {
        // Play up to the still so the walkers have taken their steps.
        if (!quick)
            for (; t < still; t += frame) demo->render(t);
        demo->render(still);
        glFinish();
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadBuffer(GL_BACK);
        glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
        const size_t row = static_cast<size_t>(width) * 3;
        for (int y = 0; y < height; ++y)
            std::copy_n(&rgb[(height - 1 - y) * row], row, &flipped[y * row]);
        char name[64];
        std::snprintf(name, sizeof name, "/still_%06.2f.png", still);
        stbi_write_png((outDir + name).c_str(), width, height, 3, flipped.data(), static_cast<int>(row));
        std::fprintf(stderr, "wrote %s\n", (outDir + name).c_str());
    }
    delete demo;
    return 0;
}
