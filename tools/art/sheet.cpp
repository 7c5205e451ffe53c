// velmora-art-sheet DATA_DIR OUT.png
// A contact sheet of the generated art for looking at it: each scene put
// together roughly as the demo layers it (with the figure placed by the
// sprite mapping at a few moments), every image on its own, and a strip of
// walk frames. Not part of the data; a tool for whoever changes the art.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

namespace {

struct Pic {
    int w = 0, h = 0;
    std::vector<float> px;  // RGBA, 0..1, row 0 at the bottom
    bool ok() const { return w > 0; }
    void sample(float u, float v, float out[4]) const {  // bilinear, repeating
        float x = u * w - 0.5f, y = v * h - 0.5f;
        int x0 = int(std::floor(x)), y0 = int(std::floor(y));
        float fx = x - x0, fy = y - y0;
        for (int k = 0; k < 4; ++k) out[k] = 0.f;
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 2; ++i) {
                int xx = ((x0 + i) % w + w) % w, yy = ((y0 + j) % h + h) % h;
                float wgt = (i ? fx : 1 - fx) * (j ? fy : 1 - fy);
                const float* p = &px[(size_t(yy) * w + xx) * 4];
                for (int k = 0; k < 4; ++k) out[k] += p[k] * wgt;
            }
    }
};

Pic readTga(const std::string& path) {
    Pic p;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return p;
    unsigned char hd[18];
    if (std::fread(hd, 1, 18, f) == 18 && hd[2] == 2 && (hd[16] == 24 || hd[16] == 32)) {
        int w = hd[12] | hd[13] << 8, h = hd[14] | hd[15] << 8, bpp = hd[16] / 8;
        std::vector<unsigned char> raw(size_t(w) * h * bpp);
        if (std::fread(raw.data(), 1, raw.size(), f) == raw.size()) {
            p.w = w; p.h = h; p.px.resize(size_t(w) * h * 4);
            for (size_t i = 0; i < size_t(w) * h; ++i) {
                p.px[i * 4 + 0] = raw[i * bpp + 2] / 255.f;
                p.px[i * 4 + 1] = raw[i * bpp + 1] / 255.f;
                p.px[i * 4 + 2] = raw[i * bpp + 0] / 255.f;
                p.px[i * 4 + 3] = bpp == 4 ? raw[i * bpp + 3] / 255.f : 1.f;
            }
        }
    }
    std::fclose(f);
    return p;
}

constexpr int TW = 960, TH = 540;  // one tile: half of 1920 x 1080

struct Tile {
    std::vector<float> rgb = std::vector<float>(size_t(TW) * TH * 3, 0.f);
    // Draws a full-screen layer over the tile, blended by its alpha.
    void layer(const Pic& p, bool useAlpha = true, float gain = 1.f) {
        if (!p.ok()) return;
        for (int y = 0; y < TH; ++y)
            for (int x = 0; x < TW; ++x) {
                float s[4];
                p.sample((x + 0.5f) / TW, (y + 0.5f) / TH, s);
                float a = useAlpha ? s[3] : 1.f;
                float* o = &rgb[(size_t(y) * TW + x) * 3];
                for (int k = 0; k < 3; ++k) o[k] = o[k] * (1 - a) + s[k] * gain * a;
            }
    }
    // Adds rgb * alpha (a light layer).
    void add(const Pic& p) {
        if (!p.ok()) return;
        for (int y = 0; y < TH; ++y)
            for (int x = 0; x < TW; ++x) {
                float s[4];
                p.sample((x + 0.5f) / TW, (y + 0.5f) / TH, s);
                float* o = &rgb[(size_t(y) * TW + x) * 3];
                for (int k = 0; k < 3; ++k) o[k] = std::min(1.f, o[k] + s[k] * s[3]);
            }
    }
    // The figure's frame placed like the figure's program does: clip x
    // [ox, ox + 0.16875], clip y [oy, oy + 0.3]; lift brightens it as a
    // white tint would.
    void sprite(const Pic& f, float ox, float oy, float lift) {
        if (!f.ok()) return;
        for (int y = 0; y < TH; ++y)
            for (int x = 0; x < TW; ++x) {
                float cx = (x + 0.5f) / TW * 2 - 1, cy = (y + 0.5f) / TH * 2 - 1;
                float u = (cx - ox) / 0.16875f, v = (cy - oy) / 0.3f;
                if (u < 0 || u > 1 || v < 0 || v > 1) continue;
                float s[4];
                f.sample(u, v, s);
                float* o = &rgb[(size_t(y) * TW + x) * 3];
                for (int k = 0; k < 3; ++k) o[k] = o[k] * (1 - s[3]) + std::min(1.f, s[k] + lift) * s[3];
            }
    }
    void checker() {
        for (int y = 0; y < TH; ++y)
            for (int x = 0; x < TW; ++x)
                for (int k = 0; k < 3; ++k)
                    rgb[(size_t(y) * TW + x) * 3 + k] = ((x / 24 + y / 24) % 2) ? 0.30f : 0.22f;
    }
};

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s DATA_DIR OUT.png\n", argv[0]);
        return 2;
    }
    const std::string dir = argv[1];
    auto tex = [&](const char* n) { return readTga(dir + "/textures/" + n + ".tga"); };
    std::vector<Pic> frames;
    for (int i = 0; i < 74; ++i) frames.push_back(readTga(dir + "/walk/out" + std::to_string(i) + ".tga"));

    std::vector<Tile> tiles;
    Pic desert = tex("desert"), bright = tex("desertbright"), mountain = tex("mountain"),
        night = tex("starnight"), stars = tex("stars"), ground = tex("meteor_ground"),
        small = tex("meteor_sky_small"), big = tex("meteor_sky_big"), title = tex("title"),
        credits = tex("credits");

    Tile t;  // desert with the figure at three moments of its crossing
    t.layer(desert, false);
    for (float x : {0.55f, -0.05f, -0.62f}) t.sprite(frames[10], x, -0.28f, 0.f);
    tiles.push_back(t);
    t = Tile(); t.checker(); t.layer(bright); tiles.push_back(t);
    t = Tile();  // mountain: walkerX and y along the scene
    t.layer(mountain, false);
    for (float s : {0.f, 10.f, 20.f, 29.f}) {
        int cycles = int(s * 30 / 74), f = int(s * 30) % 74;
        t.sprite(frames[f], 0.8f - 0.109f * cycles, s / 100.f - 0.7f, 0.f);
    }
    tiles.push_back(t);
    t = Tile();  // star night: stars (square image shown 1:1 in the middle), land, figure
    t.layer(stars, false);
    t.layer(night);
    for (float x : {0.5f, -0.5f}) t.sprite(frames[30], x, -0.42f, 0.2f);
    tiles.push_back(t);
    t = Tile(); t.layer(stars, false); tiles.push_back(t);
    t = Tile();  // meteor sky: small sky, big stars added, ground, figure
    t.layer(small, false);
    t.add(big);
    t.layer(ground);
    t.sprite(frames[50], 0.3f, -0.48f, 0.f);
    tiles.push_back(t);
    t = Tile(); t.layer(small, false); tiles.push_back(t);
    t = Tile(); t.add(big); tiles.push_back(t);
    t = Tile(); t.layer(title); tiles.push_back(t);
    t = Tile(); t.layer(credits); tiles.push_back(t);
    t = Tile();  // walk strip: every 6th frame, side by side, at sprite size
    for (int y = 0; y < TH; ++y)
        for (int x = 0; x < TW; ++x)
            for (int k = 0; k < 3; ++k) t.rgb[(size_t(y) * TW + x) * 3 + k] = y < TH / 2 ? 0.85f : 0.3f;
    for (int i = 0; i < 13; ++i) {
        float ox = -1.f + i * 0.15f;
        t.sprite(frames[i * 6], ox, 0.05f, 0.f);
        t.sprite(frames[i * 6], ox, -0.95f, 0.2f);
    }
    tiles.push_back(t);

    const int cols = 2, rows = int(tiles.size() + 1) / 2, gap = 8;
    const int SW = cols * TW + (cols + 1) * gap, SH = rows * TH + (rows + 1) * gap;
    std::vector<unsigned char> out(size_t(SW) * SH * 3, 40);
    for (size_t i = 0; i < tiles.size(); ++i) {
        int ox = gap + int(i % cols) * (TW + gap), oy = gap + int(i / cols) * (TH + gap);
        for (int y = 0; y < TH; ++y)
            for (int x = 0; x < TW; ++x)
                for (int k = 0; k < 3; ++k) {
                    float v = tiles[i].rgb[(size_t(TH - 1 - y) * TW + x) * 3 + k];
                    out[(size_t(oy + y) * SW + ox + x) * 3 + k] =
                        (unsigned char)(std::min(1.f, std::max(0.f, v)) * 255.f + 0.5f);
                }
    }
    if (!stbi_write_png(argv[2], SW, SH, 3, out.data(), SW * 3)) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
