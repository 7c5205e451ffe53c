#pragma once
// Seeded integer hashing and smooth value noise. Everything random in the
// generated art comes from here, so the output depends only on the seeds.
#include <cmath>
#include <cstdint>

namespace art {

inline uint32_t hash32(uint32_t x) {
    x ^= x >> 16; x *= 0x7feb352dU;
    x ^= x >> 15; x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}
inline uint32_t hash2(int32_t x, int32_t y, uint32_t seed) {
    uint32_t h = uint32_t(x) * 0x8DA6B343U ^ uint32_t(y) * 0xD8163841U ^ seed * 0xCB1AB31FU;
    h ^= h >> 13; h *= 0x5BD1E995U;
    h ^= h >> 15; h *= 0x27D4EB2DU;
    return h ^ (h >> 16);
}
inline int floorInt(float v) {
    int i = int(v);
    return v < float(i) ? i - 1 : i;
}
// Uniform in [0, 1).
inline float unit(uint32_t h) { return float(h >> 8) * (1.0f / 16777216.0f); }

// Small sequential generator for scattering things (stars, rocks, tufts).
class Rng {
public:
    explicit Rng(uint32_t seed) : s_(hash32(seed ^ 0xA511E9B3U) | 1U) {}
    uint32_t next() {
        s_ ^= s_ << 13; s_ ^= s_ >> 17; s_ ^= s_ << 5;
        return hash32(s_);
    }
    float uniform() { return unit(next()); }
    float range(float a, float b) { return a + (b - a) * uniform(); }

private:
    uint32_t s_;
};

inline float fade(float t) { return t * t * t * (t * (t * 6.f - 15.f) + 10.f); }

// Value noise in [0, 1]. With period > 0 the lattice wraps every `period`
// cells in both directions, which makes the pattern tile.
inline float valueNoise(float x, float y, uint32_t seed, int period = 0) {
    int ix = floorInt(x), iy = floorInt(y);
    float fx = float(ix), fy = float(iy);
    float tx = fade(x - fx), ty = fade(y - fy);
    int x1 = ix + 1, y1 = iy + 1;
    if (period > 0) {
        ix = ((ix % period) + period) % period; iy = ((iy % period) + period) % period;
        x1 = ((x1 % period) + period) % period; y1 = ((y1 % period) + period) % period;
    }
    float a = unit(hash2(ix, iy, seed)), b = unit(hash2(x1, iy, seed));
    float c = unit(hash2(ix, y1, seed)), d = unit(hash2(x1, y1, seed));
    return (a + (b - a) * tx) + ((c + (d - c) * tx) - (a + (b - a) * tx)) * ty;
}

// Fractal sum of value noise, normalised to [0, 1].
inline float fbm(float x, float y, uint32_t seed, int octaves, float gain = 0.5f,
                 float lacunarity = 2.0f, int period = 0) {
    float sum = 0.f, amp = 1.f, norm = 0.f;
    for (int i = 0; i < octaves; ++i) {
        sum += amp * valueNoise(x, y, seed + uint32_t(i) * 1013U, period);
        norm += amp;
        amp *= gain;
        x = x * lacunarity + 17.3f;
        y = y * lacunarity - 9.1f;
        if (period > 0) period = int(float(period) * lacunarity);
    }
    return sum / norm;
}

// Ridged variant: sharp crests where the noise crosses its middle.
inline float ridged(float x, float y, uint32_t seed, int octaves) {
    float sum = 0.f, amp = 0.5f, norm = 0.f, prev = 1.f;
    for (int i = 0; i < octaves; ++i) {
        float n = 1.f - std::fabs(valueNoise(x, y, seed + uint32_t(i) * 7919U) * 2.f - 1.f);
        n = n * n;
        sum += n * amp * prev;
        norm += amp;
        prev = n;
        amp *= 0.5f;
        x = x * 2.03f + 5.1f;
        y = y * 2.03f - 3.7f;
    }
    return sum / norm;
}

}  // namespace art
