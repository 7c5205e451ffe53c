// The desert: an afternoon dune sea under a low sun on the left, with a flat
// of hard sand in front where the figure walks, and its bright companion
// (sun, glare and heat) for the shimmer and glow.
#include <cmath>
#include <vector>

#include "art.h"
#include "noise.h"
#include "scene.h"

namespace art {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Eye level a little below the middle; the figure (offset y -0.28) stands
// on flat ground 22 m away, its head just above the horizon.
const Camera kCam{kScreenW, kScreenH, 0.47 * kScreenH, 1773.0, 1.52};
const double kFeetRow = groundV(-0.28) * kScreenH;
const double kPathZ = kCam.groundDepth(kFeetRow);

// The sun, low on the left, where the figure is heading.
constexpr double kSunX = 430.0, kSunY = 860.0, kSunRadius = 27.0;

Vec3 unitDir(double px, double py) {
    double x = (px - kCam.centerX()) / kCam.focal, y = (py - kCam.horizon) / kCam.focal;
    double n = std::sqrt(x * x + y * y + 1.0);
    return Vec3(float(x / n), float(y / n), float(1.0 / n));
}
const Vec3 kSunDir = unitDir(kSunX, kSunY);
// Light for the ground: the same sun, a little higher and more to the side,
// so that the dune flanks split into lit and shaded faces.
const Vec3 kLight = [] {
    Vec3 l(-0.85f, 0.30f, 0.43f);
    float n = std::sqrt(l.r * l.r + l.g * l.g + l.b * l.b);
    return l * (1.f / n);
}();

// Colours in linear light.
const Vec3 kC2d6cc0 = toLinear(hex(0x2d6cc0));
const Vec3 kC8fbbe3 = toLinear(hex(0x8fbbe3));
const Vec3 kCf7c98f = toLinear(hex(0xf7c98f));
const Vec3 kC8aa6d6 = toLinear(hex(0x8aa6d6));
const Vec3 kCd99a5b = toLinear(hex(0xd99a5b));
const Vec3 kCe0a070 = toLinear(hex(0xe0a070));
const Vec3 kCe9bd86 = toLinear(hex(0xe9bd86));
const Vec3 kCffb060 = toLinear(hex(0xffb060));
const Vec3 kCffc27a = toLinear(hex(0xffc27a));
const Vec3 kCffc880 = toLinear(hex(0xffc880));
const Vec3 kCffe2b5 = toLinear(hex(0xffe2b5));
const Vec3 kCfff4e0 = toLinear(hex(0xfff4e0));
const Vec3 kCfff6e0 = toLinear(hex(0xfff6e0));

float dotv(Vec3 a, Vec3 b) { return a.r * b.r + a.g * b.g + a.b * b.b; }

// Asymmetric dune profile over one wavelength: a long windward rise to the
// crest, then the steep slip face. The crest is rounded over about 3 % of
// the dune's height so that the light turns over it smoothly.
float duneProfile(float u) {
    float t = u - std::floor(u);
    const float c = 0.74f;
    // The windward rise starts level out of the trough (a hyperbolic
    // blend of width e replaces the corner).
    auto rise = [](double x) {
        const double a = kPi * 0.45, e = 0.04;
        return fm::sinPoly(x * a) - a * x + a * std::sqrt(x * x + e * e) - a * e;
    };
    static const double norm = 1.0 / rise(1.0);
    float x = std::min(t / c, 1.1f);
    float windward = float(rise(x) * norm);
    float y = (t - c) / (1.f - c);
    float lee = y < 0.f ? 1.f - 1.3f * y : (1.f - y) * (1.f - y) * (1.f + 0.7f * y);
    const float k = 0.03f;
    float hk = std::max(k - std::fabs(windward - lee), 0.f) / k;
    return std::min(windward, lee) - hk * hk * k * 0.25f;
}

float dunes(float x, float z) {
    // Transverse ridges, their crests bent by slow noise.
    float w1 = 110.f * (fbm(x / 520.f, z / 520.f, 11, 2) - 0.5f);
    float u1 = (x * 0.83f - z * 0.55f + w1) / 170.f;
    float a1 = 8.f + 24.f * fbm(x / 380.f + 3.f, z / 380.f, 12, 2);
    float h = a1 * duneProfile(u1);
    if (z < 5000.f) {
        float w2 = 40.f * (fbm(x / 210.f, z / 210.f, 13, 2) - 0.5f);
        float u2 = (x * 0.60f - z * 0.80f + w2) / 55.f;
        float a2 = 1.5f + 3.f * valueNoise(x / 150.f, z / 150.f, 14);
        h += a2 * duneProfile(u2) * (1.f - smoothstep(3000.f, 5000.f, z));
    }
    if (z > 500.f) {
        // Far off, the great dunes of the erg.
        float w3 = 300.f * (valueNoise(x / 2500.f, z / 2500.f, 15) - 0.5f);
        float u3 = (z * 0.97f + x * 0.24f + w3) / 900.f;
        float a3 = 30.f + 60.f * valueNoise(x / 1800.f, z / 1800.f, 16);
        h += smoothstep(500.f, 1800.f, z) * a3 * duneProfile(u3);
    }
    return h;
}

float desertHeight(float x, float z) {
    const float pz = float(kPathZ);
    // Hard flat where the figure walks; a shallow dip in front of it; the
    // dunes rise behind.
    float rise = smoothstep(pz + 5.f, pz + 70.f, z);
    if (z < pz) return -0.35f * fbm(x / 9.f, z / 9.f, 21, 2) * (1.f - smoothstep(pz - 6.f, pz - 1.f, z));
    if (z < pz + 5.f) return 0.f;
    return rise * rise * dunes(x, z);
}

// Sky radiance (linear) for a view direction.
Vec3 desertSky(Vec3 d) {
    float el = std::max(d.g, 0.f);
    Vec3 zenith = kC2d6cc0 * 1.1f;
    Vec3 mid = kC8fbbe3 * 1.1f;
    Vec3 horizon = kCf7c98f * 1.35f;
    Vec3 c = mix(horizon, mid, smoothstep(0.f, 0.12f, el));
    c = mix(c, zenith, smoothstep(0.06f, 0.36f, el));
    // Chord to the sun: the angle for small angles, cheaper than acos.
    float ang = std::sqrt(std::max(0.f, 2.f * (1.f - dotv(d, kSunDir))));
    Vec3 warm = kCffc27a;
    // Around the sun the blue gives way to a warm glare.
    float glare = std::min(1.f, 0.7f * fm::expf(-ang / 0.16f) + 0.25f * fm::expf(-ang / 0.7f));
    c = mix(c, warm * 1.5f, glare * 0.7f);
    c += warm * (2.6f * fm::expf(-ang / 0.05f));
    return c;
}

Vec3 hazeColour(Vec3 d) {
    Vec3 h = desertSky(Vec3(d.r, 0.01f, d.b));
    return h * 0.92f;
}

Vec3 desertGround(float x, float z, float h, Vec3 n) {
    // Wind ripples: small ridges that bend the light, fading with distance.
    float fade = 1.f - smoothstep(6.f, 40.f, z);
    if (fade > 0.f) {
        float w = 0.6f * fbm(x / 3.f, z / 3.f, 31, 2);
        float ph = (z * 0.95f + x * 0.31f) / 0.16f + w * 6.f;
        float s = fm::sin(ph * 2.f * float(kPi));
        float amp = 0.18f * fade * (0.6f + 0.4f * fbm(x / 1.5f, z / 1.5f, 32, 2));
        n = Vec3(n.r - 0.31f * s * amp, n.g, n.b - 0.95f * s * amp);
        float inv = 1.f / std::sqrt(dotv(n, n));
        n = n * inv;
    }
    Vec3 sand = kCd99a5b;
    Vec3 sandPale = kCe9bd86;
    float var = fbm(x / 40.f, z / 40.f, 33, 3);
    Vec3 albedo = mix(sand, sandPale, smoothstep(0.35f, 0.75f, var) * 0.6f);
    // Crests are paler, troughs a little darker and redder.
    float crest = clamp01((h - 0.5f * dunes(x + 7.f, z + 7.f)) * 0.05f + 0.5f);
    albedo = albedo * (0.9f + 0.2f * crest);
    float ndl = std::max(0.f, dotv(n, kLight));
    float wrap = std::max(0.f, (dotv(n, kLight) + 0.25f) / 1.25f);
    Vec3 sun = kCffe2b5 * 2.6f;
    Vec3 skyFill = kC8aa6d6 * 0.30f;
    Vec3 bounce = kCe0a070 * 0.18f;
    Vec3 c = albedo * (sun * (0.85f * ndl + 0.15f * wrap) + skyFill * (0.55f + 0.45f * n.g) +
                       bounce * (1.f - n.g));
    // Air between eye and ground.
    Vec3 d = Vec3(x / z, 0.f, 1.f);
    float air = 1.f - fm::exp(-z / 4000.f);
    return mix(c, hazeColour(d * (1.f / std::sqrt(dotv(d, d)))), air);
}

struct DesertPicture {
    Image ground;  // premultiplied ground colour and coverage (linear)
};

const DesertPicture& picture() {
    static const DesertPicture p = [] {
        TerrainStyle st;
        st.height = desertHeight;
        st.shade = desertGround;
        st.zNear = kCam.groundDepth(-2.0) * 0.9;
        st.zFar = 9000.0;
        st.stepScale = 0.005;
        st.columnSamples = 1;
        return DesertPicture{renderTerrain(kCam, st)};
    }();
    return p;
}

// Sun disc with a darker, redder limb.
float sunDisc(double px, double py) {
    double r = fm::hypot(px - kSunX, py - kSunY) / kSunRadius;
    return float(std::clamp((1.0 - r) * kSunRadius / 1.5 + 0.5, 0.0, 1.0));
}

}  // namespace

Image drawDesert() {
    const Image& g = picture().ground;
    Image img(kScreenW, kScreenH);
    parallelRows(kScreenH, [&](int y) {
        for (int x = 0; x < kScreenW; ++x) {
            Vec3 d = unitDir(x + 0.5, y + 0.5);
            Vec3 sky = desertSky(d);
            float disc = sunDisc(x + 0.5, y + 0.5);
            float r = float(fm::hypot(x + 0.5 - kSunX, y + 0.5 - kSunY) / kSunRadius);
            Vec3 sunC = mix(kCfff6e0, kCffc880, r * r) * 14.f;
            sky = mix(sky, sunC, disc);
            float a = g.alpha(x, y);
            Vec3 c = g.rgb(x, y) + sky * (1.f - a);
            img.set(x, y, encode(toneMap(c)), 1.f);
        }
    });
    // The haze's softness is the picture's own, not the figure's walking
    // over it.
    return diagonallySoftened(img);
}

Image drawDesertBright() {
    const Image& g = picture().ground;
    // The skyline of each column: where the ground gives way to sky.
    std::vector<float> skyline(kScreenW, 0.f);
    for (int x = 0; x < kScreenW; ++x) {
        float cover = 0.f;
        for (int y = 0; y < kScreenH; ++y) cover += g.alpha(x, y);
        skyline[x] = cover;
    }
    Image img(kScreenW, kScreenH);
    parallelRows(kScreenH, [&](int y) {
        for (int x = 0; x < kScreenW; ++x) {
            Vec3 d = unitDir(x + 0.5, y + 0.5);
            float a = g.alpha(x, y);
            // Light: the sun, its halo and the glare off sand near it.
            float ang = std::sqrt(std::max(0.f, 2.f * (1.f - dotv(d, kSunDir))));
            float halo = 0.9f * fm::expf(-ang / 0.025f) + 0.15f * fm::expf(-ang / 0.09f);
            float disc = sunDisc(x + 0.5, y + 0.5);
            float light = std::min(1.f, disc + halo * (1.f - 0.6f * a));
            Vec3 c = mix(kCffb060, kCfff4e0, light) * light;
            // Heat: strongest just under the skyline, where the far sand
            // meets the sky, moderate over the near flat, none up in the sky.
            float below = skyline[x] - (y + 0.5f);
            float band = below > -12.f ? fm::expf(-std::fabs(below) / 40.f) : 0.f;
            float ground = a * float(0.35 + 0.3 * smoothstep(-500.f, 0.f, -below));
            float heat = clamp01(std::max(band * std::max(a, 0.5f), ground));
            img.set(x, y, encode(c), heat);
        }
    });
    // Glow and heat change slowly across the picture, and the shimmer reads
    // them texel by texel: a quarter of the size in each direction serves,
    // and a sixteenth of the texels keeps that read in the cache.
    constexpr int kShrink = 4;
    return boxDownsampled(img, kShrink);
}

}  // namespace art
