// The capture tool, as someone making a video of the demo uses it.
#include "audio/decoder.h"
#include "offscreen.h"
#include "render/timeline.h"
#include "temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace {

struct ToolRun {
    int status;
    std::string err;
};

ToolRun capture(const std::string& args) {
    const velmora::test::TempDir tmp("velmora-capture-err");
    const std::string errFile = tmp / "err";
    const int status = std::system((std::string(VELMORA_CAPTURE) + " " + args + " 2>" + errFile).c_str());
    std::string err;
    if (FILE* f = std::fopen(errFile.c_str(), "rb")) {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) err.append(buf, n);
        std::fclose(f);
    }
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, err};
}

std::string shell(const std::string& cmd) {
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> p(popen(cmd.c_str(), "r"), pclose);
    char buf[256];
    while (p && std::fgets(buf, sizeof buf, p.get())) out += buf;
    return out;
}

TEST(Capture, RejectsBadArgumentsWithTheUsageLine) {
    for (const char* args : {"--size 0x0", "--size 321x180", "--fps -3", "--fps 2.5", "--still",
                             "--still abc out.png", "--still 200 out.png", "--seconds 0", "--bogus"}) {
        const ToolRun r = capture(args);
        EXPECT_NE(r.status, 0) << args;
        EXPECT_EQ(r.err.rfind("usage: velmora-capture", 0), 0u) << args << ": " << r.err;
    }
}

TEST(Capture, StillIsTheFrameTheDemoDrawsAtThatTime) {
    constexpr int kW = 320, kH = 180;
    constexpr double kT = 97.3;  // meteors: the walker's place depends on the frames before
    const velmora::test::TempDir tmp("velmora-still");
    const std::string png = tmp / "still.png";
    const ToolRun r = capture("--size 320x180 --still 97.3 " + png);
    ASSERT_EQ(r.status, 0) << r.err;

    const velmora::Picture still = velmora::readPng(png);
    ASSERT_FALSE(still.rgb.empty());
    ASSERT_EQ(still.width, kW);
    ASSERT_EQ(still.height, kH);

    velmora::OffscreenDemo od(kW, kH);
    ASSERT_TRUE(od.ok()) << od.why();
    // Played frame by frame from the row's start, as a viewer would have seen it.
    const double from = velmora::scoreRowStart(velmora::scoreRow(kT));
    for (int frame = 1; from + frame / 60.0 < kT; ++frame) od.render(from + frame / 60.0);
    od.render(kT);
    const velmora::Picture expected = od.read();
    ASSERT_EQ(expected.rgb.size(), static_cast<size_t>(kW) * kH * 3);
    size_t differing = 0;
    for (size_t i = 0; i < expected.rgb.size(); ++i) differing += expected.rgb[i] != still.rgb[i];
    EXPECT_EQ(differing, 0u);
    // And it is a picture, not a black frame.
    size_t lit = 0;
    for (size_t i = 0; i < expected.rgb.size(); ++i) lit += expected.rgb[i] > 16;
    EXPECT_GT(lit, expected.rgb.size() / 1000);
}

// At 60 frames a second a video's frames land exactly on 70 s and 182 s, where the strict bounds
// of the title and the particles, and of the star night and the credits, leave nothing drawn.
// Those frames show what follows, never a black frame between two lit ones.
TEST(Capture, AVideoFrameOnARowsBoundShowsTheRowAfterIt) {
    velmora::OffscreenDemo od(320, 180);
    ASSERT_TRUE(od.ok()) << od.why();
    auto mean = [&](int frame) {
        const double t = velmora::videoFrameTime(frame, 60);
        od.playUpTo(t, 60);
        od.render(t);
        const velmora::Picture p = od.read();
        double sum = 0;
        for (uint8_t c : p.rgb) sum += c;
        return sum / static_cast<double>(p.rgb.size());
    };
    for (int bound : {70 * 60, 182 * 60}) {
        const double before = mean(bound - 1), at = mean(bound), after = mean(bound + 1);
        EXPECT_GT(at, std::min(before, after) * 0.5)
            << "frame " << bound << ": " << before << ", " << at << ", " << after << " (mean of 255)";
    }
    // Frame 0 is the music's first instant, before anything plays, as a live run's first frame.
    EXPECT_EQ(velmora::videoFrameTime(0, 60), 0.0);
}

TEST(Capture, SheetStillsAreWhatAViewerOfTheWholeRunSees) {
    // The sheet's layout: two columns of 448x252 thumbnails, 8 pixels apart and from the edges,
    // one for each of these times.
    constexpr double kSheetTimes[] = {10, 40, 63, 67, 80, 100, 145, 160, 175, 183};
    constexpr int kThumbW = 448, kThumbH = 252, kGap = 8;
    const velmora::test::TempDir tmp("velmora-sheet");
    const ToolRun sheet = capture("--size 320x180 --sheet " + tmp / "sheet.png");
    ASSERT_EQ(sheet.status, 0) << sheet.err;
    const velmora::Picture s = velmora::readPng(tmp / "sheet.png");
    ASSERT_EQ(s.width, 2 * kThumbW + 3 * kGap);
    // The second still of a row, after the sheet has shown the first: the desert's, and the star
    // night's, where the walker's place gives away a row played twice.
    for (int i : {1, 8}) {
        const std::string png = tmp / ("still" + std::to_string(i) + ".png");
        const ToolRun one = capture("--size 320x180 --still " + std::to_string(kSheetTimes[i]) + " " + png);
        ASSERT_EQ(one.status, 0) << one.err;
        const velmora::Picture thumb = velmora::scaled(velmora::readPng(png), kThumbW, kThumbH);
        const int x0 = kGap + (i % 2) * (kThumbW + kGap), y0 = kGap + (i / 2) * (kThumbH + kGap);
        size_t differing = 0;
        for (int y = 0; y < kThumbH; ++y)
            for (int x = 0; x < kThumbW * 3; ++x)
                differing += s.rgb[(static_cast<size_t>(y0 + y) * s.width + x0) * 3 + x] !=
                             thumb.rgb[static_cast<size_t>(y) * kThumbW * 3 + x];
        EXPECT_EQ(differing, 0u) << kSheetTimes[i] << " s";
    }
}

TEST(Capture, TwoSecondsMakeAnMp4OfTheRightLengthWithItsSoundInSync) {
    if (std::system("ffprobe -version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no ffprobe";
    const velmora::test::TempDir tmp("velmora-capture");
    const std::string mp4 = tmp / "capture.mp4";
    const ToolRun r = capture("--size 320x180 --fps 30 --seconds 2 --out " + mp4);
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("60/60 frames"), std::string::npos) << r.err;
    const std::string probe = "ffprobe -v error -count_frames -select_streams v:0 -show_entries "
                              "stream=nb_read_frames,width,height,pix_fmt,codec_name -of default=nw=1 " + mp4;
    const std::string video = shell(probe);
    EXPECT_NE(video.find("codec_name=h264"), std::string::npos) << video;
    EXPECT_NE(video.find("pix_fmt=yuv420p"), std::string::npos) << video;
    EXPECT_NE(video.find("width=320"), std::string::npos) << video;
    EXPECT_NE(video.find("nb_read_frames=60"), std::string::npos) << video;
    const std::string audio = shell("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,start_time "
                                    "-of default=nw=1 " + mp4);
    EXPECT_NE(audio.find("codec_name=aac"), std::string::npos) << audio;
    const double duration = std::atof(shell("ffprobe -v error -show_entries format=duration -of csv=p=0 " + mp4).c_str());
    EXPECT_NEAR(duration, 2.0, 0.05);

    // Its sound is the soundtrack from sample 0, as the demo's clock hears it, to within a frame:
    // the lag that best lays the video's sound over the soundtrack's start.
    DecodedPcm music;
    std::string error;
    ASSERT_TRUE(decodeMp3("data/dunesong.mp3", music, error)) << error;
    const std::string pcm = tmp / "sound.raw";
    ASSERT_EQ(std::system(("ffmpeg -v error -i " + mp4 + " -f s16le -ac 1 -ar " + std::to_string(music.rate) + " " + pcm).c_str()), 0);
    std::vector<int16_t> heard(static_cast<size_t>(music.rate) * 2);
    FILE* f = std::fopen(pcm.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    heard.resize(std::fread(heard.data(), sizeof(int16_t), heard.size(), f));
    std::fclose(f);
    const int maxLag = music.rate / 10, span = music.rate;  // a second, laid within a tenth of one
    ASSERT_GE(static_cast<int>(heard.size()), span + maxLag);
    auto played = [&](int i) {  // the soundtrack in mono, 0 before it starts
        if (i < 0) return 0.0;
        double s = 0;
        for (int c = 0; c < music.channels; ++c) s += music.samples[static_cast<size_t>(i) * music.channels + c];
        return s / music.channels;
    };
    // Compared sample step by sample step, where the sound's detail is: a sharp peak at the lag.
    int bestLag = 0;
    double best = -1;
    for (int lag = -maxLag; lag <= maxLag; ++lag) {
        double dot = 0;
        for (int i = maxLag; i < span; ++i) dot += (heard[i] - heard[i - 1]) * (played(i - lag) - played(i - 1 - lag));
        if (dot > best) best = dot, bestLag = lag;
    }
    EXPECT_GT(best, 0.0);
    EXPECT_LT(std::abs(bestLag), music.rate / 30) << "the sound lags the picture by " << bestLag << " samples of " << music.rate << " a second";
}

}  // namespace
