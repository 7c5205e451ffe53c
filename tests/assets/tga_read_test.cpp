// The TGA reader without GL: which files it accepts, what it makes of them,
// and the reason it gives for each kind of file it refuses.
#include "assets/tga.h"
#include "tga_bytes.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

using velmora::test::bytes;
using velmora::test::header2x2;
using velmora::test::TgaHeader;
using velmora::test::tgaFile;
using velmora::test::tgaHeader;

namespace {

struct ReadResult {
    const char* reason;
    TgaImage image;
    std::string pixels;
};

// Runs the file reader over the bytes through a temporary file.
ReadResult readBytes(const std::string& file) {
    std::FILE* f = std::tmpfile();
    std::fwrite(file.data(), 1, file.size(), f);
    std::rewind(f);
    ReadResult r{};
    unsigned char* pixels = reinterpret_cast<unsigned char*>(1);
    r.reason = readTga(f, &r.image, &pixels);
    std::fclose(f);
    if (!r.reason) {
        r.pixels.assign(reinterpret_cast<char*>(pixels), r.image.pixelSize);
        std::free(pixels);
    } else {
        EXPECT_EQ(pixels, nullptr);
    }
    return r;
}

const char* parse(const std::string& file, TgaImage* image) {
    return parseTga(reinterpret_cast<const unsigned char*>(file.data()), file.size(), image);
}

}  // namespace

TEST(TgaRead, AcceptsEachSupportedKind) {
    struct Case {
        int type, depth, width, height, bpp;
        GLenum format;
    };
    const Case cases[] = {
        {2, 24, 3, 2, 3, GL_BGR},
        {2, 32, 2, 3, 4, GL_BGRA},
        {3, 8, 5, 1, 1, GL_RED},
        {2, 8, 1, 1, 1, GL_RED},
        {3, 32, 1, 1, 4, GL_BGRA},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("type " + std::to_string(c.type) + " depth " + std::to_string(c.depth));
        TgaHeader h;
        h.imageType = c.type;
        h.depth = c.depth;
        h.width = c.width;
        h.height = c.height;
        std::string pixels;
        for (int i = 0; i < c.width * c.height * c.bpp; ++i) pixels.push_back(static_cast<char>(i * 7 + 1));
        const std::string file = tgaFile(h, pixels);

        TgaImage image{};
        ASSERT_EQ(parse(file, &image), nullptr);
        EXPECT_EQ(image.width, c.width);
        EXPECT_EQ(image.height, c.height);
        EXPECT_EQ(image.bytesPerPixel, c.bpp);
        EXPECT_EQ(image.format, c.format);
        EXPECT_EQ(image.pixelOffset, 18u);
        EXPECT_EQ(image.pixelSize, pixels.size());

        const ReadResult r = readBytes(file);
        ASSERT_EQ(r.reason, nullptr);
        EXPECT_EQ(r.image.format, c.format);
        EXPECT_EQ(r.pixels, pixels);
    }
}

TEST(TgaRead, PixelBlockBoundsAndImageId) {
    TgaHeader h;
    h.width = 2;
    h.height = 2;
    const std::string pixels = bytes({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    TgaImage image{};

    // Exactly the block, and a block followed by more (a footer) are both fine.
    EXPECT_EQ(parse(tgaFile(h, pixels), &image), nullptr);
    EXPECT_EQ(parse(tgaFile(h, pixels + "TRUEVISION-XFILE"), &image), nullptr);
    EXPECT_EQ(readBytes(tgaFile(h, pixels + "footer")).pixels, pixels);

    // The image ID is skipped: the pixels start right after it.
    h.idLength = 255;
    ASSERT_EQ(parse(tgaFile(h, pixels), &image), nullptr);
    EXPECT_EQ(image.pixelOffset, 18u + 255u);
    const ReadResult r = readBytes(tgaFile(h, pixels));
    ASSERT_EQ(r.reason, nullptr);
    EXPECT_EQ(r.pixels, pixels);

    // With the ID counted, one byte short of the block is refused.
    EXPECT_STREQ(parse(tgaFile(h, pixels.substr(1)), &image), "pixel data is incomplete");
    EXPECT_STREQ(readBytes(tgaFile(h, pixels.substr(1))).reason, "pixel data is incomplete");
}

TEST(TgaRead, RefusesEachUnsupportedFileWithItsReason) {
    const std::string block(2 * 2 * 4, 'p');
    struct Case {
        const char* name;
        std::string file;
        const char* reason;
    };
    const Case cases[] = {
        {"empty", "", "header is incomplete"},
        {"short header", tgaHeader(TgaHeader{}).substr(0, 17), "header is incomplete"},
        {"colour map", tgaFile(header2x2([](TgaHeader& h) { h.colourMapType = 1; }), block),
         "colour-mapped images are not supported"},
        {"colour-mapped type", tgaFile(header2x2([](TgaHeader& h) { h.imageType = 1; }), block),
         "only uncompressed true-colour or black-and-white images are supported"},
        {"run-length true-colour", tgaFile(header2x2([](TgaHeader& h) { h.imageType = 10; }), block),
         "only uncompressed true-colour or black-and-white images are supported"},
        {"run-length grey", tgaFile(header2x2([](TgaHeader& h) { h.imageType = 11; }), block),
         "only uncompressed true-colour or black-and-white images are supported"},
        {"no image", tgaFile(header2x2([](TgaHeader& h) { h.imageType = 0; }), block),
         "only uncompressed true-colour or black-and-white images are supported"},
        {"depth 16", tgaFile(header2x2([](TgaHeader& h) { h.depth = 16; }), block), "pixel depth is not 8, 24 or 32"},
        {"depth 0", tgaFile(header2x2([](TgaHeader& h) { h.depth = 0; }), block), "pixel depth is not 8, 24 or 32"},
        {"depth 31", tgaFile(header2x2([](TgaHeader& h) { h.depth = 31; }), block), "pixel depth is not 8, 24 or 32"},
        {"depth -32", tgaFile(header2x2([](TgaHeader& h) { h.depth = 0xe0; }), block), "pixel depth is not 8, 24 or 32"},
        {"width 0", tgaFile(header2x2([](TgaHeader& h) { h.width = 0; }), block), "width or height is not positive"},
        {"height 0", tgaFile(header2x2([](TgaHeader& h) { h.height = 0; }), block), "width or height is not positive"},
        {"negative width", tgaFile(header2x2([](TgaHeader& h) { h.width = 0x8000; }), block),
         "width or height is not positive"},
        {"negative height", tgaFile(header2x2([](TgaHeader& h) { h.height = 0xffff; }), block),
         "width or height is not positive"},
        {"block one byte short", tgaFile(header2x2([](TgaHeader&) {}), block.substr(0, 11)), "pixel data is incomplete"},
        {"no block", tgaHeader(header2x2([](TgaHeader&) {})), "pixel data is incomplete"},
        {"ID longer than file", tgaHeader(header2x2([](TgaHeader& h) { h.idLength = 200; })) + block,
         "pixel data is incomplete"},
        // The largest header a signed 16-bit size allows, on a tiny file:
        // refused from the size alone, before 4 GiB are asked for.
        {"huge", tgaFile(header2x2([](TgaHeader& h) { h.width = 32767; h.height = 32767; h.depth = 32; }), block),
         "pixel data is incomplete"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TgaImage image{};
        image.width = -7;
        EXPECT_STREQ(parse(c.file, &image), c.reason);
        EXPECT_EQ(image.width, -7) << "refused image still described";
        EXPECT_STREQ(readBytes(c.file).reason, c.reason);
    }
}

TEST(TgaRead, LargestSizesDoNotOverflow) {
    TgaHeader h;
    h.width = 32767;
    h.height = 32767;
    h.depth = 32;
    const std::string header = tgaHeader(h);
    const unsigned long long block = 32767ull * 32767ull * 4ull;
    TgaImage image{};
    const auto* p = reinterpret_cast<const unsigned char*>(header.data());
    EXPECT_STREQ(checkTgaHeader(p, 18 + block - 1, &image), "pixel data is incomplete");
    if (sizeof(std::size_t) >= 8) {
        ASSERT_EQ(checkTgaHeader(p, 18 + block, &image), nullptr);
        EXPECT_EQ(image.pixelSize, block);
    }
    // A file that ends inside the image ID must not wrap the size arithmetic.
    h.idLength = 255;
    const std::string withId = tgaHeader(h);
    EXPECT_STREQ(checkTgaHeader(reinterpret_cast<const unsigned char*>(withId.data()), 100, &image),
                 "pixel data is incomplete");
}
