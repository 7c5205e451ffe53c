#pragma once
// Per-particle seeds for the particle cloud: one point in the unit square
// per particle, jittered on a grid so the cloud covers its area evenly.
// The same bytes on every run.

namespace velmora {

constexpr int kParticleCount = 80000;

// Writes count (x, y) pairs in [0, 1) to xy (2 * count floats).
void fillParticleSeeds(float* xy, int count);

}  // namespace velmora
