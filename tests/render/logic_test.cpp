#include "render/particles.h"
#include "render/timeline.h"
#include "render/timing.h"

#include <gtest/gtest.h>

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
