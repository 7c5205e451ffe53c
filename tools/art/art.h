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
// 2048 x 1152 unless noted.
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
