#include "render/particles.h"

#include <cmath>
#include <cstdint>

namespace velmora {

namespace {

// 32-bit integer hash (lowbias32); enough to jitter a grid.
std::uint32_t hash32(std::uint32_t x) {
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

float unit(std::uint32_t bits) { return static_cast<float>(bits >> 8) * (1.0f / 16777216.0f); }

}  // namespace

void fillParticleSeeds(float* xy, int count) {
    if (count <= 0) return;
    // Near-square grid with at least count cells, one particle per cell.
    const int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
    const int rows = (count + columns - 1) / columns;
    for (int i = 0; i < count; ++i) {
        const int cx = i % columns, cy = i / columns;
        const float jx = unit(hash32(2u * static_cast<std::uint32_t>(i) + 1u));
        const float jy = unit(hash32(2u * static_cast<std::uint32_t>(i) + 2u));
        float x = (static_cast<float>(cx) + jx) / static_cast<float>(columns);
        float y = (static_cast<float>(cy) + jy) / static_cast<float>(rows);
        xy[2 * i] = x < 1.0f ? x : 0.99999994f;
        xy[2 * i + 1] = y < 1.0f ? y : 0.99999994f;
    }
}

}  // namespace velmora
