#pragma once
// The renderer: owns every GL resource of the show and draws one frame for a
// music time. Built once, after the window's context is current and before
// the music starts; deleted after the frame loop, with the context current.
#include <GL/glew.h>

#include <cstddef>

class ShaderProgram;
struct Renderbuffer;

namespace velmora {
// Puts the four scenes' walkers back where they start, as at program start. Each run begins
// with it (a web page may play the demo more than once in one process), and so do tests that
// play the scenes more than once; within a run the walkers never go back.
void resetWalkers();
}  // namespace velmora

class Demo {
public:
    // Texture table: walk frames first, then the images, then the particle
    // cloud's vertex array and buffer.
    enum Slot {
        kDesert = 74,
        kDesertBright = 75,
        kMountain = 76,
        kStarNight = 77,
        kStars = 78,
        kMeteorGround = 79,
        kMeteorSkySmall = 80,
        kMeteorSkyBig = 81,
        kCredits = 82,
        kTitle = 83,
        kParticleVertexArray = 84,
        kParticleBuffer = 85,
        kSlotCount = 86,
    };

    Demo(int width, int height);
    ~Demo();
    Demo(const Demo&) = delete;
    Demo& operator=(const Demo&) = delete;

    // False when the GL could not be initialised and the Demo stayed empty.
    bool ready() const { return renderbuffer != nullptr; }

    // One frame for the music time t, ending in the window.
    void render(double t);

    // The walking-figure scenes; t is the time since their row opened.
    void sceneDesert(double t);
    void sceneMeteor(double t);
    void sceneMountain(double t);
    void sceneStarNight(double t);
    void drawSprite(GLuint program, int frame, float offsetX, float offsetY, float red, float green,
                    float blue);

    // Full-screen image passes and the particle cloud.
    void drawBackground(GLuint image, GLuint bright);
    void drawHeatShock(GLuint image, GLuint bright, double time);
    void drawStarTrails(double time);
    void drawMeteors(GLuint small, GLuint big, double time);
    void drawParticles(double time);

    // Zero-filled before the constructor runs, so an early return leaves an
    // empty Demo that the destructor can take apart.
    static void* operator new(std::size_t size);
    static void operator delete(void* p);

    GLint viewportY;
    GLint width;
    GLint viewportHeight;
    GLuint quadBuffers[4];
    GLuint quadVertexArray;
    GLuint textures[kSlotCount];
    Renderbuffer* renderbuffer;
    ShaderProgram* defaultProgram;
    ShaderProgram* movingProgram;
    ShaderProgram* spriteProgram;
    ShaderProgram* textSpriteProgram;
    ShaderProgram* dshadowProgram;
    ShaderProgram* backgroundProgram;
    ShaderProgram* postprocessProgram;
    ShaderProgram* rotateProgram;
    ShaderProgram* meteorProgram;
    ShaderProgram* heatshockProgram;

private:
    void fullScreenQuad();
};
