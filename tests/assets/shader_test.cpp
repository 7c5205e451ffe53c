// Shader and ShaderProgram against a real GL context: the objects they make
// and the exact reports they print.
#include "assets/shader.h"
#include "gl_context.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <unistd.h>

using velmora::test::CaptureStdout;
using velmora::test::GlContext;
using velmora::test::writeFile;

namespace {

const char* const kVertex =
    "#version 330 core\n"
    "layout(location = 0) in vec2 a0;\n"
    "void main() { gl_Position = vec4(a0, 0.0, 1.0); }\n";
const char* const kFragment =
    "#version 330 core\n"
    "out vec4 colour;\n"
    "void main() { colour = vec4(1.0); }\n";
const char* const kBadFragment =
    "#version 330 core\n"
    "out vec4 colour;\n"
    "void main() { colour = vec4(1.0) * undeclaredThing; }\n";
// Compiles, but a program cannot link without a main.
const char* const kVertexWithoutMain =
    "#version 330 core\n"
    "layout(location = 0) in vec2 a0;\n"
    "void place() { gl_Position = vec4(a0, 0.0, 1.0); }\n";

std::string shaderLog(GLuint shader) {
    GLint n = 0;
    glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &n);
    std::string log(static_cast<size_t>(n > 0 ? n : 1), '\0');
    if (n > 0) glGetShaderInfoLog(shader, n, nullptr, &log[0]);
    return log.c_str();
}

std::string programLog(GLuint program) {
    GLint n = 0;
    glGetProgramiv(program, GL_INFO_LOG_LENGTH, &n);
    std::string log(static_cast<size_t>(n > 0 ? n : 1), '\0');
    if (n > 0) glGetProgramInfoLog(program, n, nullptr, &log[0]);
    return log.c_str();
}

GLint programParam(GLuint program, GLenum what) {
    GLint v = -1;
    glGetProgramiv(program, what, &v);
    return v;
}

class Shaders : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(ctx_.ok()) << "no GL context";
        dir_ = std::make_unique<velmora::test::TempDir>("velmora-shader");
    }
    void TearDown() override { dir_.reset(); }

    std::string file(const std::string& name, const std::string& text) {
        const std::string path = *dir_ / name;
        writeFile(path, text);
        return path;
    }

    // The logs GL leaves after linking and after validating these two
    // shaders, from a program built directly: validation may replace the link
    // log, so the program under test cannot tell both afterwards.
    struct Logs {
        std::string link, validate;
    };
    static Logs logsOf(GLuint first, GLuint second) {
        const GLuint p = glCreateProgram();
        glAttachShader(p, first);
        glAttachShader(p, second);
        glLinkProgram(p);
        Logs logs;
        logs.link = programLog(p);
        glValidateProgram(p);
        logs.validate = programLog(p);
        glDeleteProgram(p);
        return logs;
    }

    GlContext ctx_{64, 64};
    std::unique_ptr<velmora::test::TempDir> dir_;
};

}  // namespace

TEST_F(Shaders, GoodProgramIsSilentAndOwnsOnlyItsProgram) {
    const std::string vs = file("good.vs", kVertex);
    const std::string fs = file("good.fs", kFragment);
    CaptureStdout cap;
    auto* program = new ShaderProgram();
    Shader vertex(vs.c_str(), GL_VERTEX_SHADER);
    program->attach(vertex);
    Shader fragment(fs.c_str(), GL_FRAGMENT_SHADER);
    program->attach(fragment);
    program->link();
    EXPECT_EQ(cap.finish(), "");

    const GLuint name = program->name;
    ASSERT_TRUE(glIsProgram(name));
    EXPECT_EQ(programParam(name, GL_LINK_STATUS), GL_TRUE);
    EXPECT_EQ(programParam(name, GL_VALIDATE_STATUS), GL_TRUE);
    EXPECT_EQ(programParam(name, GL_ATTACHED_SHADERS), 2);
    GLint type = 0;
    glGetShaderiv(vertex.name, GL_SHADER_TYPE, &type);
    EXPECT_EQ(type, GL_VERTEX_SHADER);
    glGetShaderiv(fragment.name, GL_SHADER_TYPE, &type);
    EXPECT_EQ(type, GL_FRAGMENT_SHADER);

    delete program;
    EXPECT_FALSE(glIsProgram(name)) << "program not deleted";
    // Shader objects outlive their program: nobody flagged them for deletion.
    EXPECT_TRUE(glIsShader(vertex.name));
    EXPECT_TRUE(glIsShader(fragment.name));
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(Shaders, BadFragmentReportsCompileThenLinkThenValidate) {
    const std::string vs = file("ok.vs", kVertex);
    const std::string fs = file("bad.fs", kBadFragment);
    CaptureStdout cap;
    std::unique_ptr<ShaderProgram> program(new ShaderProgram());
    Shader vertex(vs.c_str(), GL_VERTEX_SHADER);
    program->attach(vertex);
    Shader fragment(fs.c_str(), GL_FRAGMENT_SHADER);
    program->attach(fragment);
    program->link();
    const std::string out = cap.finish();

    const std::string compileLog = shaderLog(fragment.name);
    EXPECT_FALSE(compileLog.empty());
    const Logs logs = logsOf(vertex.name, fragment.name);
    const std::string expected = std::string("Shader error\n") + kBadFragment + "\n" + compileLog + "\n" +
                                 "Link error\n" + logs.link + "\n" + "Validate error\n" + logs.validate + "\n";
    EXPECT_EQ(out, expected);
    EXPECT_EQ(programParam(program->name, GL_ATTACHED_SHADERS), 2) << "failed shader not attached";
}

TEST_F(Shaders, FailedLinkIsStillValidated) {
    const std::string vs = file("nomain.vs", kVertexWithoutMain);
    const std::string fs = file("ok.fs", kFragment);
    CaptureStdout cap;
    std::unique_ptr<ShaderProgram> program(new ShaderProgram());
    // Fragment first, as one of the demo's programs does.
    Shader fragment(fs.c_str(), GL_FRAGMENT_SHADER);
    program->attach(fragment);
    Shader vertex(vs.c_str(), GL_VERTEX_SHADER);
    program->attach(vertex);
    program->link();
    const std::string out = cap.finish();

    const Logs logs = logsOf(fragment.name, vertex.name);
    EXPECT_FALSE(logs.link.empty());
    EXPECT_EQ(out, "Link error\n" + logs.link + "\n" + "Validate error\n" + logs.validate + "\n");
}

// Links, but two samplers of different types share unit 0, which only
// validation catches.
TEST_F(Shaders, ValidationFailureAloneIsReported) {
    const std::string vs = file("ok.vs", kVertex);
    const std::string fs = file("samplers.fs",
                                "#version 330 core\n"
                                "uniform sampler2D img;\n"
                                "uniform samplerCube sky;\n"
                                "out vec4 colour;\n"
                                "void main() { colour = texture(img, vec2(0.5)) + texture(sky, vec3(1.0)); }\n");
    CaptureStdout cap;
    std::unique_ptr<ShaderProgram> program(new ShaderProgram());
    Shader vertex(vs.c_str(), GL_VERTEX_SHADER);
    program->attach(vertex);
    Shader fragment(fs.c_str(), GL_FRAGMENT_SHADER);
    program->attach(fragment);
    program->link();
    const std::string out = cap.finish();

    EXPECT_EQ(programParam(program->name, GL_LINK_STATUS), GL_TRUE);
    const Logs logs = logsOf(vertex.name, fragment.name);
    EXPECT_FALSE(logs.validate.empty());
    EXPECT_EQ(out, "Validate error\n" + logs.validate + "\n");
}

TEST_F(Shaders, EmptyAndMissingFilesCompileAnEmptySource) {
    const std::string empty = file("empty.fs", "");
    const std::string missing = *dir_ / "missing.vs";

    CaptureStdout cap;
    Shader fromEmpty(empty.c_str(), GL_FRAGMENT_SHADER);
    std::string out = cap.finish();
    GLint compiled = -1;
    glGetShaderiv(fromEmpty.name, GL_COMPILE_STATUS, &compiled);
    ASSERT_EQ(compiled, GL_FALSE) << "this GL accepts an empty shader";
    // The source line of the report is empty.
    EXPECT_EQ(out, "Shader error\n\n" + shaderLog(fromEmpty.name) + "\n");

    CaptureStdout cap2;
    Shader fromMissing(missing.c_str(), GL_VERTEX_SHADER);
    out = cap2.finish();
    EXPECT_TRUE(glIsShader(fromMissing.name));
    EXPECT_EQ(out, "Shader file error\n" + missing + "\n" + "Shader error\n\n" + shaderLog(fromMissing.name) + "\n");

    // A directory opens but reads as nothing.
    CaptureStdout cap3;
    Shader fromDirectory(dir_->path().string().c_str(), GL_VERTEX_SHADER);
    out = cap3.finish();
    EXPECT_NE(out.find("Shader error\n"), std::string::npos) << out;
}

TEST_F(Shaders, SourceReachesCompilerWhole) {
    // The report prints what the compiler got: the whole file, byte for byte,
    // even past the first few kilobytes.
    std::string text = "#version 330 core\nout vec4 colour;\n";
    for (int i = 0; i < 400; ++i) text += "// padding line " + std::to_string(i) + "\r\n";
    text += "void main() { colour = broken; }\n";
    const std::string path = file("long.fs", text);
    CaptureStdout cap;
    Shader shader(path.c_str(), GL_FRAGMENT_SHADER);
    const std::string out = cap.finish();
    std::string seen = text;  // what text mode delivers
    if (velmora::test::kTextModeDropsCr)
        for (size_t at = seen.find("\r\n"); at != std::string::npos; at = seen.find("\r\n", at)) seen.erase(at, 1);
    EXPECT_EQ(out, "Shader error\n" + seen + "\n" + shaderLog(shader.name) + "\n");
    GLint length = 0;
    glGetShaderiv(shader.name, GL_SHADER_SOURCE_LENGTH, &length);
    EXPECT_EQ(length, static_cast<GLint>(seen.size() + 1));
}

TEST_F(Shaders, InfoLogOfLengthZeroPrintsNewline) {
    const std::string vs = file("good.vs", kVertex);
    const std::string fs = file("good.fs", kFragment);
    Shader vertex(vs.c_str(), GL_VERTEX_SHADER);
    Shader fragment(fs.c_str(), GL_FRAGMENT_SHADER);
    ShaderProgram program;
    program.attach(vertex);
    program.attach(fragment);
    program.link();

    const std::string broken = file("broken.fs", kBadFragment);
    CaptureStdout quiet;
    Shader failed(broken.c_str(), GL_FRAGMENT_SHADER);
    quiet.finish();

    GLint length = -1;
    glGetShaderiv(vertex.name, GL_INFO_LOG_LENGTH, &length);
    ASSERT_EQ(length, 0);
    CaptureStdout cap;
    printInfoLog(vertex.name, 0);
    printInfoLog(failed.name, 7);  // any kind but 1 means a shader
    printInfoLog(program.name, 1);
    EXPECT_EQ(cap.finish(), "\n" + shaderLog(failed.name) + "\n" + programLog(program.name) + "\n");

    // A shader name taken as a program (kind 1) has no program log.
    CaptureStdout cap2;
    printInfoLog(vertex.name, 1);
    EXPECT_EQ(cap2.finish(), "\n");
    glGetError();  // the mismatched query raises GL_INVALID_OPERATION
}
