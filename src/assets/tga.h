#pragma once
// TGA textures: a GL-free reader that checks a file before anything is
// allocated, and the loader that uploads the result into a GL texture.
#include <GL/glew.h>

#include <cstddef>
#include <cstdio>

// What a checked TGA file holds. The pixel block lies in the file at
// pixelOffset, pixelSize bytes long, rows bottom-up as stored.
struct TgaImage {
    int width;                // 1 .. 32767
    int height;               // 1 .. 32767
    int bytesPerPixel;        // 1, 3 or 4
    GLenum format;            // GL_RED, GL_BGR or GL_BGRA
    std::size_t pixelOffset;  // 18 + the image ID length
    std::size_t pixelSize;    // width * height * bytesPerPixel
};

constexpr std::size_t kTgaHeaderSize = 18;

// Checks an 18-byte header against what the loader supports, for a file of
// fileSize bytes. Returns nullptr and fills image when the file is usable,
// otherwise a short reason (a static string) and leaves image alone.
const char* checkTgaHeader(const unsigned char* header, unsigned long long fileSize, TgaImage* image);

// The same check for a whole file held in memory (bytes, size).
const char* parseTga(const unsigned char* bytes, std::size_t size, TgaImage* image);

// Reads an open file: the header field by field, then the pixel block in one
// read. On success returns nullptr, fills image and hands over the pixel
// block in *pixels (malloc'd, the caller frees it); otherwise returns the
// reason and *pixels is null.
const char* readTga(std::FILE* file, TgaImage* image, unsigned char** pixels);

// Fills the generated texture name with the image at path. The texture is
// left bound to GL_TEXTURE_2D on the active unit. A file that cannot be
// loaded is reported on stdout and leaves the texture without an image.
void loadTexture(const char* path, GLuint texture);
