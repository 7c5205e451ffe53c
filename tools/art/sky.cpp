// Night skies: the star field that turns into trails, and the two layers of
// the meteor sky. Every layer tiles across its left and right edges (the
// shaders scroll and turn them with repeating texture coordinates); the
// star field tiles in both directions.
#include <cmath>
#include <functional>
#include <vector>

#include "art.h"
#include "noise.h"
#include "scene.h"

namespace art {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Star colours by spectral class, hot to cool, with how common each is among
// the stars one can see.
struct Kind {
    Vec3 colour;
    float share;
};
const Kind kKinds[] = {
    {Vec3(0.66f, 0.76f, 1.00f), 0.10f},  // B: blue-white
    {Vec3(0.82f, 0.88f, 1.00f), 0.22f},  // A: white, a touch of blue
    {Vec3(1.00f, 0.98f, 0.95f), 0.20f},  // F: white
    {Vec3(1.00f, 0.92f, 0.78f), 0.20f},  // G: yellowish
    {Vec3(1.00f, 0.80f, 0.58f), 0.22f},  // K: orange
    {Vec3(1.00f, 0.68f, 0.48f), 0.06f},  // M: red-orange
};

Vec3 pickColour(float u) {
    for (const Kind& k : kKinds) {
        if (u < k.share) return k.colour;
        u -= k.share;
    }
    return kKinds[5].colour;
}

// Magnitude drawn so that the count of stars brighter than m grows as
// 10^(0.5 m), as it does for the naked-eye sky: each magnitude fainter has
// about three times as many stars.
float drawMagnitude(float u, float mBright, float mFaint) {
    const double a = 0.5 * 2.30258509299404568402;  // ln 10
    double lo = fm::exp(a * (mBright - mFaint));
    return float(mFaint + fm::log(u * (1.0 - lo) + lo) / a);
}

struct StarLayer {
    int count;
    float mBright, mFaint;
    float gain;      // brightness of a magnitude 0 star's core
    float sigma;     // core width, pixels
    float haloGain;  // strength of the wide glow of bright stars
};

// Adds stars into a linear RGB buffer that wraps around its edges (in x
// always, in y when wrapY).
void splatStars(std::vector<Vec3>& buf, int w, int h, bool wrapY, const StarLayer& L,
                uint32_t seed, float (*density)(float u, float v) = nullptr) {
    Rng rng(seed);
    for (int i = 0; i < L.count; ++i) {
        float u = rng.uniform(), v = rng.uniform();
        float m = drawMagnitude(rng.uniform(), L.mBright, L.mFaint);
        Vec3 col = pickColour(rng.uniform());
        float keep = rng.uniform();
        if (density && keep > density(u, v)) continue;
        float flux = float(fm::pow(10.0, -0.4 * m));
        float peak = L.gain * flux;
        // Bright stars spread wider instead of clipping, as they do in the eye
        // and on film.
        float sigma = L.sigma * (1.f + 0.35f * std::max(0.f, float(fm::log(std::max(peak, 1e-6f)))));
        float halo = L.haloGain * flux;
        float reach = std::min(40.f, sigma * 3.5f + (halo > 0.02f ? 14.f * std::sqrt(halo) : 0.f));
        float cx = u * w, cy = v * h;
        int x0 = int(std::floor(cx - reach)), x1 = int(std::ceil(cx + reach));
        int y0 = int(std::floor(cy - reach)), y1 = int(std::ceil(cy + reach));
        for (int y = y0; y <= y1; ++y) {
            int yy = y;
            if (wrapY) yy = ((y % h) + h) % h;
            else if (y < 0 || y >= h) continue;
            for (int x = x0; x <= x1; ++x) {
                int xx = ((x % w) + w) % w;
                float dx = x + 0.5f - cx, dy = y + 0.5f - cy;
                float r2 = dx * dx + dy * dy;
                float core = peak * fm::expf(-r2 / (2.f * sigma * sigma));
                float glow = halo > 0.f ? halo * 0.05f / (1.f + r2 / (sigma * sigma * 4.f)) : 0.f;
                glow *= 1.f - smoothstep(reach * 0.6f, reach, std::sqrt(r2));
                buf[size_t(yy) * w + xx] += col * (core + glow);
            }
        }
    }
}

// Soft shoulder that keeps faint stars faint but visible.
Vec3 starTone(Vec3 c) {
    auto f = [](float x) { x = std::max(x, 0.f); return x / (1.f + x); };
    return {f(c.r), f(c.g), f(c.b)};
}

// Periodic distance from s to the band's centre line.
float bandDistance(float s, float centre) {
    float d = s - centre;
    d -= std::floor(d + 0.5f);
    return d;
}

// A faint band of unresolved stars with dark dust lanes through it.
float milkyWay(float u, float v, float s, float width, int period, uint32_t seed) {
    float d = bandDistance(s, 0.3f);
    float core = fm::expf(-(d * d) / (2.f * width * width));
    float clouds = fbm(u * period, v * period, seed, 5, 0.55f, 2.f, period);
    float dust = fbm(u * period * 2.f, v * period * 2.f, seed + 77, 4, 0.5f, 2.f, period * 2);
    float lane = smoothstep(0.45f, 0.7f, dust) * fm::expf(-(d * d) / (2.f * 0.3f * width * width * 0.3f));
    return core * (0.35f + 0.9f * clouds * clouds) * (1.f - 0.75f * lane);
}

// A smooth field evaluated every `step` pixels and filled in bilinearly;
// with wrap the samples repeat across the edges.
std::vector<float> coarseField(int w, int h, int step, bool wrap,
                               const std::function<float(float u, float v)>& fn) {
    int cw = w / step + 2, ch = h / step + 2;
    std::vector<float> c(size_t(cw) * ch);
    parallelRows(ch, [&](int j) {
        for (int i = 0; i < cw; ++i) {
            float u = float(i * step) / w, v = float(j * step) / h;
            if (wrap) { u -= std::floor(u); v -= std::floor(v); }
            c[size_t(j) * cw + i] = fn(u, v);
        }
    });
    std::vector<float> out(size_t(w) * h);
    parallelRows(h, [&](int y) {
        float fy = (y + 0.5f) / step;
        int j = std::min(int(fy), ch - 2);
        float ty = fy - j;
        for (int x = 0; x < w; ++x) {
            float fx = (x + 0.5f) / step;
            int i = std::min(int(fx), cw - 2);
            float tx = fx - i;
            const float* r0 = &c[size_t(j) * cw + i];
            const float* r1 = r0 + cw;
            out[size_t(y) * w + x] = (r0[0] + (r0[1] - r0[0]) * tx) * (1 - ty) + (r1[0] + (r1[1] - r1[0]) * tx) * ty;
        }
    });
    return out;
}

}  // namespace

Image drawStars() {
    const int N = 2560;
    std::vector<Vec3> buf(size_t(N) * N, Vec3(0.f));
    // The band runs along the diagonal, which wraps onto itself on a torus.
    std::vector<float> band = coarseField(N, N, 4, true, [](float u, float v) {
        float s = u - v;
        return milkyWay(u, v, s - std::floor(s), 0.07f, 6, 401);
    });
    std::vector<float> hue = coarseField(N, N, 8, true, [](float u, float v) {
        return fbm(u * 4, v * 4, 402, 2, 0.5f, 2.f, 4);
    });
    parallelRows(N, [&](int y) {
        for (int x = 0; x < N; ++x) {
            size_t i = size_t(y) * N + x;
            Vec3 tint = mix(Vec3(0.55f, 0.62f, 0.85f), Vec3(0.9f, 0.8f, 0.7f), hue[i]);
            buf[i] = tint * (0.012f * band[i]);
        }
    });
    // Stars gather toward the band.
    auto density = [](float u, float v) {
        float s = u - v;
        float d = bandDistance(s - std::floor(s), 0.3f);
        return 0.45f + 0.55f * fm::expf(-(d * d) / (2.f * 0.12f * 0.12f));
    };
    splatStars(buf, N, N, true, StarLayer{22000, 6.f, 9.f, 2.2f, 0.65f, 0.f}, 403, density);
    splatStars(buf, N, N, true, StarLayer{6000, 1.5f, 6.f, 2.2f, 0.8f, 0.f}, 404, density);
    splatStars(buf, N, N, true, StarLayer{90, -1.2f, 1.5f, 2.2f, 0.9f, 0.35f}, 405);
    Image img(N, N);
    parallelRows(N, [&](int y) {
        for (int x = 0; x < N; ++x) img.set(x, y, encode(starTone(buf[size_t(y) * N + x] * 1.6f)), 1.f);
    });
    return img;
}

Image drawMeteorSkySmall() {
    // The far sky: the deep blue of a moonless night, lighter toward the
    // horizon, a band of the galaxy arching through it, and faint stars.
    const int W = kScreenW, H = kScreenH;
    std::vector<Vec3> buf(size_t(W) * H, Vec3(0.f));
    const Vec3 top = toLinear(hex(0x020409));
    const Vec3 mid = toLinear(hex(0x060e22));
    const Vec3 low = toLinear(hex(0x122540));
    const Vec3 glow = toLinear(hex(0x4a3f48));
    std::vector<float> band = coarseField(W, H, 4, false, [&](float u, float v) {
        float centre = 0.62f + 0.13f * float(fm::sin(2 * kPi * (u - 0.15f)));
        float s = (v - centre) * 0.8f + 0.3f;
        return milkyWay(u, v * float(H) / W, s, 0.06f, 8, 411);
    });
    std::vector<float> hue = coarseField(W, H, 8, false, [](float u, float v) {
        return fbm(u * 5, v * 3, 412, 2, 0.5f, 2.f, 5);
    });
    parallelRows(H, [&](int y) {
        for (int x = 0; x < W; ++x) {
            float v = (y + 0.5f) / H;
            size_t i = size_t(y) * W + x;
            Vec3 c = mix(low, mid, smoothstep(0.15f, 0.55f, v));
            c = mix(c, top, smoothstep(0.5f, 1.f, v));
            c += glow * (0.35f * fm::expf(-(v - 0.2f) * (v - 0.2f) / 0.006f));
            // The galaxy's band arches gently and repeats across the width.
            c += mix(Vec3(0.45f, 0.55f, 0.8f), Vec3(0.85f, 0.75f, 0.65f), hue[i]) * (0.035f * band[i]);
            buf[i] = c;
        }
    });
    auto density = [](float u, float v) {
        float centre = 0.62f + 0.13f * float(fm::sin(2 * kPi * (u - 0.15f)));
        float d = v - centre;
        return (0.5f + 0.5f * fm::expf(-d * d / 0.02f)) * smoothstep(0.05f, 0.3f, v);
    };
    splatStars(buf, W, H, false, StarLayer{30000, 2.5f, 8.f, 4.f, 0.65f, 0.f}, 413, density);
    // The glow of air over the horizon lies over the sky as a layer would
    // (in display colour); the alpha is what it lets through.
    const Vec3 air = hex(kMeteorAirGlow);
    Image img(W, H);
    parallelRows(H, [&](int y) {
        const float cover = meteorAirGlowCover(y);
        for (int x = 0; x < W; ++x)
            img.set(x, y, mix(encode(starTone(buf[size_t(y) * W + x] * 1.5f)), air, cover), 1.f - cover);
    });
    return img;
}

Image drawMeteorSkyBig() {
    // The near layer: the brightest stars only, each with its glow, on
    // nothing. Colour is the star's hue at full strength, alpha how much of
    // it shows, so the layer adds light where the shader scales by alpha.
    const int W = kScreenW, H = kScreenH;
    std::vector<Vec3> buf(size_t(W) * H, Vec3(0.f));
    auto aboveHorizon = [](float, float v) { return smoothstep(0.2f, 0.4f, v); };
    splatStars(buf, W, H, false, StarLayer{420, -1.f, 3.5f, 1.3f, 0.9f, 0.5f}, 421, aboveHorizon);
    Image img(W, H);
    parallelRows(H, [&](int y) {
        for (int x = 0; x < W; ++x) {
            Vec3 c = starTone(buf[size_t(y) * W + x] * 1.5f);
            float a = std::max({c.r, c.g, c.b});
            Vec3 hue = a > 0.f ? c * (1.f / a) : Vec3(1.f);
            img.set(x, y, encode(hue), gammaEncode(a));
        }
    });
    return img;
}

}  // namespace art
