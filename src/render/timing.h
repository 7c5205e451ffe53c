#pragma once
// The arithmetic of the show, free of GL so that it can be checked alone:
// where the picture sits in the window, which frame of the walk is up, how
// far the walker has come, and the composite settings for a music time.

namespace velmora {

constexpr int kWalkFrames = 74;
// The picture's width over its height: 16:9, as single precision holds it.
constexpr float kPictureAspect = 1.7777778f;

// The 16:9 picture across the full screen width, centred vertically.
struct Letterbox {
    int viewportY;       // negative on screens wider than 16:9
    int viewportHeight;
};
Letterbox letterbox(int width, int height);

// trunc(t * rate) mod 74, remainder with the sign of the dividend.
int walkFrame(double t, double rate);

// The walker moves one step left per animation cycle.
float stepLeft(float walkerX);
// A walker steps whenever the frame went backwards: a wrap, even one seen
// across a gap, so that a slow machine or a low capture rate steps once per
// completed cycle too. Above 30 frames a second every wrap is seen as 73 -> 0.
inline bool steppedBackward(int frame, int lastFrame) { return frame < lastFrame; }

// 1 for the first ten seconds, then falling by 0.1 per second, unclamped.
float starTrailFactor(double t);

// Fixed point size of the particle pass, in pixels.
float particlePointSize(int width);

// The five settings of the final composite.
struct CompositeParams {
    float fadePercent;
    int kernelSize;
    int average;
    float vignette;
    float zoom;
};
CompositeParams defaultCompositeParams();
// Fade to black over the end of the desert.
float fadeAt(double t);
// Desert: the softening switch on (the desert image carries the softness).
void averageOn(CompositeParams& p, double t);
// Meteors: glow reach and vignette pulse with the music time.
void pulseGlow(CompositeParams& p, double t);
// Mountain: slow zoom.
void breatheZoom(CompositeParams& p, double t);

}  // namespace velmora
