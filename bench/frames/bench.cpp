// velmora-bench: frame times of every row of the programme against the cheapest frame the same
// pipeline can draw, and the start-up time against reading the same data from disk.
#include "offscreen.h"
#include "assets/shader.h"
#include "render/demo.h"
#include "render/renderbuffer.h"
#include "render/timeline.h"

#include <GL/glew.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kRows = 7;
constexpr const char* kRowNames[kRows + 1] = {"floor",   "desert",   "title",     "particles",
                                              "meteors", "mountain", "star night", "credits"};
constexpr double kRowOffset = 1.0;  // seconds into a row before timing starts
constexpr double kFrameStep = 1.0 / 60;

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

struct Figures {
    double median = 0, p95 = 0;
};

Figures summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    Figures f;
    f.median = v[v.size() / 2];
    f.p95 = v[std::min(v.size() - 1, v.size() * 95 / 100)];
    return f;
}

// Reads every file under data/ once, as the Demo's start-up must at the least: into one buffer
// used again and again, or into a fresh buffer per file as a loader that keeps nothing does (on a
// virtual machine, first touches of fresh memory can cost more than the copy itself).
double readDataSeconds(size_t& bytes, bool freshBuffers) {
    const Clock::time_point start = Clock::now();
    bytes = 0;
    std::vector<char> reused;
    for (const auto& e : std::filesystem::recursive_directory_iterator("data")) {
        if (!e.is_regular_file() || e.path().extension() == ".mp3") continue;  // the shell opens the music
        std::ifstream f(e.path(), std::ios::binary);
        const size_t size = static_cast<size_t>(e.file_size());
        std::vector<char> fresh;
        std::vector<char>& buf = freshBuffers ? fresh : reused;
        buf.resize(size);
        f.read(buf.data(), static_cast<std::streamsize>(size));
        bytes += size;
    }
    return seconds(start, Clock::now());
}

GLuint compile(GLenum type, const char* src) {
    GLuint s = glCreateShader(type);
    glShaderSource(s, 1, &src, nullptr);
    glCompileShader(s);
    return s;
}

GLuint program(const char* fs) {
    static const char* vs =
        "#version 330 core\n"
        "layout(location = 1) in vec2 uv;\n"
        "layout(location = 2) in vec2 position;\n"
        "out vec2 texcoord;\n"
        "void main() { texcoord = uv; gl_Position = vec4(position, 0.0, 1.0); }\n";
    GLuint p = glCreateProgram();
    glAttachShader(p, compile(GL_VERTEX_SHADER, vs));
    glAttachShader(p, compile(GL_FRAGMENT_SHADER, fs));
    glLinkProgram(p);
    return p;
}

// The cheapest frame the pipeline allows: clear the target, one textured full-screen layer, a
// plain copy into the window.
class Floor {
public:
    explicit Floor(Demo& demo) : demo_(demo) {
        const char* fs =
            "#version 330 core\n"
            "uniform sampler2D img;\n"
            "in vec2 texcoord;\n"
            "out vec4 color;\n"
            "void main() { color = texture(img, texcoord); }\n";
        layer_ = program(fs);
        copy_ = program(fs);
    }
    ~Floor() {
        glDeleteProgram(layer_);
        glDeleteProgram(copy_);
    }
    void render() {
        Renderbuffer& rb = *demo_.renderbuffer;
        glBindFramebuffer(GL_FRAMEBUFFER, rb.framebuffer);
        glClear(GL_COLOR_BUFFER_BIT);
        glViewport(0, 0, rb.width, rb.height);
        draw(layer_, demo_.textures[Demo::kDesert]);
        glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glClear(GL_COLOR_BUFFER_BIT);
        glViewport(0, rb.viewportY, rb.width, rb.height);
        draw(copy_, rb.colorTextures[0]);
    }

private:
    void draw(GLuint p, GLuint texture) {
        glUseProgram(p);
        glActiveTexture(GL_TEXTURE0);
        glBindTexture(GL_TEXTURE_2D, texture);
        glUniform1i(glGetUniformLocation(p, "img"), 0);
        glBindVertexArray(demo_.quadVertexArray);
        glDrawArrays(GL_TRIANGLE_FAN, 0, 4);
    }
    Demo& demo_;
    GLuint layer_ = 0, copy_ = 0;
};

// Milliseconds of one frame, finished.
template <typename Draw>
double timeFrame(Draw draw) {
    const Clock::time_point start = Clock::now();
    draw();
    glFinish();
    return seconds(start, Clock::now()) * 1e3;
}

template <typename Draw>
Figures timeFrames(int frames, Draw draw) {
    std::vector<double> ms;
    for (int i = 0; i < frames; ++i) ms.push_back(timeFrame(draw));
    return summarise(ms);
}

// A row's (or a pass's) frames, each drawn right after a floor frame: a machine whose pace
// drifts (a virtual machine's neighbours, clock changes) moves both alike, so the ratio is the
// row's own.
struct Paired {
    Figures row, floor;
};

// `prepare` runs untimed before each of the row's frames.
template <typename DrawFloor, typename Draw, typename Prepare>
Paired timePaired(int frames, DrawFloor drawFloor, Draw draw, Prepare prepare) {
    std::vector<double> floorMs, rowMs;
    for (int i = 0; i < frames; ++i) {
        floorMs.push_back(timeFrame(drawFloor));
        prepare();
        rowMs.push_back(timeFrame([&] { draw(i); }));
    }
    return {summarise(rowMs), summarise(floorMs)};
}

std::string cpuName() {
    std::ifstream f("/proc/cpuinfo");
    std::string line;
    while (std::getline(f, line))
        if (line.rfind("model name", 0) == 0) return line.substr(line.find(':') + 2);
    return "unknown CPU";
}

// What each pass costs on its own, drawn over a cleared target and finished before the next:
// where a row's time goes. Times are medians of the same number of frames as a row, each drawn
// right after a floor frame, and the multiple is of those floor frames, as for the rows.
void passTable(Demo& demo, Floor& floor, int frames) {
    Renderbuffer& rb = *demo.renderbuffer;
    const auto target = [&] {
        glBindFramebuffer(GL_FRAMEBUFFER, rb.framebuffer);
        glViewport(0, 0, rb.width, rb.height);
    };
    const double t = kRowOffset;  // scene time, as where the rows are timed
    struct Pass {
        const char* name;
        std::function<void()> draw;
    };
    const Pass passes[] = {
        {"clear", [&] { glClear(GL_COLOR_BUFFER_BIT); }},
        {"heat shimmer", [&] { demo.drawHeatShock(demo.textures[Demo::kDesert], demo.textures[Demo::kDesertBright], t); }},
        {"particles", [&] { demo.drawParticles(t); }},
        {"meteor sky", [&] { demo.drawMeteors(demo.textures[Demo::kMeteorSkySmall], demo.textures[Demo::kMeteorSkyBig], t); }},
        {"meteor ground", [&] { demo.drawBackground(demo.textures[Demo::kMeteorGround], demo.textures[Demo::kMeteorGround]); }},
        {"mountain", [&] { demo.drawBackground(demo.textures[Demo::kMountain], 0); }},
        {"star trails", [&] { demo.drawStarTrails(t); }},
        {"star night", [&] { demo.drawBackground(demo.textures[Demo::kStarNight], 0); }},
        {"figure", [&] { demo.drawSprite(demo.movingProgram->name, 0, 0.2f, -0.4f, 0.0f, 0.0f, 0.0f); }},
        {"composite", [&] {
             rb.average = 0;
             rb.composite();
         }},
    };
    rb.fadePercent = 0.0f;
    rb.kernelSize = 9;
    rb.vignette = 0.8f;
    rb.zoom = 1.0f;
    std::printf("%-13s %9s %8s %9s\n", "pass", "median ms", "x floor", "floor ms");
    const auto clearTarget = [&] {
        target();
        glClear(GL_COLOR_BUFFER_BIT);
        glFinish();
    };
    for (const Pass& pass : passes) {
        const Paired f = timePaired(frames, [&] { floor.render(); }, [&](int) { pass.draw(); }, clearTarget);
        std::printf("%-13s %9.2f %8.2f %9.2f\n", pass.name, f.row.median, f.row.median / f.floor.median,
                    f.floor.median);
    }
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

bool bench(int width, int height, double rowSeconds, bool passes) {
    size_t bytes = 0;
    readDataSeconds(bytes, false);  // warm the page cache, as the Demo's own reads will find it
    const double readTime = readDataSeconds(bytes, false);
    const double freshReadTime = readDataSeconds(bytes, true);

    velmora::OffscreenDemo od(width, height);
    const double buildTime = od.buildSeconds();
    if (!od.ok()) {
        std::fprintf(stderr, "velmora-bench: %s\n", od.why().c_str());
        return false;
    }
    std::printf("\n%dx%d on %s (%s, %u threads)\n", width, height,
                reinterpret_cast<const char*>(glGetString(GL_RENDERER)), cpuName().c_str(),
                std::thread::hardware_concurrency());
    std::printf("start-up %.0f ms (building the Demo); reading the %.1f MB of data %.0f ms into one buffer "
                "(ratio %.2f), %.0f ms into fresh buffers (ratio %.2f)\n",
                buildTime * 1e3, bytes / 1e6, readTime * 1e3, buildTime / readTime, freshReadTime * 1e3,
                buildTime / freshReadTime);

    const int frames = std::max(10, static_cast<int>(rowSeconds / kFrameStep));
    Floor floor(od.demo());
    timeFrames(5, [&] { floor.render(); });
    const Figures base = timeFrames(frames, [&] { floor.render(); });
    std::printf("%-11s %9s %9s %8s %9s %9s\n", "row", "median ms", "p95 ms", "x floor", "p95 x", "floor ms");
    std::printf("%-11s %9.2f %9.2f %8.2f\n", kRowNames[0], base.median, base.p95, 1.0);
    for (int row = 1; row <= kRows; ++row) {
        const double from = velmora::scoreRowStart(row) + kRowOffset;
        od.playUpTo(from, 60);
        const Paired f = timePaired(
            frames, [&] { floor.render(); }, [&](int i) { od.render(from + i * kFrameStep); }, [] {});
        std::printf("%-11s %9.2f %9.2f %8.2f %9.2f %9.2f\n", kRowNames[row], f.row.median, f.row.p95,
                    f.row.median / f.floor.median, f.row.p95 / f.floor.median, f.floor.median);
        std::fflush(stdout);
    }
    if (passes) passTable(od.demo(), floor, frames);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::pair<int, int>> sizes;
    double rowSeconds = 3.0;
    bool passes = false;
    for (int i = 1; i < argc; ++i) {
        int w = 0, h = 0;
        if (!std::strcmp(argv[i], "--size") && i + 1 < argc && std::sscanf(argv[i + 1], "%dx%d", &w, &h) == 2 &&
            w >= 192 && h >= 108) {
            sizes.emplace_back(w, h);
            ++i;
        } else if (!std::strcmp(argv[i], "--passes")) {
            passes = true;
        } else if (!std::strcmp(argv[i], "--seconds") && i + 1 < argc && std::atof(argv[i + 1]) > 0) {
            rowSeconds = std::atof(argv[++i]);
        } else {
            std::fprintf(stderr, "usage: velmora-bench [--size WxH]... [--seconds S per row] [--passes]\n");
            return 2;
        }
    }
    if (sizes.empty()) sizes = {{1920, 1080}, {1280, 720}};
    for (const auto& [w, h] : sizes)
        if (!bench(w, h, rowSeconds, passes)) return 1;
    return 0;
}
