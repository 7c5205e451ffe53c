#include "loudness.h"

#include <algorithm>
#include <limits>

namespace velmora::music {

namespace {

constexpr size_t kStep = 4800;  // 100 ms at 48 kHz

struct Section {
    double b0, b1, b2, a1, a2;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    double tick(double x) {
        double y = b0 * x + b1 * x1 + b2 * x2 - a1 * y1 - a2 * y2;
        x2 = x1; x1 = x; y2 = y1; y1 = y;
        return y;
    }
};

// The K-weighting pair at 48 kHz: the head's high shelf, then the revised low-frequency B curve.
Section shelf() { return {1.53512485958697, -2.69169618940638, 1.19839281085285, -1.69065929318241, 0.73248077421585}; }
Section highpass() { return {1.0, -2.0, 1.0, -1.99004745483398, 0.99007225036621}; }

double loudnessOf(double meanSquare) { return -0.691 + 10.0 * std::log10(meanSquare); }

// 4x interpolation: a Kaiser-windowed sinc, 24 taps per phase, unity gain at DC.
constexpr int kHalf = 12;
struct Interpolator {
    float c[3][2 * kHalf];
    Interpolator() {
        const double beta = 8.0;
        auto bessel = [](double x) {
            double sum = 1.0, term = 1.0;
            for (int k = 1; k < 30; ++k) {
                term *= (x / (2.0 * k)) * (x / (2.0 * k));
                sum += term;
            }
            return sum;
        };
        for (int p = 1; p <= 3; ++p) {
            double frac = p / 4.0, sum = 0.0;
            double tmp[2 * kHalf];
            for (int m = -kHalf + 1; m <= kHalf; ++m) {
                double t = frac - m;  // distance from tap x[n+m] to the point n+frac
                double sinc = std::sin(3.14159265358979323846 * t) / (3.14159265358979323846 * t);
                double r = t / (kHalf + 0.5);
                double w = bessel(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / bessel(beta);
                tmp[m + kHalf - 1] = sinc * w;
                sum += sinc * w;
            }
            for (int i = 0; i < 2 * kHalf; ++i) c[p - 1][i] = static_cast<float>(tmp[i] / sum);
        }
    }
};

const Interpolator& interpolator() {
    static const Interpolator table;
    return table;
}

}  // namespace

std::vector<double> kWeightedPower(const float* stereo, size_t frames) {
    Section s[2] = {shelf(), shelf()}, h[2] = {highpass(), highpass()};
    std::vector<double> power;
    power.reserve(frames / kStep + 1);
    double acc = 0.0;
    size_t inStep = 0;
    for (size_t n = 0; n < frames; ++n) {
        for (int ch = 0; ch < 2; ++ch) {
            double y = h[ch].tick(s[ch].tick(stereo[2 * n + ch]));
            acc += y * y;
        }
        if (++inStep == kStep) {
            power.push_back(acc / kStep);
            acc = 0.0;
            inStep = 0;
        }
    }
    return power;
}

std::vector<double> slidingLoudness(const float* stereo, size_t frames, int windowSteps) {
    std::vector<double> power = kWeightedPower(stereo, frames);
    std::vector<double> out;
    for (size_t i = 0; i + windowSteps <= power.size(); ++i) {
        double sum = 0.0;
        for (int k = 0; k < windowSteps; ++k) sum += power[i + k];
        out.push_back(loudnessOf(sum / windowSteps));
    }
    return out;
}

double integratedLoudness(const float* stereo, size_t frames) {
    std::vector<double> power = kWeightedPower(stereo, frames);
    // 400 ms gating blocks overlapping by 75 %.
    std::vector<double> blocks;
    for (size_t i = 0; i + 4 <= power.size(); ++i)
        blocks.push_back((power[i] + power[i + 1] + power[i + 2] + power[i + 3]) / 4.0);
    auto gatedMean = [&](double gateLufs) {
        double sum = 0.0;
        size_t count = 0;
        for (double b : blocks)
            if (b > 0.0 && loudnessOf(b) > gateLufs) { sum += b; ++count; }
        return count ? sum / count : 0.0;
    };
    double absolute = gatedMean(-70.0);
    if (absolute <= 0.0) return -std::numeric_limits<double>::infinity();
    double relative = gatedMean(loudnessOf(absolute) - 10.0);
    return loudnessOf(relative);
}

std::vector<float> truePeakEnvelope(const float* stereo, size_t frames) {
    const Interpolator& ip = interpolator();
    std::vector<float> env(frames, 0.0f);
    auto at = [&](long n, int ch) -> float {
        return (n < 0 || n >= static_cast<long>(frames)) ? 0.0f : stereo[2 * n + ch];
    };
    for (size_t n = 0; n < frames; ++n) {
        float peak = std::max(std::fabs(stereo[2 * n]), std::fabs(stereo[2 * n + 1]));
        const long base = static_cast<long>(n) - kHalf + 1;
        const bool inside = base >= 0 && base + 2 * kHalf <= static_cast<long>(frames);
        for (int ch = 0; ch < 2; ++ch) {
            float x[2 * kHalf];
            if (inside) {
                for (int i = 0; i < 2 * kHalf; ++i) x[i] = stereo[2 * (base + i) + ch];
            } else {
                for (int i = 0; i < 2 * kHalf; ++i) x[i] = at(base + i, ch);
            }
            for (int p = 0; p < 3; ++p) {
                float y = 0.0f;
                for (int i = 0; i < 2 * kHalf; ++i) y += ip.c[p][i] * x[i];
                peak = std::max(peak, std::fabs(y));
            }
        }
        env[n] = peak;
    }
    return env;
}

float truePeak(const float* stereo, size_t frames) {
    std::vector<float> env = truePeakEnvelope(stereo, frames);
    float peak = 0.0f;
    for (float v : env) peak = std::max(peak, v);
    return peak;
}

}  // namespace velmora::music
