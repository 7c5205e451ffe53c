// The Demo's set-up and teardown on the generated data, the offscreen target
// and where the composite lands in the window.
#include "gl_context.h"
#include "temp_dir.h"
#include "data_copy.h"
#include "gl_helpers.h"
#include "render/demo.h"
#include "render/renderbuffer.h"

#include "assets/shader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

using namespace velmora::test;
namespace fs = std::filesystem;

namespace {

std::vector<ShaderProgram* Demo::*> programFields() {
    return {&Demo::defaultProgram,    &Demo::movingProgram,     &Demo::spriteProgram,
            &Demo::textSpriteProgram, &Demo::dshadowProgram,    &Demo::backgroundProgram,
            &Demo::heatshockProgram,  &Demo::postprocessProgram, &Demo::rotateProgram,
            &Demo::meteorProgram};
}

std::string imagePath(int slot) {
    static const char* const names[] = {"desert", "desertbright", "mountain", "starnight", "stars",
                                        "meteor_ground", "meteor_sky_small", "meteor_sky_big",
                                        "credits", "title"};
    if (slot < 74) return "data/walk/out" + std::to_string(slot) + ".tga";
    return std::string("data/textures/") + names[slot - 74] + ".tga";
}

// Fills one of the offscreen target's colour textures with RGBA pixels, rows from the bottom.
void fillAttachment(const Renderbuffer& rb, int i, const std::vector<unsigned char>& rgba) {
    glBindTexture(GL_TEXTURE_2D, rb.colorTextures[i]);
    glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, rb.width, rb.height, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
}

// The sources printed after each "Shader error" line, in order.
std::vector<std::string> reportedSources(const std::string& out) {
    std::vector<std::string> sources;
    const std::string marker = "Shader error\n";
    for (size_t at = out.find(marker); at != std::string::npos; at = out.find(marker, at + 1)) {
        const size_t start = at + marker.size();
        sources.push_back(out.substr(start, out.find('\n', start) - start));
    }
    return sources;
}

}  // namespace

TEST(DemoSetup, LoadsEveryImageBuildsEveryProgramAndPrintsNothing) {
    GlContext ctx(320, 180);
    ASSERT_TRUE(ctx.ok());
    CaptureStdout cap;
    Demo* demo = new Demo(320, 180);
    const std::string out = cap.finish();
    EXPECT_EQ(out, "");
    ASSERT_TRUE(demo->ready());
    EXPECT_EQ(demo->width, 320);
    EXPECT_EQ(demo->viewportHeight, 180);
    EXPECT_EQ(demo->viewportY, 0);

    for (int slot = 0; slot < 84; ++slot) {
        int w = 0, h = 0;
        ASSERT_TRUE(tgaSize(imagePath(slot), &w, &h)) << imagePath(slot);
        ASSERT_TRUE(glIsTexture(demo->textures[slot])) << slot;
        glBindTexture(GL_TEXTURE_2D, demo->textures[slot]);
        GLint tw = 0, th = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &tw);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &th);
        EXPECT_EQ(tw, w) << imagePath(slot);
        EXPECT_EQ(th, h) << imagePath(slot);
    }
    EXPECT_TRUE(glIsVertexArray(demo->textures[Demo::kParticleVertexArray]));
    GLint particleBytes = 0;
    glBindBuffer(GL_ARRAY_BUFFER, demo->textures[Demo::kParticleBuffer]);
    glGetBufferParameteriv(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &particleBytes);
    EXPECT_EQ(particleBytes, 640000);

    std::vector<GLuint> names;
    for (auto field : programFields()) {
        ASSERT_NE(demo->*field, nullptr);
        const GLuint p = (demo->*field)->name;
        GLint linked = 0, validated = 0;
        glGetProgramiv(p, GL_LINK_STATUS, &linked);
        glGetProgramiv(p, GL_VALIDATE_STATUS, &validated);
        EXPECT_TRUE(linked && validated) << p;
        names.push_back(p);
    }
    // Built in table order: the program names rise with the build order.
    const std::vector<GLuint> buildOrder = {
        demo->defaultProgram->name,   demo->movingProgram->name,  demo->spriteProgram->name,
        demo->textSpriteProgram->name, demo->dshadowProgram->name, demo->backgroundProgram->name,
        demo->heatshockProgram->name, demo->postprocessProgram->name, demo->rotateProgram->name,
        demo->meteorProgram->name};
    for (size_t i = 1; i < buildOrder.size(); ++i) EXPECT_LT(buildOrder[i - 1], buildOrder[i]);

    GLint blend = 0, src = 0, dst = 0;
    glGetIntegerv(GL_BLEND, &blend);
    glGetIntegerv(GL_BLEND_SRC_RGB, &src);
    glGetIntegerv(GL_BLEND_DST_RGB, &dst);
    EXPECT_TRUE(blend);
    EXPECT_EQ(src, GL_SRC_ALPHA);
    EXPECT_EQ(dst, GL_ONE_MINUS_SRC_ALPHA);
    EXPECT_TRUE(glIsEnabled(GL_PROGRAM_POINT_SIZE));
    delete demo;
}

TEST(DemoSetup, OffscreenTargetHasThreeCompleteAttachments) {
    GlContext ctx(320, 180);
    ASSERT_TRUE(ctx.ok());
    Demo* demo = new Demo(1680, 1050);
    Renderbuffer* rb = demo->renderbuffer;
    ASSERT_NE(rb, nullptr);
    EXPECT_FALSE(rb->failed);
    EXPECT_EQ(rb->width, 1680);
    EXPECT_EQ(rb->height, 945);
    EXPECT_EQ(rb->viewportY, 52);
    EXPECT_EQ(rb->textureCount, 3);
    EXPECT_EQ(rb->program, demo->postprocessProgram);
    EXPECT_EQ(rb->quadVertexArray, demo->quadVertexArray);
    GLint bound = -1;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    EXPECT_EQ(bound, 0);

    glBindFramebuffer(GL_FRAMEBUFFER, rb->framebuffer);
    EXPECT_EQ(glCheckFramebufferStatus(GL_FRAMEBUFFER), static_cast<GLenum>(GL_FRAMEBUFFER_COMPLETE));
    for (int i = 0; i < 3; ++i) {
        GLint name = 0, drawBuffer = 0;
        glGetFramebufferAttachmentParameteriv(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0 + i,
                                              GL_FRAMEBUFFER_ATTACHMENT_OBJECT_NAME, &name);
        glGetIntegerv(GL_DRAW_BUFFER0 + i, &drawBuffer);
        EXPECT_EQ(static_cast<GLuint>(name), rb->colorTextures[i]);
        EXPECT_EQ(drawBuffer, GL_COLOR_ATTACHMENT0 + i);
        glBindTexture(GL_TEXTURE_2D, rb->colorTextures[i]);
        GLint w = 0, h = 0, mag = 0, min = 0;
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
        glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, &mag);
        glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &min);
        EXPECT_EQ(w, 1680);
        EXPECT_EQ(h, 945);
        EXPECT_EQ(mag, GL_NEAREST);
        EXPECT_EQ(min, GL_NEAREST);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    delete demo;
}

TEST(Composite, ClearsTheWindowAndCoversTheLetterboxedRows) {
    const int width = 1920, height = 1200;
    GlContext ctx(width, height);
    ASSERT_TRUE(ctx.ok());
    Demo* demo = new Demo(width, height);
    Renderbuffer* rb = demo->renderbuffer;
    ASSERT_EQ(rb->viewportY, 60);
    // A white picture, no glow; the window starts out red.
    std::vector<unsigned char> white(static_cast<size_t>(rb->width) * rb->height * 4, 255);
    fillAttachment(*rb, 0, white);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    clearTo(1.0f, 0.0f, 0.0f);
    plainComposite(*rb, 9);
    rb->composite();
    const auto rgb = readWindow(width, height);
    for (int row : {0, 30, 59, 1140, 1170, 1199}) EXPECT_EQ(rowMax(rgb, width, row), 0) << row;
    for (int row : {60, 600, 1139}) {
        const size_t centre = (static_cast<size_t>(row) * width + width / 2) * 3;
        EXPECT_GT(rgb[centre], 200) << row;
    }
    GLint viewport[4];
    glGetIntegerv(GL_VIEWPORT, viewport);
    EXPECT_EQ(viewport[1], 60);
    EXPECT_EQ(viewport[3], 1080);
    delete demo;
}

TEST(Composite, WideScreensLoseTheTopAndBottomOfThePicture) {
    // 2560 x 1080 halved, to fit the test display: the picture is 720 rows
    // for a 540-row window, 90 of them cut at each edge.
    const int width = 1280, height = 540;
    GlContext ctx(width, height);
    ASSERT_TRUE(ctx.ok());
    Demo* demo = new Demo(width, height);
    Renderbuffer* rb = demo->renderbuffer;
    ASSERT_EQ(rb->height, 720);
    ASSERT_EQ(rb->viewportY, -90);
    // Only picture rows 90 and 629 are lit: they must land on the window's
    // first and last rows.
    std::vector<unsigned char> pic(static_cast<size_t>(rb->width) * rb->height * 4, 0);
    for (int row : {90, 629})
        for (int x = 0; x < rb->width; ++x)
            for (int c = 0; c < 4; ++c) pic[(static_cast<size_t>(row) * rb->width + x) * 4 + c] = 255;
    fillAttachment(*rb, 0, pic);
    plainComposite(*rb, 0);
    rb->composite();
    const auto rgb = readWindow(width, height);
    EXPECT_GT(rowMax(rgb, width, 0), 100);
    EXPECT_GT(rowMax(rgb, width, height - 1), 100);
    EXPECT_LT(rowMax(rgb, width, 1), 40);
    EXPECT_LT(rowMax(rgb, width, height - 2), 40);
    delete demo;
}

TEST(Composite, CopiesAnEdgeSharpWhateverTheSofteningSwitchSays) {
    const int width = 640, height = 360;
    GlContext ctx(width, height);
    ASSERT_TRUE(ctx.ok());
    Demo* demo = new Demo(width, height);
    Renderbuffer* rb = demo->renderbuffer;
    // Black left of the middle column, white from it on; nothing to glow.
    std::vector<unsigned char> pic(static_cast<size_t>(width) * height * 4, 0);
    for (size_t i = 0; i < pic.size(); i += 4)
        if (static_cast<int>(i / 4 % width) >= width / 2) pic[i] = pic[i + 1] = pic[i + 2] = pic[i + 3] = 255;
    fillAttachment(*rb, 0, pic);
    fillAttachment(*rb, 1, std::vector<unsigned char>(pic.size(), 0));
    // Columns around the edge, on rows about the centre (where the vignette leaves the picture).
    const auto edge = [&](int average) {
        plainComposite(*rb, 9);
        rb->average = average;
        rb->composite();
        const auto rgb = readWindow(width, height);
        std::vector<std::vector<int>> rows;
        for (int y = height / 2 - 8; y < height / 2 + 8; ++y) {
            rows.emplace_back();
            for (int x = width / 2 - 3; x < width / 2 + 3; ++x)
                rows.back().push_back(rgb[(static_cast<size_t>(y) * width + x) * 3]);
        }
        return rows;
    };
    // The desert's softness is in its image: the switch leaves the picture as it is.
    const std::vector<int> sharp = {0, 0, 0, 255, 255, 255};
    for (int average : {0, 1})
        for (const auto& row : edge(average)) EXPECT_EQ(row, sharp) << average;
    delete demo;
}

// What the composite's zoom and vignette do to a known picture: a zoom below 1 magnifies about
// the centre, so a line right of it moves further right; the vignette darkens the corners and
// leaves the centre alone.
TEST(Composite, ZoomsInAboutTheCentreAndDarkensTheCorners) {
    const int width = 640, height = 360;
    GlContext ctx(width, height);
    ASSERT_TRUE(ctx.ok());
    Demo* demo = new Demo(width, height);
    Renderbuffer* rb = demo->renderbuffer;
    fillAttachment(*rb, 1, std::vector<unsigned char>(static_cast<size_t>(width) * height * 4, 0));
    auto brightestColumn = [&](const std::vector<unsigned char>& rgb) {
        const size_t row = static_cast<size_t>(height / 2) * width;
        int best = 0;
        for (int x = 1; x < width; ++x)
            if (rgb[(row + x) * 3] > rgb[(row + best) * 3]) best = x;
        return best;
    };
    // A white line two texels wide at 0.6 of the picture's width.
    const int line = width * 6 / 10;
    std::vector<unsigned char> pic(static_cast<size_t>(width) * height * 4, 0);
    for (int y = 0; y < height; ++y)
        for (int x = line; x < line + 2; ++x) std::fill_n(&pic[(static_cast<size_t>(y) * width + x) * 4], 4, 255);
    fillAttachment(*rb, 0, pic);
    for (float zoom : {1.0f, 0.8f, 0.6f}) {
        plainComposite(*rb, 0);
        rb->zoom = zoom;
        rb->composite();
        const double expected = width * (0.5 + 0.1 / zoom);  // the line's distance from the centre over zoom
        EXPECT_NEAR(brightestColumn(readWindow(width, height)), expected, 2.0) << zoom;
    }

    // An even grey picture: the centre keeps its light, the corners keep a fifth to three fifths.
    fillAttachment(*rb, 0, std::vector<unsigned char>(static_cast<size_t>(width) * height * 4, 200));
    plainComposite(*rb, 0);
    rb->composite();
    const auto rgb = readWindow(width, height);
    auto grey = [&](int x, int y) { return rgb[(static_cast<size_t>(y) * width + x) * 3]; };
    const double centre = grey(width / 2, height / 2);
    EXPECT_NEAR(centre, 200, 2.0);
    for (const auto& [x, y] : std::vector<std::pair<int, int>>{{0, 0}, {width - 1, 0}, {0, height - 1}, {width - 1, height - 1}}) {
        EXPECT_GT(grey(x, y), centre * 0.2) << x << "," << y;
        EXPECT_LT(grey(x, y), centre * 0.6) << x << "," << y;
    }
    delete demo;
}

TEST(DemoTeardown, DeletesTenProgramsThreeTexturesAndOneFramebuffer) {
    GlContext ctx(320, 180);
    ASSERT_TRUE(ctx.ok());
    Demo* demo = new Demo(320, 180);
    std::vector<GLuint> programs, shaders;
    for (auto field : programFields()) {
        const GLuint p = (demo->*field)->name;
        programs.push_back(p);
        GLuint attached[2] = {};
        GLsizei n = 0;
        glGetAttachedShaders(p, 2, &n, attached);
        EXPECT_EQ(n, 2);
        shaders.insert(shaders.end(), attached, attached + n);
    }
    const Renderbuffer* rb = demo->renderbuffer;
    const std::vector<GLuint> targets(rb->colorTextures, rb->colorTextures + 3);
    const GLuint framebuffer = rb->framebuffer;
    std::vector<GLuint> images(demo->textures, demo->textures + 84);
    const GLuint quad = demo->quadVertexArray;
    const std::vector<GLuint> quadBuffers(demo->quadBuffers, demo->quadBuffers + 4);
    const GLuint particles = demo->textures[Demo::kParticleVertexArray];
    const GLuint particleBuffer = demo->textures[Demo::kParticleBuffer];

    delete demo;

    for (GLuint p : programs) EXPECT_FALSE(glIsProgram(p)) << p;
    for (GLuint t : targets) EXPECT_FALSE(glIsTexture(t)) << t;
    EXPECT_FALSE(glIsFramebuffer(framebuffer));
    EXPECT_EQ(shaders.size(), 20u);
    for (GLuint s : shaders) EXPECT_TRUE(glIsShader(s)) << s;
    for (GLuint t : images) EXPECT_TRUE(glIsTexture(t)) << t;
    EXPECT_TRUE(glIsVertexArray(quad));
    for (GLuint b : quadBuffers) EXPECT_TRUE(glIsBuffer(b)) << b;
    EXPECT_TRUE(glIsVertexArray(particles));
    EXPECT_TRUE(glIsBuffer(particleBuffer));
}

TEST(DemoFailures, BrokenShadersAreReportedInBuildOrderAndStartUpCompletes) {
    GlContext ctx(320, 180);
    ASSERT_TRUE(ctx.ok());
    DataCopy data;
    data.replaceShader("background.vs", "#version 330 core\nvoid main() { BACKGROUND }\n");
    data.replaceShader("heatshock.fs", "#version 330 core\nvoid main() { HEAT }\n");
    data.replaceShader("moving.vs", "#version 330 core\nvoid main() { MOVING }\n");
    CaptureStdout cap;
    Demo* demo = new Demo(320, 180);
    const std::string out = cap.finish();
    // Row 2 (moving), row 6 (background), row 7 fragment first, then rows 8 to 10.
    const std::vector<std::string> expected = {
        "void main() { MOVING }",     "void main() { BACKGROUND }", "void main() { HEAT }",
        "void main() { BACKGROUND }", "void main() { BACKGROUND }", "void main() { BACKGROUND }",
        "void main() { BACKGROUND }",
    };
    // Each report prints the whole source: the second line is the body.
    std::vector<std::string> bodies;
    for (const std::string& first : reportedSources(out)) EXPECT_EQ(first, "#version 330 core");
    const std::string marker = "Shader error\n#version 330 core\n";
    for (size_t at = out.find(marker); at != std::string::npos; at = out.find(marker, at + 1)) {
        const size_t start = at + marker.size();
        bodies.push_back(out.substr(start, out.find('\n', start) - start));
    }
    EXPECT_EQ(bodies, expected);
    EXPECT_NE(out.find("Link error\n"), std::string::npos);
    EXPECT_NE(out.find("Validate error\n"), std::string::npos);
    EXPECT_EQ(out.find("Renderbuffer inicialization error"), std::string::npos);
    EXPECT_TRUE(demo->ready());
    demo->render(10.0);  // frames still draw
    delete demo;
}

TEST(DemoFailures, IncompleteTargetIsReportedOnceAfterTheShaderReports) {
    GlContext ctx(320, 180);
    ASSERT_TRUE(ctx.ok());
    DataCopy data;
    data.replaceShader("meteor.fs", "#version 330 core\nvoid main() { METEOR }\n");
    CaptureStdout cap;
    Demo* demo = new Demo(0, 180);  // no width: the target cannot be complete
    const std::string out = cap.finish();
    const std::string line = "Renderbuffer inicialization error\n";
    ASSERT_GE(out.size(), line.size());
    EXPECT_EQ(out.substr(out.size() - line.size()), line);
    EXPECT_EQ(out.find(line), out.size() - line.size());  // once
    EXPECT_EQ(out.find("Shader error\n"), 0u);
    EXPECT_TRUE(demo->ready());
    EXPECT_TRUE(demo->renderbuffer->failed);
    EXPECT_EQ(demo->renderbuffer->program, demo->postprocessProgram);
    EXPECT_EQ(demo->renderbuffer->quadVertexArray, demo->quadVertexArray);
    delete demo;
}
