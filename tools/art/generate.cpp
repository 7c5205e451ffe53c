#include <chrono>
#include <cstdio>
#include <filesystem>

#include "art.h"
#include "walk.h"

namespace art {

const char* const kImageNames[kImageCount] = {
    "desert",           "desertbright",   "mountain", "starnight", "stars", "meteor_ground",
    "meteor_sky_small", "meteor_sky_big", "title",    "credits"};

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) {
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Bits per pixel of each image: opaque pictures are 24-bit; layers that
// are drawn over something else carry alpha, and so does the far meteor
// sky, for what its air lets through.
int bitsFor(const std::string& name) {
    if (name == "desert" || name == "mountain" || name == "stars")
        return 24;
    return 32;
}

// Layers over the bottom of the picture with nothing but clear sky above
// some row: they are written without that sky and with their outline, and
// the renderer draws them over the rows inside it only.
bool dropsClearTop(const std::string& name) {
    return name == "starnight" || name == "meteor_ground" || name == "title" || name == "credits";
}

Image drawByName(const std::string& name, const Fonts& fonts) {
    if (name == "desert") return drawDesert();
    if (name == "desertbright") return drawDesertBright();
    if (name == "mountain") return drawMountain();
    if (name == "starnight") return drawStarNight();
    if (name == "stars") return drawStars();
    if (name == "meteor_ground") return drawMeteorGround();
    if (name == "meteor_sky_small") return drawMeteorSkySmall();
    if (name == "meteor_sky_big") return drawMeteorSkyBig();
    if (name == "title") return drawTitle(fonts.title);
    return drawCredits(fonts.title, fonts.text);
}

}  // namespace

bool generateAll(const std::string& dataDir, const Fonts& fonts) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path walkDir = fs::path(dataDir) / "walk";
    const fs::path texDir = fs::path(dataDir) / "textures";
    fs::create_directories(walkDir, ec);
    fs::create_directories(texDir, ec);
    bool ok = true;
    auto t0 = Clock::now();

    for (int f = 0; f < kWalkFrames; ++f) {
        std::string path = (walkDir / ("out" + std::to_string(f) + ".tga")).string();
        if (!writeTga(path, renderWalkFrame(f), 32, Encoding::Display, 0)) {
            std::fprintf(stderr, "artgen: cannot write %s\n", path.c_str());
            ok = false;
        }
    }
    std::fprintf(stderr, "artgen: %d walk frames  %.2f s\n", kWalkFrames, since(t0));

    for (int i = 0; i < kImageCount; ++i) {
        auto t1 = Clock::now();
        const std::string name = kImageNames[i];
        Image img = drawByName(name, fonts);
        if (dropsClearTop(name)) img = withOutline(withoutClearTop(img));
        std::string path = (texDir / (name + ".tga")).string();
        if (img.width() == 0) {
            std::fprintf(stderr, "artgen: could not draw %s\n", name.c_str());
            ok = false;
            continue;
        }
        if (!writeTga(path, img, bitsFor(name), Encoding::Display, 0x5EED0000U + uint32_t(i))) {
            std::fprintf(stderr, "artgen: cannot write %s\n", path.c_str());
            ok = false;
        }
        std::fprintf(stderr, "artgen: %-17s %dx%d  %.2f s\n", name.c_str(), img.width(),
                     img.height(), since(t1));
    }
    std::fprintf(stderr, "artgen: all done in %.2f s\n", since(t0));
    return ok;
}

}  // namespace art
