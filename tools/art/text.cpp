// The title and credits cards: anti-aliased type on a transparent ground,
// drawn full screen over black by the demo.
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "art.h"
#include "cards.h"
#include "fmath.h"
#include "scene.h"

// stb_truetype's few transcendental calls go through our own functions so
// that the glyphs come out the same on every machine.
#define STBTT_pow(x, y) ::art::fm::pow(x, y)
#define STBTT_cos(x) ::art::fm::cos(x)
#define STBTT_acos(x) ::art::fm::acos(x)
#define STB_TRUETYPE_IMPLEMENTATION
#define STBTT_STATIC
#include <stb/stb_truetype.h>

namespace art {

namespace {

constexpr int W = kScreenW, H = kScreenH;

class Font {
public:
    explicit Font(const std::string& path) {
        std::FILE* f = std::fopen(path.c_str(), "rb");
        if (!f) return;
        std::fseek(f, 0, SEEK_END);
        long n = std::ftell(f);
        std::fseek(f, 0, SEEK_SET);
        if (n > 0) {
            data_.resize(size_t(n));
            if (std::fread(data_.data(), 1, data_.size(), f) != data_.size()) data_.clear();
        }
        std::fclose(f);
        ok_ = !data_.empty() &&
              stbtt_InitFont(&info_, data_.data(), stbtt_GetFontOffsetForIndex(data_.data(), 0)) != 0;
    }
    bool ok() const { return ok_; }

    // Width in pixels of text set at `size` pixels per em with extra
    // tracking (a fraction of the size) between letters.
    float measure(const char* text, float size, float tracking) const {
        float scale = stbtt_ScaleForMappingEmToPixels(&info_, size);
        float x = 0;
        for (const char* p = text; *p; ++p) {
            int adv, lsb;
            stbtt_GetCodepointHMetrics(&info_, *p, &adv, &lsb);
            x += adv * scale + (p[1] ? tracking * size : 0.f);
            if (p[1]) x += scale * stbtt_GetCodepointKernAdvance(&info_, p[0], p[1]);
        }
        return x;
    }

    // Adds the coverage of text into cov (W x H, row 0 at the bottom) with
    // its baseline at row `baseline`, left edge at x.
    void draw(std::vector<float>& cov, const char* text, float size, float x, float baseline,
              float tracking) const {
        float scale = stbtt_ScaleForMappingEmToPixels(&info_, size);
        for (const char* p = text; *p; ++p) {
            int adv, lsb;
            stbtt_GetCodepointHMetrics(&info_, *p, &adv, &lsb);
            float fx = x - std::floor(x);
            int x0, y0, x1, y1;
            stbtt_GetCodepointBitmapBoxSubpixel(&info_, *p, scale, scale, fx, 0.f, &x0, &y0, &x1, &y1);
            int gw = x1 - x0, gh = y1 - y0;
            if (gw > 0 && gh > 0) {
                std::vector<unsigned char> bmp(size_t(gw) * gh);
                stbtt_MakeCodepointBitmapSubpixel(&info_, bmp.data(), gw, gh, gw, scale, scale, fx, 0.f, *p);
                int ox = int(std::floor(x)) + x0;
                for (int j = 0; j < gh; ++j) {
                    // Glyph rows run downward from y0 (above the baseline).
                    int row = int(std::lround(baseline)) - (y0 + j) - 1;
                    if (row < 0 || row >= H) continue;
                    for (int i = 0; i < gw; ++i) {
                        int col = ox + i;
                        if (col < 0 || col >= W) continue;
                        float& c = cov[size_t(row) * W + col];
                        c = std::min(1.f, c + bmp[size_t(j) * gw + i] / 255.f);
                    }
                }
            }
            x += adv * scale + tracking * size;
            if (p[1]) x += scale * stbtt_GetCodepointKernAdvance(&info_, p[0], p[1]);
        }
    }
    void centred(std::vector<float>& cov, const char* text, float size, float cx, float baseline,
                 float tracking = 0.f) const {
        draw(cov, text, size, cx - measure(text, size, tracking) * 0.5f, baseline, tracking);
    }

private:
    std::vector<unsigned char> data_;
    stbtt_fontinfo info_{};
    bool ok_ = false;
};

// A soft copy of the coverage for glows: three box passes each way.
std::vector<float> blur(const std::vector<float>& src, int radius) {
    std::vector<float> a = src, b(src.size());
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < H; ++y) {
            float sum = 0;
            for (int x = -radius; x <= radius; ++x) sum += a[size_t(y) * W + std::clamp(x, 0, W - 1)];
            for (int x = 0; x < W; ++x) {
                b[size_t(y) * W + x] = sum / (2 * radius + 1);
                sum += a[size_t(y) * W + std::min(x + radius + 1, W - 1)] -
                       a[size_t(y) * W + std::max(x - radius, 0)];
            }
        }
        for (int x = 0; x < W; ++x) {
            float sum = 0;
            for (int y = -radius; y <= radius; ++y) sum += b[size_t(std::clamp(y, 0, H - 1)) * W + x];
            for (int y = 0; y < H; ++y) {
                a[size_t(y) * W + x] = sum / (2 * radius + 1);
                sum += b[size_t(std::min(y + radius + 1, H - 1)) * W + x] -
                       b[size_t(std::max(y - radius, 0)) * W + x];
            }
        }
    }
    return a;
}

// A hairline rule from x0 to x1 at row y, anti-aliased, fading at its ends.
void rule(std::vector<float>& cov, float x0, float x1, float y, float thickness) {
    for (int row = int(y - 3); row <= int(y + 3); ++row)
        for (int x = int(x0); x <= int(x1); ++x) {
            float d = std::fabs(row + 0.5f - y);
            float a = clamp01(thickness * 0.5f + 0.5f - d);
            float t = (x - x0) / (x1 - x0);
            a *= smoothstep(0.f, 0.25f, t) * smoothstep(1.f, 0.75f, t);
            float& c = cov[size_t(row) * W + x];
            c = std::max(c, a);
        }
}

// A small lozenge centred at (cx, cy).
void lozenge(std::vector<float>& cov, float cx, float cy, float r) {
    for (int y = int(cy - r - 2); y <= int(cy + r + 2); ++y)
        for (int x = int(cx - r - 2); x <= int(cx + r + 2); ++x) {
            float d = (std::fabs(x + 0.5f - cx) + std::fabs(y + 0.5f - cy) - r) * 0.7071f;
            float& c = cov[size_t(y) * W + x];
            c = std::max(c, clamp01(0.5f - d));
        }
}

}  // namespace

Image drawTitle(const std::string& fontPath) {
    Font font(fontPath);
    if (!font.ok()) return Image();
    std::vector<float> cov(size_t(W) * H, 0.f), orn(size_t(W) * H, 0.f);
    const float baseline = H * 0.50f, size = 330.f;
    font.centred(cov, kTitleName, size, W * 0.5f, baseline, 0.02f);
    // A hairline under the name, parted by a small lozenge.
    const float ry = baseline - 95.f;
    rule(orn, W * 0.5f - 330.f, W * 0.5f - 22.f, ry, 1.6f);
    rule(orn, W * 0.5f + 22.f, W * 0.5f + 330.f, ry, 1.6f);
    lozenge(orn, W * 0.5f, ry, 7.f);
    std::vector<float> glow = blur(cov, 16);

    const Vec3 top = hex(0xf8ead0), bottom = hex(0xd4a35f), halo = hex(0xe0a860), line = hex(0xc9a26a);
    Image img(W, H);
    parallelRows(H, [&](int y) {
        // Gold that warms toward the foot of the letters.
        float t = smoothstep(baseline - 10.f, baseline + 230.f, float(y));
        Vec3 ink = mix(bottom, top, t);
        for (int x = 0; x < W; ++x) {
            size_t i = size_t(y) * W + x;
            float a = cov[i], o = orn[i], g = glow[i] * 0.35f;
            // Letters over their glow, the ornament beside them.
            float alpha = a + g * (1.f - a);
            Vec3 c = alpha > 0.f ? (ink * a + halo * (g * (1.f - a))) * (1.f / alpha) : ink;
            float out = o + alpha * (1.f - o);
            if (out > 0.f) c = (line * o + c * (alpha * (1.f - o))) * (1.f / out);
            img.set(x, y, c, out);
        }
    });
    return img;
}

Image drawCredits(const std::string& titleFont, const std::string& textFont) {
    Font display(titleFont), text(textFont);
    if (!display.ok() || !text.ok()) return Image();
    // Three layers of ink: names, headings, and the quieter notes.
    std::vector<float> names(size_t(W) * H, 0.f), heads(size_t(W) * H, 0.f), notes(size_t(W) * H, 0.f);
    const float cx = W * 0.5f;

    display.centred(heads, kCreditsHeading, 120.f, cx, H * 0.80f, 0.02f);
    text.centred(notes, kCreditsSubtitle, 30.f, cx, H * 0.80f - 62.f, 0.28f);
    text.centred(notes, kCreditsClaim, 34.f,
                 cx, H * 0.66f, 0.01f);
    rule(notes, cx - 260.f, cx + 260.f, H * 0.615f, 1.4f);

    display.centred(heads, kCreditsBuiltWith, 52.f, cx, H * 0.545f, 0.04f);
    // Names right-aligned against a centre gutter, their notes to its left.
    float y = H * 0.475f;
    for (const CreditLine& l : kCreditsLibraries) {
        float nw = display.measure(l.name, 44.f, 0.02f);
        display.draw(names, l.name, 44.f, cx - 24.f - nw, y, 0.02f);
        text.draw(notes, l.what, 36.f, cx + 24.f, y, 0.01f);
        y -= 52.f;
    }
    text.centred(notes, kCreditsTypefaces, 28.f, cx, y - 22.f, 0.06f);
    display.centred(heads, kCreditsThanks, 58.f, cx, H * 0.085f, 0.03f);

    const Vec3 nameInk = hex(0xf2e8d8), headInk = hex(0xd9b477), noteInk = hex(0xa89e92);
    Image img(W, H);
    parallelRows(H, [&](int yy) {
        for (int x = 0; x < W; ++x) {
            size_t i = size_t(yy) * W + x;
            float a = std::min(1.f, names[i] + heads[i] + notes[i]);
            float wsum = names[i] + heads[i] + notes[i];
            Vec3 c = wsum > 0.f ? (nameInk * names[i] + headInk * heads[i] + noteInk * notes[i]) * (1.f / wsum)
                                : nameInk;
            img.set(x, yy, c, a);
        }
    });
    return img;
}

}  // namespace art
