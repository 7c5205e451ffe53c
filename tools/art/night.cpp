// Night foregrounds: dark land under a transparent sky, for the star-trail
// scene and the meteor scene. The land is built from silhouette layers, far
// to near; the nearest one's top edge is the ground the figure walks on.
#include <cmath>
#include <functional>
#include <vector>

#include "art.h"
#include "noise.h"
#include "scene.h"

namespace art {

namespace {

constexpr int W = kScreenW, H = kScreenH;

double clipToPx(double clipX) { return (clipX + 1.0) * 0.5 * W; }

// The land nearest the viewer lies in its own shadow: it fades from just
// under the figure's soles to black a fifth of the way up the picture, and
// the renderer leaves the black rows to the clear (see withOutline).
constexpr float kLandBlackBelow = 0.2f * H;
float nearShade(float y, float soles) { return smoothstep(kLandBlackBelow, soles - 12.f, y); }

struct Layer {
    std::function<float(float x)> top;          // image row of the top edge at column x
    std::function<Vec3(float x, float y)> fill;  // display colour inside
};

// Straight-alpha RGBA canvas in display colour.
struct Canvas {
    Image img{W, H};
    // Paints `cover` of colour c over what is there.
    void over(int x, int y, Vec3 c, float cover) {
        if (cover <= 0.f) return;
        float* p = img.at(x, y);
        float a = p[3];
        float na = cover + a * (1.f - cover);
        Vec3 prev(p[0], p[1], p[2]);
        Vec3 out = na > 0.f ? (c * cover + prev * (a * (1.f - cover))) * (1.f / na) : c;
        p[0] = out.r; p[1] = out.g; p[2] = out.b; p[3] = na;
    }
};

// Paints a silhouette layer with its top edge anti-aliased: four samples
// across each column, exact coverage down each.
void paintLayer(Canvas& cv, const Layer& L) {
    std::vector<float> tops(size_t(W) * 4);
    for (int i = 0; i < W * 4; ++i) tops[i] = L.top((i + 0.5f) / 4.f);
    parallelRows(H, [&](int y) {
        for (int x = 0; x < W; ++x) {
            float cover = 0.f;
            for (int s = 0; s < 4; ++s) cover += clamp01(tops[x * 4 + s] - float(y));
            cover *= 0.25f;
            if (cover > 0.f) cv.over(x, y, L.fill(x + 0.5f, y + 0.5f), cover);
        }
    });
}

// How much of a glow of air low over the horizon covers an image row.
float airGlowCover(int y, float horizonRow, float height, float strength) {
    float t = (y + 0.5f - horizonRow) / height;
    float a = t < 0.f ? strength : strength * fm::expf(-t * t * 2.5f);
    return a < 0.002f ? 0.f : a;
}

// Sky left transparent but for a glow of air low over the horizon, which
// also dims the stars there as real air does.
void paintAirGlow(Canvas& cv, float horizonRow, float height, Vec3 colour, float strength) {
    parallelRows(H, [&](int y) {
        float a = airGlowCover(y, horizonRow, height, strength);
        for (int x = 0; x < W; ++x) cv.over(x, y, colour, a);
    });
}

const float kMeteorGroundRow = float(groundV(-0.48) * H);  // row 304.9

// --- shapes drawn by distance ---------------------------------------------
struct Seg {
    float ax, ay, bx, by, ra, rb;
};

float sdSeg(float px, float py, const Seg& s) {
    float pax = px - s.ax, pay = py - s.ay, bax = s.bx - s.ax, bay = s.by - s.ay;
    float h = clamp01((pax * bax + pay * bay) / std::max(bax * bax + bay * bay, 1e-6f));
    float dx = pax - bax * h, dy = pay - bay * h;
    return std::sqrt(dx * dx + dy * dy) - (s.ra + (s.rb - s.ra) * h);
}

// A wind-bent acacia: a trunk that forks, and a flat, ragged crown.
struct Tree {
    std::vector<Seg> limbs;
    struct Blob { float x, y, rx, ry; };
    std::vector<Blob> crown;
    float x0 = 1e9f, y0 = 1e9f, x1 = -1e9f, y1 = -1e9f;

    void grow(Rng& rng, float x, float y, float angle, float len, float r, int depth) {
        float ex = x + fm::sin(angle) * len, ey = y + fm::cos(angle) * len;
        limbs.push_back({x, y, ex, ey, r, r * 0.68f});
        box(x, y, r); box(ex, ey, r);
        if (depth == 0) {
            crown.push_back({ex, ey + len * 0.15f, len * rng.range(1.1f, 1.6f), len * rng.range(0.28f, 0.4f)});
            box(ex, ey, len * 1.7f);
            return;
        }
        int n = depth > 2 ? 2 : (rng.uniform() < 0.5f ? 2 : 3);
        for (int i = 0; i < n; ++i) {
            float spread = (i - (n - 1) * 0.5f) * rng.range(0.45f, 0.75f);
            grow(rng, ex, ey, angle * 0.6f + spread, len * rng.range(0.62f, 0.8f), r * 0.68f, depth - 1);
        }
    }
    void box(float x, float y, float r) {
        x0 = std::min(x0, x - r); x1 = std::max(x1, x + r);
        y0 = std::min(y0, y - r); y1 = std::max(y1, y + r);
    }
    float dist(float px, float py) const {
        float d = 1e9f;
        for (const Seg& s : limbs) d = std::min(d, sdSeg(px, py, s));
        for (const Blob& b : crown) {
            float dx = (px - b.x) / b.rx, dy = (py - b.y) / b.ry;
            float k = std::sqrt(dx * dx + dy * dy);
            // Ragged leaf edge.
            float rag = 0.22f * (fbm(px / 6.f, py / 6.f, 77, 3) - 0.5f);
            d = std::min(d, (k - 1.f + rag) * std::min(b.rx, b.ry));
        }
        return d;
    }
};

void paintTree(Canvas& cv, const Tree& t, Vec3 colour) {
    int ix0 = std::max(0, int(t.x0) - 2), ix1 = std::min(W - 1, int(t.x1) + 2);
    int iy0 = std::max(0, int(t.y0) - 2), iy1 = std::min(H - 1, int(t.y1) + 2);
    parallelRows(H, [&](int y) {
        if (y < iy0 || y > iy1) return;
        for (int x = ix0; x <= ix1; ++x) {
            float cover = 0.f;
            for (int s = 0; s < 4; ++s) {
                float d = t.dist(x + (s % 2 ? 0.75f : 0.25f), y + (s / 2 ? 0.75f : 0.25f));
                cover += clamp01(0.5f - d);
            }
            cv.over(x, y, colour, cover * 0.25f);
        }
    });
}

// Grass blades along an edge, a few pixels tall.
void paintTufts(Canvas& cv, const std::function<float(float)>& edge, float xFrom, float xTo,
                int count, float maxH, Vec3 colour, uint32_t seed) {
    Rng rng(seed);
    std::vector<Seg> blades;
    for (int i = 0; i < count; ++i) {
        float x = rng.range(xFrom, xTo);
        float base = edge(x) - 1.f;
        int n = 3 + int(rng.uniform() * 4);
        float hgt = maxH * rng.range(0.35f, 1.f);
        for (int k = 0; k < n; ++k) {
            float lean = rng.range(-0.5f, 0.5f);
            float h = hgt * rng.range(0.5f, 1.f);
            float bx = x + rng.range(-3.f, 3.f);
            blades.push_back({bx, base, bx + lean * h, base + h, 0.9f, 0.25f});
        }
    }
    for (const Seg& b : blades) {
        int x0 = int(std::min(b.ax, b.bx)) - 2, x1 = int(std::max(b.ax, b.bx)) + 2;
        int y0 = int(std::min(b.ay, b.by)) - 2, y1 = int(std::max(b.ay, b.by)) + 2;
        for (int y = std::max(0, y0); y <= std::min(H - 1, y1); ++y)
            for (int x = std::max(0, x0); x <= std::min(W - 1, x1); ++x)
                cv.over(x, y, colour, clamp01(0.5f - sdSeg(x + 0.5f, y + 0.5f, b)));
    }
}

float ridge(float x, float scale, uint32_t seed, int oct) {
    return fbm(x / scale, 0.5f, seed, oct);
}

Vec3 speckle(Vec3 base, float x, float y, float amount, uint32_t seed) {
    float n = fbm(x / 9.f, y / 5.f, seed, 3);
    return base * (1.f - amount + 2.f * amount * n);
}

}  // namespace

Image drawStarNight() {
    // A grassy ridge close by, on which the figure walks; a lone acacia on a
    // rise to the left; folds of hills and a far range below the sky.
    const float ground = float(groundV(-0.42) * H);  // row 339.5
    const float pathL = float(clipToPx(-0.66)), pathR = float(clipToPx(0.86));
    Canvas cv;
    paintAirGlow(cv, ground + 60.f, 150.f, hex(0x1c2c4c), 0.55f);

    Layer far{[&](float x) {
                  // A far range: sharp peaks, highest toward the right.
                  float peaks = ridged(x / 420.f, 0.37f, 501, 5);
                  return ground + 55.f + (60.f + 90.f * x / W) * peaks * 1.6f +
                         25.f * ridge(x, 900.f, 502, 2);
              },
              [&](float x, float y) { return speckle(hex(0x1a2238), x, y, 0.06f, 503); }};
    Layer mid{[&](float x) { return ground + 14.f + 60.f * ridge(x, 300.f, 511, 4) * ridge(x, 700.f, 512, 2); },
              [&](float x, float y) { return speckle(hex(0x0d1322), x, y, 0.08f, 513); }};
    auto nearTop = [&](float x) {
        // Flat along the path, to a hair; rising to a knoll on the left.
        float t = ground + 0.8f * (ridge(x, 30.f, 521, 2) - 0.5f);
        if (x < pathL) {
            float k = (pathL - x) / pathL;
            t += 150.f * k * k * (3.f - 2.f * k) + 6.f * k * (ridge(x, 40.f, 522, 3) - 0.5f);
        }
        if (x > pathR) {
            float k = (x - pathR) / (W - pathR);
            t += 26.f * k * k;
        }
        return t;
    };
    Layer near{nearTop, [&](float x, float y) {
                   // A faint sheen of starlight along the crest.
                   float below = nearTop(x) - y;
                   Vec3 c = speckle(hex(0x05070d), x, y, 0.12f, 523) * nearShade(y, ground);
                   return mix(hex(0x141a2a), c, smoothstep(0.f, 5.f, below));
               }};
    paintLayer(cv, far);
    paintLayer(cv, mid);
    paintLayer(cv, near);

    Tree tree;
    Rng rng(531);
    float tx = float(clipToPx(-0.83));
    tree.grow(rng, tx, nearTop(tx) - 4.f, -0.12f, 95.f, 13.f, 4);
    paintTree(cv, tree, hex(0x04050a));
    paintTufts(cv, nearTop, 0.f, float(W), 140, 11.f, hex(0x06080f), 532);

    Image& img = cv.img;
    return img;
}

float meteorAirGlowCover(int row) { return airGlowCover(row, kMeteorGroundRow + 40.f, 130.f, 0.5f); }

Image drawMeteorGround() {
    // A desert plateau at night: the figure crosses its flat rim; flat-topped
    // mesas stand on the far horizon and a tall butte rises on the left.
    // Clear over the land: the air's glow is the far sky's (drawMeteorSkySmall),
    // so that the layer's outline hugs the land.
    const float ground = kMeteorGroundRow;
    const float pathL = float(clipToPx(-0.42));
    Canvas cv;

    auto mesaTop = [&](float x) {
        // Flat tops with steep sides: a clipped, stepped noise profile.
        float n = ridge(x, 520.f, 601, 3);
        float plateau = smoothstep(0.44f, 0.48f, n) * 34.f + smoothstep(0.58f, 0.61f, n) * 20.f;
        return ground + 16.f + plateau + 4.f * ridge(x, 60.f, 602, 3);
    };
    Layer mesas{mesaTop, [&](float x, float y) { return speckle(hex(0x1b1c30), x, y, 0.05f, 603); }};
    auto nearTop = [&](float x) {
        float t = ground + 0.8f * (ridge(x, 25.f, 611, 2) - 0.5f);
        if (x < pathL) {
            // The butte: a cap rock on sheer walls above a skirt of scree.
            float c = float(clipToPx(-0.80));
            float half = 185.f;
            float d = (x - c) / half;
            float ad = std::fabs(d) + 0.06f * (ridge(x, 14.f, 612, 3) - 0.5f);
            float wall = 1.f - smoothstep(0.9f, 0.98f, ad);
            float crown = 250.f - 25.f * d + 14.f * (ridge(x, 30.f, 613, 4) - 0.5f);
            float ledge = (1.f - smoothstep(1.0f, 1.08f, ad)) * 120.f;
            float s = std::max(0.f, 1.f - (ad - 0.95f) / 1.1f);
            float scree = 95.f * s * s;
            float k = (pathL - x) / pathL;
            t += std::max({wall * crown, ledge, scree}) * std::min(1.f, k * 5.f) + 10.f * k;
        }
        return t;
    };
    Layer near{nearTop, [&](float x, float y) {
                   float below = nearTop(x) - y;
                   // Bedding planes across the butte's face.
                   float strata = 0.8f + 0.4f * fbm(x / 80.f, y / 4.f, 621, 3);
                   Vec3 c = speckle(hex(0x07070c), x, y, 0.1f, 622) * (strata * nearShade(y, ground));
                   return mix(hex(0x1a1826), c, smoothstep(0.f, 4.f, below));
               }};
    paintLayer(cv, mesas);
    paintLayer(cv, near);
    // Scattered stones on the rim.
    paintTufts(cv, nearTop, float(clipToPx(-0.5)), float(W), 60, 5.f, hex(0x07070c), 631);
    return cv.img;
}

}  // namespace art
