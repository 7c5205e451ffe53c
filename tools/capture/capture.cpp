// velmora-capture: the demo as a video, a still or a contact sheet, drawn by the same renderer on
// a clock that never drops a frame (t = frame / fps).
#include "offscreen.h"

#include <GL/glew.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr double kEndSeconds = 185.0;
constexpr const char* kSoundtrack = "data/dunesong.mp3";
// Between a video's frames the scenes' walkers advance at this rate at least, unseen, as they do
// for a viewer's screen.
constexpr double kSceneRate = 60;
// One moment of every row of the programme, for the contact sheet.
constexpr double kSheetTimes[] = {10, 40, 63, 67, 80, 100, 145, 160, 175, 183};
constexpr int kSheetColumns = 2;
constexpr int kThumbWidth = 448;
constexpr int kThumbHeight = 252;
constexpr int kSheetGap = 8;

const char* kUsage =
    "usage: velmora-capture [--size WxH] [--fps N] [--seconds S] [--out FILE.mp4]\n"
    "       velmora-capture [--size WxH] --still T OUT.png\n"
    "       velmora-capture [--size WxH] --sheet OUT.png\n";

struct Options {
    enum Mode { Video, Still, Sheet } mode = Video;
    int width = 1920;
    int height = 1080;
    int fps = 60;
    double seconds = kEndSeconds;
    double stillTime = 0;
    std::string out = "velmora.mp4";
};

bool number(const char* s, double& v) {
    char* end = nullptr;
    v = std::strtod(s, &end);
    return end != s && *end == '\0' && std::isfinite(v);
}

bool parse(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto more = [&](int n) { return i + n < argc; };
        double v = 0;
        if (a == "--size" && more(1)) {
            if (std::sscanf(argv[++i], "%dx%d", &o.width, &o.height) != 2) return false;
            if (o.width < 16 || o.height < 16 || o.width > 8192 || o.height > 8192) return false;
            if (o.width % 2 || o.height % 2) return false;  // yuv420p needs even sizes
        } else if (a == "--fps" && more(1)) {
            if (!number(argv[++i], v) || v < 1 || v > 240 || v != std::floor(v)) return false;
            o.fps = static_cast<int>(v);
        } else if (a == "--seconds" && more(1)) {
            if (!number(argv[++i], v) || v <= 0 || v > kEndSeconds) return false;
            o.seconds = v;
        } else if (a == "--out" && more(1)) {
            o.out = argv[++i];
        } else if (a == "--still" && more(2)) {
            o.mode = Options::Still;
            if (!number(argv[++i], o.stillTime) || o.stillTime < 0 || o.stillTime > kEndSeconds) return false;
            o.out = argv[++i];
        } else if (a == "--sheet" && more(1)) {
            o.mode = Options::Sheet;
            o.out = argv[++i];
        } else {
            return false;
        }
    }
    return true;
}

void progress(int done, int total, double elapsed) {
    constexpr int kBarWidth = 30;
    const double fps = elapsed > 0 ? done / elapsed : 0;
    const double left = fps > 0 ? (total - done) / fps : 0;
    const int filled = total ? done * kBarWidth / total : kBarWidth;
    std::fprintf(stderr, "\r[%-*s] %d/%d frames  %.1f fps  %02d:%02d left ", kBarWidth,
                 std::string(static_cast<size_t>(filled), '#').c_str(), done, total, fps,
                 static_cast<int>(left) / 60, static_cast<int>(left) % 60);
}

bool haveFfmpeg() { return std::system("ffmpeg -version >/dev/null 2>&1") == 0; }

int video(velmora::OffscreenDemo& od, const Options& o) {
    if (!haveFfmpeg()) {
        std::fprintf(stderr, "velmora-capture: ffmpeg was not found on PATH; install it (apt-get install ffmpeg)\n");
        return 1;
    }
    // Frames arrive bottom row first; ffmpeg flips them. The soundtrack starts with frame 0.
    char cmd[1024];
    std::snprintf(cmd, sizeof cmd,
                  "ffmpeg -loglevel error -y -f rawvideo -pix_fmt rgba -s %dx%d -framerate %d -i - "
                  "-i '%s' -map 0:v -map 1:a -vf vflip -c:v libx264 -preset medium -crf 18 "
                  "-pix_fmt yuv420p -c:a aac -b:a 192k -t %.6f -movflags +faststart '%s'",
                  o.width, o.height, o.fps, kSoundtrack, o.seconds, o.out.c_str());
    std::signal(SIGPIPE, SIG_IGN);
    FILE* pipe = popen(cmd, "w");
    if (!pipe) {
        std::fprintf(stderr, "velmora-capture: could not start ffmpeg\n");
        return 1;
    }
    const int total = static_cast<int>(std::floor(o.seconds * o.fps));
    std::vector<uint8_t> rgba;
    const auto start = std::chrono::steady_clock::now();
    bool written = true;
    for (int frame = 0; frame < total && written; ++frame) {
        const double t = velmora::videoFrameTime(frame, o.fps);
        if (o.fps < kSceneRate) od.playUpTo(t, kSceneRate);
        od.render(t);
        od.readRgba(rgba);
        written = std::fwrite(rgba.data(), 1, rgba.size(), pipe) == rgba.size();
        if (frame % 10 == 0 || frame + 1 == total)
            progress(frame + 1, total,
                     std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::fprintf(stderr, "\n");
    const int status = pclose(pipe);
    if (!written || status != 0) {
        std::fprintf(stderr, "velmora-capture: ffmpeg failed to write %s\n", o.out.c_str());
        return 1;
    }
    std::fprintf(stderr, "velmora-capture: wrote %s\n", o.out.c_str());
    return 0;
}

velmora::Picture still(velmora::OffscreenDemo& od, double t, int fps) {
    od.playUpTo(t, fps);
    od.render(t);
    return od.read();
}

int sheet(velmora::OffscreenDemo& od, const Options& o) {
    const int count = static_cast<int>(std::size(kSheetTimes));
    const int rows = (count + kSheetColumns - 1) / kSheetColumns;
    velmora::Picture s;
    s.width = kSheetColumns * kThumbWidth + (kSheetColumns + 1) * kSheetGap;
    s.height = rows * kThumbHeight + (rows + 1) * kSheetGap;
    s.rgb.assign(static_cast<size_t>(s.width) * s.height * 3, 24);
    for (int i = 0; i < count; ++i) {
        std::fprintf(stderr, "\rvelmora-capture: still %d of %d at %.0f s ", i + 1, count, kSheetTimes[i]);
        const velmora::Picture thumb =
            velmora::scaled(still(od, kSheetTimes[i], o.fps), kThumbWidth, kThumbHeight);
        const int x0 = kSheetGap + (i % kSheetColumns) * (kThumbWidth + kSheetGap);
        const int y0 = kSheetGap + (i / kSheetColumns) * (kThumbHeight + kSheetGap);
        for (int y = 0; y < kThumbHeight; ++y)
            std::memcpy(&s.rgb[(static_cast<size_t>(y0 + y) * s.width + x0) * 3],
                        &thumb.rgb[static_cast<size_t>(y) * kThumbWidth * 3], kThumbWidth * 3);
    }
    std::fprintf(stderr, "\n");
    return velmora::writePng(o.out, s) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!parse(argc, argv, o)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    velmora::OffscreenDemo od(o.width, o.height);
    if (!od.ok()) {
        std::fprintf(stderr, "velmora-capture: %s\n", od.why().c_str());
        return 1;
    }
    switch (o.mode) {
    case Options::Video:
        return video(od, o);
    case Options::Still:
        if (!velmora::writePng(o.out, still(od, o.stillTime, o.fps))) {
            std::fprintf(stderr, "velmora-capture: could not write %s\n", o.out.c_str());
            return 1;
        }
        return 0;
    case Options::Sheet:
        return sheet(od, o);
    }
    return 0;
}
