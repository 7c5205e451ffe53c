// The glow as a viewer sees it at 1920x1080. Lights drawn over black through the real passes and
// the composite, at the kernel sizes the programme uses: a halo falls off from its light without
// a pixel on the way out that is brighter than the ones before it, and is alike all round the
// light (grain shows as both); a larger kernel shows more of it; and a glow neither blows its
// halo out into a disc nor lasts past the halo.
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
};
Point operator+(Point a, Point b) { return {a.x + b.x, a.y + b.y}; }
Point operator-(Point a, Point b) { return {a.x - b.x, a.y - b.y}; }
Point operator*(Point a, double s) { return {a.x * s, a.y * s}; }
double dot(Point a, Point b) { return a.x * b.x + a.y * b.y; }
double length(Point a) { return std::hypot(a.x, a.y); }
Point unit(double angle) { return {std::cos(angle), std::sin(angle)}; }

// The window's luminance, 0 to 255, rows from the bottom; between pixel centres (at +0.5) it is
// interpolated, so that a ring or a ray can be followed at any distance from its light.
struct Shot {
    std::vector<float> lum;
    float at(int x, int y) const {
        x = std::clamp(x, 0, kW - 1);
        y = std::clamp(y, 0, kH - 1);
        return lum[static_cast<size_t>(y) * kW + x];
    }
    double sample(Point p) const {
        const double fx = p.x - 0.5, fy = p.y - 0.5;
        const int x = static_cast<int>(std::floor(fx)), y = static_cast<int>(std::floor(fy));
        const double tx = fx - x, ty = fy - y;
        return (at(x, y) * (1 - tx) + at(x + 1, y) * tx) * (1 - ty) +
               (at(x, y + 1) * (1 - tx) + at(x + 1, y + 1) * tx) * ty;
    }
};

Shot shoot() {
    const auto rgb = readWindow(kW, kH);
    Shot s;
    s.lum.resize(static_cast<size_t>(kW) * kH);
    for (size_t i = 0; i < s.lum.size(); ++i)
        s.lum[i] = static_cast<float>(0.2126 * rgb[i * 3] + 0.7152 * rgb[i * 3 + 1] + 0.0722 * rgb[i * 3 + 2]);
    return s;
}

// Along a ray out from `from`, half a pixel at a step: the most any sample stands above the
// darkest one before it, and the last sample.
struct Ray {
    double worstRise = 0, end = 0;
};
Ray alongRay(const Shot& s, Point from, Point dir, double near, double far) {
    Ray r;
    double lowest = s.sample(from + dir * near);
    for (double d = near; d <= far; d += 0.5) {
        const double v = s.sample(from + dir * d);
        r.worstRise = std::max(r.worstRise, v - lowest);
        lowest = std::min(lowest, v);
        r.end = v;
    }
    return r;
}

// How much the samples along a path differ: brightest less darkest.
double spread(const Shot& s, const std::vector<Point>& path) {
    double lo = 1e9, hi = -1e9;
    for (Point p : path) {
        const double v = s.sample(p);
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    return hi - lo;
}

std::vector<Point> arc(Point centre, double radius, double from, double to, int samples) {
    std::vector<Point> path;
    for (int i = 0; i < samples; ++i) path.push_back(centre + unit(from + (to - from) * i / (samples - 1)) * radius);
    return path;
}

std::vector<Point> segment(Point from, Point dir, double length) {
    std::vector<Point> path;
    for (double at = 0; at <= length; at += 1) path.push_back(from + dir * at);
    return path;
}

// How far out the halo's mean over a circle stays above `level`.
double reachAbove(const Shot& s, Point centre, double level) {
    for (double d = 1; d < 400; d += 1) {
        double sum = 0;
        for (int i = 0; i < 16; ++i) sum += s.sample(centre + unit(2 * kPi * i / 16) * d);
        if (sum / 16 < level) return d;
    }
    return 400;
}

// An RGBA texture of the given texels, filtered and repeating as the loader makes the images.
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

GLuint plainTexture(unsigned char grey, unsigned char alpha) { return imageTexture(1, 1, {grey, grey, grey, alpha}); }

double distanceToSegment(Point p, Point a, Point b) {
    const Point e = b - a;
    const double t = std::clamp(dot(p - a, e) / dot(e, e), 0.0, 1.0);
    return length(p - a - e * t);
}

class Glow : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ctx.ok());
        demo = new Demo(kW, kH);
        ASSERT_TRUE(demo->ready());
        ASSERT_EQ(demo->renderbuffer->height, kH);
    }
    void TearDown() override { delete demo; }

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
        return shoot();
    }

    GlContext ctx{kW, kH};
    Demo* demo = nullptr;
};

// A bright point and a bright line, each with the halo of an image's bright companion baked
// around it (a quarter of the picture's size, as the desert's is), through the desert's pass,
// near the centre where the vignette leaves the picture alone.
class CompanionGlow : public Glow {
protected:
    static constexpr double kFalloff = 24;  // pixels for the halo to fall to 1/e
    const Point point{702, 542};
    const Point lineFrom{1100, 470}, lineTo{1300, 620};

    void SetUp() override {
        Glow::SetUp();
        if (HasFatalFailure()) return;
        const int cw = kW / 4, ch = kH / 4;
        std::vector<unsigned char> texels(static_cast<size_t>(cw) * ch * 4, 0);
        for (int j = 0; j < ch; ++j)
            for (int i = 0; i < cw; ++i) {
                const Point at{(i + 0.5) * 4, (j + 0.5) * 4};
                const double d = std::min(length(at - point), distanceToSegment(at, lineFrom, lineTo));
                unsigned char* t = &texels[(static_cast<size_t>(j) * cw + i) * 4];
                t[0] = t[1] = t[2] = static_cast<unsigned char>(std::lround(255 * std::exp(-d / kFalloff)));
            }
        black = plainTexture(0, 255);
        companion = imageTexture(cw, ch, texels);
        draw([&] { demo->drawHeatShock(black, companion, 3.0); });
    }
    void TearDown() override {
        glDeleteTextures(1, &black);
        glDeleteTextures(1, &companion);
        Glow::TearDown();
    }
    GLuint black = 0, companion = 0;
};

}  // namespace

TEST_F(CompanionGlow, HalosFallOffSmoothlyAndEvenlyAtEveryKernelSize) {
    const double lineLength = length(lineTo - lineFrom);
    const Point along = (lineTo - lineFrom) * (1 / lineLength), across{-along.y, along.x};
    std::vector<double> reach;
    for (int kernel : kKernels) {
        SCOPED_TRACE(testing::Message() << "kernel " << kernel);
        const Shot s = composite(kernel);
        // Within a texel of the companion from a light its filtering's corners show: the rays
        // and rings start a texel out.
        for (int i = 0; i < 32; ++i) {
            const Ray r = alongRay(s, point, unit(2 * kPi * i / 32), 4, 150);
            EXPECT_LE(r.worstRise, kSlack) << "ray " << i << " from the point";
            EXPECT_LE(r.end, kSlack) << "ray " << i << " from the point";
        }
        for (double radius : {8.0, 16.0, 32.0, 48.0})
            EXPECT_LE(spread(s, arc(point, radius, 0, 2 * kPi, 96)), kSlack) << "ring of " << radius << " px";

        // Across the line from its middle part, and along it at a few distances.
        for (double at = lineLength * 0.3; at <= lineLength * 0.7; at += 10)
            for (double side : {-1.0, 1.0}) {
                const Ray r = alongRay(s, lineFrom + along * at, across * side, 4, 150);
                EXPECT_LE(r.worstRise, kSlack) << at << " px along the line, side " << side;
                EXPECT_LE(r.end, kSlack) << at << " px along the line, side " << side;
            }
        for (double d : {8.0, 16.0, 32.0, 48.0})
            for (double side : {-1.0, 1.0})
                EXPECT_LE(spread(s, segment(lineFrom + along * (lineLength * 0.3) + across * (d * side), along, lineLength * 0.4)), kSlack)
                    << d << " px from the line, side " << side;
        reach.push_back(reachAbove(s, point, 8));
    }
    // The kernel is seen: each step of it shows the halo at least 8 pixels further out.
    EXPECT_GE(reach[1], reach[0] + 8);
    EXPECT_GE(reach[2], reach[1] + 8);
}

// The rows that do not pulse the kernel show the halos as the passes drew them. A glow shows what
// the light's companion holds and no more: out from the light, at every distance, the window is
// no brighter than the companion there, yet at one falloff length it keeps at least a quarter of
// it; by six falloff lengths (the companion under 1/255 of the light) it is gone.
TEST_F(CompanionGlow, AHaloShowsWhatItsCompanionHoldsAndNoMore) {
    const Shot s = composite(9);
    EXPECT_GT(s.sample(point), 64);
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(testing::Message() << "ray " << i);
        const Point dir = unit(2 * kPi * i / 16);
        double above = -255;  // the most the window stands above the companion
        for (double d = kFalloff / 2; d <= 6 * kFalloff; d += 1)
            above = std::max(above, s.sample(point + dir * d) - 255 * std::exp(-d / kFalloff));
        EXPECT_LE(above, kSlack);
        EXPECT_GE(s.sample(point + dir * kFalloff), 255 * std::exp(-1.0) / 4);
        EXPECT_LE(s.sample(point + dir * (6 * kFalloff)), kSlack);
    }
}

namespace {

// Meteors over a black sky: the far layer opaque black (the air lets every light through), the
// near layer of stars clear.
class MeteorGlow : public Glow {
protected:
    void SetUp() override {
        Glow::SetUp();
        if (HasFatalFailure()) return;
        small = plainTexture(0, 255);
        big = plainTexture(0, 0);
    }
    void TearDown() override {
        glDeleteTextures(1, &small);
        glDeleteTextures(1, &big);
        Glow::TearDown();
    }
    GLuint small = 0, big = 0;
};

// The pixels brighter than `level`.
std::vector<Point> litPixels(const Shot& s, float level) {
    std::vector<Point> lit;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x)
            if (s.at(x, y) > level) lit.push_back({x + 0.5, y + 0.5});
    return lit;
}

// Where a lone streak's head is and which way it flies, if the lit pixels are one long streak:
// along their long axis, the head is the end where the glow is widest.
bool loneStreak(const std::vector<Point>& lit, Point* head, Point* dir) {
    if (lit.size() < 200) return false;
    Point mean{0, 0};
    for (Point p : lit) mean = mean + p * (1.0 / lit.size());
    double xx = 0, xy = 0, yy = 0;
    for (Point p : lit) {
        xx += (p.x - mean.x) * (p.x - mean.x);
        xy += (p.x - mean.x) * (p.y - mean.y);
        yy += (p.y - mean.y) * (p.y - mean.y);
    }
    const Point axis = unit(0.5 * std::atan2(2 * xy, xx - yy)), normal{-axis.y, axis.x};
    double lo = 1e9, hi = -1e9, wide = 0;
    for (Point p : lit) {
        lo = std::min(lo, dot(p - mean, axis));
        hi = std::max(hi, dot(p - mean, axis));
        wide = std::max(wide, std::fabs(dot(p - mean, normal)));
    }
    if (hi - lo < 200 || wide > 40) return false;  // a short streak, or more than one
    int atLo = 0, atHi = 0;
    for (Point p : lit) {
        atLo += dot(p - mean, axis) < lo + 30;
        atHi += dot(p - mean, axis) > hi - 30;
    }
    *dir = atHi > atLo ? axis : axis * -1.0;
    *head = mean + *dir * ((atHi > atLo ? hi : -lo) - 20);
    return true;
}

// The centre of the circle through the points where rays out from `inside`, across the front of
// `heading`, first fall below `level` (Kasa's least-squares circle).
Point headOf(const Shot& s, Point inside, double heading, double front, double level) {
    std::vector<Point> edge;
    for (int i = -16; i <= 16; ++i) {
        const Point dir = unit(heading + front * i / 16);
        double last = s.sample(inside);
        for (double d = 0.25; d < 100; d += 0.25) {
            const double v = s.sample(inside + dir * d);
            if (v < level) {
                edge.push_back(inside + dir * (d - 0.25 * (level - v) / (last - v)));
                break;
            }
            last = v;
        }
    }
    // x^2 + y^2 + a x + b y + c = 0, solved by its normal equations about the points' mean.
    Point mean{0, 0};
    for (Point p : edge) mean = mean + p * (1.0 / edge.size());
    double m[3][4] = {};
    for (Point p : edge) {
        const double row[3] = {p.x - mean.x, p.y - mean.y, 1}, rhs = -dot(p - mean, p - mean);
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) m[i][j] += row[i] * row[j];
            m[i][3] += row[i] * rhs;
        }
    }
    for (int i = 0; i < 3; ++i)
        for (int k = i + 1; k < 3; ++k) {
            const double f = m[k][i] / m[i][i];
            for (int j = i; j < 4; ++j) m[k][j] -= f * m[i][j];
        }
    double x[3];
    for (int i = 2; i >= 0; --i) {
        x[i] = m[i][3];
        for (int j = i + 1; j < 3; ++j) x[i] -= m[i][j] * x[j];
        x[i] /= m[i][i];
    }
    return mean + Point{-x[0] / 2, -x[1] / 2};
}

}  // namespace

// A meteor is a point, its head, drawn with a line, its trail. Found over a black sky where one
// lone meteor flies well inside the sky, its halo falls off across the trail and ahead of the
// head, evenly around the head's front and along the trail.
TEST_F(MeteorGlow, HaloFallsOffFromTheHeadAndTheTrail) {
    // The first frame, four a second, with one long streak alone, clear of the sky's edges.
    constexpr double kMargin = 80, kSkyFrom = 0.27 * kH;  // the land covers the sky below
    Point head{}, dir{};
    double time = -1;
    for (double t = 0.25; t < 30 && time < 0; t += 0.25) {
        draw([&] { demo->drawMeteors(small, big, t); });
        if (loneStreak(litPixels(composite(8), 40), &head, &dir) && head.x > kMargin && head.x < kW - kMargin &&
            head.y > kSkyFrom + kMargin && head.y < kH - kMargin)
            time = t;
    }
    ASSERT_GE(time, 0) << "no lone meteor in flight";
    SCOPED_TRACE(testing::Message() << "meteor at " << time << " s");
    draw([&] { demo->drawMeteors(small, big, time); });
    const Shot full = composite(8);

    // The head: the centre of the circle that the glow's edge (a level of 60) draws ahead of it,
    // seen from the head as it was last found.
    const double front = 0.4 * kPi;  // ahead of the head, either side of its flight
    const double heading = std::atan2(dir.y, dir.x);
    for (int i = 0; i < 4; ++i) head = headOf(full, head, heading, front, 60);
    // The trail's centre line: where it is brightest across it, 40 and 120 pixels behind.
    auto crest = [&](Point near, Point normal, double within) {
        Point best = near;
        for (double d = -within; d <= within; d += 0.1)
            if (full.sample(near + normal * d) > full.sample(best)) best = near + normal * d;
        return best;
    };
    const Point normal{-dir.y, dir.x};
    const Point trailFrom = crest(head - dir * 40, normal, 6), trailTo = crest(head - dir * 120, normal, 6);
    const double trailLength = length(trailTo - trailFrom);
    const Point back = (trailTo - trailFrom) * (1 / trailLength), across{-back.y, back.x};

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
            EXPECT_LE(spread(s, arc(head, radius, heading - front, heading + front, 48)), kSlack)
                << "front at " << radius << " px";
        ahead.push_back(s.sample(head + dir * 10));
        for (double at = 0; at <= trailLength; at += 10)
            for (double side : {-1.0, 1.0}) {
                const Ray r = alongRay(s, crest(trailFrom + back * at, across, 1), across * side, 0, 80);
                EXPECT_LE(r.worstRise, kSlack) << 40 + at << " px behind the head, side " << side;
                EXPECT_LE(r.end, kSlack) << 40 + at << " px behind the head, side " << side;
            }
        // Beside the trail, a pixel apart, the halo changes no faster than the trail fades.
        for (double d : {6.0, 10.0, 14.0})
            for (double side : {-1.0, 1.0}) {
                double worst = 0, last = s.sample(trailFrom + across * (d * side));
                for (double at = 1; at <= trailLength; at += 1) {
                    const double v = s.sample(trailFrom + back * at + across * (d * side));
                    worst = std::max(worst, std::fabs(v - last));
                    last = v;
                }
                EXPECT_LE(worst, kSlack) << d << " px beside the trail, side " << side;
            }
    }
    // The scene's pulse of the kernel shows in the glow around the head.
    EXPECT_GE(ahead[1], ahead[0] + 8);
    EXPECT_GE(ahead[2], ahead[1] + 8);
}
