// libFuzzer target for the TGA reader: the in-memory check and the file
// reader must agree, and an accepted image must lie wholly inside the input.
#include "assets/tga.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "tga_fuzz: %s\n", what);
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TgaImage image;
    const char* reason = parseTga(data, size, &image);
    if (!reason) {
        require(image.width > 0 && image.width <= 32767, "width out of range");
        require(image.height > 0 && image.height <= 32767, "height out of range");
        const int bpp = image.bytesPerPixel;
        require(bpp == 1 || bpp == 3 || bpp == 4, "bytes per pixel");
        require(image.format == (bpp == 1 ? GL_RED : bpp == 3 ? GL_BGR : GL_BGRA), "format");
        require(image.pixelOffset == kTgaHeaderSize + data[0], "pixel offset");
        require(image.pixelSize == static_cast<std::size_t>(image.width) * image.height * bpp, "pixel size");
        require(image.pixelOffset <= size && image.pixelSize <= size - image.pixelOffset, "block outside input");
    }

    // The same bytes through the file reader. fmemopen refuses an empty buffer.
    if (size == 0) return 0;
    std::FILE* file = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!file) return 0;
    TgaImage read;
    unsigned char* pixels = nullptr;
    const char* readReason = readTga(file, &read, &pixels);
    std::fclose(file);
    require((reason == nullptr) == (readReason == nullptr), "reader and parser disagree");
    if (reason) {
        require(std::strcmp(reason, readReason) == 0, "different reasons");
        require(pixels == nullptr, "pixels on failure");
    } else {
        require(read.width == image.width && read.height == image.height &&
                    read.bytesPerPixel == image.bytesPerPixel && read.format == image.format &&
                    read.pixelOffset == image.pixelOffset && read.pixelSize == image.pixelSize,
                "different images");
        require(pixels != nullptr, "no pixels");
        require(std::memcmp(pixels, data + image.pixelOffset, image.pixelSize) == 0, "different pixels");
        std::free(pixels);
    }
    return 0;
}
