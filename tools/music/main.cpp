// Renders the soundtrack and writes it as MP3 (and, on request, as raw float PCM).
//   velmora-music OUTPUT.mp3 [--pcm FILE] [--threads N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "encode.h"
#include "render.h"

namespace {

bool writeFile(const std::string& path, const void* data, size_t size) {
    const std::string tmp = path + ".part";
    FILE* f = std::fopen(tmp.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    if (std::fclose(f) != 0 || !ok || std::rename(tmp.c_str(), path.c_str()) != 0) {
        std::remove(tmp.c_str());
        return false;
    }
    return true;
}

int usage() {
    std::fprintf(stderr, "usage: velmora-music OUTPUT.mp3 [--pcm FILE] [--threads N]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string output, pcmPath;
    int threads = 2;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--pcm") == 0 && i + 1 < argc) {
            pcmPath = argv[++i];
        } else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            threads = std::atoi(argv[++i]);
            if (threads < 1) return usage();
        } else if (argv[i][0] == '-' || !output.empty()) {
            return usage();
        } else {
            output = argv[i];
        }
    }
    if (output.empty()) return usage();

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    velmora::music::RenderReport report;
    const std::vector<float> pcm = velmora::music::renderSoundtrack(threads, &report);
    const double renderSeconds = std::chrono::duration<double>(Clock::now() - start).count();

    const auto encodeStart = Clock::now();
    std::vector<uint8_t> mp3;
    std::string error;
    if (!velmora::music::encodeMp3(pcm, mp3, error)) {
        std::fprintf(stderr, "velmora-music: %s\n", error.c_str());
        return 1;
    }
    const double encodeSeconds = std::chrono::duration<double>(Clock::now() - encodeStart).count();
    if (!writeFile(output, mp3.data(), mp3.size())) {
        std::fprintf(stderr, "velmora-music: cannot write %s\n", output.c_str());
        return 1;
    }
    if (!pcmPath.empty() && !writeFile(pcmPath, pcm.data(), pcm.size() * sizeof(float))) {
        std::fprintf(stderr, "velmora-music: cannot write %s\n", pcmPath.c_str());
        return 1;
    }
    std::fprintf(stderr,
                 "velmora-music: %.1f s of audio, %.2f LUFS, true peak %.2f dBTP (gain %.2f dB)\n"
                 "velmora-music: voices %.2f s, effects %.2f s, master %.2f s, encode %.2f s, total %.2f s\n",
                 pcm.size() / 2 / 48000.0, report.lufs, report.truePeakDb, report.masterGainDb, report.secondsVoices,
                 report.secondsEffects, report.secondsMaster, encodeSeconds, renderSeconds + encodeSeconds);
    return 0;
}
