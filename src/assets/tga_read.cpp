#include "assets/tga.h"

#include <cstdlib>

namespace {

const char* const kIncompleteHeader = "header is incomplete";
const char* const kIncompletePixels = "pixel data is incomplete";

int signed16(const unsigned char* p) {
    int v = p[0] | (p[1] << 8);
    return v >= 0x8000 ? v - 0x10000 : v;
}

}  // namespace

const char* checkTgaHeader(const unsigned char* header, unsigned long long fileSize, TgaImage* image) {
    const unsigned idLength = header[0];
    const unsigned colourMapType = header[1];
    const unsigned imageType = header[2];
    const int width = signed16(header + 12);
    const int height = signed16(header + 14);
    const int depth = static_cast<signed char>(header[16]);

    // A colour map would sit between the ID and the pixels and make them
    // indices; neither is something GL can take as it lies.
    if (colourMapType != 0) return "colour-mapped images are not supported";
    if (imageType != 2 && imageType != 3)
        return "only uncompressed true-colour or black-and-white images are supported";
    if (depth != 8 && depth != 24 && depth != 32) return "pixel depth is not 8, 24 or 32";
    if (width <= 0 || height <= 0) return "width or height is not positive";

    const int bytesPerPixel = depth / 8;
    const unsigned long long offset = kTgaHeaderSize + idLength;
    // At most 32767 * 32767 * 4, which 64 bits hold with room to spare.
    const unsigned long long size =
        static_cast<unsigned long long>(width) * static_cast<unsigned long long>(height) * bytesPerPixel;
    if (fileSize < offset || fileSize - offset < size) return kIncompletePixels;
    if (static_cast<std::size_t>(size) != size) return "image is too large";

    image->width = width;
    image->height = height;
    image->bytesPerPixel = bytesPerPixel;
    image->format = bytesPerPixel == 1 ? GL_RED : bytesPerPixel == 3 ? GL_BGR : GL_BGRA;
    image->pixelOffset = static_cast<std::size_t>(offset);
    image->pixelSize = static_cast<std::size_t>(size);
    return nullptr;
}

const char* parseTga(const unsigned char* bytes, std::size_t size, TgaImage* image) {
    if (size < kTgaHeaderSize) return kIncompleteHeader;
    return checkTgaHeader(bytes, size, image);
}

const char* readTga(std::FILE* file, TgaImage* image, unsigned char** pixels) {
    *pixels = nullptr;

    // ID length, colour map type, image type, colour map entries,
    // origin, width, height, depth, descriptor.
    static const std::size_t fields[] = {1, 1, 1, 5, 4, 2, 2, 1, 1};
    unsigned char header[kTgaHeaderSize];
    std::size_t at = 0;
    for (std::size_t n : fields) {
        if (std::fread(header + at, 1, n, file) != n) return kIncompleteHeader;
        at += n;
    }

    // The file's size bounds the pixel block before anything is allocated.
    if (std::fseek(file, 0, SEEK_END) != 0) return "file size is unknown";
    const long end = std::ftell(file);
    if (end < 0) return "file size is unknown";

    TgaImage found;
    if (const char* reason = checkTgaHeader(header, static_cast<unsigned long long>(end), &found))
        return reason;

    // Skips the image ID, if any.
    if (std::fseek(file, static_cast<long>(found.pixelOffset), SEEK_SET) != 0) return kIncompletePixels;
    unsigned char* block = static_cast<unsigned char*>(std::malloc(found.pixelSize));
    if (!block) return "out of memory";
    if (std::fread(block, 1, found.pixelSize, file) != found.pixelSize) {
        std::free(block);
        return kIncompletePixels;
    }
    *image = found;
    *pixels = block;
    return nullptr;
}
