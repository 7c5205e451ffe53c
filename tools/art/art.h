#pragma once
// The art generator: the walking figure's 74 frames and the ten images the
// demo loads, all drawn from code, the same bytes on every run.
#include <string>

#include "image.h"

namespace art {

struct Fonts {
    std::string title;  // display face for the title card
    std::string text;   // text face for the credits
};

// The ten images, by file name under data/textures (without ".tga").
constexpr int kImageCount = 10;
extern const char* const kImageNames[kImageCount];

// Writes data/walk/out0.tga .. out73.tga and data/textures/*.tga under
// dataDir, creating the directories. Reports progress and failures on
// stderr; returns false if anything could not be made.
bool generateAll(const std::string& dataDir, const Fonts& fonts);

// The pictures, in display colour (ready to write). Width x height are
// 2048 x 1152 unless noted; texture v = 0 is the bottom row.
//  desert            24-bit. Dunes under a low sun on the left (centre near
//                    u 0.21, v 0.75); flat sand where the figure walks (soles
//                    at v 0.3647); the big dune's skyline near v 0.56..0.66.
//  desertbright      32-bit, 512 x 288. RGB: the light that should glow
//                    (sun disc and halo, near black elsewhere). A: heat,
//                    strongest just under the dunes' skyline, 0.35..0.65
//                    over the sand, 0 in the sky: the shimmer's strength.
//  mountain          24-bit. Dawn range; the near ridge's crest is the
//                    figure's path from clip (0.94, -0.69) to (-0.45, -0.38).
//  starnight         32-bit. Land opaque (soles at v 0.2947), sky A = 0
//                    above v 0.62, a thin glow of air (A <= 0.55) low down.
//                    Fully opaque below kStarNightOpaqueBelow.
//  stars             24-bit, 2560 x 2560, tiles in u and v; stars round in
//                    texel space, so sample it with equal scale in x and y.
//  meteor_ground     32-bit. Land opaque (soles at v 0.2647), clear above it.
//                    Fully opaque below kMeteorGroundOpaqueBelow.
//  meteor_sky_small  32-bit, tiles in u: the far sky itself (gradient, band of
//                    the galaxy, faint stars) under the glow of air over the
//                    horizon; A is what the air lets through of the lights
//                    in front (the bright stars, the meteors).
//  meteor_sky_big    32-bit, tiles in u: bright stars only; RGB their hue at
//                    full strength, A their brightness (add rgb * a).
//  title, credits    32-bit. Straight alpha text on A = 0.
// starnight, meteor_ground, title and credits are written without the clear
// rows over their top (withoutClearTop): they hold the bottom rows of a
// 16:9 picture of their width, and the renderer draws them over those rows
// alone (background.vs), within the outline in their top-left texel
// (withOutline). The lands fade to black toward the bottom edge, which is
// left out of their outlines.
// The sky passes under these two layers skip what the land will cover; their
// shaders hold the same numbers ("groundCovers" in meteor.fs,
// "starLandCovers" and "meteorGroundCovers" in background.vs, which tells the
// two skies apart by their first image: stars is the only square one).
constexpr double kStarNightOpaqueBelow = 0.36;
constexpr double kMeteorGroundOpaqueBelow = 0.27;

Image drawDesert();
Image drawDesertBright();
Image drawMountain();
Image drawStarNight();
Image drawStars();  // 2560 x 2560
Image drawMeteorGround();
Image drawMeteorSkySmall();
Image drawMeteorSkyBig();
// Text cards; empty images if the font cannot be read.
Image drawTitle(const std::string& fontPath);
Image drawCredits(const std::string& titleFont, const std::string& textFont);

// Texture v (0 = bottom) of the ground under the figure for a scene whose
// figure is drawn at clip y offsetY.
inline double groundV(double offsetY) { return (offsetY + 1.0 + 0.3 * 16.0 / 512.0) * 0.5; }

}  // namespace art
