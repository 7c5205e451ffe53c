#include "assets/tga.h"

#include "assets/glplatform.h"

#include <cstdio>
#include <cstdlib>

namespace {

// The pixels as RGBA bytes, as GL would expand them into an RGBA texture: BGR(A) reordered,
// a single channel as red with no green or blue, a missing alpha opaque. Frees `pixels`;
// null when out of memory.
unsigned char* expandToRgba(TgaImage& image, unsigned char* pixels) {
    const std::size_t count = static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height);
    auto* rgba = static_cast<unsigned char*>(std::malloc(count * 4));
    if (rgba) {
        const int n = image.bytesPerPixel;
        for (std::size_t i = 0; i < count; ++i) {
            const unsigned char* src = pixels + i * static_cast<std::size_t>(n);
            unsigned char* dst = rgba + i * 4;
            dst[0] = n == 1 ? src[0] : src[2];
            dst[1] = n == 1 ? 0 : src[1];
            dst[2] = n == 1 ? 0 : src[0];
            dst[3] = n == 4 ? src[3] : 255;
        }
        image.bytesPerPixel = 4;
        image.format = GL_RGBA;
    }
    std::free(pixels);
    return rgba;
}

}  // namespace

void loadTexture(const char* path, GLuint texture) {
    TgaImage image{};
    unsigned char* pixels = nullptr;
    const char* reason = "cannot be opened";
    if (std::FILE* file = std::fopen(path, "rb")) {
        reason = readTga(file, &image, &pixels);
        std::fclose(file);
    }

    // The caller expects the texture bound and set up even when it stays empty.
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);

    if (!reason && glplatform::kRgbaUploadsOnly && image.format != GL_RGBA) {
        pixels = expandToRgba(image, pixels);
        if (!pixels) reason = "out of memory";
    }
    if (reason) {
        std::printf("Texture error\n");
        std::printf("%s: %s\n", path, reason);
        return;
    }

    // Rows are packed in the file; with GL's default 4-byte row alignment a
    // row length that is not a multiple of 4 would make GL read past the block.
    const bool aligned = (image.width * image.bytesPerPixel) % 4 == 0;
    if (!aligned) glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width, image.height, 0, image.format, GL_UNSIGNED_BYTE,
                 pixels);
    if (!aligned) glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    std::free(pixels);
}
