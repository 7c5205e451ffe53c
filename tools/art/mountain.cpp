// The mountain at dawn: the figure climbs a rocky ridge that rises to the
// left; beyond it a snowy range catches the first light over misty valleys.
#include <cmath>
#include <vector>

#include "art.h"
#include "noise.h"
#include "scene.h"
#include "walk.h"

namespace art {

namespace {

constexpr int W = kScreenW, H = kScreenH;

// Where the feet go. The scene draws the figure at x = walkerX (stepping
// 0.109 left each cycle) and y = t / 100 - 0.7 at 30 frames a second, so the
// hip moves left steadily from clip x0 while the soles rise with time:
//   x(t) = x0 - 0.109 * 30 / 74 * t,  soles(t) = t / 100 - 0.7 + 0.009375,
// a straight line in clip space, rising to the left.
const double kX0 = 0.8 + 0.16875 * walkHipX(0) / 512.0;
const double kSpeed = 0.109 * 30.0 / 74.0;
double solesAt(double clipX) { return (kX0 - clipX) / kSpeed / 100.0 - 0.7 + 0.3 * 16.0 / 512.0; }
double pathRow(double px) {
    double clipX = (px / W) * 2.0 - 1.0;
    return (solesAt(clipX) + 1.0) * 0.5 * H;
}

const Camera kCam{W, H, 0.42 * H, 1773.0, 2400.0};

const Vec3 kSkyTop = toLinear(hex(0x1b2a52));
const Vec3 kSkyMid = toLinear(hex(0x7a6f9a));
const Vec3 kSkyLow = toLinear(hex(0xf2a77f));
const Vec3 kDawn = toLinear(hex(0xffc48a));
const Vec3 kSunLight = toLinear(hex(0xff9a6e));
const Vec3 kSkyFill = toLinear(hex(0x6f86c4));
const Vec3 kRock = toLinear(hex(0x6c6470));
const Vec3 kSnow = toLinear(hex(0xf4f1f4));
const Vec3 kMist = toLinear(hex(0xb9a7c0));

// Light from the right, just over the horizon.
const Vec3 kLight = [] {
    Vec3 l(0.82f, 0.2f, -0.25f);
    return l * (1.f / std::sqrt(l.r * l.r + l.g * l.g + l.b * l.b));
}();

Vec3 skyAt(double px, double py) {
    float e = float((py - kCam.horizon) / H);
    Vec3 c = mix(kSkyLow, kSkyMid, smoothstep(-0.02f, 0.22f, e));
    c = mix(c, kSkyTop, smoothstep(0.15f, 0.58f, e));
    // Dawn glow where the sun is about to rise, off to the right.
    float dx = float(px / W - 0.93), dy = e * 1.6f;
    c += kDawn * (0.9f * fm::expf(-(dx * dx + dy * dy) / 0.03f));
    return c * 1.1f;
}

float range(float x, float z) {
    // Ridged peaks, tallest in a band a few kilometres out.
    float r = ridged(x / 9000.f, z / 9000.f, 701, 7);
    float massif = smoothstep(6000.f, 14000.f, z) * (1.f - 0.4f * smoothstep(30000.f, 50000.f, z));
    float lift = fbm(x / 20000.f, z / 20000.f, 702, 2);
    return 300.f + (1200.f + 1800.f * lift) * r * std::sqrt(r) * massif * 1.25f;
}

Vec3 rangeShade(float x, float z, float h, Vec3 n) {
    float steep = 1.f - n.g;
    float snowLine = 1700.f + 500.f * fbm(x / 900.f, z / 900.f, 703, 3);
    float snow = smoothstep(snowLine - 150.f, snowLine + 150.f, h) * (1.f - smoothstep(0.5f, 0.8f, steep));
    Vec3 albedo = mix(kRock * 0.35f, kSnow * 0.9f, snow);
    float ndl = std::max(0.f, n.r * kLight.r + n.g * kLight.g + n.b * kLight.b);
    Vec3 c = albedo * (kSunLight * (2.4f * ndl) + kSkyFill * (0.35f * (0.6f + 0.4f * n.g)));
    // Air: distance haze, and mist pooled in the valleys.
    float air = 1.f - fm::expf(-z / 30000.f);
    float mist = (1.f - smoothstep(600.f, 1500.f, h)) * 0.85f;
    Vec3 haze = mix(kMist, kSkyLow, 0.35f) * 0.9f;
    c = mix(c, haze, std::max(air, mist));
    return c;
}

}  // namespace

Image drawMountain() {
    TerrainStyle st;
    st.height = range;
    st.shade = rangeShade;
    st.zNear = 6000.0;
    st.zFar = 80000.0;
    st.stepScale = 0.006;
    st.columnSamples = 1;
    Image land = renderTerrain(kCam, st);

    // The near ridge: its crest follows the figure's path exactly where the
    // figure walks (clip x -0.45 .. 1), and climbs on to a rocky top at the
    // far left.
    const float leftEnd = float((-0.45 + 1.0) * 0.5 * W);
    auto crest = [&](float x) {
        float r = float(pathRow(x)) + 0.7f * (fbm(x / 20.f, 0.3f, 711, 2) - 0.5f);
        if (x < leftEnd) {
            float k = (leftEnd - x) / leftEnd;
            r += 260.f * k * k + 90.f * k + 70.f * k * (fbm(x / 45.f, 0.7f, 712, 5) - 0.5f);
        }
        return r;
    };
    std::vector<float> tops(size_t(W) * 4);
    for (int i = 0; i < W * 4; ++i) tops[i] = crest((i + 0.5f) / 4.f);

    Image img(W, H);
    parallelRows(H, [&](int y) {
        for (int x = 0; x < W; ++x) {
            Vec3 c = land.rgb(x, y) + skyAt(x + 0.5, y + 0.5) * (1.f - land.alpha(x, y));
            c = toneMap(c);
            float cover = 0.f;
            for (int s = 0; s < 4; ++s) cover += clamp01(tops[x * 4 + s] - float(y));
            cover *= 0.25f;
            if (cover > 0.f) {
                float fx = x + 0.5f, fy = y + 0.5f;
                float depth = tops[x * 4 + 1] - fy;
                // Dark slate with snow lying in streaks, the crest rimmed by
                // the low light.
                // Along the slope (it rises about 7 degrees to the left).
                float along = fx * 0.992f - fy * 0.125f, across = fy * 0.992f + fx * 0.125f;
                float streak = fbm(along / 110.f, across / 14.f, 721, 5);
                float snow = smoothstep(0.68f, 0.78f, streak) * smoothstep(8.f, 60.f, depth) *
                             smoothstep(0.35f, 0.6f, fbm(along / 400.f, across / 120.f, 724, 2));
                float strata = fbm(along / 300.f, across / 6.f, 723, 4);
                Vec3 rock = hex(0x1c1a24) * (0.7f + 0.35f * fbm(fx / 12.f, fy / 7.f, 722, 3) + 0.4f * strata);
                Vec3 ridge = mix(rock, hex(0x6e7090), snow * 0.6f);
                // Dawn light grazing the upper slope, the lower slope in shade.
                ridge = mix(ridge, ridge * 1.6f + hex(0x2a1a1c) * 0.5f, fm::expf(-depth / 70.f));
                Vec3 rim = hex(0xe0987a);
                ridge = mix(ridge, rim, (1.f - smoothstep(0.f, 3.5f, depth)) * 0.55f);
                c = mix(encode(c), ridge, cover);
            } else {
                c = encode(c);
            }
            img.set(x, y, c, 1.f);
        }
    });
    return img;
}

}  // namespace art
