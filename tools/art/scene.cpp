#include "scene.h"

#include <cmath>
#include <vector>

namespace art {

Vec3 toneMap(Vec3 c) {
    // Narkowicz's fit of the ACES curve.
    auto f = [](float x) {
        x = std::max(x, 0.f) * 0.8f;
        return clamp01((x * (2.51f * x + 0.03f)) / (x * (2.43f * x + 0.59f) + 0.14f));
    };
    return {f(c.r), f(c.g), f(c.b)};
}

Image renderTerrain(const Camera& cam, const TerrainStyle& style) {
    const int W = int(cam.width), H = int(cam.height);
    const int ss = style.columnSamples;
    Image out(W, H);
    parallelRows(W, [&](int px) {
        std::vector<float> acc(size_t(H) * 4, 0.f);
        for (int s = 0; s < ss; ++s) {
            const double sx = px + (s + 0.5) / ss;
            const double dirX = (sx - cam.centerX()) / cam.focal;
            auto normalAt = [&](float x, float z, float h) {
                // Central differences over about a pixel's footprint.
                const float e = float(std::max(0.02, z * 1.5 / cam.focal));
                float hx = style.height(x + e, z) - h;
                float hz = style.height(x, z + e) - h;
                Vec3 n(-hx, e, -hz);
                return n * (1.f / std::sqrt(n.r * n.r + n.g * n.g + n.b * n.b));
            };
            double top = 0.0;  // rows filled so far, from the bottom edge
            double z = style.zNear;
            // The previous sample, to shade each row between two samples.
            double pz = z, prow = -1e9;
            float ph = 0.f;
            Vec3 pn(0.f, 1.f, 0.f);
            bool pnValid = false;
            while (z < style.zFar && top < H) {
                const float x = float(dirX * z);
                const float h = style.height(x, float(z));
                const double row = cam.horizon + (h - cam.eye) * cam.focal / z;
                bool nValid = false;
                Vec3 n;
                if (row > top) {
                    n = normalAt(x, float(z), h);
                    nValid = true;
                    if (!pnValid && prow > -1e8) {
                        pn = normalAt(float(dirX * pz), float(pz), ph);
                        pnValid = true;
                    }
                    const double end = std::min(row, double(H));
                    for (int r = int(top); r < end; ++r) {
                        double cover = std::min(end, r + 1.0) - std::max(top, double(r));
                        // Where between the two samples this row falls.
                        double f = prow > -1e8 && row > prow
                                       ? std::clamp((r + 0.5 - prow) / (row - prow), 0.0, 1.0)
                                       : 1.0;
                        double zr = pz + (z - pz) * f;
                        float hr = float(ph + (h - ph) * f);
                        Vec3 nr = pnValid ? mix(pn, n, float(f)) : n;
                        Vec3 c = style.shade(float(dirX * zr), float(zr), hr, nr);
                        float w = float(cover) / ss;
                        float* a = &acc[size_t(r) * 4];
                        a[0] += c.r * w; a[1] += c.g * w; a[2] += c.b * w; a[3] += w;
                    }
                    top = end;
                }
                pz = z; prow = row; ph = h; pn = n; pnValid = nValid;
                z += std::max(0.01, z * style.stepScale);
            }
        }
        for (int r = 0; r < H; ++r) {
            float* a = &acc[size_t(r) * 4];
            out.set(px, r, Vec3(a[0], a[1], a[2]), std::min(a[3], 1.f));
        }
    });
    return out;
}

}  // namespace art
