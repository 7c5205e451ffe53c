// The picture does not depend on the GL that draws it. Stills of every row, drawn by
// render_stills in a process of their own, are held against the stills of the shaders as they
// are on this machine's GL: drawn with sine, cosine and tangent reducing their argument the way
// single-precision GPUs do, and drawn by a second GL stack, zink over lavapipe.
#include "data_copy.h"
#include "offscreen.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

constexpr int kWidth = 1920, kHeight = 1080;
// Every row, and the particle cloud through its whole row: it is where the grains' random numbers
// show the most.
const double kTimes[] = {10, 40, 67, 72, 76, 80, 84, 88, 92, 94, 100, 110, 130, 145, 160, 175, 183};

struct Stills {
    TempDir dir{"velmora-stills"};
    std::string renderer;
};

// Runs render_stills in `runDir` (which holds data/) with `env` before it; the stills land in
// `out`. Fails the test when it does not finish.
void drawStills(const fs::path& runDir, const std::string& env, Stills& out) {
    std::ostringstream cmd;
    cmd << "cd '" << runDir.string() << "' && " << env << " '" << VELMORA_RENDER_STILLS << "' " << kWidth << " "
        << kHeight << " '" << out.dir.path().string() << "'";
    for (double t : kTimes) cmd << " " << t;
    cmd << " 2>'" << (out.dir / "log") << "'";
    const int status = std::system(cmd.str().c_str());
    std::ifstream log(out.dir / "log");
    const std::string why((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    ASSERT_EQ(status, 0) << cmd.str() << "\n" << why;
    std::ifstream names(out.dir / "renderer.txt");
    std::getline(names, out.renderer);
}

std::vector<unsigned char> loadStill(const Stills& s, double t) {
    char name[64];
    std::snprintf(name, sizeof name, "still_%06.2f.png", t);
    velmora::Picture still = velmora::readPng(s.dir / name);
    if (still.width != kWidth || still.height != kHeight) return {};
    return std::move(still.rgb);
}

// Peak signal to noise ratio of two 8-bit pictures, in dB; infinite when they are equal.
double psnr(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * double(a[i] - b[i]);
    const double mse = sum / static_cast<double>(a.size());
    return mse == 0 ? INFINITY : 10 * std::log10(255.0 * 255.0 / mse);
}

// Every still of `other` within `floorDb` of the same still of `reference`; the table goes to
// the log either way.
void expectClose(const Stills& reference, const Stills& other, double floorDb, const char* what) {
    std::fprintf(stderr, "%s, PSNR against %s:\n", what, reference.renderer.c_str());
    for (double t : kTimes) {
        const auto a = loadStill(reference, t), b = loadStill(other, t);
        ASSERT_FALSE(a.empty()) << t;
        ASSERT_FALSE(b.empty()) << t;
        const double db = psnr(a, b);
        std::fprintf(stderr, "  %6.1f s  %6.1f dB\n", t, db);
        EXPECT_GE(db, floorDb) << what << " at " << t << " s";
    }
}

// The argument reduction of single-precision hardware: the argument times 1/2pi, its fraction,
// then the sine of that turn. Put after the #version line of every shader, with a macro over the
// built-in names.
const char* kReducedTrig =
    "#define REDUCED_TRIG(T) "
    "T reducedSin(T x) { return sin(fract(x * 0.15915494) * 6.2831853); } "
    "T reducedCos(T x) { return cos(fract(x * 0.15915494) * 6.2831853); } "
    "T reducedTan(T x) { return tan(fract(x * 0.15915494) * 6.2831853); }\n"
    "REDUCED_TRIG(float) REDUCED_TRIG(vec2) REDUCED_TRIG(vec3) REDUCED_TRIG(vec4)\n"
    "#define sin reducedSin\n#define cos reducedCos\n#define tan reducedTan\n";

}  // namespace

TEST(Portability, StillsHoldWithTheTrigOfSinglePrecisionHardware) {
    Stills plain, reduced;
    drawStills(fs::current_path(), "", plain);
    {
        DataCopy data;
        int rewritten = 0;
        for (const auto& e : fs::directory_iterator(data.shaders())) {
            std::ifstream in(e.path());
            std::string version, rest((std::getline(in, version), std::istreambuf_iterator<char>(in)), {});
            ASSERT_EQ(version.rfind("#version", 0), 0u) << e.path();
            data.replaceShader(e.path().filename().string(), version + "\n" + kReducedTrig + rest);
            ++rewritten;
        }
        EXPECT_EQ(rewritten, 14);
        drawStills(fs::current_path(), "", reduced);
    }
    expectClose(plain, reduced, 40.0, "sin, cos and tan reduced in single precision");
}

TEST(Portability, StillsHoldOnASecondGlStack) {
    // Lavapipe's Vulkan driver, as Debian installs it.
    std::string icd;
    for (const auto& e : fs::directory_iterator("/usr/share/vulkan/icd.d"))
        if (e.path().filename().string().rfind("lvp_icd", 0) == 0) icd = e.path().string();
    ASSERT_FALSE(icd.empty()) << "no lavapipe ICD under /usr/share/vulkan/icd.d (mesa-vulkan-drivers)";

    Stills llvmpipe, zink;
    drawStills(fs::current_path(), "", llvmpipe);
    drawStills(fs::current_path(), "MESA_LOADER_DRIVER_OVERRIDE=zink LIBGL_ALWAYS_SOFTWARE=1 VK_ICD_FILENAMES='" + icd + "'",
               zink);
    // The comparison means something only if the stacks differ.
    ASSERT_EQ(zink.renderer.rfind("zink", 0), 0u) << zink.renderer;
    ASSERT_NE(llvmpipe.renderer, zink.renderer);
    expectClose(llvmpipe, zink, 45.0, zink.renderer.c_str());
}
