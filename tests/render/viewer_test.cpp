// The show held against what a viewer knows without our code, on pixels read back: the sky turns
// one way about its pole, the shadow begins at the soles, a planted foot stays put, a lit figure
// glows, the particle figure stands upright, and the cards read as written to an OCR engine.
#include "gl_helpers.h"
#include "offscreen.h"
#include "temp_dir.h"

#include "assets/shader.h"
#include "cards.h"
#include "render/demo.h"
#include "render/sky.h"
#include "render/timing.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

using velmora::OffscreenDemo;
using velmora::Picture;

namespace {

constexpr double kStarNightFrom = 152.981, kMeteorFrom = 94.524, kParticlesFrom = 70.0;

// The window after `draw`, over opaque white wherever it draws nothing; top row first. A frame of
// the show covers the whole window itself.
Picture shot(OffscreenDemo& od, const std::function<void()>& draw) {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    const GLenum back = GL_BACK;
    glDrawBuffers(1, &back);
    glViewport(0, 0, od.demo().width, od.demo().viewportHeight);
    velmora::test::clearTo(1.0f, 1.0f, 1.0f);
    draw();
    return od.read();
}

// What a viewer of the whole run sees at music time t (stills taken in order of time).
Picture still(OffscreenDemo& od, double t) {
    return shot(od, [&] {
        od.playUpTo(t, 60);
        od.render(t);
    });
}

double luma(const Picture& p, int x, int y) {
    const uint8_t* c = &p.rgb[(static_cast<size_t>(y) * p.width + x) * 3];
    return 0.299 * c[0] + 0.587 * c[1] + 0.114 * c[2];
}

// Pixels darker than `below` (of 255): a figure or its shadow drawn over white.
struct Mask {
    int width = 0, height = 0;
    std::vector<uint8_t> on;
    Mask(const Picture& p, double below) : width(p.width), height(p.height), on(p.rgb.size() / 3) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) on[static_cast<size_t>(y) * width + x] = luma(p, x, y) < below;
    }
    bool at(int x, int y) const { return x >= 0 && y >= 0 && x < width && y < height && on[static_cast<size_t>(y) * width + x]; }
    int top() const { return static_cast<int>(std::find(on.begin(), on.end(), 1) - on.begin()) / width; }
    int bottom() const { return static_cast<int>(std::find(on.rbegin(), on.rend(), 1).base() - on.begin() - 1) / width; }
    // Runs of covered pixels along a row: first and last column of each.
    std::vector<std::pair<int, int>> runs(int y) const {
        std::vector<std::pair<int, int>> r;
        for (int x = 0; x < width; ++x)
            if (at(x, y) && !at(x - 1, y)) r.push_back({x, x});
            else if (at(x, y)) r.back().second = x;
        return r;
    }
};

// Where a scene last drew its figure with `program`, and the walk frame it drew.
struct Figure {
    int frame;
    float x, y;
};
Figure figureOf(GLuint program, int frame) {
    const auto offset = velmora::test::uniformFloats(program, "offset", 2);
    return {frame, offset[0], offset[1]};
}
Mask silhouette(OffscreenDemo& od, GLuint program, const Figure& f, double below) {
    return Mask(shot(od, [&] { od.demo().drawSprite(program, f.frame, f.x, f.y, 0.0f, 0.0f, 0.0f); }), below);
}

// The turn about `pole` (pixels, top row first), in radians counter-clockwise on the screen,
// that best lays the fine detail of `a` (stars are points, trails thin arcs) over that of `b`,
// in the open sky above the land.
double turnBetween(const Picture& a, const Picture& b, double poleX, double poleY) {
    const int w = a.width, h = a.height, r = 4;
    auto detail = [&](const Picture& p) {  // luma less its local mean, where it is brighter
        std::vector<double> sum(static_cast<size_t>(w + 1) * (h + 1), 0.0), d(static_cast<size_t>(w) * h, 0.0);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                sum[(y + 1) * (w + 1) + x + 1] = luma(p, x, y) + sum[y * (w + 1) + x + 1] + sum[(y + 1) * (w + 1) + x] - sum[y * (w + 1) + x];
        for (int y = r; y < h - r; ++y)
            for (int x = r; x < w - r; ++x) {
                const double box = sum[(y + r + 1) * (w + 1) + x + r + 1] - sum[(y - r) * (w + 1) + x + r + 1] -
                                   sum[(y + r + 1) * (w + 1) + x - r] + sum[(y - r) * (w + 1) + x - r];
                d[y * w + x] = std::max(0.0, luma(p, x, y) - box / ((2 * r + 1) * (2 * r + 1)));
            }
        return d;
    };
    const std::vector<double> da = detail(a), db = detail(b);
    struct Point {
        double dx, dy, weight;
    };
    std::vector<Point> points;
    for (int y = r; y < h * 45 / 100; ++y)
        for (int x = w * 15 / 100; x < w - r; ++x)
            if (da[y * w + x] > 12 && std::hypot(x - poleX, y - poleY) > h * 0.05)
                points.push_back({x - poleX, y - poleY, da[y * w + x]});
    auto sample = [&](double x, double y) {
        const int x0 = static_cast<int>(std::floor(x)), y0 = static_cast<int>(std::floor(y));
        if (x0 < 0 || y0 < 0 || x0 + 1 >= w || y0 + 1 >= h) return 0.0;
        const double fx = x - x0, fy = y - y0;
        return (db[y0 * w + x0] * (1 - fx) + db[y0 * w + x0 + 1] * fx) * (1 - fy) +
               (db[(y0 + 1) * w + x0] * (1 - fx) + db[(y0 + 1) * w + x0 + 1] * fx) * fy;
    };
    double best = 0, bestScore = -1;
    for (double turn = -0.4; turn <= 0.4; turn += 0.001) {
        const double c = std::cos(turn), s = std::sin(turn);
        double score = 0;
        for (const Point& p : points) score += p.weight * sample(poleX + c * p.dx + s * p.dy, poleY - s * p.dx + c * p.dy);
        if (score > bestScore) bestScore = score, best = turn;
    }
    return best;
}

std::string fileText(const std::string& path) {
    std::ifstream in(path);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

// A shader's named constant, "const float name = value;" or the two of "const vec2 name = vec2(x, y);".
std::vector<double> shaderConstant(const std::string& file, const std::string& type, const std::string& name) {
    const std::string text = fileText("data/shaders/" + file);
    const std::string key = "const " + type + " " + name + " = " + (type == "vec2" ? "vec2(" : "");
    const size_t at = text.find(key);
    if (at == std::string::npos) return {};
    std::vector<double> v{std::atof(text.c_str() + at + key.size())};
    if (type == "vec2") v.push_back(std::atof(text.c_str() + text.find(',', at) + 1));
    return v;
}

}  // namespace

TEST(Viewer, TheSkyTurnsOneWayAboutItsPoleAtItsSpin) {
    EXPECT_EQ(shaderConstant("rotate.fs", "vec2", "pole"), std::vector<double>({velmora::sky::kPoleU, velmora::sky::kPoleV}));
    EXPECT_EQ(shaderConstant("background.vs", "float", "starSpin"), std::vector<double>({velmora::sky::kSpin}));
    OffscreenDemo od(960, 540);
    ASSERT_TRUE(od.ok()) << od.why();
    const double poleX = velmora::sky::kPoleU * 960, poleY = (1 - velmora::sky::kPoleV) * 540;
    // Four seconds of the sharp stars alone, then four of the trails (over the stars, dimmed).
    struct Span {
        double from, to;
        const char* what;
    };
    for (const Span& s : {Span{1, 5, "the sharp stars"}, Span{15, 19, "the trails"}}) {
        const Picture a = still(od, kStarNightFrom + s.from), b = still(od, kStarNightFrom + s.to);
        EXPECT_NEAR(turnBetween(a, b, poleX, poleY), velmora::sky::kSpin * (s.to - s.from), 0.01)
            << s.what << " from " << s.from << " s to " << s.to << " s into the star night";
    }
}

// Through one whole walk cycle and its wrap into the next, at the desert's own rate and at 1080
// lines: the shadow starts where the soles rest, and a foot on the ground keeps its place there
// (the step at the wrap included) until it lifts.
TEST(Viewer, TheDesertShadowMeetsTheSolesAndAPlantedFootStaysPut) {
    OffscreenDemo od(1920, 1080);
    ASSERT_TRUE(od.ok()) << od.why();
    Demo& demo = od.demo();
    velmora::resetWalkers();
    const double rate = 23;
    std::vector<std::pair<int, int>> before;
    int ground = -1;
    for (int i = 0; i <= velmora::kWalkFrames; ++i) {
        const double t = (velmora::kWalkFrames + i + 0.5) / rate;
        glEnable(GL_SCISSOR_TEST);  // only where the figures go matters here
        glScissor(0, 0, 1, 1);
        demo.sceneDesert(t);
        glDisable(GL_SCISSOR_TEST);
        const int frame = velmora::walkFrame(t, rate);
        const Figure body = figureOf(demo.movingProgram->name, frame);
        const Figure shade = figureOf(demo.dshadowProgram->name, frame);
        const Mask figure = silhouette(od, demo.movingProgram->name, body, 128);
        const Mask shadow = silhouette(od, demo.dshadowProgram->name, shade, 176);
        const int soles = figure.bottom();
        EXPECT_NEAR(shadow.top(), soles + 1, 2) << "frame " << frame << ": soles on row " << soles;

        if (ground < 0) ground = soles;  // the row of every planted sole
        const auto now = figure.runs(ground);
        for (const auto& was : before)
            for (const auto& is : now)
                if (is.first <= was.second && was.first <= is.second) {
                    EXPECT_LE(std::min(std::abs(is.first - was.first), std::abs(is.second - was.second)), 1)
                        << "frame " << frame << ": a foot on the ground at columns " << was.first << ".." << was.second
                        << " is now at " << is.first << ".." << is.second;
                }
        before = now;
    }
}

// In the meteor sky the figure is lit green while the light's sine is up: then a green halo
// rings its silhouette; while it is down, nothing glows there.
TEST(Viewer, TheLitFigureGlowsInTheMeteorSkyAndAnUnlitOneDoesNot) {
    OffscreenDemo od(1920, 1080);
    ASSERT_TRUE(od.ok()) << od.why();
    Demo& demo = od.demo();
    velmora::resetWalkers();
    struct Moment {
        double local;
        bool lit;
    };
    // The light's sine at +0.93 and -0.93, both while the composite's glow reaches far (kernel 7).
    for (const Moment& m : {Moment{7.483, true}, Moment{10.625, false}}) {
        const Picture p = still(od, kMeteorFrom + m.local);
        const Mask figure =
            silhouette(od, demo.movingProgram->name, figureOf(demo.movingProgram->name, velmora::walkFrame(m.local, 30)), 128);
        // Green over the picture's red and blue, a few pixels out from the silhouette and further out.
        const int reach = 24;
        int left = p.width, right = -1;
        for (int y = figure.top(); y <= figure.bottom(); ++y)
            for (int x = 0; x < p.width; ++x)
                if (figure.at(x, y)) left = std::min(left, x), right = std::max(right, x);
        double near = 0, far = 0;
        int nearCount = 0, farCount = 0;
        for (int y = std::max(0, figure.top() - reach); y <= std::min(p.height - 1, figure.bottom() + reach); ++y)
            for (int x = std::max(0, left - reach); x <= std::min(p.width - 1, right + reach); ++x) {
                if (figure.at(x, y)) continue;
                int d = reach + 1;
                for (int dy = -reach; dy <= reach && d > 1; ++dy)
                    for (int dx = -reach; dx <= reach; ++dx)
                        if (figure.at(x + dx, y + dy)) d = std::min(d, std::max(std::abs(dx), std::abs(dy)));
                const uint8_t* c = &p.rgb[(static_cast<size_t>(y) * p.width + x) * 3];
                const double green = c[1] - 0.5 * (c[0] + c[2]);
                if (d >= 2 && d <= 5) near += green, ++nearCount;
                else if (d >= 16 && d <= reach) far += green, ++farCount;
            }
        ASSERT_GT(nearCount, 100);
        ASSERT_GT(farCount, 100);
        const double glow = near / nearCount - far / farCount;
        if (m.lit) {
            EXPECT_GT(glow, 6.0) << "lit at " << m.local << " s into the meteor sky";
        } else {
            EXPECT_LT(glow, 1.0) << "unlit at " << m.local << " s into the meteor sky";
        }
    }
}

// Gathered, the particles draw the walk frame of the moment, head up: laid over their figure's
// extent, the frame's silhouette covers what they cover, and turned upside down it does not.
TEST(Viewer, TheParticleFigureStandsUprightWhereTheWalkersSilhouetteWouldBe) {
    OffscreenDemo od(960, 540);
    ASSERT_TRUE(od.ok()) << od.why();
    const double local = 14.0;
    const Picture p = still(od, kParticlesFrom + local);
    // Where grains lie close together: the figure, not the thin dust around it.
    const int w = p.width, h = p.height, r = 3;
    std::vector<uint8_t> dense(static_cast<size_t>(w) * h, 0);
    int x0 = w, x1 = -1, y0 = h, y1 = -1;
    for (int y = r; y < h - r; ++y)
        for (int x = r; x < w - r; ++x) {
            int lit = 0;
            for (int dy = -r; dy <= r; ++dy)
                for (int dx = -r; dx <= r; ++dx) lit += luma(p, x + dx, y + dy) > 60;
            if (lit * 2 < (2 * r + 1) * (2 * r + 1)) continue;
            dense[y * w + x] = 1;
            x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
        }
    ASSERT_GT(y1 - y0, h / 2) << "no standing figure of grains";

    // The walk frame's silhouette, from its texture.
    const int frame = velmora::walkFrame(local, 30), size = 512;
    std::vector<uint8_t> texels(static_cast<size_t>(size) * size * 4);
    glBindTexture(GL_TEXTURE_2D, od.demo().textures[frame]);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    int u0 = size, u1 = -1, v0 = size, v1 = -1;
    for (int v = 0; v < size; ++v)
        for (int u = 0; u < size; ++u)
            if (texels[(v * size + u) * 4 + 3] > 127) u0 = std::min(u0, u), u1 = std::max(u1, u), v0 = std::min(v0, v), v1 = std::max(v1, v);
    auto overlap = [&](bool upright) {  // intersection over union
        int both = 0, either = 0;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                const int u = u0 + (x - x0) * (u1 - u0) / std::max(1, x1 - x0);
                const double up = static_cast<double>(y1 - y) / std::max(1, y1 - y0);  // 0 at the feet
                const int v = v0 + static_cast<int>((upright ? up : 1 - up) * (v1 - v0));
                const bool there = texels[(v * size + u) * 4 + 3] > 127, drawn = dense[y * w + x];
                both += there && drawn, either += there || drawn;
            }
        return static_cast<double>(both) / either;
    };
    EXPECT_GT(overlap(true), 0.6);
    EXPECT_GT(overlap(true), overlap(false) + 0.2);
}

// Debian's OCR engine, English, reads the title's name and every line of the credits off the
// screen. The cards are light on dark; the engine is given them dark on light, in grey.
TEST(Viewer, TitleAndCreditsReadAsWrittenToAnOcrEngine) {
    if (std::system("tesseract --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "tesseract-ocr is not installed";
    OffscreenDemo od(1920, 1080);
    ASSERT_TRUE(od.ok()) << od.why();
    const velmora::test::TempDir tmp("velmora-ocr");
    auto read = [&](double t) {
        const Picture p = still(od, t);
        const std::string pgm = tmp / "card.pgm";
        std::ofstream out(pgm, std::ios::binary);
        out << "P5\n" << p.width << " " << p.height << "\n255\n";
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x) out.put(static_cast<char>(255 - static_cast<int>(luma(p, x, y) + 0.5)));
        out.close();
        const std::string txt = tmp / "card";
        EXPECT_EQ(std::system(("tesseract " + pgm + " " + txt + " -l eng >/dev/null 2>&1").c_str()), 0);
        // One read line per line, its spaces collapsed.
        std::vector<std::string> lines;
        std::istringstream text(fileText(txt + ".txt"));
        for (std::string line; std::getline(text, line);) {
            std::istringstream words(line);
            std::string word, joined;
            while (words >> word) joined += (joined.empty() ? "" : " ") + word;
            if (!joined.empty()) lines.push_back(joined);
        }
        return lines;
    };
    auto found = [](const std::vector<std::string>& lines, const std::string& a, const std::string& b = "") {
        return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
            return l.find(a) != std::string::npos && l.find(b) != std::string::npos;
        });
    };
    auto said = [](const std::vector<std::string>& lines) {
        std::string all;
        for (const auto& l : lines) all += "\n  " + l;
        return all;
    };
    const auto title = read(67.0);
    EXPECT_TRUE(found(title, art::kTitleName)) << "the title reads:" << said(title);
    const auto credits = read(183.0);
    for (const char* line : {art::kCreditsHeading, art::kCreditsSubtitle, art::kCreditsClaim, art::kCreditsBuiltWith,
                             art::kCreditsTypefaces, art::kCreditsThanks})
        EXPECT_TRUE(found(credits, line)) << "\"" << line << "\" is not in the credits, which read:" << said(credits);
    for (const art::CreditLine& l : art::kCreditsLibraries)
        EXPECT_TRUE(found(credits, l.name, l.what))
            << "\"" << l.name << "\" and \"" << l.what << "\" are not on one line of the credits, which read:" << said(credits);
}
