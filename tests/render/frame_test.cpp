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
    EXPECT_EQ(uniformInt(p, "kernelsize"), 9);
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
    struct Case { double t; int kernel; float vignette; float zoom; int avg; float fade; };
    const Case cases[] = {
        {100.0, 7, static_cast<float>(std::sin(4000.0) / 10.0 + 0.800000011920929), 1.0f, 0, 0.0f},
        {130.0, 9, 0.8f, static_cast<float>(std::sin(130.0) * 0.2 + 0.8), 0, 0.0f},
        {61.15, 9, 0.8f, 1.0f, 1, 0.5f},
        {64.3, 9, 0.8f, 1.0f, 0, 0.0f},
    };
    for (const Case& c : cases) {
        demo->render(c.t);
        EXPECT_EQ(uniformInt(p, "color"), 0) << c.t;
        EXPECT_EQ(uniformInt(p, "bright"), 1) << c.t;
        EXPECT_EQ(uniformInt(p, "height"), kHeight) << c.t;
        EXPECT_EQ(uniformInt(p, "kernelsize"), c.kernel) << c.t;
        EXPECT_EQ(uniformFloats(p, "vignette", 1)[0], c.vignette) << c.t;
        EXPECT_EQ(uniformFloats(p, "zoom", 1)[0], c.zoom) << c.t;
        EXPECT_EQ(uniformInt(p, "avg"), c.avg) << c.t;
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
        // Compare a row of the middle band, where neither glow nor vignette acts.
        int mismatches = 0;
        const int y = kHeight / 2;
        for (int x = kWidth / 3; x < 2 * kWidth / 3; ++x) {
            const int tx = static_cast<int>((x + 0.5) * w / kWidth), ty = static_cast<int>((y + 0.5) * h / kHeight);
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
