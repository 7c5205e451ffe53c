// The generated art: files the loader accepts, the same bytes every time,
// a walk cycle that joins up and keeps its feet, and pictures with their
// content where the scenes need it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "art.h"
#include "temp_dir.h"
#include "assets/tga.h"
#include "walk.h"

namespace fs = std::filesystem;

namespace {

// One generation shared by the tests of this run.
class Generated : public ::testing::Environment {
public:
    static fs::path dir;
    static bool ok;
    void SetUp() override {
        tmp = std::make_unique<velmora::test::TempDir>("velmora-art");
        dir = tmp->path();
        ok = art::generateAll(dir.string(), art::Fonts{VELMORA_TEST_TITLE_FONT, VELMORA_TEST_TEXT_FONT});
    }
    void TearDown() override { tmp.reset(); }
    std::unique_ptr<velmora::test::TempDir> tmp;
};
fs::path Generated::dir;
bool Generated::ok = false;
const auto* const kEnv = ::testing::AddGlobalTestEnvironment(new Generated);

std::vector<unsigned char> readBytes(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

// A decoded file: 0..1 channels as stored (B, G, R[, A]), row 0 at the bottom.
struct Pic {
    int w = 0, h = 0, bpp = 0;
    std::vector<unsigned char> bytes;
    const unsigned char* px(int x, int y) const { return &bytes[18 + (size_t(y) * w + x) * bpp]; }
    float alpha(int x, int y) const { return bpp == 4 ? px(x, y)[3] / 255.f : 1.f; }
    // Rows of the 16:9 picture an image belongs to; a layer may stop short of its top, and the
    // rows it lacks are clear.
    int pictureH() const { return w * 9 / 16; }
    float pictureAlpha(int x, int y) const { return y < h ? alpha(x, y) : 0.f; }
    float luma(int x, int y) const {
        const unsigned char* p = px(x, y);
        return (0.0722f * p[0] + 0.7152f * p[1] + 0.2126f * p[2]) / 255.f;
    }
};

Pic load(const fs::path& p) {
    Pic pic;
    pic.bytes = readBytes(p);
    TgaImage img;
    if (pic.bytes.size() >= 18 && parseTga(pic.bytes.data(), pic.bytes.size(), &img) == nullptr) {
        pic.w = img.width;
        pic.h = img.height;
        pic.bpp = img.bytesPerPixel;
    }
    return pic;
}

fs::path frame(int i) { return Generated::dir / "walk" / ("out" + std::to_string(i) + ".tga"); }
fs::path image(const std::string& n) { return Generated::dir / "textures" / (n + ".tga"); }

std::vector<Pic>& frames() {
    static std::vector<Pic> f = [] {
        std::vector<Pic> v;
        for (int i = 0; i < art::kWalkFrames; ++i) v.push_back(load(frame(i)));
        return v;
    }();
    return f;
}

// Alpha of a frame at a fractional column (linear between texel centres).
float alphaAt(const Pic& p, float x, int y) {
    float fx = x - 0.5f;
    int x0 = int(std::floor(fx));
    float t = fx - x0;
    auto a = [&](int xx) { return xx < 0 || xx >= p.w ? 0.f : p.alpha(xx, y); };
    return a(x0) * (1 - t) + a(x0 + 1) * t;
}

// Mean absolute alpha difference between frame b and frame a seen shifted
// by `shift` texels (b(x) against a(x + shift)).
double alphaChange(const Pic& a, const Pic& b, float shift) {
    double sum = 0;
    for (int y = 0; y < b.h; ++y)
        for (int x = 0; x < b.w; ++x) sum += std::fabs(b.alpha(x, y) - alphaAt(a, x + 0.5f + shift, y));
    return sum / (double(b.w) * b.h);
}

double centroidX(const Pic& p) {
    double s = 0, sx = 0;
    for (int y = 0; y < p.h; ++y)
        for (int x = 0; x < p.w; ++x) {
            s += p.alpha(x, y);
            sx += p.alpha(x, y) * (x + 0.5);
        }
    return sx / s;
}

}  // namespace

TEST(ArtFiles, EveryFileIsAnUncompressedTgaOfItsSizeAndDepth) {
    ASSERT_TRUE(Generated::ok);
    // Layers over the bottom of the picture stop at their first clear row (height 0 here).
    struct Want { std::string path; int w, h, bpp; };
    std::vector<Want> want;
    for (int i = 0; i < art::kWalkFrames; ++i) want.push_back({frame(i).string(), 512, 512, 4});
    const Want images[] = {
        {"desert", 2048, 1152, 3},        {"desertbright", 512, 288, 4},
        {"mountain", 2048, 1152, 3},      {"starnight", 2048, 0, 4},
        {"stars", 2560, 2560, 3},         {"meteor_ground", 2048, 0, 4},
        {"meteor_sky_small", 2048, 1152, 4}, {"meteor_sky_big", 2048, 1152, 4},
        {"title", 2048, 0, 4},            {"credits", 2048, 0, 4},
    };
    for (const Want& w : images) want.push_back({image(w.path).string(), w.w, w.h, w.bpp});
    ASSERT_EQ(want.size(), 84u);

    for (Want w : want) {
        SCOPED_TRACE(w.path);
        std::vector<unsigned char> b = readBytes(w.path);
        ASSERT_GE(b.size(), 18u);
        TgaImage img;
        const char* why = parseTga(b.data(), b.size(), &img);
        ASSERT_EQ(why, nullptr) << why;
        EXPECT_EQ(img.width, w.w);
        if (w.h == 0) {
            // Its top row is clear and the row under it is not, unless it is whole.
            Pic p = load(w.path);
            ASSERT_LE(p.h, p.pictureH());
            if (p.h < p.pictureH()) {
                float top = 0, under = 0;
                for (int x = 0; x < p.w; ++x) {
                    top = std::max(top, p.alpha(x, p.h - 1));
                    under = std::max(under, p.alpha(x, p.h - 2));
                }
                EXPECT_EQ(top, 0.f);
                EXPECT_GT(under, 0.f);
            }
            w.h = p.h;
        }
        EXPECT_EQ(img.height, w.h);
        EXPECT_EQ(img.bytesPerPixel, w.bpp);
        EXPECT_EQ(img.pixelOffset, 18u);
        // What the loader counts on without checking: no ID, no colour map,
        // uncompressed true colour, whole rows of 4-byte multiples, the whole
        // pixel block and nothing after it, origin at the bottom.
        EXPECT_EQ(b[0], 0);
        EXPECT_EQ(b[1], 0);
        EXPECT_EQ(b[2], 2);
        EXPECT_EQ((w.w * w.bpp) % 4, 0);
        EXPECT_EQ(b.size(), 18u + size_t(w.w) * w.h * w.bpp);
        EXPECT_EQ(b[17] & 0x20, 0);
        EXPECT_EQ(b[17] & 0x0f, w.bpp == 4 ? 8 : 0);
    }
}

TEST(ArtFiles, TwoGenerationsGiveTheSameBytes) {
    ASSERT_TRUE(Generated::ok);
    const velmora::test::TempDir againDir("velmora-art-again");
    const fs::path& again = againDir.path();
    ASSERT_TRUE(art::generateAll(again.string(), art::Fonts{VELMORA_TEST_TITLE_FONT, VELMORA_TEST_TEXT_FONT}));
    int compared = 0;
    for (const auto& e : fs::recursive_directory_iterator(Generated::dir)) {
        if (!e.is_regular_file()) continue;
        fs::path rel = fs::relative(e.path(), Generated::dir);
        SCOPED_TRACE(rel.string());
        EXPECT_TRUE(readBytes(e.path()) == readBytes(again / rel));
        ++compared;
    }
    EXPECT_EQ(compared, 84);
#ifdef VELMORA_TEST_RUN_DATA
    // The build's own data was made by the same code: it must match too.
    for (int i : {0, 37, 73})
        EXPECT_TRUE(readBytes(frame(i)) ==
                    readBytes(fs::path(VELMORA_TEST_RUN_DATA) / "walk" / ("out" + std::to_string(i) + ".tga")));
    for (int i = 0; i < art::kImageCount; ++i) {
        std::string n = std::string(art::kImageNames[i]) + ".tga";
        EXPECT_TRUE(readBytes(image(art::kImageNames[i])) ==
                    readBytes(fs::path(VELMORA_TEST_RUN_DATA) / "textures" / n))
            << n;
    }
#endif
}

TEST(Walk, FrameSeventyThreeFlowsIntoFrameZeroLikeAnyOtherPair) {
    ASSERT_TRUE(Generated::ok);
    auto& f = frames();
    ASSERT_EQ(f.size(), 74u);
    for (const Pic& p : f) ASSERT_EQ(p.bpp, 4);

    // Within the cycle frames share the sprite's place; across the wrap the
    // renderer moves the sprite left by one cycle's advance, so frame 0 is
    // seen shifted by that much.
    const float advance = float(art::kCycleAdvance);
    std::vector<double> change, step;
    for (int k = 0; k + 1 < 74; ++k) {
        change.push_back(alphaChange(f[k], f[k + 1], 0.f));
        step.push_back(centroidX(f[k + 1]) - centroidX(f[k]));
    }
    double wrapChange = alphaChange(f[0], f[73], advance);
    double wrapStep = (centroidX(f[0]) - advance) - centroidX(f[73]);
    double maxChange = *std::max_element(change.begin(), change.end());
    double minStep = *std::min_element(step.begin(), step.end());
    double maxStep = *std::max_element(step.begin(), step.end());
    std::vector<double> sorted = change;
    std::sort(sorted.begin(), sorted.end());
    std::cerr << "walk: alpha change per frame: median " << sorted[36] << ", max " << maxChange
              << "; 73 -> 0: " << wrapChange << "\n"
              << "walk: centroid step " << minStep << " .. " << maxStep << " texels; 73 -> 0: " << wrapStep
              << "\n";
    EXPECT_LE(wrapChange, 1.1 * maxChange);
    EXPECT_GE(wrapStep, minStep - 0.5);
    EXPECT_LE(wrapStep, maxStep + 0.5);
    // And the figure really walks left, about one 74th of the advance a frame.
    std::vector<double> s = step;
    std::sort(s.begin(), s.end());
    EXPECT_NEAR(s[37], -advance / 74.0, 1.0);
}

TEST(Walk, PlantedFeetRestOnRowSixteenAndDoNotSlide) {
    ASSERT_TRUE(Generated::ok);
    auto& f = frames();
    for (int k = 0; k < 74; ++k) {
        SCOPED_TRACE("frame " + std::to_string(k));
        // Some foot always bears weight: the lowest solid row is the sole row,
        // with only the soft edge below it.
        int lowest = -1;
        for (int y = 0; y < 512 && lowest < 0; ++y)
            for (int x = 0; x < 512; ++x)
                if (f[k].alpha(x, y) >= 0.5f) { lowest = y; break; }
        EXPECT_EQ(lowest, int(art::kSoleRow));
        for (int y = 0; y < int(art::kSoleRow) - 2; ++y)
            for (int x = 0; x < 512; ++x) ASSERT_EQ(f[k].alpha(x, y), 0.f) << x << "," << y;
        // Nothing touches the frame's other edges.
        for (int y = 0; y < 512; ++y) {
            EXPECT_EQ(f[k].alpha(0, y), 0.f);
            EXPECT_EQ(f[k].alpha(511, y), 0.f);
            EXPECT_EQ(f[k].alpha(y, 511), 0.f);
        }
    }
    // A planted foot rolls over its heel or its toe but does not slide: from
    // one frame to the next, one end of its contact with the ground row stays
    // put.
    auto contact = [&](const Pic& p, double nearX, double* lo, double* hi) {
        const int row = int(art::kSoleRow);
        int best = -1, bestLo = 0, bestHi = 0;
        double bestDist = 1e9;
        for (int x = 0; x < 512;) {
            if (p.alpha(x, row) < 0.5f) { ++x; continue; }
            int a = x;
            while (x < 512 && p.alpha(x, row) >= 0.5f) ++x;
            double d = std::max({0.0, a - nearX, nearX - x});
            if (d < bestDist) { bestDist = d; best = a; bestLo = a; bestHi = x; }
        }
        *lo = bestLo; *hi = bestHi;
        return best >= 0 && bestDist < 12.0;
    };
    int pairs = 0;
    for (int k = 0; k + 1 < 74; ++k) {
        art::GaitFrame g0 = art::walkGait(k), g1 = art::walkGait(k + 1);
        for (int leg = 0; leg < 2; ++leg) {
            if (!g0.planted[leg] || !g1.planted[leg]) continue;
            double lo0, hi0, lo1, hi1;
            ASSERT_TRUE(contact(f[k], g0.footX[leg], &lo0, &hi0)) << k;
            ASSERT_TRUE(contact(f[k + 1], g1.footX[leg], &lo1, &hi1)) << k;
            SCOPED_TRACE("frames " + std::to_string(k) + ", leg " + std::to_string(leg));
            EXPECT_LE(std::min(std::fabs(lo1 - lo0), std::fabs(hi1 - hi0)), 1.0);
            ++pairs;
        }
    }
    EXPECT_GT(pairs, 70);
}

TEST(Walk, GaitHasHumanTiming) {
    int stance[2] = {0, 0}, both = 0;
    std::vector<double> hipY;
    for (int k = 0; k < 74; ++k) {
        art::GaitFrame g = art::walkGait(k);
        stance[0] += g.planted[0];
        stance[1] += g.planted[1];
        both += g.planted[0] && g.planted[1];
        EXPECT_TRUE(g.planted[0] || g.planted[1]) << k;
        EXPECT_GT(g.minX, 2.0) << k;
        EXPECT_LT(g.maxX, 510.0) << k;
        hipY.push_back(g.hipY);
    }
    // About 60 % stance and 40 % swing for each foot, both feet down twice
    // for about a tenth of the cycle each time.
    for (int leg = 0; leg < 2; ++leg) {
        EXPECT_GE(stance[leg] / 74.0, 0.56) << leg;
        EXPECT_LE(stance[leg] / 74.0, 0.66) << leg;
    }
    EXPECT_GE(both / 74.0, 0.14);
    EXPECT_LE(both / 74.0, 0.30);
    // The body rises and falls twice per cycle, by a few percent of height.
    int minima = 0;
    for (int k = 0; k < 74; ++k)
        if (hipY[k] < hipY[(k + 73) % 74] && hipY[k] <= hipY[(k + 1) % 74]) ++minima;
    EXPECT_EQ(minima, 2);
    double range = *std::max_element(hipY.begin(), hipY.end()) - *std::min_element(hipY.begin(), hipY.end());
    EXPECT_GT(range / art::walkFigureHeight(), 0.015);
    EXPECT_LT(range / art::walkFigureHeight(), 0.04);
    // The figure is most of the frame tall, head inside it.
    art::GaitFrame g = art::walkGait(0);
    EXPECT_GT(g.headTop - art::kSoleRow, 380.0);
    EXPECT_LT(g.headTop, 500.0);
    // The hip positions the renderer's comments rely on.
    EXPECT_NEAR(art::walkHipX(0), 419.1, 0.1);
    EXPECT_NEAR(art::walkHipX(74) - art::walkHipX(0), -art::kCycleAdvance, 1e-9);
}

TEST(Cards, TitleAndCreditsHaveTextWhereExpectedAndNothingElsewhere) {
    ASSERT_TRUE(Generated::ok);
    auto coverage = [](const Pic& p, double x0, double x1, double y0, double y1) {
        int n = 0, on = 0;
        for (int y = int(y0 * p.pictureH()); y < int(y1 * p.pictureH()); ++y)
            for (int x = int(x0 * p.w); x < int(x1 * p.w); ++x, ++n) on += p.pictureAlpha(x, y) >= 0.5f;
        return double(on) / n;
    };
    auto maxAlpha = [](const Pic& p, double x0, double x1, double y0, double y1) {
        float m = 0;
        for (int y = int(y0 * p.pictureH()); y < int(y1 * p.pictureH()); ++y)
            for (int x = int(x0 * p.w); x < int(x1 * p.w); ++x) m = std::max(m, p.pictureAlpha(x, y));
        return m;
    };
    Pic title = load(image("title"));
    ASSERT_EQ(title.bpp, 4);
    EXPECT_GT(coverage(title, 0.25, 0.75, 0.45, 0.72), 0.08);
    EXPECT_EQ(maxAlpha(title, 0.0, 0.12, 0.0, 1.0), 0.f);
    EXPECT_EQ(maxAlpha(title, 0.88, 1.0, 0.0, 1.0), 0.f);
    EXPECT_EQ(maxAlpha(title, 0.0, 1.0, 0.85, 1.0), 0.f);

    Pic credits = load(image("credits"));
    ASSERT_EQ(credits.bpp, 4);
    // A heading near the top, the list in the middle, a closing line low.
    EXPECT_GT(coverage(credits, 0.35, 0.65, 0.78, 0.86), 0.02);
    EXPECT_GT(coverage(credits, 0.30, 0.70, 0.20, 0.50), 0.02);
    EXPECT_GT(coverage(credits, 0.35, 0.65, 0.06, 0.13), 0.02);
    EXPECT_EQ(maxAlpha(credits, 0.0, 0.1, 0.0, 1.0), 0.f);
    EXPECT_EQ(maxAlpha(credits, 0.9, 1.0, 0.0, 1.0), 0.f);
}

TEST(Scenes, GroundLiesUnderTheFeetAndSkiesAreOpenWhereLayersShowThrough) {
    ASSERT_TRUE(Generated::ok);
    // Columns the figure's feet cross in each scene (clip x of the walk).
    auto column = [](const Pic& p, double clipX) { return int((clipX + 1.0) * 0.5 * p.w); };
    struct Night { const char* name; double offsetY, fromX, toX; };
    for (const Night& n : {Night{"starnight", -0.42, -0.55, 0.75}, Night{"meteor_ground", -0.48, -0.25, 0.95}}) {
        SCOPED_TRACE(n.name);
        Pic p = load(image(n.name));
        ASSERT_EQ(p.bpp, 4);
        const int ground = int(art::groundV(n.offsetY) * p.pictureH());
        for (double cx = n.fromX; cx <= n.toX; cx += 0.05) {
            int x = column(p, cx);
            // Solid land from just under the soles down to the bottom edge.
            for (int y = 0; y < ground - 1; ++y) ASSERT_EQ(p.alpha(x, y), 1.f) << cx << " row " << y;
        }
        // Solid everywhere below the line under which the sky behind is not drawn at all.
        const double covers = n.name == std::string("starnight") ? art::kStarNightOpaqueBelow
                                                                  : art::kMeteorGroundOpaqueBelow;
        for (int y = 0; y <= int(covers * p.pictureH()) + 1; ++y)
            for (int x = 0; x < p.w; ++x) ASSERT_EQ(p.alpha(x, y), 1.f) << x << "," << y;
        // High sky is fully open for the stars, trails and meteors behind.
        for (int y = int(0.62 * p.pictureH()); y < p.pictureH(); y += 7)
            for (int x = int(0.2 * p.w); x < p.w; x += 13) ASSERT_EQ(p.pictureAlpha(x, y), 0.f) << x << "," << y;
    }
    // The mountain's ridge follows the figure's climb: dark rock just below
    // the path, lighter sky and peaks just above it.
    Pic m = load(image("mountain"));
    ASSERT_EQ(m.bpp, 3);
    const double x0 = 0.8 + 0.16875 * art::walkHipX(0) / 512.0, speed = 0.109 * 30 / 74;
    for (double t = 0.5; t < 29.0; t += 1.5) {
        double cx = x0 - speed * t, soles = t / 100 - 0.7 + 0.3 * 16 / 512;
        int x = column(m, cx), row = int((soles + 1) * 0.5 * m.h);
        float below = 0, above = 0;
        for (int d = 4; d < 14; ++d) {
            below += m.luma(x, row - d);
            above += m.luma(x, row + d);
        }
        EXPECT_LT(below, above * 0.6f) << "t " << t;
    }
    // Every picture has content, not a flat fill.
    for (int i = 0; i < art::kImageCount; ++i) {
        Pic p = load(image(art::kImageNames[i]));
        double s = 0, s2 = 0;
        int n = 0;
        for (int y = 0; y < p.h; y += 5)
            for (int x = 0; x < p.w; x += 5, ++n) {
                double v = p.luma(x, y) * p.alpha(x, y);
                s += v;
                s2 += v * v;
            }
        EXPECT_GT(std::sqrt(s2 / n - (s / n) * (s / n)), 0.01) << art::kImageNames[i];
    }
}

// The value a shader gives a named constant ("const float name = value;"), NaN if absent.
double shaderConstant(const std::string& file, const std::string& name) {
    std::ifstream in(std::string(VELMORA_TEST_SHADER_DIR) + "/" + file);
    const std::string text((std::istreambuf_iterator<char>(in)), {});
    const std::string key = "const float " + name + " = ";
    const size_t at = text.find(key);
    return at == std::string::npos ? std::nan("") : std::atof(text.c_str() + at + key.size());
}

TEST(Scenes, SkyPassesSkipNoMoreThanTheLandCovers) {
    EXPECT_DOUBLE_EQ(shaderConstant("meteor.fs", "groundCovers"), art::kMeteorGroundOpaqueBelow);
    // The skies' quads start at their lands' lines; the vertex shader knows the star field as
    // the one square image.
    EXPECT_DOUBLE_EQ(shaderConstant("background.vs", "starLandCovers"), art::kStarNightOpaqueBelow);
    EXPECT_DOUBLE_EQ(shaderConstant("background.vs", "meteorGroundCovers"), art::kMeteorGroundOpaqueBelow);
    ASSERT_TRUE(Generated::ok);
    for (int i = 0; i < art::kImageCount; ++i) {
        const Pic p = load(image(art::kImageNames[i]));
        EXPECT_EQ(p.w == p.h, art::kImageNames[i] == std::string("stars")) << art::kImageNames[i];
    }
}

// The layers over the bottom of the picture carry their outline in their clear top-left
// texel; the renderer draws inside it only, so nothing they show may lie outside.
TEST(Scenes, BandsShowNothingOutsideTheOutlineInTheirCorner) {
    ASSERT_TRUE(Generated::ok);
    for (const char* name : {"starnight", "meteor_ground", "title", "credits"}) {
        SCOPED_TRACE(name);
        const Pic p = load(image(name));
        ASSERT_EQ(p.bpp, 4);
        const unsigned char* corner = p.px(0, p.h - 1);
        ASSERT_EQ(corner[3], 0);
        // Its neighbours are clear too, so that no filtered lookup shows its colour.
        EXPECT_EQ(p.px(1, p.h - 1)[3] + p.px(0, p.h - 2)[3] + p.px(1, p.h - 2)[3], 0);
        const double rows = p.pictureH();
        const double bottom = corner[2] / 255.0 * rows, left = corner[1] / 255.0 * rows,
                     right = corner[0] / 255.0 * rows;
        for (int y = 0; y < p.h; ++y)
            for (int x = 0; x < p.w; ++x) {
                const unsigned char* t = p.px(x, y);
                if (t[3] == 0 || (x == 0 && y == p.h - 1)) continue;
                // Over it by a filtered lookup's reach, at both sides of its column.
                for (double u : {(x - 0.5) / p.w, (x + 1.5) / p.w})
                    ASSERT_GE(left + (right - left) * std::clamp(u, 0.0, 1.0), y + 1.5) << x << "," << y;
                // Below the bottom line only dark texels (the dither lifts them a step at most).
                if (y + 0.5 < bottom) {
                    ASSERT_LE(std::max({t[0], t[1], t[2]}), 1) << x << "," << y;
                }
            }
        if (name == std::string("meteor_ground") || name == std::string("starnight")) {
            // The lands leave their dark foreground out, and nothing but the clear is under it.
            const double covers = name == std::string("starnight") ? art::kStarNightOpaqueBelow
                                                                     : art::kMeteorGroundOpaqueBelow;
            EXPECT_GT(bottom, 0.15 * rows);
            EXPECT_LT(bottom, covers * rows);
        }
    }
    // The meteor ground is clear over its land (its air is the far sky's), so its outline hugs
    // the butte on the left and the low rim on the right.
    const Pic ground = load(image("meteor_ground"));
    EXPECT_LT(ground.px(0, ground.h - 1)[0] / 255.0, 0.32);
    // The far sky holds the glow of air: what it lets through falls toward the horizon.
    const Pic sky = load(image("meteor_sky_small"));
    ASSERT_EQ(sky.bpp, 4);
    EXPECT_EQ(sky.alpha(100, int(0.8 * sky.h)), 1.f);
    EXPECT_LT(sky.alpha(100, int(0.3 * sky.h)), 0.6f);
}

TEST(Walk, FigureIsADarkSilhouetteWithAFarSideAndANearSide) {
    ASSERT_TRUE(Generated::ok);
    // The renderer adds its tint on top of the frame's own colour: the
    // figure must be near black so that an untinted figure is a silhouette,
    // with far limbs a shade darker than near ones so crossings still read
    // when it is lit.
    float darkest = 1.f, lightest = 0.f;
    for (const Pic& p : frames())
        for (int y = 0; y < p.h; ++y)
            for (int x = 0; x < p.w; ++x) {
                if (p.alpha(x, y) < 1.f) continue;
                darkest = std::min(darkest, p.luma(x, y));
                lightest = std::max(lightest, p.luma(x, y));
            }
    EXPECT_LT(lightest, 0.1f);
    EXPECT_GT(lightest - darkest, 0.02f);
}
