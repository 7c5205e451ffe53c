#include "render/renderbuffer.h"

#include "assets/glplatform.h"
#include "assets/shader.h"

#include <cstdlib>

void* Renderbuffer::operator new(std::size_t size) {
    void* p = std::calloc(1, size);
    if (!p) std::abort();
    return p;
}

void Renderbuffer::operator delete(void* p) { std::free(p); }

Renderbuffer::Renderbuffer(int width_, int height_, int viewportY_) {
    width = width_;
    failed = false;
    textureCount = 3;
    height = height_;
    viewportY = viewportY_;

    glGenFramebuffers(1, &framebuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glGenTextures(textureCount, colorTextures);
    for (int i = 0; i < textureCount; ++i) {
        glBindTexture(GL_TEXTURE_2D, colorTextures[i]);
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glplatform::attachColorTexture(GL_COLOR_ATTACHMENT0 + i, colorTextures[i]);
    }
    const GLenum drawBuffers[3] = {GL_COLOR_ATTACHMENT0, GL_COLOR_ATTACHMENT1, GL_COLOR_ATTACHMENT2};
    glDrawBuffers(textureCount, drawBuffers);
    if (glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) failed = true;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

void Renderbuffer::composite() {
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glClear(GL_COLOR_BUFFER_BIT);  // the whole window: the bands stay black
    glViewport(0, viewportY, width, height);

    const GLuint name = program->name;
    glUseProgram(name);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, colorTextures[0]);
    glUniform1i(glGetUniformLocation(name, "color"), 0);
    glActiveTexture(GL_TEXTURE1);
    glBindTexture(GL_TEXTURE_2D, colorTextures[1]);
    glUniform1i(glGetUniformLocation(name, "bright"), 1);

    glUniform1i(glGetUniformLocation(name, "height"), height);
    glUniform1f(glGetUniformLocation(name, "fadeperc"), fadePercent);
    glUniform1i(glGetUniformLocation(name, "kernelsize"), kernelSize);
    glUniform1f(glGetUniformLocation(name, "vignette"), vignette);
    glUniform1i(glGetUniformLocation(name, "avg"), average);
    glUniform1f(glGetUniformLocation(name, "zoom"), zoom);

    glBindVertexArray(quadVertexArray);
    glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
}
