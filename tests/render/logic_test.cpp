#include "render/particles.h"
#include "render/timeline.h"
#include "render/timing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace velmora;

TEST(Letterbox, ScreenSizes) {
    struct Case { int w, h, viewportHeight, viewportY; };
    const Case cases[] = {
        {1920, 1080, 1080, 0},  {1366, 768, 768, 0},     {1680, 1050, 945, 52},
        {1280, 1024, 720, 152}, {1024, 768, 576, 96},    {2560, 1080, 1440, -180},
        {3440, 1440, 1935, -247}, {1920, 1200, 1080, 60},
    };
    for (const Case& c : cases) {
        const Letterbox box = letterbox(c.w, c.h);
        EXPECT_EQ(box.viewportHeight, c.viewportHeight) << c.w << "x" << c.h;
        EXPECT_EQ(box.viewportY, c.viewportY) << c.w << "x" << c.h;
    }
}

TEST(Timeline, RowsAndTheirOpenEnds) {
    struct Case { double t; int row; };
    const Case cases[] = {
        {-1.0, 0},   {0.0, 0},       {1e-9, 1},       {64.29, 1},    {64.3, 0},       {65.0, 0},
        {65.53, 0},  {65.54, 2},     {70.0, 0},       {70.01, 3},    {94.524, 0},     {94.525, 4},
        {123.679, 0}, {123.68, 5},   {152.981, 0},    {152.99, 6},   {182.0, 0},      {182.01, 7},
        {185.0, 7},  {1000.0, 7},
    };
    for (const Case& c : cases) EXPECT_EQ(scoreRow(c.t), c.row) << "t=" << c.t;
}

TEST(Timeline, BoundariesAndSilenceCompositeTheDefaults) {
    for (double t : {-5.0, 0.0, 64.3, 64.8, 65.53, 70.0, 94.524, 123.679, 152.981, 182.0}) {
        const CompositeParams p = compositeAt(t);
        EXPECT_EQ(p.fadePercent, 0.0f) << t;
        EXPECT_EQ(p.kernelSize, 9) << t;
        EXPECT_EQ(p.average, 0) << t;
        EXPECT_EQ(p.vignette, 0.8f) << t;
        EXPECT_EQ(p.zoom, 1.0f) << t;
    }
}

TEST(Timeline, FadeRampOverTheEndOfTheDesert) {
    EXPECT_FLOAT_EQ(compositeAt(60.0).fadePercent, 0.31746015f);
    EXPECT_FLOAT_EQ(compositeAt(61.15).fadePercent, 0.5f);
    EXPECT_FLOAT_EQ(compositeAt(64.0).fadePercent, 0.95238048f);
    EXPECT_FLOAT_EQ(compositeAt(64.29).fadePercent, 0.99841237f);
    EXPECT_EQ(compositeAt(58.0).fadePercent, 0.0f);
    EXPECT_EQ(compositeAt(30.0).fadePercent, 0.0f);
    // The last times below 64.3 round to float(64.3) and reach exactly 1.
    EXPECT_EQ(compositeAt(64.2999999).fadePercent, 1.0f);
    EXPECT_EQ(compositeAt(64.29).average, 1);
    EXPECT_EQ(compositeAt(1.0).average, 1);
}

TEST(Timeline, MeteorAndMountainParameters) {
    const CompositeParams meteor = compositeAt(100.0);
    EXPECT_EQ(meteor.kernelSize, 7);
    EXPECT_NEAR(meteor.vignette, 0.73165f, 1e-5);
    EXPECT_EQ(meteor.zoom, 1.0f);
    EXPECT_EQ(meteor.average, 0);
    EXPECT_EQ(meteor.fadePercent, 0.0f);

    const CompositeParams mountain = compositeAt(130.0);
    EXPECT_EQ(mountain.kernelSize, 9);
    EXPECT_EQ(mountain.vignette, 0.8f);
    EXPECT_NEAR(mountain.zoom, 0.61398f, 1e-5);
    EXPECT_EQ(mountain.average, 0);

    // The vignette adds to float 0.8 widened, not to the double 0.8.
    const double t = 100.0;
    EXPECT_EQ(meteor.vignette, static_cast<float>(std::sin(40.0 * t) / 10.0 + 0.800000011920929));

    int lowest = 9, highest = -1;
    for (double s = 94.53; s < 123.679; s += 0.0007) {
        const int k = compositeAt(s).kernelSize;
        lowest = std::min(lowest, k);
        highest = std::max(highest, k);
        const float v = compositeAt(s).vignette;
        ASSERT_TRUE(v > 0.69f && v < 0.91f) << s;
    }
    EXPECT_EQ(lowest, 0);
    EXPECT_EQ(highest, 7);  // 8 only where the sine is exactly 1
}

TEST(Walk, FrameIndex) {
    EXPECT_EQ(walkFrame(5.476, 30.0), 16);
    EXPECT_EQ(walkFrame(0.0, 30.0), 0);
    EXPECT_EQ(walkFrame(0.0333, 30.0), 0);
    EXPECT_EQ(walkFrame(1.0, 30.0), 30);
    EXPECT_EQ(walkFrame(2.5, 30.0), 1);
    EXPECT_EQ(walkFrame(24.5, 30.0), 69);
    EXPECT_EQ(walkFrame(3.2, 23.0), 73);
    EXPECT_EQ(walkFrame(3.22, 23.0), 0);
    EXPECT_EQ(walkFrame(2.44, 30.0), 73);
    EXPECT_EQ(walkFrame(2.47, 30.0), 0);
}

TEST(Walk, StepsAndTheirTests) {
    EXPECT_EQ(stepLeft(0.8f), 0.69099998f);
    EXPECT_EQ(stepLeft(0.9f), 0.79099995f);
    // Nineteen desert steps end near -1.271, eleven meteor steps near -0.299.
    float x = 0.8f;
    for (int i = 0; i < 19; ++i) x = stepLeft(x);
    EXPECT_NEAR(x, -1.271f, 1e-4);
    x = 0.9f;
    for (int i = 0; i < 11; ++i) x = stepLeft(x);
    EXPECT_NEAR(x, -0.299f, 1e-4);

    EXPECT_TRUE(steppedBackward(0, 73));
    EXPECT_TRUE(steppedBackward(2, 70));
    EXPECT_FALSE(steppedBackward(5, 5));
    EXPECT_FALSE(steppedBackward(6, 5));
    EXPECT_FALSE(steppedBackward(0, 0));
}

TEST(Passes, StarTrailFactorAndPointSize) {
    EXPECT_EQ(starTrailFactor(0.0), 1.0f);
    EXPECT_EQ(starTrailFactor(9.999), 1.0f);
    EXPECT_EQ(starTrailFactor(10.0), 1.0f);
    EXPECT_EQ(starTrailFactor(15.0), 0.5f);
    EXPECT_EQ(starTrailFactor(20.0), 0.0f);
    EXPECT_EQ(starTrailFactor(25.0), -0.5f);
    EXPECT_NEAR(starTrailFactor(29.02), -0.902f, 1e-5);

    EXPECT_EQ(particlePointSize(1920), 10.0f);
    EXPECT_EQ(particlePointSize(2560), 13.0f);
    EXPECT_EQ(particlePointSize(1366), 7.0f);
    EXPECT_EQ(particlePointSize(1280), 6.0f);
    EXPECT_EQ(particlePointSize(191), 0.0f);
}

TEST(Particles, SeedsAreDeterministicInRangeAndEven) {
    std::vector<float> a(2 * kParticleCount, -1.0f), b(2 * kParticleCount, -2.0f);
    fillParticleSeeds(a.data(), kParticleCount);
    fillParticleSeeds(b.data(), kParticleCount);
    EXPECT_EQ(a, b);
    // Every value written, inside [0, 1); a 10 x 10 grid of cells is evenly filled.
    int cells[10][10] = {};
    for (int i = 0; i < kParticleCount; ++i) {
        const float x = a[2 * i], y = a[2 * i + 1];
        ASSERT_TRUE(x >= 0.0f && x < 1.0f && y >= 0.0f && y < 1.0f) << i;
        ++cells[static_cast<int>(y * 10)][static_cast<int>(x * 10)];
    }
    for (int y = 0; y < 9; ++y)  // the top row of the grid is only partly filled
        for (int x = 0; x < 10; ++x) EXPECT_NEAR(cells[y][x], kParticleCount / 100, 60) << x << "," << y;
}
