// The generator's building blocks: its own elementary functions, the TGA
// writer, tiling noise and the height-field renderer.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "fmath.h"
#include "temp_dir.h"
#include "image.h"
#include "noise.h"
#include "scene.h"

namespace fs = std::filesystem;

TEST(FMath, AgreesWithTheLibraryAcrossItsRanges) {
    for (double x = -40.0; x <= 40.0; x += 0.0137) {
        EXPECT_NEAR(art::fm::sin(x), std::sin(x), 1e-12) << x;
        EXPECT_NEAR(art::fm::cos(x), std::cos(x), 1e-12) << x;
        EXPECT_NEAR(art::fm::exp(x * 0.5) / std::exp(x * 0.5), 1.0, 1e-13) << x;
        EXPECT_NEAR(art::fm::atan(x), std::atan(x), 1e-13) << x;
    }
    for (double x = 1e-6; x < 1e6; x *= 1.37) {
        EXPECT_NEAR(art::fm::log(x), std::log(x), 1e-12) << x;
        EXPECT_NEAR(art::fm::pow(x, 1.0 / 2.2) / std::pow(x, 1.0 / 2.2), 1.0, 1e-12) << x;
    }
    for (double a = -3.1; a < 3.14; a += 0.05) {
        double y = std::sin(a) * 2.5, x = std::cos(a) * 2.5;
        EXPECT_NEAR(art::fm::atan2(y, x), std::atan2(y, x), 1e-12) << a;
    }
    for (double c = -1.0; c <= 1.0; c += 0.01) EXPECT_NEAR(art::fm::acos(c), std::acos(c), 1e-7) << c;
    EXPECT_EQ(art::fm::pow(0.0, 2.0), 0.0);
    EXPECT_EQ(art::fm::exp(-800.0), 0.0);
}

TEST(WriteTga, StoresBgrRowsBottomUpBehindAPlainHeader) {
    art::Image img(4, 2);
    img.set(0, 0, art::Vec3(1.f, 0.f, 0.f), 1.f);         // bottom left red
    img.set(3, 0, art::Vec3(0.f, 0.f, 1.f), 0.5f);        // bottom right blue, half covered
    img.set(0, 1, art::Vec3(0.f, 1.f, 0.f), 0.f);         // top left green, transparent
    img.set(3, 1, art::Vec3(0.5f, 0.5f, 0.5f), 1.f);
    const velmora::test::TempDir tmp("velmora-art-parts");
    const fs::path& dir = tmp.path();
    auto bytes = [](const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
    };

    ASSERT_TRUE(art::writeTga((dir / "a.tga").string(), img, 32, art::Encoding::Display, 0));
    std::vector<unsigned char> b = bytes(dir / "a.tga");
    ASSERT_EQ(b.size(), 18u + 4 * 2 * 4);
    const unsigned char header[18] = {0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4, 0, 2, 0, 32, 8};
    EXPECT_TRUE(std::equal(header, header + 18, b.begin()));
    const unsigned char* px = b.data() + 18;
    // First stored row is the bottom one; blue, green, red, alpha.
    EXPECT_EQ(px[0], 0); EXPECT_EQ(px[1], 0); EXPECT_EQ(px[2], 255); EXPECT_EQ(px[3], 255);
    EXPECT_EQ(px[12], 255); EXPECT_EQ(px[13], 0); EXPECT_EQ(px[14], 0); EXPECT_EQ(px[15], 128);
    EXPECT_EQ(px[16 + 1], 255); EXPECT_EQ(px[16 + 3], 0);
    EXPECT_EQ(px[16 + 12], 128);

    // Linear light is gamma encoded on the way out; 24-bit drops alpha.
    ASSERT_TRUE(art::writeTga((dir / "b.tga").string(), img, 24, art::Encoding::Linear, 0));
    b = bytes(dir / "b.tga");
    ASSERT_EQ(b.size(), 18u + 4 * 2 * 3);
    EXPECT_EQ(b[16], 24);
    EXPECT_EQ(b[17], 0);
    EXPECT_EQ(b[18 + 12 + 9], 186);  // 0.5 ^ (1 / 2.2) = 0.7297

    // Rows that would not be whole multiples of 4 bytes are refused.
    art::Image odd(2, 2);
    EXPECT_FALSE(art::writeTga((dir / "c.tga").string(), odd, 24, art::Encoding::Display, 0));
    EXPECT_FALSE(fs::exists(dir / "c.tga"));
    EXPECT_FALSE(art::writeTga((dir / "no-such-dir" / "d.tga").string(), img, 32, art::Encoding::Display, 0));
}

TEST(Noise, StaysInRangeAndTilesWithAPeriod) {
    for (int i = 0; i < 2000; ++i) {
        float x = i * 0.731f - 300.f, y = i * 0.377f + 11.f;
        float v = art::valueNoise(x, y, 9);
        ASSERT_GE(v, 0.f);
        ASSERT_LE(v, 1.f);
        // A period of 6 cells wraps the lattice in x and in y.
        EXPECT_NEAR(art::fbm(x, y, 5, 4, 0.5f, 2.f, 6), art::fbm(x + 6.f, y, 5, 4, 0.5f, 2.f, 6), 1e-4f);
        EXPECT_NEAR(art::fbm(x, y, 5, 4, 0.5f, 2.f, 6), art::fbm(x, y - 12.f, 5, 4, 0.5f, 2.f, 6), 1e-4f);
    }
    // Different seeds give different fields.
    EXPECT_NE(art::valueNoise(3.3f, 4.4f, 1), art::valueNoise(3.3f, 4.4f, 2));
}

TEST(Terrain, FillsEachColumnUpToTheGroundWithExactEdgeCoverage) {
    // Flat ground with a 10 m wall 100 m out: the wall's top lands
    // (10 - eye) * focal / 100 rows above the horizon.
    const art::Camera cam{8, 200, 100.0, 200.0, 2.0};
    art::TerrainStyle st;
    st.height = [](float, float z) { return z >= 100.f ? 10.f : 0.f; };
    st.shade = [](float, float, float, art::Vec3) { return art::Vec3(0.5f, 0.25f, 1.f); };
    st.zNear = 0.5;
    st.zFar = 400.0;
    st.stepScale = 0.002;
    art::Image out = art::renderTerrain(cam, st);
    const double wallTop = cam.horizon + (10.0 - cam.eye) * cam.focal / 100.0;  // row 116
    for (int x = 0; x < 8; ++x) {
        for (int y = 0; y < 115; ++y) ASSERT_NEAR(out.alpha(x, y), 1.f, 1e-5f) << y;
        for (int y = 117; y < 200; ++y) ASSERT_EQ(out.alpha(x, y), 0.f) << y;
        // Colour is premultiplied by coverage.
        EXPECT_NEAR(out.rgb(x, 50).g, 0.25f, 1e-5f);
    }
    EXPECT_NEAR(115.0 + out.alpha(4, 115) + out.alpha(4, 116), wallTop, 0.05);
    EXPECT_NEAR(cam.groundDepth(50.0), 2.0 * 200.0 / 50.0, 1e-12);
}

// A band 64 texels wide (a picture of 36 rows) holding 20 rows: dark rows at the bottom, land
// from row 6, and a peak on the left up to row 17.
TEST(Outline, BoundsWhatABandShowsAndTravelsInItsClearCorner) {
    art::Image band(64, 20);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 64; ++x) {
            const int top = x < 10 ? 17 : 9;
            if (y <= top) band.set(x, y, art::Vec3(y < 6 ? 0.f : 0.3f), 1.f);
        }
    const art::Outline o = art::outlineOf(band);
    const double rows = 36.0;
    // Below the first lit row, within a row of it; rounded down to 255ths.
    EXPECT_LE(o.bottom / 255.0 * rows, 5.0);
    EXPECT_GE(o.bottom / 255.0 * rows, 4.0);
    // Over every shown texel by more than a filtered lookup reaches, and lower on the right.
    for (int x = 0; x < 64; ++x)
        for (double u : {(x - 0.5) / 64, (x + 1.5) / 64}) {
            const double edge = (o.topLeft + (o.topRight - o.topLeft) * std::clamp(u, 0.0, 1.0)) / 255.0 * rows;
            EXPECT_GE(edge, (x < 10 ? 17 : 9) + 1.5) << x;
        }
    EXPECT_LT(o.topRight, o.topLeft);
    EXPECT_LT(o.topRight / 255.0 * rows, 13.0);

    // Written into the top-left texel, clear, and kept exact by the writer's dither.
    const art::Image marked = art::withOutline(band);
    EXPECT_EQ(marked.alpha(0, 19), 0.f);
    const velmora::test::TempDir tmp("velmora-art-outline");
    const fs::path file = tmp.path() / "band.tga";
    ASSERT_TRUE(art::writeTga(file.string(), marked, 32, art::Encoding::Display, 0x1234u));
    std::ifstream in(file, std::ios::binary);
    const std::vector<unsigned char> b(std::istreambuf_iterator<char>(in), {});
    const unsigned char* corner = b.data() + 18 + 19 * 64 * 4;
    EXPECT_EQ(corner[2], o.bottom);
    EXPECT_EQ(corner[1], o.topLeft);
    EXPECT_EQ(corner[0], o.topRight);
    EXPECT_EQ(corner[3], 0);
    // Everything else as drawn (the dither moves a shown value by one step at most).
    EXPECT_NEAR(b[18 + (8 * 64 + 30) * 4], 77, 1);
}

TEST(Softening, SpreadsAnEdgeEvenlyAndKeepsFlatPartsAndTheBorder) {
    art::Image img(8, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x) img.set(x, y, art::Vec3(x < 4 ? 0.f : 1.f), 1.f);
    const art::Image soft = art::diagonallySoftened(img);
    for (int y = 0; y < 4; ++y) {
        EXPECT_FLOAT_EQ(soft.rgb(0, y).r, 0.f);
        EXPECT_FLOAT_EQ(soft.rgb(7, y).r, 1.f);  // held inside at the border, not wrapped
        EXPECT_NEAR(soft.rgb(3, y).r, 0.3f, 1e-6f);
        EXPECT_NEAR(soft.rgb(4, y).r, 0.7f, 1e-6f);
        EXPECT_FLOAT_EQ(soft.alpha(5, y), 1.f);
    }
}
