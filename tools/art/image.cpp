#include "image.h"

#include <atomic>
#include <cstdio>
#include <thread>

#include "noise.h"

namespace art {

namespace {

uint8_t quantise(float v, float dither) {
    float q = v * 255.f + dither;
    if (q <= 0.f) return 0;
    if (q >= 255.f) return 255;
    return uint8_t(q + 0.5f);
}

}  // namespace

float gammaEncode(float v) {
    // Tabulated over sqrt(v), which keeps the steep start near black
    // accurate without a power per call.
    constexpr int kN = 4096;
    static const std::vector<float> table = [] {
        std::vector<float> t(kN + 2);
        for (int i = 0; i <= kN + 1; ++i) {
            double s = double(i) / kN;
            t[i] = float(fm::pow(s * s, 1.0 / 2.2));
        }
        return t;
    }();
    if (!(v > 0.f)) return 0.f;
    if (v >= 1.f) return 1.f;
    float x = std::sqrt(v) * kN;
    int i = int(x);
    float f = x - float(i);
    return table[i] + (table[i + 1] - table[i]) * f;
}

bool writeTga(const std::string& path, const Image& img, int bitsPerPixel, Encoding enc,
              uint32_t ditherSeed) {
    const int w = img.width(), h = img.height();
    const int bpp = bitsPerPixel / 8;
    if ((bpp != 3 && bpp != 4) || w <= 0 || h <= 0 || w > 32767 || h > 32767 || (w * bpp) % 4 != 0)
        return false;

    std::vector<uint8_t> out(18 + size_t(w) * h * bpp, 0);
    uint8_t* hd = out.data();
    hd[2] = 2;  // uncompressed true colour
    hd[12] = uint8_t(w & 255); hd[13] = uint8_t(w >> 8);
    hd[14] = uint8_t(h & 255); hd[15] = uint8_t(h >> 8);
    hd[16] = uint8_t(bitsPerPixel);
    hd[17] = bpp == 4 ? 8 : 0;  // alpha bits; origin bottom left

    parallelRows(h, [&](int y) {
        uint8_t* row = out.data() + 18 + size_t(y) * w * bpp;
        for (int x = 0; x < w; ++x) {
            const float* p = img.at(x, y);
            // Triangular dither, one value per pixel shared by the channels.
            uint32_t hsh = hash2(x, y, ditherSeed);
            // Clear texels are not dithered: their colour is never seen, and
            // may carry numbers (withOutline).
            float d = ditherSeed && (bpp == 3 || quantise(p[3], 0.f) > 0) ? (unit(hsh) + unit(hash32(hsh)) - 1.f) * 0.75f : 0.f;
            float c[3];
            for (int k = 0; k < 3; ++k)
                c[k] = enc == Encoding::Linear ? gammaEncode(p[k]) : p[k];
            uint8_t* o = row + size_t(x) * bpp;
            o[0] = quantise(c[2], d);
            o[1] = quantise(c[1], d);
            o[2] = quantise(c[0], d);
            if (bpp == 4) o[3] = quantise(p[3], 0.f);  // coverage is not dithered
        }
    });

    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    ok = std::fclose(f) == 0 && ok;
    return ok;
}

Image withoutClearTop(const Image& img) {
    int top = img.height() - 1;  // the highest row with anything on it
    for (; top >= 0; --top) {
        int x = 0;
        while (x < img.width() && quantise(img.alpha(x, top), 0.f) == 0) ++x;
        if (x < img.width()) break;
    }
    const int keep = std::max(1, top + 2);
    if (keep >= img.height()) return img;
    Image out(img.width(), keep);
    // Rows run from the bottom: what is kept is the start of the pixels.
    std::copy(img.at(0, 0), img.at(0, keep), out.at(0, 0));
    return out;
}

Outline outlineOf(const Image& band) {
    const int w = band.width(), h = band.height();
    const double pictureRows = w * 9.0 / 16.0;
    const auto clear = [&](int x, int y) { return quantise(band.alpha(x, y), 0.f) == 0; };
    const auto dark = [&](int x, int y) {
        const float* p = band.at(x, y);
        return clear(x, y) || std::max({p[0], p[1], p[2]}) * 255.f < 0.5f;
    };
    const auto darkRow = [&](int y) {
        for (int x = 0; x < w; ++x)
            if (!dark(x, y)) return false;
        return true;
    };
    // A filtered lookup reaches one texel either way, so the rows drawn start
    // one under the lowest that shows anything and end two over the highest,
    // a column to either side.
    Outline o;
    int lowest = 0;
    while (lowest < h && darkRow(lowest)) ++lowest;
    o.bottom = std::max(0, int(std::floor((lowest - 1) / pictureRows * 255.0)));

    struct Need { double u, v; };  // the edge must pass over height v at u
    std::vector<Need> needs;
    for (int x = 0; x < w; ++x) {
        int y = h - 1;
        while (y >= 0 && clear(x, y)) --y;
        if (y < 0) continue;
        for (double u : {double(x - 1) / w, double(x + 2) / w})
            needs.push_back({std::clamp(u, 0.0, 1.0), (y + 2) / pictureRows});
    }
    // The straight top edge lowest on average over them, tried at each left
    // end in 255ths; the right end follows from the left.
    int best = 2 * 255 + 1;
    for (int left = 0; left <= 255; ++left) {
        const double yl = left / 255.0;
        double yr = 0;
        bool fits = true;
        for (size_t i = 0; i < needs.size() && fits; ++i) {
            if (needs[i].u <= 0.0) fits = yl >= needs[i].v;
            else yr = std::max(yr, yl + (needs[i].v - yl) / needs[i].u);
        }
        const int right = int(std::ceil(yr * 255.0 - 1e-9));
        if (fits && right <= 255 && left + right < best) {
            best = left + right;
            o.topLeft = left;
            o.topRight = right;
        }
    }
    return o;
}

Image withOutline(const Image& band) {
    const Outline o = outlineOf(band);
    Image out = band;
    out.set(0, band.height() - 1, Vec3(o.bottom / 255.f, o.topLeft / 255.f, o.topRight / 255.f), 0.f);
    return out;
}

Image diagonallySoftened(const Image& img) {
    const int w = img.width(), h = img.height();
    Image out(w, h);
    parallelRows(h, [&](int y) {
        const int down = std::max(y - 1, 0), up = std::min(y + 1, h - 1);
        for (int x = 0; x < w; ++x) {
            const int left = std::max(x - 1, 0), right = std::min(x + 1, w - 1);
            const float* c = img.at(x, y);
            const float* n[4] = {img.at(left, down), img.at(right, down), img.at(left, up), img.at(right, up)};
            float* o = out.at(x, y);
            for (int k = 0; k < 4; ++k) o[k] = c[k] * 0.4f + (n[0][k] + n[1][k] + n[2][k] + n[3][k]) * 0.15f;
        }
    });
    return out;
}

Image boxDownsampled(const Image& img, int factor) {
    Image out(img.width() / factor, img.height() / factor);
    const float weight = 1.f / float(factor * factor);
    for (int y = 0; y < out.height(); ++y)
        for (int x = 0; x < out.width(); ++x) {
            float* o = out.at(x, y);
            for (int j = 0; j < factor; ++j)
                for (int i = 0; i < factor; ++i) {
                    const float* p = img.at(x * factor + i, y * factor + j);
                    for (int c = 0; c < 4; ++c) o[c] += p[c] * weight;
                }
        }
    return out;
}

void parallelRows(int rows, const std::function<void(int)>& fn) {
    unsigned n = std::thread::hardware_concurrency();
    n = n == 0 ? 1 : (n > 8 ? 8 : n);
    std::atomic<int> next{0};
    auto work = [&] {
        for (int y; (y = next.fetch_add(1)) < rows;) fn(y);
    };
    std::vector<std::thread> pool;
    for (unsigned i = 1; i < n; ++i) pool.emplace_back(work);
    work();
    for (auto& t : pool) t.join();
}

}  // namespace art
