#pragma once
// What differs between desktop OpenGL 3.3 and WebGL 2 for this demo, in one place.
#include <GL/glew.h>

namespace glplatform {

#ifdef __EMSCRIPTEN__
// The shaders are written as GLSL 3.30 core; a browser compiles them as GLSL ES 3.00, given
// the precision that desktop GLSL has throughout.
constexpr const char* kShaderVersionLine =
    "#version 300 es\n"
    "precision highp float;\n"
    "precision highp int;\n"
    "precision highp sampler2D;\n";
// An RGBA texture takes only RGBA bytes: no BGR, BGRA or single-channel sources.
constexpr bool kRgbaUploadsOnly = true;
// WebGL has only the form that names the texture target.
inline void attachColorTexture(GLenum attachment, GLuint texture) {
    glFramebufferTexture2D(GL_FRAMEBUFFER, attachment, GL_TEXTURE_2D, texture, 0);
}
// Points take their size from the vertex shader only, as they do here on the desktop too.
inline void pointSize(float) {}
#else
constexpr const char* kShaderVersionLine = nullptr;  // the file's own
constexpr bool kRgbaUploadsOnly = false;
inline void attachColorTexture(GLenum attachment, GLuint texture) {
    glFramebufferTexture(GL_FRAMEBUFFER, attachment, texture, 0);
}
inline void pointSize(float size) { glPointSize(size); }
#endif

}  // namespace glplatform
