#pragma once
// The demo drawn into a hidden window instead of on screen: for the capture tool, the bench and
// the tests that compare their pictures.
#include <cstdint>
#include <string>
#include <vector>

struct GLFWwindow;
class Demo;

namespace velmora {

// An RGB picture, top row first.
struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

class OffscreenDemo {
public:
    // A hidden window of the given size with the demo's context, and the Demo built in it from
    // the data under the working directory. ok() tells whether both worked; why() says why not.
    OffscreenDemo(int width, int height);
    ~OffscreenDemo();
    OffscreenDemo(const OffscreenDemo&) = delete;
    OffscreenDemo& operator=(const OffscreenDemo&) = delete;

    bool ok() const { return demo_ != nullptr; }
    const std::string& why() const { return why_; }
    Demo& demo() { return *demo_; }
    GLFWwindow* window() const { return window_; }
    // How long building the Demo took: every texture, program and the offscreen target.
    double buildSeconds() const { return buildSeconds_; }

    // One frame for music time t, into the window's back buffer.
    void render(double t);
    // Brings the scenes' walking state to where a viewer reaches time t: the frames of t's row
    // before t that this demo has not played yet are played at `fps`, unseen. Needed for a
    // faithful still; stills taken in order of time each show what a viewer of the whole run sees.
    void playUpTo(double t, double fps);
    // What the last frame left in the window.
    Picture read() const;
    // Reads into `rgba` (bottom row first), reusing its storage.
    void readRgba(std::vector<uint8_t>& rgba) const;

private:
    GLFWwindow* window_ = nullptr;
    Demo* demo_ = nullptr;
    int width_;
    int height_;
    std::string why_;
    double buildSeconds_ = 0;
    double played_ = -1;  // the last music time rendered; the walkers never go back
};

// The music time of a video's frame: frame / fps, or, where that lands exactly on the bound
// between two rows that show something, the instant after it. The bounds are strict, so the
// instant itself shows the cleared target, which a live run never samples.
double videoFrameTime(int frame, int fps);

bool writePng(const std::string& path, const Picture& picture);
// A PNG file as RGB; an empty picture when it cannot be read.
Picture readPng(const std::string& path);

// A still scaled down by an integer-free box filter to the given size.
Picture scaled(const Picture& src, int width, int height);

}  // namespace velmora
