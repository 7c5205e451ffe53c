#include "assets/tga.h"

#include <cstdio>
#include <cstdlib>

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
