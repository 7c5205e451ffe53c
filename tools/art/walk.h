#pragma once
// The walking figure: a side-view skeleton driven by joint-angle curves of
// normal human gait, posed for each of the 74 frames and drawn as a dark,
// anti-aliased silhouette into a 512 x 512 RGBA frame.
//
// How the frames meet the renderer
// --------------------------------
// The figure's program draws the 0.3 x 0.3 quad at "offset" with its x scaled
// by 9/16, so a frame covers clip x [offset.x, offset.x + 0.16875] and clip y
// [offset.y, offset.y + 0.3]: square on the 16:9 picture, 162 x 162 pixels at
// 1920 x 1080. Texture u runs left to right, v bottom to top; v = 0 is the
// first row stored in the file. One texel is 0.16875 / 512 clip units across
// and 0.3 / 512 clip units up.
//
//  * Ground. The soles of a planted foot rest on the line v = 16 / 512 (the
//    bottom edge of texel row 16; rows 0..15 stay empty but for the soft
//    edge). On screen that is clip y = offset.y + 0.009375, so a scene whose
//    figure has offset.y = Y puts its ground at clip Y + 0.009375, texture
//    v = (Y + 1.009375) / 2 of a full-screen image:
//       desert      Y = -0.28   ground at clip -0.270625
//       meteor      Y = -0.48   ground at clip -0.470625
//       star night  Y = -0.42   ground at clip -0.410625
//       mountain    Y = t/100 - 0.7, rising with the scene time t.
//  * Direction and advance. The figure walks toward -u (to the left). The
//    74 frames are exactly one gait cycle (two steps), and within them the
//    body moves left by kCycleAdvance = 0.109 / 0.16875 * 512 = 330.72
//    texels, which is the step the renderer applies to the figure's x when
//    the animation wraps from frame 73 to frame 0. A foot planted on the
//    ground keeps its texel column for as long as it is planted, so with the
//    renderer's step nothing slides and nothing jumps at the wrap.
//  * Where the body is. walkHipX(f) gives the texel column of the hip joint
//    for frame f (fractional f interpolates). It is 419.1 at frame 0 and
//    92.6 at frame 73; over the cycle it averages 256, the frame's middle,
//    and moves 330.72 * 73 / 74 left from frame 0 to frame 73 give or take
//    the body's slight surge and check within each step (a few texels).
//    Frame 0 is mid-stance of the near leg (feet together under the body,
//    arms by the sides), which keeps the figure inside the frame at both
//    ends of the cycle: it spans columns 357..471 at frame 0, 24..156 at
//    frame 73, and never comes closer than 20 texels to a side. On screen
//    the hip is at clip x = walkerX + 0.16875 * walkHipX(f) / 512, and it
//    moves left at 0.109 clip units per 74 frames (0.0442 units/s at 30
//    frames/s, 0.0339 units/s at 23). The mountain's ridge uses exactly this
//    to lay its crest under the feet.
//  * Height. Standing, the figure is kCycleAdvance / 0.78 = 424 texels tall
//    (its stride is 0.78 of its height); walking, its head reaches about
//    row 446: 0.25 clip units, some 134 pixels at 1080 lines.
//  * Colour and halo. Red and green hold the figure's colour, whose blue is
//    its green. Blue holds its halo: 1 - d / kHaloTexels at d texels outside
//    the silhouette's edge (where its alpha is a half), 0 from kHaloTexels
//    out and 0 where the frame is opaque (alpha at least kHaloBelowAlpha:
//    the figure covers it there). It is linear in the distance, so
//    filtered lookups keep it exact, and it ends inside the frame: the
//    figure keeps 20 texels from the sides, and the bottom row's centre is
//    15.5 under the soles. The figure's program lights it when it glows.
#include "image.h"

namespace art {

constexpr int kWalkFrames = 74;
constexpr double kHaloTexels = 15.0;
constexpr float kHaloBelowAlpha = 0.99f;
constexpr int kWalkSize = 512;
constexpr double kSoleRow = 16.0;
constexpr double kCycleAdvance = 0.109 / 0.16875 * 512.0;

// Texel column of the hip joint at (fractional) frame f in [0, 74].
double walkHipX(double frame);

// Measured facts about the posed skeleton of one frame, in texels of the
// frame (x to the right, y up from the bottom edge).
struct GaitFrame {
    double hipX, hipY;        // hip joint
    double footX[2];          // lowest point of each foot (0 near, 1 far)
    double footY[2];
    bool planted[2];          // bearing weight (stance)
    double headTop;           // highest point of the head
    double minX, maxX;        // horizontal extent of the whole figure
};
GaitFrame walkGait(int frame);

// Figure height in texels (standing, head to sole).
double walkFigureHeight();

// Draws frame f (0..73). Colours are display values; alpha is coverage.
Image renderWalkFrame(int frame);

}  // namespace art
