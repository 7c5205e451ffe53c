// loadTexture against a real GL context: what lands in the texture, the
// state it leaves behind, and the report for each file it cannot load.
#include "assets/tga.h"
#include "gl_context.h"
#include "temp_dir.h"
#include "tga_bytes.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

using velmora::test::bytes;
using velmora::test::CaptureStdout;
using velmora::test::GlContext;
using velmora::test::header2x2;
using velmora::test::TgaHeader;
using velmora::test::tgaFile;
using velmora::test::tgaHeader;
using velmora::test::writeFile;

namespace {

class LoadTexture : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ctx_.ok()) << "no GL context";
        dir_ = std::make_unique<velmora::test::TempDir>("velmora-tga");
        glGenTextures(1, &texture_);
    }
    void TearDown() override {
        glDeleteTextures(1, &texture_);
        dir_.reset();
    }

    std::string file(const std::string& name, const std::string& contents) {
        const std::string path = *dir_ / name;
        writeFile(path, contents);
        return path;
    }

    // Loads and returns what was printed.
    std::string load(const std::string& path) {
        CaptureStdout cap;
        loadTexture(path.c_str(), texture_);
        return cap.finish();
    }

    static int level0(GLenum what) {
        GLint v = -1;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, what, &v);
        return v;
    }

    // The bound texture's level 0 as RGBA bytes, rows from t = 0 upwards.
    static std::vector<unsigned char> rgba() {
        std::vector<unsigned char> out(static_cast<size_t>(level0(GL_TEXTURE_WIDTH) * level0(GL_TEXTURE_HEIGHT) * 4));
        glPixelStorei(GL_PACK_ALIGNMENT, 4);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, out.data());
        return out;
    }

    static GLint integer(GLenum what) {
        GLint v = -1;
        glGetIntegerv(what, &v);
        return v;
    }

    GlContext ctx_{64, 64};
    std::unique_ptr<velmora::test::TempDir> dir_;
    GLuint texture_ = 0;
};

}  // namespace

// 3 x 2 pixels: a 9-byte row, which GL's default alignment would misread.
TEST_F(LoadTexture, TwentyFourBitGetsOpaqueAlphaInRgbOrder) {
    TgaHeader h;
    h.width = 3;
    h.height = 2;
    const std::string path = file("bgr.tga", tgaFile(h, bytes({
        0x10, 0x20, 0x30,  0x11, 0x21, 0x31,  0x12, 0x22, 0x32,  // first stored row: B, G, R
        0x40, 0x50, 0x60,  0x41, 0x51, 0x61,  0x42, 0x52, 0x62,
    })));
    EXPECT_EQ(load(path), "");
    EXPECT_EQ(level0(GL_TEXTURE_WIDTH), 3);
    EXPECT_EQ(level0(GL_TEXTURE_HEIGHT), 2);
    EXPECT_EQ(level0(GL_TEXTURE_INTERNAL_FORMAT), GL_RGBA);
    const std::vector<unsigned char> expected = {
        0x30, 0x20, 0x10, 255,  0x31, 0x21, 0x11, 255,  0x32, 0x22, 0x12, 255,
        0x60, 0x50, 0x40, 255,  0x61, 0x51, 0x41, 255,  0x62, 0x52, 0x42, 255,
    };
    EXPECT_EQ(rgba(), expected);
    EXPECT_EQ(integer(GL_UNPACK_ALIGNMENT), 4) << "row alignment not restored";
}

TEST_F(LoadTexture, ThirtyTwoBitKeepsAlpha) {
    TgaHeader h;
    h.width = 2;
    h.height = 2;
    h.depth = 32;
    h.descriptor = 8;  // eight alpha bits
    const std::string path = file("bgra.tga", tgaFile(h, bytes({
        1, 2, 3, 0,    4, 5, 6, 77,
        7, 8, 9, 128,  10, 11, 12, 255,
    })));
    EXPECT_EQ(load(path), "");
    const std::vector<unsigned char> expected = {3, 2, 1, 0, 6, 5, 4, 77, 9, 8, 7, 128, 12, 11, 10, 255};
    EXPECT_EQ(rgba(), expected);
}

// 5 x 3 one-byte pixels: odd rows again.
TEST_F(LoadTexture, EightBitFillsRedOnly) {
    TgaHeader h;
    h.imageType = 3;
    h.depth = 8;
    h.width = 5;
    h.height = 3;
    std::string pixels;
    for (int i = 0; i < 15; ++i) pixels.push_back(static_cast<char>(i * 17));
    const std::string path = file("grey.tga", tgaFile(h, pixels));
    EXPECT_EQ(load(path), "");
    const std::vector<unsigned char> got = rgba();
    ASSERT_EQ(got.size(), 15u * 4u);
    for (int i = 0; i < 15; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i * 4 + 0], i * 17);
        EXPECT_EQ(got[i * 4 + 1], 0);
        EXPECT_EQ(got[i * 4 + 2], 0);
        EXPECT_EQ(got[i * 4 + 3], 255);
    }
    EXPECT_EQ(integer(GL_UNPACK_ALIGNMENT), 4);
}

// The origin bits and an image ID change nothing about the row order.
TEST_F(LoadTexture, FirstStoredRowIsRowZero) {
    for (int descriptor : {0x00, 0x20}) {
        for (int idLength : {0, 7}) {
            SCOPED_TRACE("descriptor " + std::to_string(descriptor) + " id " + std::to_string(idLength));
            TgaHeader h;
            h.width = 1;
            h.height = 3;
            h.descriptor = descriptor;
            h.idLength = idLength;
            const std::string path = file("rows.tga", tgaFile(h, bytes({0, 0, 10, 0, 0, 20, 0, 0, 30})));
            EXPECT_EQ(load(path), "");
            const std::vector<unsigned char> expected = {10, 0, 0, 255, 20, 0, 0, 255, 30, 0, 0, 255};
            EXPECT_EQ(rgba(), expected);
        }
    }
}

TEST_F(LoadTexture, LeavesTextureBoundWithLinearRepeatSampling) {
    GLuint other = 0;
    glGenTextures(1, &other);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, other);
    glActiveTexture(GL_TEXTURE1);

    TgaHeader h;
    h.depth = 32;
    const std::string path = file("one.tga", tgaFile(h, bytes({1, 2, 3, 4})));
    EXPECT_EQ(load(path), "");

    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(texture_));
    auto param = [](GLenum name) {
        GLint v = -1;
        glGetTexParameteriv(GL_TEXTURE_2D, name, &v);
        return v;
    };
    EXPECT_EQ(param(GL_TEXTURE_MIN_FILTER), GL_LINEAR);
    EXPECT_EQ(param(GL_TEXTURE_MAG_FILTER), GL_LINEAR);
    EXPECT_EQ(param(GL_TEXTURE_WRAP_S), GL_REPEAT);
    EXPECT_EQ(param(GL_TEXTURE_WRAP_T), GL_REPEAT);
    GLint level1 = -1;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 1, GL_TEXTURE_WIDTH, &level1);
    EXPECT_EQ(level1, 0) << "no mipmaps expected";

    // The other unit keeps its own binding.
    glActiveTexture(GL_TEXTURE0);
    EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(other));
    glDeleteTextures(1, &other);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

// Every refused file: two lines on stdout, the texture bound but empty, and
// the next good file loads as usual.
TEST_F(LoadTexture, RefusedFilesAreReportedAndLeaveTextureEmpty) {
    const std::string block(2 * 2 * 3, 'p');
    struct Case {
        const char* name;
        std::string path;
        const char* reason;
    };
    const std::string missing = *dir_ / "missing.tga";
    const Case cases[] = {
        {"missing", missing, "cannot be opened"},
        {"directory", dir_->path().string(),
         velmora::test::kDirectoriesOpen ? "header is incomplete" : "cannot be opened"},
        {"empty", file("empty.tga", ""), "header is incomplete"},
        {"short header", file("short.tga", tgaHeader(TgaHeader{}).substr(0, 12)), "header is incomplete"},
        {"colour map", file("map.tga", tgaFile(header2x2([](TgaHeader& h) { h.colourMapType = 1; }), block)),
         "colour-mapped images are not supported"},
        {"run-length", file("rle.tga", tgaFile(header2x2([](TgaHeader& h) { h.imageType = 10; }), block)),
         "only uncompressed true-colour or black-and-white images are supported"},
        {"depth 16", file("d16.tga", tgaFile(header2x2([](TgaHeader& h) { h.depth = 16; }), block)),
         "pixel depth is not 8, 24 or 32"},
        {"width 0", file("w0.tga", tgaFile(header2x2([](TgaHeader& h) { h.width = 0; }), block)),
         "width or height is not positive"},
        {"negative height", file("hneg.tga", tgaFile(header2x2([](TgaHeader& h) { h.height = -2; }), block)),
         "width or height is not positive"},
        {"truncated", file("trunc.tga", tgaFile(header2x2([](TgaHeader&) {}), block.substr(1))),
         "pixel data is incomplete"},
        {"ID past the end", file("id.tga", tgaFile(header2x2([](TgaHeader& h) { h.idLength = 4; }), block.substr(4))),
         "pixel data is incomplete"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        glBindTexture(GL_TEXTURE_2D, 0);
        EXPECT_EQ(load(c.path), "Texture error\n" + c.path + ": " + c.reason + "\n");
        EXPECT_EQ(integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(texture_));
        EXPECT_EQ(level0(GL_TEXTURE_WIDTH), 0) << "texture got an image";
        EXPECT_EQ(integer(GL_UNPACK_ALIGNMENT), 4);
    }
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));

    const std::string good = file("good.tga", tgaFile(header2x2([](TgaHeader&) {}), block));
    EXPECT_EQ(load(good), "");
    EXPECT_EQ(level0(GL_TEXTURE_WIDTH), 2);
}
