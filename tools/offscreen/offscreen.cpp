#include "offscreen.h"

#include "render/demo.h"
#include "render/timeline.h"

#include <GL/glew.h>
#include <GLFW/glfw3.h>
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include <algorithm>
#include <chrono>
#include <cmath>

namespace velmora {

OffscreenDemo::OffscreenDemo(int width, int height) : width_(width), height_(height) {
    glewExperimental = GL_TRUE;
    if (!glfwInit()) {
        why_ = "the window system could not be initialised (is there a display?)";
        return;
    }
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 3);
    window_ = glfwCreateWindow(width, height, "Velmora", nullptr, nullptr);
    if (!window_) {
        why_ = "a hidden window with an OpenGL 3.3 context could not be created";
        return;
    }
    glfwMakeContextCurrent(window_);
    glewInit();
    const auto start = std::chrono::steady_clock::now();
    Demo* demo = new Demo(width, height);
    glFinish();
    buildSeconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!demo->ready()) {
        delete demo;
        why_ = "OpenGL could not be initialised";
        return;
    }
    demo_ = demo;
}

OffscreenDemo::~OffscreenDemo() {
    delete demo_;
    if (window_) glfwDestroyWindow(window_);
    glfwTerminate();
}

void OffscreenDemo::render(double t) {
    const GLenum back = GL_BACK;
    glDrawBuffers(1, &back);  // the one form of this that WebGL also has
    demo_->render(t);
    played_ = t;
}

void OffscreenDemo::playUpTo(double t, double fps) {
    // Frames on the row's own grid, from its start or from just after the last one played in
    // it: played again, they would walk the figure on a second time.
    if (played_ >= t) return;
    const double from = scoreRowStart(scoreRow(t));
    int frame = played_ > from ? static_cast<int>(std::floor((played_ - from) * fps)) + 1 : 1;
    // Only the scenes' state matters here, so the pixels are scissored away.
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 1, 1);
    for (; from + frame / fps < t; ++frame) render(from + frame / fps);
    glDisable(GL_SCISSOR_TEST);
}

void OffscreenDemo::readRgba(std::vector<uint8_t>& rgba) const {
    rgba.resize(static_cast<size_t>(width_) * height_ * 4);
    glReadBuffer(GL_BACK);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width_, height_, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
}

Picture OffscreenDemo::read() const {
    std::vector<uint8_t> rgba;
    readRgba(rgba);
    Picture p;
    p.width = width_;
    p.height = height_;
    p.rgb.resize(static_cast<size_t>(width_) * height_ * 3);
    for (int y = 0; y < height_; ++y) {
        const uint8_t* src = &rgba[static_cast<size_t>(height_ - 1 - y) * width_ * 4];
        uint8_t* dst = &p.rgb[static_cast<size_t>(y) * width_ * 3];
        for (int x = 0; x < width_; ++x)
            std::copy(src + 4 * x, src + 4 * x + 3, dst + 3 * x);
    }
    return p;
}

double videoFrameTime(int frame, int fps) {
    const double t = static_cast<double>(frame) / fps;
    const double after = std::nextafter(t, HUGE_VAL);
    const bool onBound = scoreRow(t) == 0 && scoreRow(std::nextafter(t, -HUGE_VAL)) != 0 && scoreRow(after) != 0;
    return onBound ? after : t;
}

bool writePng(const std::string& path, const Picture& p) {
    stbi_write_png_compression_level = 9;
    return stbi_write_png(path.c_str(), p.width, p.height, 3, p.rgb.data(), p.width * 3) != 0;
}

Picture readPng(const std::string& path) {
    Picture p;
    int channels = 0;
    if (stbi_uc* pixels = stbi_load(path.c_str(), &p.width, &p.height, &channels, 3)) {
        p.rgb.assign(pixels, pixels + static_cast<size_t>(p.width) * p.height * 3);
        stbi_image_free(pixels);
    }
    return p;
}

Picture scaled(const Picture& src, int width, int height) {
    Picture dst;
    dst.width = width;
    dst.height = height;
    dst.rgb.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const int y0 = y * src.height / height, y1 = std::max(y0 + 1, (y + 1) * src.height / height);
        for (int x = 0; x < width; ++x) {
            const int x0 = x * src.width / width, x1 = std::max(x0 + 1, (x + 1) * src.width / width);
            unsigned sum[3] = {0, 0, 0};
            for (int sy = y0; sy < y1; ++sy)
                for (int sx = x0; sx < x1; ++sx)
                    for (int c = 0; c < 3; ++c) sum[c] += src.rgb[(static_cast<size_t>(sy) * src.width + sx) * 3 + c];
            const unsigned n = static_cast<unsigned>((y1 - y0) * (x1 - x0));
            for (int c = 0; c < 3; ++c)
                dst.rgb[(static_cast<size_t>(y) * width + x) * 3 + c] = static_cast<uint8_t>(sum[c] / n);
        }
    }
    return dst;
}

}  // namespace velmora
