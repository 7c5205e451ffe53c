// The glow as a viewer sees it at 1920x1080: lights over black through the real passes and the
// composite, at the kernel sizes the programme uses. A halo falls off from its light with no
// pixel on the way out brighter than those before it, and is alike all round it (grain shows as
// both); a larger kernel shows more of it; and a glow shows no more than its light holds.
#include "gl_context.h"
#include "gl_helpers.h"
#include "render/demo.h"
#include "render/renderbuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

using namespace velmora::test;

namespace {

constexpr int kW = 1920, kH = 1080;
constexpr double kPi = 3.14159265358979323846;
constexpr double kSlack = 2.0;  // of 255: what rounding may add to a smooth halo
constexpr int kKernels[] = {0, 4, 8};

struct Point {
    double x, y;
    Point operator+(Point o) const { return {x + o.x, y + o.y}; }
    Point operator-(Point o) const { return {x - o.x, y - o.y}; }
    Point operator*(double s) const { return {x * s, y * s}; }
};
double dot(Point a, Point b) { return a.x * b.x + a.y * b.y; }
double length(Point a) { return std::hypot(a.x, a.y); }
Point unit(double angle) { return {std::cos(angle), std::sin(angle)}; }
Point normal(Point dir) { return {-dir.y, dir.x}; }

// The window's luminance, rows from the bottom, interpolated between pixel centres (at +0.5) so
// that rays and rings can be followed at any distance from their light.
struct Shot {
    std::vector<float> lum;
    float at(int x, int y) const { return lum[static_cast<size_t>(std::clamp(y, 0, kH - 1)) * kW + std::clamp(x, 0, kW - 1)]; }
    double operator()(Point p) const {
        const int x = static_cast<int>(std::floor(p.x - 0.5)), y = static_cast<int>(std::floor(p.y - 0.5));
        const double tx = p.x - 0.5 - x, ty = p.y - 0.5 - y;
        return (at(x, y) * (1 - tx) + at(x + 1, y) * tx) * (1 - ty) + (at(x, y + 1) * (1 - tx) + at(x + 1, y + 1) * tx) * ty;
    }
};

// Along a ray, half a pixel at a step: the most a sample stands above the darkest before it, and
// the last sample.
struct Ray {
    double worstRise = 0, end = 0;
};
Ray alongRay(const Shot& s, Point from, Point dir, double near, double far) {
    Ray r;
    double lowest = s(from + dir * near);
    for (double d = near; d <= far; d += 0.5) {
        r.end = s(from + dir * d);
        r.worstRise = std::max(r.worstRise, r.end - lowest);
        lowest = std::min(lowest, r.end);
    }
    return r;
}

// Brightest less darkest along a path, given for 0 to 1.
double spread(const Shot& s, const std::function<Point(double)>& path) {
    double lo = 1e9, hi = -1e9;
    for (int i = 0; i <= 96; ++i) {
        lo = std::min(lo, s(path(i / 96.0)));
        hi = std::max(hi, s(path(i / 96.0)));
    }
    return hi - lo;
}

// The first point out along a ray where the window falls below `level`.
Point crossing(const Shot& s, Point from, Point dir, double level) {
    double d = 0;
    while (d < 200 && s(from + dir * d) >= level) d += 0.05;
    return from + dir * d;
}

// An RGBA texture, filtered as the loader makes the images.
GLuint imageTexture(int w, int h, const std::vector<unsigned char>& texels) {
    GLuint name = 0;
    glGenTextures(1, &name);
    glBindTexture(GL_TEXTURE_2D, name);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    return name;
}

class Glow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ctx.ok());
        demo = new Demo(kW, kH);
        ASSERT_TRUE(demo->ready());
        black = imageTexture(1, 1, {0, 0, 0, 255});
        clear = imageTexture(1, 1, {0, 0, 0, 0});
    }
    void TearDown() override {
        for (GLuint t : {black, clear, companion}) glDeleteTextures(1, &t);
        delete demo;
    }
    // `pass` drawn into the offscreen target as a frame draws it.
    void draw(const std::function<void()>& pass) {
        Renderbuffer& rb = *demo->renderbuffer;
        glBindFramebuffer(GL_FRAMEBUFFER, rb.framebuffer);
        glClear(GL_COLOR_BUFFER_BIT);
        glViewport(0, 0, rb.width, rb.height);
        pass();
    }
    Shot composite(int kernel) {
        plainComposite(*demo->renderbuffer, kernel);
        demo->renderbuffer->composite();
        const auto rgb = readWindow(kW, kH);
        Shot s;
        for (size_t i = 0; i < rgb.size(); i += 3)
            s.lum.push_back(static_cast<float>(0.2126 * rgb[i] + 0.7152 * rgb[i + 1] + 0.0722 * rgb[i + 2]));
        return s;
    }
    // A bright point and a bright line over black, the halo of a light's bright companion baked
    // around each (a quarter of the picture's size, as the desert's is), through the desert's
    // pass, near the centre where the vignette leaves the picture alone.
    void drawCompanionLights() {
        const int cw = kW / 4, ch = kH / 4;
        std::vector<unsigned char> texels(static_cast<size_t>(cw) * ch * 4, 0);
        for (int j = 0; j < ch; ++j)
            for (int i = 0; i < cw; ++i) {
                const Point at{(i + 0.5) * 4, (j + 0.5) * 4}, line = lineTo - lineFrom;
                const double t = std::clamp(dot(at - lineFrom, line) / dot(line, line), 0.0, 1.0);
                const double d = std::min(length(at - point), length(at - lineFrom - line * t));
                std::fill_n(&texels[(static_cast<size_t>(j) * cw + i) * 4], 3, static_cast<unsigned char>(std::lround(255 * std::exp(-d / kFalloff))));
            }
        companion = imageTexture(cw, ch, texels);
        draw([&] { demo->drawHeatShock(black, companion, 3.0); });
    }

    static constexpr double kFalloff = 24;  // pixels for a companion's halo to fall to 1/e
    const Point point{702, 542}, lineFrom{1100, 470}, lineTo{1300, 620};
    GlContext ctx{kW, kH};
    Demo* demo = nullptr;
    GLuint black = 0, clear = 0, companion = 0;
};

}  // namespace

TEST_F(Glow, CompanionHalosFallOffSmoothlyAndEvenlyAtEveryKernelSize) {
    drawCompanionLights();
    const double lineLength = length(lineTo - lineFrom);
    const Point along = (lineTo - lineFrom) * (1 / lineLength);
    std::vector<double> reach;
    for (int kernel : kKernels) {
        SCOPED_TRACE(testing::Message() << "kernel " << kernel);
        const Shot s = composite(kernel);
        // Within a texel of the companion from a light its filtering's corners show: rays and
        // rings start a texel out, parallels two.
        for (int i = 0; i < 32; ++i) {
            const Ray r = alongRay(s, point, unit(2 * kPi * i / 32), 4, 150);
            EXPECT_LE(r.worstRise, kSlack) << "ray " << i << " from the point";
            EXPECT_LE(r.end, kSlack) << "ray " << i << " from the point";
        }
        for (double radius : {8.0, 16.0, 32.0, 48.0})
            EXPECT_LE(spread(s, [&](double f) { return point + unit(2 * kPi * f) * radius; }), kSlack) << radius;
        for (double side : {-1.0, 1.0}) {
            for (double at = 0.3; at <= 0.7; at += 0.05) {
                const Ray r = alongRay(s, lineFrom + along * (lineLength * at), normal(along) * side, 4, 150);
                EXPECT_LE(r.worstRise, kSlack) << at << " of the line, side " << side;
                EXPECT_LE(r.end, kSlack) << at << " of the line, side " << side;
            }
            for (double d : {8.0, 16.0, 32.0, 48.0})
                EXPECT_LE(spread(s, [&](double f) { return lineFrom + along * (lineLength * (0.3 + 0.4 * f)) + normal(along) * (d * side); }), kSlack)
                    << d << " px from the line, side " << side;
        }
        // How far out the point's halo stays above 8, all round.
        auto roundMean = [&](double d) {
            double sum = 0;
            for (int i = 0; i < 8; ++i) sum += s(point + unit(kPi * i / 4) * d);
            return sum / 8;
        };
        double d = 1;
        while (d < 400 && roundMean(d) >= 8) d += 1;
        reach.push_back(d);
    }
    // The kernel is seen: each step of it shows the halo at least 8 pixels further out.
    EXPECT_GE(reach[1], reach[0] + 8);
    EXPECT_GE(reach[2], reach[1] + 8);
}

// The rows that do not pulse the kernel show the halos as the passes drew them. A glow shows what
// its light's companion holds and no more: out from the light the window is nowhere brighter than
// the companion, yet one falloff length out it keeps at least a quarter of it; by six (the
// companion under 1/255 of the light) it is gone.
TEST_F(Glow, CompanionHaloShowsWhatItHoldsAndNoMore) {
    drawCompanionLights();
    const Shot s = composite(9);
    for (int i = 0; i < 16; ++i) {
        const Point dir = unit(2 * kPi * i / 16);
        double above = -255;
        for (double d = kFalloff / 2; d <= 6 * kFalloff; d += 1) above = std::max(above, s(point + dir * d) - 255 * std::exp(-d / kFalloff));
        EXPECT_LE(above, kSlack) << "ray " << i;
        EXPECT_GE(s(point + dir * kFalloff), 255 * std::exp(-1.0) / 4) << "ray " << i;
        EXPECT_LE(s(point + dir * (6 * kFalloff)), kSlack) << "ray " << i;
    }
}

// A meteor is a point, its head, drawn with a line, its trail. Over a black sky (the far layer
// opaque black, the near layer of stars clear), where one long streak flies alone well inside the
// sky, its halo falls off across the trail and ahead of the head, evenly around the head's front.
TEST_F(Glow, MeteorHaloFallsOffFromTheHeadAndTheTrail) {
    // Four frames a second until the lit pixels are one long, thin streak clear of the sky's edges:
    // its axis the way it flies, its head at the end where the glow is wider.
    constexpr double kMargin = 80, kSkyFrom = 0.27 * kH;  // the land covers the sky below
    Point head{}, dir{};
    double time = -1;
    for (double t = 0.25; t < 30 && time < 0; t += 0.25) {
        draw([&] { demo->drawMeteors(black, clear, t); });
        const Shot s = composite(8);
        std::vector<Point> lit;
        for (int y = 0; y < kH; ++y)
            for (int x = 0; x < kW; ++x)
                if (s.at(x, y) > 40) lit.push_back({x + 0.5, y + 0.5});
        if (lit.size() < 200) continue;
        Point mean{0, 0};
        double xx = 0, xy = 0, yy = 0;
        for (Point p : lit) mean = mean + p * (1.0 / lit.size());
        for (Point p : lit) xx += (p.x - mean.x) * (p.x - mean.x), xy += (p.x - mean.x) * (p.y - mean.y), yy += (p.y - mean.y) * (p.y - mean.y);
        const Point axis = unit(0.5 * std::atan2(2 * xy, xx - yy));
        double lo = 1e9, hi = -1e9, wide = 0;
        int nearLo = 0, nearHi = 0;
        for (Point p : lit) lo = std::min(lo, dot(p - mean, axis)), hi = std::max(hi, dot(p - mean, axis));
        for (Point p : lit) {
            wide = std::max(wide, std::fabs(dot(p - mean, normal(axis))));
            nearLo += dot(p - mean, axis) < lo + 30;
            nearHi += dot(p - mean, axis) > hi - 30;
        }
        dir = nearHi > nearLo ? axis : axis * -1.0;
        head = mean + dir * ((nearHi > nearLo ? hi : -lo) - 20);
        if (hi - lo > 200 && wide < 40 && head.x > kMargin && head.x < kW - kMargin && head.y > kSkyFrom + kMargin && head.y < kH - kMargin)
            time = t;
    }
    ASSERT_GE(time, 0) << "no lone meteor in flight";
    SCOPED_TRACE(testing::Message() << "meteor at " << time << " s");
    draw([&] { demo->drawMeteors(black, clear, time); });
    const Shot full = composite(8);
    // The head: the centre of the glow's edge (a level of 60) left, right and straight ahead of
    // it, found again from each new centre.
    for (int i = 0; i < 4; ++i) {
        const Point left = crossing(full, head, normal(dir), 60), right = crossing(full, head, normal(dir) * -1.0, 60);
        head = crossing(full, (left + right) * 0.5, dir, 60) - dir * (length(left - right) / 2);
    }
    const double heading = std::atan2(dir.y, dir.x), front = 0.4 * kPi;  // either side of its flight

    std::vector<double> ahead;  // the glow 10 pixels ahead of the head
    for (int kernel : kKernels) {
        SCOPED_TRACE(testing::Message() << "kernel " << kernel);
        const Shot s = composite(kernel);
        for (int i = -8; i <= 8; ++i) {
            const Ray r = alongRay(s, head, unit(heading + front * i / 8), 6, 80);
            EXPECT_LE(r.worstRise, kSlack) << "ray " << i << " ahead of the head";
            EXPECT_LE(r.end, kSlack) << "ray " << i << " ahead of the head";
        }
        for (double radius : {8.0, 12.0, 16.0, 20.0})
            EXPECT_LE(spread(s, [&](double f) { return head + unit(heading + front * (2 * f - 1)) * radius; }), kSlack) << radius;
        // Across the trail from its crest, 40 to 120 pixels behind the head.
        for (double behind = 40; behind <= 120; behind += 10)
            for (double side : {-1.0, 1.0}) {
                Point crest = head - dir * behind;
                for (double d = -3; d <= 3; d += 0.1)
                    if (full(head - dir * behind + normal(dir) * d) > full(crest)) crest = head - dir * behind + normal(dir) * d;
                const Ray r = alongRay(s, crest, normal(dir) * side, 0, 80);
                EXPECT_LE(r.worstRise, kSlack) << behind << " px behind the head, side " << side;
                EXPECT_LE(r.end, kSlack) << behind << " px behind the head, side " << side;
            }
        ahead.push_back(s(head + dir * 10));
    }
    // The scene's pulse of the kernel shows in the glow around the head.
    EXPECT_GE(ahead[1], ahead[0] + 8);
    EXPECT_GE(ahead[2], ahead[1] + 8);
}
