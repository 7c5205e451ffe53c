#pragma once
// Helpers shared by the landscape pictures: a pinhole camera over a height
// field, drawn column by column with exact vertical coverage, and the tone
// curve that turns linear light into display values.
#include <functional>

#include "image.h"

namespace art {

constexpr int kScreenW = 2048;
constexpr int kScreenH = 1152;

// Camera looking along +z over ground that rises along +y; x to the right.
// Image rows count up from the bottom, as in the files.
struct Camera {
    double width, height;  // image size in pixels
    double horizon;        // image row of the horizon (y of the eye level)
    double focal;          // pixels
    double eye;            // eye height above y = 0, metres
    double centerX() const { return width * 0.5; }
    // Depth at which flat ground (y = 0) shows at image row `row`.
    double groundDepth(double row) const { return eye * focal / (horizon - row); }
};

struct TerrainStyle {
    std::function<float(float x, float z)> height;
    // Linear colour of the ground at (x, z) with unit normal (nx, ny, nz),
    // already seen through the air over distance z.
    std::function<Vec3(float x, float z, float h, Vec3 n)> shade;
    double zNear = 1.0, zFar = 10000.0;
    double stepScale = 0.004;  // march step as a fraction of depth
    int columnSamples = 2;     // sub-columns per pixel
};

// Renders the height field: rgb holds colour premultiplied by coverage and
// alpha the coverage; sky is left at zero for the caller to fill.
Image renderTerrain(const Camera& cam, const TerrainStyle& style);

// The glow of air over the meteor scene's horizon, in display colour, and
// how much of it lies over the sky at an image row (0 where it has faded
// out). It is part of the far sky, whose alpha keeps what the air lets
// through for the lights in front of it.
constexpr uint32_t kMeteorAirGlow = 0x2a2a44;
float meteorAirGlowCover(int row);

// Filmic tone curve on linear light, then display encoding (gamma 2.2).
Vec3 toneMap(Vec3 c);
inline Vec3 encode(Vec3 linear) {
    return {gammaEncode(linear.r), gammaEncode(linear.g), gammaEncode(linear.b)};
}

}  // namespace art
