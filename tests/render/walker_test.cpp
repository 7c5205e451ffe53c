// The walkers of the four scenes: which frame they draw, when they step and
// where the figure lands, read back from the figure's program after each call.
// Each scene keeps its walker for the whole run; every test starts them afresh.
#include "gl_context.h"
#include "gl_helpers.h"
#include "render/demo.h"

#include "assets/shader.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace velmora::test;

namespace {

class Walker : public ::testing::Test {
protected:
    void SetUp() override {
        velmora::resetWalkers();
        ASSERT_TRUE(ctx.ok());
        demo = new Demo(192, 108);
        ASSERT_TRUE(demo->ready());
    }
    void TearDown() override { delete demo; }
    float x() { return uniformFloats(demo->movingProgram->name, "offset", 2)[0]; }
    float y() { return uniformFloats(demo->movingProgram->name, "offset", 2)[1]; }
    GLint frame() { return boundTexture(GL_TEXTURE0); }
    GlContext ctx{192, 108};
    Demo* demo = nullptr;
};

}  // namespace

TEST_F(Walker, DesertStepsWheneverTheFrameGoesBack) {
    const GLuint shadow = demo->dshadowProgram->name;
    demo->sceneDesert(0.01);  // frame 0 first: no step
    EXPECT_EQ(x(), 0.8f);
    EXPECT_EQ(y(), -0.28f);
    demo->sceneDesert(3.2);  // frame 73
    EXPECT_EQ(frame(), static_cast<GLint>(demo->textures[73]));
    EXPECT_EQ(x(), 0.8f);
    demo->sceneDesert(3.22);  // frame 0: one step, figure and shadow both moved
    EXPECT_EQ(x(), 0.69099998f);
    EXPECT_EQ(uniformFloats(shadow, "offset", 2)[0], 0.69099998f);
    EXPECT_EQ(uniformFloats(shadow, "offset", 2)[1], -0.13f);
    EXPECT_EQ(frame(), static_cast<GLint>(demo->textures[0]));
    EXPECT_EQ(uniformFloats(shadow, "color", 3), std::vector<GLfloat>({0.0f, 0.0f, 0.0f}));
    demo->sceneDesert(3.22);  // frame 0 again: no second step
    demo->sceneDesert(3.23);
    EXPECT_EQ(x(), 0.69099998f);
    demo->sceneDesert(6.35);  // frame 72 (146 mod 74), rising: nothing
    EXPECT_EQ(x(), 0.69099998f);
    demo->sceneDesert(6.48);  // frame 1 across a gap: one step
    const float twice = static_cast<float>(static_cast<double>(0.69099998f) - 0.109);
    EXPECT_EQ(x(), twice);
    demo->sceneDesert(9.49);  // frame 70 (218 mod 74)
    demo->sceneDesert(9.75);  // frame 2 (224 mod 74): a step again
    EXPECT_EQ(x(), static_cast<float>(static_cast<double>(twice) - 0.109));
    EXPECT_EQ(frame(), static_cast<GLint>(demo->textures[2]));
}

TEST_F(Walker, MeteorStepsOnTheWrapBeforeDrawingAndTintsGreen) {
    const GLuint p = demo->movingProgram->name;
    demo->sceneMeteor(2.44);  // frame 73
    EXPECT_EQ(x(), 0.9f);
    demo->sceneMeteor(2.47);  // frame 0
    EXPECT_EQ(x(), 0.79099995f);
    EXPECT_EQ(y(), -0.48f);
    EXPECT_EQ(uniformFloats(p, "color", 3), std::vector<GLfloat>({0.0f, static_cast<float>(std::sin(2.47)), 0.0f}));
    demo->sceneMeteor(2.48);  // still frame 0
    EXPECT_EQ(x(), 0.79099995f);
    demo->sceneMeteor(4.9);  // frame 73 of the next cycle; then 1 across a gap: a step too
    demo->sceneMeteor(4.97);
    EXPECT_EQ(x(), static_cast<float>(static_cast<double>(0.79099995f) - 0.109));
    EXPECT_LT(uniformFloats(p, "color", 3)[1], 0.0f);  // sin(4.97) < 0 goes through unclamped
    EXPECT_EQ(uniformFloats(p, "color", 3)[1], static_cast<float>(std::sin(4.97)));
}

TEST_F(Walker, MountainClimbsWithTheSceneTime) {
    demo->sceneMountain(0.001);
    EXPECT_EQ(x(), 0.8f);
    EXPECT_EQ(y(), static_cast<float>(0.001 / 100.0 - 0.7));
    demo->sceneMountain(2.44);
    demo->sceneMountain(2.47);
    EXPECT_EQ(x(), 0.69099998f);
    demo->sceneMountain(29.3);
    EXPECT_NEAR(y(), -0.407f, 1e-6);
    EXPECT_EQ(uniformFloats(demo->movingProgram->name, "color", 3), std::vector<GLfloat>({0.0f, 0.0f, 0.0f}));
}

TEST_F(Walker, StarNightFigureIsWhiteOnItsGround) {
    demo->sceneStarNight(1.0);
    EXPECT_EQ(x(), 0.6f);
    EXPECT_EQ(y(), -0.42f);
    EXPECT_EQ(frame(), static_cast<GLint>(demo->textures[30]));
    EXPECT_EQ(uniformFloats(demo->movingProgram->name, "color", 3), std::vector<GLfloat>({1.0f, 1.0f, 1.0f}));
    demo->sceneStarNight(2.44);
    demo->sceneStarNight(2.47);
    EXPECT_EQ(x(), static_cast<float>(static_cast<double>(0.6f) - 0.109));
}

// Played at a steady frame rate, as a capture or a slow machine plays it, every walker ends its
// row one step left per walk cycle it completed there, each step the one a 60 Hz viewer sees
// (the same float arithmetic, to the bit), whether a frame lands on every walk frame or not.
TEST_F(Walker, EveryWalkerStepsOncePerCycleAtAnyFrameRate) {
    struct Row {
        const char* name;
        double from, to, rate;
        float start;
    };
    const Row rows[] = {{"desert", 0.0, 64.3, 23.0, 0.8f},
                        {"meteor", 94.524, 123.679, 30.0, 0.9f},
                        {"mountain", 123.679, 152.981, 30.0, 0.8f},
                        {"star night", 152.981, 182.0, 30.0, 0.6f}};
    // Only the walkers matter here: the pixels are scissored away.
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 1, 1);
    for (int fps : {4, 12, 25, 30, 60}) {
        velmora::resetWalkers();
        for (const Row& row : rows) {
            double last = row.from;
            for (int k = static_cast<int>(std::floor(row.from * fps)) + 1; k / static_cast<double>(fps) < row.to; ++k) {
                last = k / static_cast<double>(fps);
                demo->render(last);
            }
            const int cycles = static_cast<int>((last - row.from) * row.rate) / 74;
            float want = row.start;
            for (int i = 0; i < cycles; ++i) want = static_cast<float>(static_cast<double>(want) - 0.109);
            EXPECT_EQ(x(), want) << row.name << " at " << fps << " fps: " << cycles << " cycles";
        }
    }
    glDisable(GL_SCISSOR_TEST);
}
