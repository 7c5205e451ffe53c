// A whole run of the programme, frame after frame, raises no GL error but the invalid enums that
// the fixed-function switches (GL_TEXTURE_2D at set-up, GL_POINT_SPRITE around the particles)
// raise in a core context. The GL's debug output reports them; the demo itself queries nothing.
#include "gl_context.h"
#include "render/demo.h"

#include <GL/glew.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velmora::test;

namespace {

struct Report {
    GLenum type;
    std::string message;
};

void GLAPIENTRY collect(GLenum, GLenum type, GLuint, GLenum, GLsizei, const GLchar* message, const void* reports) {
    static_cast<std::vector<Report>*>(const_cast<void*>(reports))->push_back({type, message});
}

// The errors that are allowed, as Mesa words them: an enable or disable of the two fixed-function
// switches.
bool expected(const std::string& message) {
    const bool invalidEnum = message.find("GL_INVALID_ENUM") != std::string::npos;
    const bool toggle = message.find("glEnable") != std::string::npos || message.find("glDisable") != std::string::npos;
    const bool fixedFunction = message.find("GL_TEXTURE_2D") != std::string::npos ||
                               message.find("GL_POINT_SPRITE") != std::string::npos;
    return invalidEnum && toggle && fixedFunction;
}

}  // namespace

TEST(GlErrors, AWholeRunRaisesOnlyTheFixedFunctionSwitchesInvalidEnums) {
    constexpr int kW = 384, kH = 216;
    GlContext ctx(kW, kH);
    ASSERT_TRUE(ctx.ok());
    ASSERT_TRUE(GLEW_KHR_debug || GLEW_VERSION_4_3) << "no debug output on this GL";
    std::vector<Report> reports;
    glEnable(GL_DEBUG_OUTPUT);
    glEnable(GL_DEBUG_OUTPUT_SYNCHRONOUS);
    glDebugMessageCallback(collect, &reports);

    // The harness hears an error when there is one.
    glBindTexture(GL_TEXTURE_2D, 0xdead);
    glDeleteTextures(0, nullptr);
    glUniform1i(-2, 0);
    ASSERT_FALSE(reports.empty());
    reports.clear();

    Demo* demo = new Demo(kW, kH);
    ASSERT_TRUE(demo->ready());
    // Every row at eight frames a second, and past the end.
    for (double t = 0.0; t < 186.0; t += 0.125) demo->render(t);
    delete demo;
    glDisable(GL_DEBUG_OUTPUT);

    for (const Report& r : reports)
        if (r.type == GL_DEBUG_TYPE_ERROR && !expected(r.message)) ADD_FAILURE() << r.message;
}
