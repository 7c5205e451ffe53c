#pragma once
// Shaders compiled from files and the programs linked from them. Failures
// are reported on stdout and the caller carries on.
#include <GL/glew.h>

// One compiled shader object. It is never deleted: it stays attached to its
// program until the context goes away.
class Shader {
public:
    Shader(const char* path, GLenum type);
    GLuint name;
};

// One program object, owned: the destructor deletes it.
class ShaderProgram {
public:
    ShaderProgram();
    ~ShaderProgram();
    ShaderProgram(const ShaderProgram&) = delete;
    ShaderProgram& operator=(const ShaderProgram&) = delete;
    void attach(const Shader& shader);
    // Links and validates, reporting each failed step.
    void link();
    GLuint name;
};

// Prints the info log of a program (kind 1) or a shader (any other kind),
// followed by a newline.
void printInfoLog(GLuint object, int kind);
