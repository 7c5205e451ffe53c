#include "render/demo.h"

#include "assets/paths.h"
#include "assets/shader.h"
#include "assets/tga.h"
#include "render/particles.h"
#include "render/renderbuffer.h"
#include "render/timing.h"

#include <cstdio>
#include <cstdlib>

void* Demo::operator new(std::size_t size) {
    void* p = std::calloc(1, size);
    if (!p) std::abort();
    return p;
}

void Demo::operator delete(void* p) { std::free(p); }

namespace {

#define SHADER(file) VELMORA_DATA "shaders" VELMORA_SEP file
#define IMAGE(file) VELMORA_DATA "textures" VELMORA_SEP file

// The quad's four attribute arrays, each four vertices in fan order.
const GLfloat kQuad[4][8] = {
    {0.0f, 0.0f, 0.3f, 0.0f, 0.3f, 0.3f, 0.0f, 0.3f},      // 0: the figure's 0.3 square
    {0.0f, 0.0f, 1.0f, 0.0f, 1.0f, 1.0f, 0.0f, 1.0f},      // 1: texture coordinates
    {-1.0f, -1.0f, 1.0f, -1.0f, 1.0f, 1.0f, -1.0f, 1.0f},  // 2: all of clip space
    {0.0f, 0.0f, 0.3f, 0.0f, 0.3f, -1.0f, 0.0f, -1.0f},    // 3: hangs below, for the shadow
};

// Images in the order they are read, with their slots.
struct ImageFile {
    const char* path;
    int slot;
};
const ImageFile kImages[] = {
    {IMAGE("desert.tga"), Demo::kDesert},
    {IMAGE("mountain.tga"), Demo::kMountain},
    {IMAGE("desertbright.tga"), Demo::kDesertBright},
    {IMAGE("starnight.tga"), Demo::kStarNight},
    {IMAGE("stars.tga"), Demo::kStars},
    {IMAGE("meteor_ground.tga"), Demo::kMeteorGround},
    {IMAGE("meteor_sky_small.tga"), Demo::kMeteorSkySmall},
    {IMAGE("meteor_sky_big.tga"), Demo::kMeteorSkyBig},
    {IMAGE("credits.tga"), Demo::kCredits},
    {IMAGE("title.tga"), Demo::kTitle},
};

// Programs in build order: each is complete before the next is created.
struct ProgramRow {
    ShaderProgram* Demo::*field;
    const char* firstFile;
    GLenum firstType;
    const char* secondFile;
    GLenum secondType;
};
const ProgramRow kPrograms[] = {
    {&Demo::defaultProgram, SHADER("default.vs"), GL_VERTEX_SHADER, SHADER("default.fs"), GL_FRAGMENT_SHADER},
    {&Demo::movingProgram, SHADER("moving.vs"), GL_VERTEX_SHADER, SHADER("default.fs"), GL_FRAGMENT_SHADER},
    {&Demo::spriteProgram, SHADER("sprite.vs"), GL_VERTEX_SHADER, SHADER("sprite.fs"), GL_FRAGMENT_SHADER},
    {&Demo::textSpriteProgram, SHADER("textsprite.vs"), GL_VERTEX_SHADER, SHADER("textsprite.fs"), GL_FRAGMENT_SHADER},
    {&Demo::dshadowProgram, SHADER("dshadow.vs"), GL_VERTEX_SHADER, SHADER("default.fs"), GL_FRAGMENT_SHADER},
    {&Demo::backgroundProgram, SHADER("background.vs"), GL_VERTEX_SHADER, SHADER("background.fs"), GL_FRAGMENT_SHADER},
    {&Demo::heatshockProgram, SHADER("heatshock.fs"), GL_FRAGMENT_SHADER, SHADER("background.vs"), GL_VERTEX_SHADER},
    {&Demo::postprocessProgram, SHADER("background.vs"), GL_VERTEX_SHADER, SHADER("postprocess.fs"), GL_FRAGMENT_SHADER},
    {&Demo::rotateProgram, SHADER("background.vs"), GL_VERTEX_SHADER, SHADER("rotate.fs"), GL_FRAGMENT_SHADER},
    {&Demo::meteorProgram, SHADER("background.vs"), GL_VERTEX_SHADER, SHADER("meteor.fs"), GL_FRAGMENT_SHADER},
};

// Teardown order of the programs.
ShaderProgram* Demo::* const kTeardown[] = {
    &Demo::defaultProgram, &Demo::movingProgram,   &Demo::spriteProgram,      &Demo::rotateProgram,
    &Demo::backgroundProgram, &Demo::meteorProgram, &Demo::textSpriteProgram, &Demo::dshadowProgram,
    &Demo::postprocessProgram, &Demo::heatshockProgram,
};

void pointAttribute(GLuint location) {
    glVertexAttribPointer(location, 2, GL_FLOAT, GL_FALSE, 0, nullptr);
    glEnableVertexAttribArray(location);
}

}  // namespace

Demo::Demo(int width_, int height_) {
    if (glewInit() != GLEW_OK) {
        std::printf("OpenGL init failed\n");
        return;
    }

    const velmora::Letterbox box = velmora::letterbox(width_, height_);
    viewportY = box.viewportY;
    width = width_;
    viewportHeight = box.viewportHeight;
    glViewport(0, viewportY, width, viewportHeight);

    // The particle cloud: one seed point per particle, read by the particle shader.
    const int particleFloats = 2 * velmora::kParticleCount;
    glGenVertexArrays(1, &textures[kParticleVertexArray]);
    glBindVertexArray(textures[kParticleVertexArray]);
    float* seeds = static_cast<float*>(std::malloc(particleFloats * sizeof(float)));
    velmora::fillParticleSeeds(seeds, velmora::kParticleCount);
    glGenBuffers(1, &textures[kParticleBuffer]);
    glBindBuffer(GL_ARRAY_BUFFER, textures[kParticleBuffer]);
    glBufferData(GL_ARRAY_BUFFER, particleFloats * sizeof(float), seeds, GL_STATIC_DRAW);
    pointAttribute(0);
    std::free(seeds);

    glGenVertexArrays(1, &quadVertexArray);
    glBindVertexArray(quadVertexArray);
    glGenBuffers(4, quadBuffers);
    for (GLuint k = 0; k < 4; ++k) {
        glBindBuffer(GL_ARRAY_BUFFER, quadBuffers[k]);
        glBufferData(GL_ARRAY_BUFFER, sizeof kQuad[k], kQuad[k], GL_STATIC_DRAW);
        pointAttribute(k);
    }

    // Set once for the whole run. GL_TEXTURE_2D is a no-op for programmable
    // drawing (and an invalid enum in a core context; nothing reads errors).
    glEnable(GL_TEXTURE_2D);
    glEnable(GL_PROGRAM_POINT_SIZE);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);

    const int frameCount = velmora::kWalkFrames;
    glGenTextures(frameCount, textures);
    for (int i = 0; i < frameCount; ++i) {
        char path[22];
        std::snprintf(path, sizeof path, VELMORA_DATA "walk" VELMORA_SEP "out%d.tga", i);
        loadTexture(path, textures[i]);
    }
    for (const ImageFile& image : kImages) {
        glGenTextures(1, &textures[image.slot]);
        loadTexture(image.path, textures[image.slot]);
    }

    for (const ProgramRow& row : kPrograms) {
        ShaderProgram* program = new ShaderProgram();
        this->*row.field = program;
        program->attach(Shader(row.firstFile, row.firstType));
        program->attach(Shader(row.secondFile, row.secondType));
        program->link();
    }

    Renderbuffer* target = new Renderbuffer(width, viewportHeight, viewportY);
    if (target->failed) std::printf("Renderbuffer inicialization error\n");
    target->program = postprocessProgram;
    target->quadVertexArray = quadVertexArray;
    renderbuffer = target;  // last: ready() from here on
}

Demo::~Demo() {
    for (ShaderProgram* Demo::*field : kTeardown) {
        delete (this->*field);
        this->*field = nullptr;
    }
    if (renderbuffer) {
        glDeleteTextures(renderbuffer->textureCount, renderbuffer->colorTextures);
        glDeleteFramebuffers(1, &renderbuffer->framebuffer);
        delete renderbuffer;
        renderbuffer = nullptr;
    }
    // The images, the quad, the particle cloud and the shader objects stay
    // until the context is destroyed.
}
