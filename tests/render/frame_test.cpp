// What the passes and the timeline really hand to GL, read back after the
// draw, and the pictures that follow.
#include "gl_context.h"
#include "gl_helpers.h"
#include "render/demo.h"
#include "render/renderbuffer.h"

#include "assets/shader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <vector>

using namespace velmora::test;

namespace {

const int kWidth = 384, kHeight = 216;

class Frame : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ctx.ok());
        demo = new Demo(kWidth, kHeight);
        ASSERT_TRUE(demo->ready());
    }
    void TearDown() override { delete demo; }
    std::vector<unsigned char> frameAt(double t) {
        demo->render(t);
        return readWindow(kWidth, kHeight);
    }
    GlContext ctx{kWidth, kHeight};
    Demo* demo = nullptr;
};

// An RGBA texture of the given texels (rows of w * 4 bytes), sampled nearest.
GLuint nearestTexture(int w, int h, const std::vector<unsigned char>& texels) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    return name;
}

// The window after `pass` draws straight into it, over a clear of an opaque colour.
std::vector<unsigned char> drawnOver(float red, float green, float blue, const std::function<void()>& pass) {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glViewport(0, 0, kWidth, kHeight);
    clearTo(red, green, blue);
    pass();
    return readWindow(kWidth, kHeight);
}

// The window after drawing `image` as a background layer over red; the texture is deleted.
std::vector<unsigned char> layerOverRed(Demo& demo, GLuint image) {
    const auto rgb = drawnOver(1.0f, 0.0f, 0.0f, [&] { demo.drawBackground(image, 0); });
    glDeleteTextures(1, &image);
    return rgb;
}

double difference(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b) {
    double s = 0;
    for (size_t i = 0; i < a.size(); ++i) s += std::abs(a[i] - b[i]);
    return s / static_cast<double>(a.size());
}

}  // namespace

TEST_F(Frame, ImagePassesSetTheirUnitsAndUniforms) {
    const GLuint title = demo->textures[Demo::kTitle];
    demo->drawBackground(title, 0);
    GLuint p = demo->backgroundProgram->name;
    EXPECT_EQ(uniformInt(p, "img"), 0);
    EXPECT_EQ(uniformInt(p, "bright"), 1);
    EXPECT_EQ(uniformInt(p, "width"), kWidth);
    // "kernelsize" is sent too, but the composite shapes the glow itself and
    // this shader declares it without reading it, so the GL drops it.
    EXPECT_EQ(boundTexture(GL_TEXTURE0), static_cast<GLint>(title));
    EXPECT_EQ(boundTexture(GL_TEXTURE1), 0);

    const GLuint ground = demo->textures[Demo::kMeteorGround];
    demo->drawBackground(ground, ground);
    EXPECT_EQ(boundTexture(GL_TEXTURE0), static_cast<GLint>(ground));
    EXPECT_EQ(boundTexture(GL_TEXTURE1), static_cast<GLint>(ground));

    demo->drawHeatShock(demo->textures[Demo::kDesert], demo->textures[Demo::kDesertBright], 12.345678);
    p = demo->heatshockProgram->name;
    EXPECT_EQ(uniformInt(p, "img"), 0);
    EXPECT_EQ(uniformInt(p, "bright"), 1);
    EXPECT_EQ(uniformInt(p, "width"), kWidth);
    EXPECT_EQ(uniformFloats(p, "time", 1)[0], 12.345678f);
    EXPECT_EQ(boundTexture(GL_TEXTURE1), static_cast<GLint>(demo->textures[Demo::kDesertBright]));

    p = demo->rotateProgram->name;
    for (const auto& [t, factor] : std::vector<std::pair<double, float>>{{9.999, 1.0f}, {15.0, 0.5f}, {25.0, -0.5f}}) {
        demo->drawStarTrails(t);
        EXPECT_EQ(uniformInt(p, "rotimg"), 0);
        EXPECT_EQ(uniformFloats(p, "time", 1)[0], static_cast<float>(t));
        EXPECT_EQ(uniformFloats(p, "startrail", 1)[0], factor) << t;
        EXPECT_EQ(boundTexture(GL_TEXTURE0), static_cast<GLint>(demo->textures[Demo::kStars]));
    }

    demo->drawMeteors(demo->textures[Demo::kMeteorSkySmall], demo->textures[Demo::kMeteorSkyBig], 5.476);
    p = demo->meteorProgram->name;
    EXPECT_EQ(uniformInt(p, "smallimg"), 0);
    EXPECT_EQ(uniformInt(p, "bigimg"), 1);
    EXPECT_EQ(uniformFloats(p, "time", 1)[0], 5.476f);
    EXPECT_EQ(boundTexture(GL_TEXTURE0), static_cast<GLint>(demo->textures[Demo::kMeteorSkySmall]));
    EXPECT_EQ(boundTexture(GL_TEXTURE1), static_cast<GLint>(demo->textures[Demo::kMeteorSkyBig]));
}

// A layer shorter than a 16:9 picture of its width holds the bottom of the picture: it is drawn
// over the rows it holds, bottom row at the bottom, and the rows above are left as they were.
// Images of 16:9, or short of it by less than a row (window-sized pictures), cover everything.
TEST_F(Frame, ShortLayersCoverTheBottomRowsTheyHold) {
    auto layer = [](int w, int h) {
        // Opaque green in the lower half of the image, opaque blue in the upper half.
        std::vector<unsigned char> texels(static_cast<size_t>(w) * h * 4);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                unsigned char* t = &texels[(static_cast<size_t>(y) * w + x) * 4];
                t[1] = y < h / 2 ? 255 : 0;
                t[2] = y < h / 2 ? 0 : 255;
                t[3] = 255;
            }
        return nearestTexture(w, h, texels);
    };
    struct Case { int w, h; double covers; };  // even heights: the halves meet mid-layer
    for (const Case& c : {Case{64, 18, 0.5}, Case{64, 8, 8.0 / 36.0}, Case{64, 36, 1.0}, Case{1366, 768, 1.0}}) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
        const auto rgb = layerOverRed(*demo, layer(c.w, c.h));
        const int top = static_cast<int>(c.covers * kHeight);  // rows below it are the layer's
        auto at = [&](int y, int channel) { return rgb[(static_cast<size_t>(y) * kWidth + kWidth / 2) * 3 + channel]; };
        for (int y = 0; y < kHeight; ++y) {
            if (y == top / 2 - 1 || y == top / 2 || y == top - 1 || y == top) continue;  // edges of the halves
            const bool lower = y < top / 2, upper = y >= top / 2 && y < top;
            EXPECT_EQ(at(y, 0), lower || upper ? 0 : 255) << "row " << y;
            EXPECT_EQ(at(y, 1), lower ? 255 : 0) << "row " << y;
            EXPECT_EQ(at(y, 2), upper ? 255 : 0) << "row " << y;
        }
    }
}

// A layer whose top-left texel is clear carries its outline there (red: the line below which it
// shows only dark rows; green and blue: its top edge at the left and at the right, in heights of
// the picture), and is drawn inside it alone.
TEST_F(Frame, OutlinedLayersAreDrawnInsideTheirOutline) {
    const int w = 64, h = 18;  // the bottom half of a 16:9 picture
    std::vector<unsigned char> texels(static_cast<size_t>(w) * h * 4);
    for (size_t i = 0; i < texels.size(); i += 4) texels[i + 1] = texels[i + 3] = 255;  // opaque green
    unsigned char* corner = &texels[(static_cast<size_t>(h - 1) * w) * 4];
    const unsigned char bottom = 51, left = 115, right = 64;  // 0.2, 0.45, 0.25
    corner[0] = bottom, corner[1] = left, corner[2] = right, corner[3] = 0;
    const auto rgb = layerOverRed(*demo, nearestTexture(w, h, texels));
    auto drawn = [&](int x, double v) {
        const unsigned char* p = &rgb[(static_cast<size_t>(v * kHeight) * kWidth + x) * 3];
        return p[1] == 255 && p[0] == 0;
    };
    for (int x : {2, kWidth / 2, kWidth - 3}) {
        SCOPED_TRACE(x);
        const double u = (x + 0.5) / kWidth, top = (left + (right - left) * u) / 255.0;
        EXPECT_FALSE(drawn(x, 0.0));
        EXPECT_FALSE(drawn(x, bottom / 255.0 - 0.02));
        EXPECT_TRUE(drawn(x, bottom / 255.0 + 0.02));
        EXPECT_TRUE(drawn(x, top - 0.02));
        EXPECT_FALSE(drawn(x, top + 0.02));
    }
}

// The skies start where their land stops being opaque; the passes of whole pictures cover it from
// its bottom row up (the layers over the bottom keep to their outlines, above).
TEST_F(Frame, OnlyTheSkiesLeaveTheRowsUnderTheirLand) {
    // Which of the given window rows a pass leaves as they were.
    auto untouchedRows = [&](const std::function<void()>& pass, std::vector<int> rows) {
        const auto rgb = drawnOver(1.0f, 0.0f, 1.0f, pass);  // a colour no pass draws
        std::vector<bool> untouched;
        for (int y : rows) {
            const unsigned char* p = &rgb[(static_cast<size_t>(y) * kWidth + kWidth / 2) * 3];
            untouched.push_back(p[0] == 255 && p[1] == 0 && p[2] == 255);
        }
        return untouched;
    };
    const auto& t = demo->textures;
    using Pass = std::pair<const char*, std::function<void()>>;
    // Each sky up to its own land's opaque line and from just over it.
    const struct {
        Pass sky;
        double line;
    } skies[] = {{{"meteors", [&] { demo->drawMeteors(t[Demo::kMeteorSkySmall], t[Demo::kMeteorSkyBig], 3.0); }}, 0.27},
                 {{"star trails", [&] { demo->drawStarTrails(15.0); }}, 0.36}};
    for (const auto& s : skies) {
        const int line = static_cast<int>(s.line * kHeight);
        EXPECT_EQ(untouchedRows(s.sky.second, {0, line - 2, line + 2, kHeight - 1}),
                  std::vector<bool>({true, true, false, false}))
            << s.sky.first;
    }
    for (const Pass& whole : {Pass{"desert", [&] { demo->drawHeatShock(t[Demo::kDesert], t[Demo::kDesertBright], 3.0); }},
                              Pass{"mountain", [&] { demo->drawBackground(t[Demo::kMountain], 0); }}}) {
        EXPECT_EQ(untouchedRows(whole.second, {0, kHeight - 1}), std::vector<bool>({false, false})) << whole.first;
    }
    // The composite clears the window first: its bottom row shows the picture, not the clear.
    Renderbuffer& rb = *demo->renderbuffer;
    glBindFramebuffer(GL_FRAMEBUFFER, rb.framebuffer);
    clearTo(1.0f, 0.0f, 1.0f);
    plainComposite(rb, 9);
    rb.composite();
    EXPECT_GT(rowMax(readWindow(kWidth, kHeight), kWidth, 0), 100);
}

// The quad's shared vertex shader rests on uniforms that some passes never send: the skies are
// the programs sent neither "width" nor "height", and its "img" stays on unit 0, where the star
// trails', the meteors' and the composite's first image is. A pass that started sending either
// would move those pictures without a word.
TEST_F(Frame, TheSkiesAndTheUnitZeroImageAreWhatIsNotSent) {
    for (double t : {10.0, 67.0, 100.0, 130.0, 175.0}) demo->render(t);  // every program on that shader
    auto unsent = [](const ShaderProgram* program, const char* name) {
        const GLint at = glGetUniformLocation(program->name, name);
        GLint value = 0;
        if (at >= 0) glGetUniformiv(program->name, at, &value);
        return value == 0;  // unread, or never set
    };
    for (const ShaderProgram* sky : {demo->rotateProgram, demo->meteorProgram}) {
        EXPECT_TRUE(unsent(sky, "width"));
        EXPECT_TRUE(unsent(sky, "height"));
    }
    EXPECT_NE(uniformInt(demo->backgroundProgram->name, "width"), 0);
    EXPECT_NE(uniformInt(demo->heatshockProgram->name, "width"), 0);
    EXPECT_NE(uniformInt(demo->postprocessProgram->name, "height"), 0);
    for (const ShaderProgram* p : {demo->rotateProgram, demo->meteorProgram, demo->postprocessProgram})
        EXPECT_TRUE(unsent(p, "img"));
}

// The heat shimmer bends the desert by a few pixels: a straight edge seen through the hottest air
// wanders, but never further than a shimmer reaches (its ripples are 4 pixels at full strength,
// 1.4 times that where the companion says the ground is hottest).
TEST_F(Frame, HeatShimmerBendsAStraightEdgeByAFewPixels) {
    // White left of the middle column, black from it on, opaque; over ground at its hottest (the
    // companion's alpha), with no glow.
    std::vector<unsigned char> edge, hot;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const unsigned char grey = x < kWidth / 2 ? 255 : 0;
            edge.insert(edge.end(), {grey, grey, grey, 255});
            hot.insert(hot.end(), {0, 0, 0, 255});
        }
    const GLuint image = nearestTexture(kWidth, kHeight, edge), companion = nearestTexture(kWidth, kHeight, hot);
    int furthest = 0;
    for (double t : {3.0, 11.5, 27.25, 40.0}) {
        const auto rgb = drawnOver(1.0f, 0.0f, 0.0f, [&] { demo->drawHeatShock(image, companion, t); });
        for (int y = 0; y < kHeight; ++y) {
            int x = 0;
            while (x < kWidth && rgb[(static_cast<size_t>(y) * kWidth + x) * 3 + 1] > 128) ++x;
            furthest = std::max(furthest, std::abs(x - kWidth / 2));
        }
    }
    glDeleteTextures(1, &image);
    glDeleteTextures(1, &companion);
    EXPECT_GE(furthest, 2);
    EXPECT_LE(furthest, 8);
}

TEST_F(Frame, ParticlesDrawTheCurrentWalkFrame) {
    const GLuint p = demo->spriteProgram->name;
    for (const auto& [t, frame] : std::vector<std::pair<double, int>>{{0.0, 0}, {0.0333, 0}, {1.0, 30}, {2.5, 1}, {24.5, 69}}) {
        demo->drawParticles(t);
        EXPECT_EQ(boundTexture(GL_TEXTURE0), static_cast<GLint>(demo->textures[frame])) << t;
        EXPECT_EQ(uniformInt(p, "img"), 0);
        EXPECT_EQ(uniformFloats(p, "time", 1)[0], static_cast<float>(t));
    }
    GLfloat size = 0;
    glGetFloatv(GL_POINT_SIZE, &size);
    EXPECT_EQ(size, 2.0f);  // 384 / 192
    EXPECT_TRUE(glIsEnabled(GL_PROGRAM_POINT_SIZE));
}

TEST_F(Frame, TimelineHandsTheCompositeItsParameters) {
    const GLuint p = demo->postprocessProgram->name;
    // "avg" is sent as well, but the desert's image carries its softening and the shader does
    // not read it, so the GL drops it (the timeline's value is checked on its own).
    struct Case { double t; int kernel; float vignette; float zoom; float fade; };
    const Case cases[] = {
        {100.0, 7, static_cast<float>(std::sin(4000.0) / 10.0 + 0.800000011920929), 1.0f, 0.0f},
        {130.0, 9, 0.8f, static_cast<float>(std::sin(130.0) * 0.2 + 0.8), 0.0f},
        {61.15, 9, 0.8f, 1.0f, 0.5f},
        {64.3, 9, 0.8f, 1.0f, 0.0f},
    };
    for (const Case& c : cases) {
        demo->render(c.t);
        EXPECT_EQ(uniformInt(p, "color"), 0) << c.t;
        EXPECT_EQ(uniformInt(p, "bright"), 1) << c.t;
        EXPECT_EQ(uniformInt(p, "height"), kHeight) << c.t;
        EXPECT_EQ(uniformInt(p, "kernelsize"), c.kernel) << c.t;
        EXPECT_EQ(uniformFloats(p, "vignette", 1)[0], c.vignette) << c.t;
        EXPECT_EQ(uniformFloats(p, "zoom", 1)[0], c.zoom) << c.t;
        EXPECT_EQ(uniformFloats(p, "fadeperc", 1)[0], c.fade) << c.t;
        EXPECT_EQ(boundTexture(GL_TEXTURE0), static_cast<GLint>(demo->renderbuffer->colorTextures[0]));
        EXPECT_EQ(boundTexture(GL_TEXTURE1), static_cast<GLint>(demo->renderbuffer->colorTextures[1]));
    }
}

TEST_F(Frame, BoundariesAndSilenceAreBlack) {
    for (double t : {-1.0, 0.0, 64.3, 65.0, 65.53, 70.0, 94.524, 123.679, 152.981, 182.0}) {
        const auto rgb = frameAt(t);
        EXPECT_EQ(*std::max_element(rgb.begin(), rgb.end()), 0) << t;
    }
}

TEST_F(Frame, DesertFadesTowardTheEnd) {
    const double early = meanOf(frameAt(57.0));
    const double mid = meanOf(frameAt(61.15));
    const double late = meanOf(frameAt(64.29));
    EXPECT_GT(early, 20.0);
    EXPECT_NEAR(mid, early * 0.5, early * 0.1);
    EXPECT_LT(late, early * 0.02 + 1.0);
}

TEST_F(Frame, TitleAndCreditsShowTheirImages) {
    for (const auto& [t, slot] : std::vector<std::pair<double, int>>{{67.0, Demo::kTitle}, {183.0, Demo::kCredits}}) {
        const auto rgb = frameAt(t);
        // The image's texel under the window's centre.
        glBindTexture(GL_TEXTURE_2D, demo->textures[slot]);
        GLint w = 0, h = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
        std::vector<unsigned char> image(static_cast<size_t>(w) * h * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, image.data());
        // Compare a row of the middle band, where neither glow nor vignette acts. A card may lack
        // the clear rows over its top: its rows are those of a 16:9 picture of its width.
        int mismatches = 0;
        const int y = kHeight / 2, pictureHeight = w * 9 / 16;
        ASSERT_LE(h, pictureHeight);
        for (int x = kWidth / 3; x < 2 * kWidth / 3; ++x) {
            const int tx = static_cast<int>((x + 0.5) * w / kWidth);
            const int ty = static_cast<int>((y + 0.5) * pictureHeight / kHeight);
            ASSERT_LT(ty, h);
            const size_t texel = (static_cast<size_t>(ty) * w + tx) * 4;
            for (int c = 0; c < 3; ++c) {
                // Blended over the cleared target: the image's colour weighted by its alpha.
                const int want = image[texel + c] * image[texel + 3] / 255;
                const int got = rgb[(static_cast<size_t>(y) * kWidth + x) * 3 + c];
                if (std::abs(want - got) > 24) ++mismatches;
            }
        }
        EXPECT_LT(mismatches, kWidth / 10) << t;
    }
}

TEST_F(Frame, EveryRowLooksDifferent) {
    const double times[] = {10.0, 67.0, 80.0, 100.0, 130.0, 160.0, 183.0};
    std::vector<std::vector<unsigned char>> stills;
    for (double t : times) stills.push_back(frameAt(t));
    for (size_t i = 0; i < stills.size(); ++i) {
        EXPECT_GT(meanOf(stills[i]), 2.0) << times[i];
        for (size_t j = i + 1; j < stills.size(); ++j)
            EXPECT_GT(difference(stills[i], stills[j]), 3.0) << times[i] << " vs " << times[j];
    }
}

// Black on screen for a second or more is only where the programme asks for it: the fade out of
// the desert and the silence before the title.
TEST_F(Frame, NoDeadAirBetweenOrWithinTheRows) {
    constexpr double kStep = 0.25, kBlack = 0.4, kLongest = 1.0;
    constexpr double kAskedFrom = 63.0, kAskedTo = 65.53;
    double blackSince = -1;
    for (double t = kStep; t < 185.0; t += kStep) {
        const bool black = meanOf(frameAt(t)) < kBlack;
        if (!black || (t > kAskedFrom && t < kAskedTo)) {
            blackSince = -1;
            continue;
        }
        if (blackSince < 0) blackSince = t;
        EXPECT_LT(t - blackSince, kLongest) << "black from " << blackSince << " s to " << t << " s";
        if (t - blackSince >= kLongest) blackSince = -1;  // one report per stretch
    }
    // The particle cloud is still leaving when the meteor sky cuts in.
    for (double t : {92.0, 93.0, 94.0, 94.5}) EXPECT_GT(meanOf(frameAt(t)), kBlack) << t;
}

// Lookups never reach past an image's edge into its other side: the outermost columns and rows of
// the shimmering desert are as calm as their neighbours further in.
TEST(FrameEdges, DesertEdgesAreAsCalmAsTheirNeighbours) {
    constexpr int kW = 1920, kH = 1080;
    GlContext ctx(kW, kH);
    ASSERT_TRUE(ctx.ok());
    Demo* demo = new Demo(kW, kH);
    ASSERT_TRUE(demo->ready());
    demo->render(30.0);
    const auto rgb = readWindow(kW, kH);
    delete demo;
    auto grey = [&](int x, int y) {
        const size_t i = (static_cast<size_t>(y) * kW + x) * 3;
        return (rgb[i] + rgb[i + 1] + rgb[i + 2]) / 3.0;
    };
    // Roughness of a column: its mean step from pixel to pixel; of a row likewise. Only the dunes
    // and the sky above the figure's head count, wherever the walk has taken it.
    const int above = kH * 53 / 100;  // clip y 0.06 and up (rows count from the bottom)
    auto column = [&](int x) {
        double s = 0;
        for (int y = above + 1; y < kH; ++y) s += std::fabs(grey(x, y) - grey(x, y - 1));
        return s / (kH - 1 - above);
    };
    auto row = [&](int y) {
        double s = 0;
        for (int x = 1; x < kW; ++x) s += std::fabs(grey(x, y) - grey(x - 1, y));
        return s / (kW - 1);
    };
    double edgeCols = 0, innerCols = 0, edgeRows = 0, innerRows = 0;
    for (int i = 0; i < 4; ++i) {
        edgeCols += column(i) + column(kW - 1 - i);
        edgeRows += row(kH - 1 - i);
    }
    for (int i = 40; i < 60; ++i) {
        innerCols += column(i) + column(kW - 1 - i);
        innerRows += row(kH - 1 - i);
    }
    EXPECT_LT(edgeCols / 8, 1.3 * innerCols / 40);
    EXPECT_LT(edgeRows / 4, 1.3 * innerRows / 20);
}

// Meteors cross the meteor sky: in every four seconds, some frame has a streak lit that the stars
// alone never light. A near meteor is 0.42 of the picture's height long; its head and the first
// third of its tail are bright: at 720 lines, over 100 pixels more than the quietest sky.
TEST(FrameMeteors, AStreakCrossesTheSkyEveryFewSeconds) {
    constexpr int kW = 1280, kH = 720;
    GlContext ctx(kW, kH);
    ASSERT_TRUE(ctx.ok());
    Demo* demo = new Demo(kW, kH);
    ASSERT_TRUE(demo->ready());
    // Bright pixels of the sky (the upper half of the picture, above the land), four frames a second.
    constexpr int kPerSecond = 4, kSeconds = 16;
    std::vector<int> bright;
    for (int i = 0; i < kSeconds * kPerSecond; ++i) {
        demo->render(95.0 + static_cast<double>(i) / kPerSecond);
        const auto rgb = readWindow(kW, kH);
        int n = 0;
        for (size_t p = static_cast<size_t>(kH / 2) * kW * 3; p < rgb.size(); p += 3)
            n += rgb[p] + rgb[p + 1] + rgb[p + 2] > 3 * 170;
        bright.push_back(n);
    }
    delete demo;
    const int quietest = *std::min_element(bright.begin(), bright.end());
    for (int from = 0; from < kSeconds; from += 4) {
        const auto window = bright.begin() + from * kPerSecond;
        EXPECT_GT(*std::max_element(window, window + 4 * kPerSecond), quietest + 100)
            << "no meteor from " << 95 + from << " s to " << 99 + from << " s";
    }
}
