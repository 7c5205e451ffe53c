#pragma once
// Small readers for the render tests: window pixels and uniforms as GL holds them.
#include <GL/glew.h>

#include "render/renderbuffer.h"

#include <cstdio>
#include <string>
#include <vector>

namespace velmora::test {

// RGB of the window's back buffer, rows from the bottom.
inline std::vector<unsigned char> readWindow(int width, int height) {
    std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
    glFinish();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, rgb.data());
    return rgb;
}

// Clears the bound framebuffer to an opaque colour, then gives GL back the clear colour the
// system relies on (it never sets one).
inline void clearTo(float red, float green, float blue) {
    glClearColor(red, green, blue, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
}

// The composite's parameters for a plain picture: no fade, no softening, the usual vignette, no
// zoom.
inline void plainComposite(Renderbuffer& rb, int kernelSize) {
    rb.fadePercent = 0.0f;
    rb.kernelSize = kernelSize;
    rb.average = 0;
    rb.vignette = 0.8f;
    rb.zoom = 1.0f;
}

inline int rowMax(const std::vector<unsigned char>& rgb, int width, int row) {
    int m = 0;
    for (int i = 0; i < width * 3; ++i) m = std::max<int>(m, rgb[static_cast<size_t>(row) * width * 3 + i]);
    return m;
}

inline double meanOf(const std::vector<unsigned char>& rgb) {
    double s = 0;
    for (unsigned char c : rgb) s += c;
    return rgb.empty() ? 0 : s / static_cast<double>(rgb.size());
}

inline GLint uniformInt(GLuint program, const char* name) {
    GLint v = -12345;
    glGetUniformiv(program, glGetUniformLocation(program, name), &v);
    return v;
}

inline std::vector<GLfloat> uniformFloats(GLuint program, const char* name, int count) {
    std::vector<GLfloat> v(static_cast<size_t>(count), -12345.0f);
    glGetUniformfv(program, glGetUniformLocation(program, name), v.data());
    return v;
}

inline GLint boundTexture(GLenum unit) {
    GLint active = 0, name = 0;
    glGetIntegerv(GL_ACTIVE_TEXTURE, &active);
    glActiveTexture(unit);
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &name);
    glActiveTexture(static_cast<GLenum>(active));
    return name;
}

// Width and height from a TGA file's header.
inline bool tgaSize(const std::string& path, int* width, int* height) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    unsigned char h[18];
    const bool ok = std::fread(h, 1, sizeof h, f) == sizeof h;
    std::fclose(f);
    *width = h[12] | (h[13] << 8);
    *height = h[14] | (h[15] << 8);
    return ok;
}

}  // namespace velmora::test
