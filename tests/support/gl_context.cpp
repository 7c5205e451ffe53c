#include "gl_context.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>

#include "platform.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace velmora::test {

GlContext::GlContext(int width, int height) {
    glewExperimental = GL_TRUE;
    if (!glfwInit()) return;
    glfwDefaultWindowHints();
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    window_ = glfwCreateWindow(width, height, "velmora-test", nullptr, nullptr);
    if (!window_) return;
    glfwMakeContextCurrent(window_);
    if (glewInit() != GLEW_OK) {
        glfwDestroyWindow(window_);
        window_ = nullptr;
        return;
    }
    glGetError();  // GLEW may leave GL_INVALID_ENUM behind
}

// GLFW stays initialised until the process ends: terminating it unloads the GL driver, and under
// Wine a driver thread that is still winding down then runs into unmapped code.
GlContext::~GlContext() {
    if (window_) glfwDestroyWindow(window_);
}

CaptureStdout::CaptureStdout(int fd) : fd_(fd) {
    std::fflush(stdout);
    std::fflush(stderr);
    file_ = makeTempFile();
    saved_ = dup(fd_);
    dup2(file_, fd_);
}

CaptureStdout::~CaptureStdout() { finish(); }

std::string CaptureStdout::finish() {
    if (saved_ < 0) return {};
    std::fflush(stdout);
    std::fflush(stderr);
    dup2(saved_, fd_);
    close(saved_);
    saved_ = -1;
    std::string out;
    lseek(file_, 0, SEEK_SET);
    char buf[4096];
    for (auto n = read(file_, buf, sizeof buf); n > 0; n = read(file_, buf, sizeof buf))
        out.append(buf, static_cast<size_t>(n));
    close(file_);
    file_ = -1;
    return out;
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::filesystem::path p(path);
    if (p.has_parent_path()) std::filesystem::create_directories(p.parent_path());
    std::ofstream f(path, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace velmora::test
