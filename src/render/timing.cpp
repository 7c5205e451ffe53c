#include "render/timing.h"

#include <cmath>

namespace velmora {

Letterbox letterbox(int width, int height) {
    Letterbox box;
    box.viewportHeight = static_cast<int>(static_cast<float>(width) / kPictureAspect);
    box.viewportY = (height - box.viewportHeight) / 2;
    return box;
}

int walkFrame(double t, double rate) {
    return static_cast<int>(t * rate) % kWalkFrames;
}

float stepLeft(float walkerX) {
    const double step = 0.109;
    return static_cast<float>(static_cast<double>(walkerX) - step);
}

float starTrailFactor(double t) {
    const double still = 10.0;  // seconds of point-like stars
    const double fall = 10.0;   // seconds for the factor to fall by 1
    if (t < still) return 1.0f;
    return static_cast<float>(1.0 - (t - still) / fall);
}

float particlePointSize(int width) { return static_cast<float>(width / 192); }

CompositeParams defaultCompositeParams() {
    CompositeParams p;
    p.fadePercent = 0.0f;
    p.kernelSize = 9;
    p.average = 0;
    p.vignette = 0.8f;
    p.zoom = 1.0f;
    return p;
}

float fadeAt(double t) {
    const double start = 58.0, end = 64.3;
    if (!(t > start && t < end)) return 0.0f;
    const float length = 6.3000030517578125f;  // float(64.3) - 58 in single precision
    return (static_cast<float>(t) - 58.0f) / length;
}

void averageOn(CompositeParams& p, double) { p.average = 1; }

void pulseGlow(CompositeParams& p, double t) {
    p.kernelSize = static_cast<int>(std::sin(10.0 * t) * 4.0 + 4.0);
    const double vignetteRest = static_cast<double>(0.8f);
    p.vignette = static_cast<float>(std::sin(40.0 * t) / 10.0 + vignetteRest);
}

void breatheZoom(CompositeParams& p, double t) {
    p.zoom = static_cast<float>(std::sin(t) * 0.2 + 0.8);
}

}  // namespace velmora
