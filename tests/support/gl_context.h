#pragma once
#include <string>

struct GLFWwindow;

namespace velmora::test {

// A hidden window with the demo's context hints; GLEW initialised.
class GlContext {
public:
    GlContext(int width, int height);
    ~GlContext();
    GlContext(const GlContext&) = delete;
    GlContext& operator=(const GlContext&) = delete;
    bool ok() const { return window_ != nullptr; }
    GLFWwindow* window() const { return window_; }

private:
    GLFWwindow* window_ = nullptr;
};

// Redirects a file descriptor (stdout unless told) into a temporary file until finish();
// returns what was written.
class CaptureStdout {
public:
    explicit CaptureStdout(int fd = 1);
    ~CaptureStdout();
    std::string finish();

private:
    int fd_ = 1;
    int saved_ = -1;
    int file_ = -1;
};

// Writes bytes to a file, creating parent directories.
void writeFile(const std::string& path, const std::string& bytes);

}  // namespace velmora::test
