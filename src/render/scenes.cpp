// The walking-figure scenes. Each keeps its own walker: the frame it drew
// last and its x, which moves one step left per animation cycle.
#include "render/demo.h"

#include "assets/shader.h"
#include "render/timing.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace {

struct Walker {
    int lastFrame;
    float x;
};

// Each scene's walker and where it starts. They live for the whole run and
// never reset in it: each row is entered once.
enum Scene { kDesertScene, kMeteorScene, kMountainScene, kStarNightScene, kSceneCount };
constexpr Walker kStarts[kSceneCount] = {{0, 0.8f}, {0, 0.9f}, {0, 0.8f}, {0, 0.6f}};
Walker walkers[kSceneCount] = {kStarts[0], kStarts[1], kStarts[2], kStarts[3]};

}  // namespace

void velmora::resetWalkers() { std::copy(std::begin(kStarts), std::end(kStarts), walkers); }

void Demo::drawSprite(GLuint program, int frame, float offsetX, float offsetY, float red, float green,
                      float blue) {
    glUseProgram(program);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, textures[frame]);
    glUniform1i(glGetUniformLocation(program, "img"), 0);
    glUniform2f(glGetUniformLocation(program, "offset"), offsetX, offsetY);
    glUniform3f(glGetUniformLocation(program, "color"), red, green, blue);
    glBindVertexArray(quadVertexArray);
    glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
}

void Demo::sceneDesert(double t) {
    Walker& walker = walkers[kDesertScene];
    const double rate = 23.0;
    const float groundY = -0.28f, shadowY = -0.13f;

    drawHeatShock(textures[kDesert], textures[kDesertBright], t);
    const int frame = velmora::walkFrame(t, rate);
    if (velmora::steppedBackward(frame, walker.lastFrame)) walker.x = velmora::stepLeft(walker.x);
    drawSprite(movingProgram->name, frame, walker.x, groundY, 0.0f, 0.0f, 0.0f);
    drawSprite(dshadowProgram->name, frame, walker.x, shadowY, 0.0f, 0.0f, 0.0f);
    walker.lastFrame = frame;
}

void Demo::sceneMeteor(double t) {
    Walker& walker = walkers[kMeteorScene];
    const double rate = 30.0;
    const float groundY = -0.48f;

    const int frame = velmora::walkFrame(t, rate);
    if (velmora::steppedBackward(frame, walker.lastFrame)) walker.x = velmora::stepLeft(walker.x);
    drawMeteors(textures[kMeteorSkySmall], textures[kMeteorSkyBig], t);
    drawBackground(textures[kMeteorGround], textures[kMeteorGround]);
    // Green meteor light on the figure; below zero it takes green away.
    const float green = static_cast<float>(std::sin(t));
    drawSprite(movingProgram->name, frame, walker.x, groundY, 0.0f, green, 0.0f);
    walker.lastFrame = frame;
}

void Demo::sceneMountain(double t) {
    Walker& walker = walkers[kMountainScene];
    const double rate = 30.0;

    drawBackground(textures[kMountain], 0);
    const int frame = velmora::walkFrame(t, rate);
    if (velmora::steppedBackward(frame, walker.lastFrame)) walker.x = velmora::stepLeft(walker.x);
    const float climbY = static_cast<float>(t / 100.0 - 0.7);  // up the slope
    drawSprite(movingProgram->name, frame, walker.x, climbY, 0.0f, 0.0f, 0.0f);
    walker.lastFrame = frame;
}

void Demo::sceneStarNight(double t) {
    Walker& walker = walkers[kStarNightScene];
    const double rate = 30.0;
    const float groundY = -0.42f;

    drawStarTrails(t);
    drawBackground(textures[kStarNight], 0);
    const int frame = velmora::walkFrame(t, rate);
    if (velmora::steppedBackward(frame, walker.lastFrame)) walker.x = velmora::stepLeft(walker.x);
    drawSprite(movingProgram->name, frame, walker.x, groundY, 1.0f, 1.0f, 1.0f);
    walker.lastFrame = frame;
}
