#include "assets/shader.h"

#include "assets/glplatform.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// The whole file in a buffer one byte longer than the file, NUL-terminated
// after what was read: text mode may deliver fewer bytes than the size, and
// the C runtime of Windows leaves the undelivered rest of the buffer holding
// raw bytes of the file. Null when the file cannot be opened or sized.
char* readSource(const char* path) {
    std::FILE* file = std::fopen(path, "r");
    if (!file) return nullptr;
    char* text = nullptr;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long size = std::ftell(file);
        if (size >= 0 && size < INT32_MAX && std::fseek(file, 0, SEEK_SET) == 0) {
            text = static_cast<char*>(std::calloc(static_cast<std::size_t>(size) + 1, 1));
            if (text) {
                const std::size_t got = std::fread(text, 1, static_cast<std::size_t>(size), file);
                text[got] = '\0';
            }
        }
    }
    std::fclose(file);
    return text;
}

// The source as this platform's GLSL compiler takes it: the file's own #version line, where it
// has one, replaced by the platform's. Everything after it, line numbers included, is unchanged.
std::string compiledSource(const char* text) {
    const char* line = glplatform::kShaderVersionLine;
    if (!line || std::strncmp(text, "#version", 8) != 0) return text;
    const char* rest = std::strchr(text, '\n');
    return std::string(line) + "#line 2\n" + (rest ? rest + 1 : "");
}

}  // namespace

Shader::Shader(const char* path, GLenum type) {
    char* text = readSource(path);
    char empty[1] = {0};
    if (!text) {
        std::printf("Shader file error\n");
        std::printf("%s\n", path);
    }
    const GLchar* source = text ? text : empty;
    const std::string platformSource = compiledSource(source);
    const GLchar* compiledText = platformSource.c_str();

    name = glCreateShader(type);
    glShaderSource(name, 1, &compiledText, nullptr);
    glCompileShader(name);
    GLint compiled = 0;
    glGetShaderiv(name, GL_COMPILE_STATUS, &compiled);
    if (!compiled) {
        std::printf("Shader error\n");
        std::printf("%s\n", source);
        printInfoLog(name, 0);
    }
    std::free(text);
}

ShaderProgram::ShaderProgram() { name = glCreateProgram(); }

ShaderProgram::~ShaderProgram() { glDeleteProgram(name); }

void ShaderProgram::attach(const Shader& shader) { glAttachShader(name, shader.name); }

void ShaderProgram::link() {
    glLinkProgram(name);
    GLint status = 0;
    glGetProgramiv(name, GL_LINK_STATUS, &status);
    if (!status) {
        std::printf("Link error\n");
        printInfoLog(name, 1);
    }
    // Validated even after a failed link, so that both reports appear.
    glValidateProgram(name);
    status = 0;
    glGetProgramiv(name, GL_VALIDATE_STATUS, &status);
    if (!status) {
        std::printf("Validate error\n");
        printInfoLog(name, 1);
    }
}

void printInfoLog(GLuint object, int kind) {
    GLint length = 0;
    if (kind == 1)
        glGetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    else
        glGetShaderiv(object, GL_INFO_LOG_LENGTH, &length);

    // An empty log still ends its report with the newline.
    char* log = length > 0 ? static_cast<char*>(std::calloc(static_cast<std::size_t>(length), 1)) : nullptr;
    if (!log) {
        std::printf("\n");
        return;
    }
    GLsizei written = 0;
    if (kind == 1)
        glGetProgramInfoLog(object, length, &written, log);
    else
        glGetShaderInfoLog(object, length, &written, log);
    log[length - 1] = '\0';
    std::printf("%s\n", log);
    std::free(log);
}
