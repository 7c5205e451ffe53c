// Full-screen image passes and the particle cloud. Every pass selects its
// units itself, sets its samplers first and looks each uniform up right
// before setting it.
#include "render/demo.h"

#include "assets/glplatform.h"
#include "assets/shader.h"
#include "render/particles.h"
#include "render/timing.h"

namespace {

void setInt(GLuint program, const char* name, GLint value) {
    glUniform1i(glGetUniformLocation(program, name), value);
}

void setFloat(GLuint program, const char* name, double value) {
    glUniform1f(glGetUniformLocation(program, name), static_cast<GLfloat>(value));
}

void bindUnit(GLenum unit, GLuint texture, GLuint program, const char* sampler) {
    glActiveTexture(unit);
    glBindTexture(GL_TEXTURE_2D, texture);
    setInt(program, sampler, static_cast<GLint>(unit - GL_TEXTURE0));
}

}  // namespace

void Demo::fullScreenQuad() {
    glBindVertexArray(quadVertexArray);
    glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
}

void Demo::drawBackground(GLuint image, GLuint bright) {
    const GLuint p = backgroundProgram->name;
    const GLint glowKernel = 9;
    glUseProgram(p);
    bindUnit(GL_TEXTURE0, image, p, "img");
    bindUnit(GL_TEXTURE1, bright, p, "bright");
    setInt(p, "width", width);
    setInt(p, "kernelsize", glowKernel);
    fullScreenQuad();
}

void Demo::drawHeatShock(GLuint image, GLuint bright, double time) {
    const GLuint p = heatshockProgram->name;
    glUseProgram(p);
    bindUnit(GL_TEXTURE0, image, p, "img");
    bindUnit(GL_TEXTURE1, bright, p, "bright");
    setInt(p, "width", width);
    setFloat(p, "time", time);
    fullScreenQuad();
}

void Demo::drawStarTrails(double time) {
    const GLuint p = rotateProgram->name;
    glUseProgram(p);
    bindUnit(GL_TEXTURE0, textures[kStars], p, "rotimg");
    setFloat(p, "time", time);
    setFloat(p, "startrail", velmora::starTrailFactor(time));
    fullScreenQuad();
}

void Demo::drawMeteors(GLuint small, GLuint big, double time) {
    const GLuint p = meteorProgram->name;
    glUseProgram(p);
    bindUnit(GL_TEXTURE0, small, p, "smallimg");
    bindUnit(GL_TEXTURE1, big, p, "bigimg");
    setFloat(p, "time", time);
    fullScreenQuad();
}

void Demo::drawParticles(double time) {
    const double rate = 30.0;  // walk frames per second
    glEnable(GL_POINT_SPRITE);
    glplatform::pointSize(velmora::particlePointSize(width));
    const GLuint p = spriteProgram->name;
    glUseProgram(p);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, textures[velmora::walkFrame(time, rate)]);
    setInt(p, "img", 0);
    setFloat(p, "time", time);
    glBindVertexArray(textures[kParticleVertexArray]);
    glDrawArrays(GL_POINTS, 0, velmora::kParticleCount);
    glDisable(GL_POINT_SPRITE);
}
