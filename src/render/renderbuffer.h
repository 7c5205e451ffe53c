#pragma once
// The offscreen picture: one framebuffer with three colour textures the size
// of the letterboxed 16:9 viewport, and the composite that draws it into the
// window through the post-process program.
#include <GL/glew.h>

#include <cstddef>

class ShaderProgram;

struct Renderbuffer {
    Renderbuffer(int width, int height, int viewportY);
    void composite();

    // Zero-filled before the constructor runs.
    static void* operator new(std::size_t size);
    static void operator delete(void* p);

    GLuint framebuffer = 0;       // owned
    GLuint colorTextures[3] = {};  // owned; texture i is colour attachment i
    GLuint quadVertexArray = 0;   // the Demo's full-screen quad, not owned
    GLint width = 0;
    GLint height = 0;
    GLint viewportY = 0;
    bool failed = false;          // framebuffer incomplete after construction
    GLint textureCount = 0;
    // Set by the timeline before every composite.
    GLfloat fadePercent = 0.0f;
    GLint kernelSize = 0;
    GLint average = 0;
    GLfloat vignette = 0.0f;
    GLfloat zoom = 0.0f;
    ShaderProgram* program = nullptr;  // the Demo's post-process program, not owned
};
