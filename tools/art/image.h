#pragma once
// Float images, colour helpers, TGA output and a row-parallel loop shared by
// every picture the art generator draws.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "fmath.h"

namespace art {

struct Vec3 {
    float r = 0, g = 0, b = 0;
    Vec3() = default;
    constexpr Vec3(float r_, float g_, float b_) : r(r_), g(g_), b(b_) {}
    constexpr explicit Vec3(float v) : r(v), g(v), b(v) {}
};
inline Vec3 operator+(Vec3 a, Vec3 b) { return {a.r + b.r, a.g + b.g, a.b + b.b}; }
inline Vec3 operator-(Vec3 a, Vec3 b) { return {a.r - b.r, a.g - b.g, a.b - b.b}; }
inline Vec3 operator*(Vec3 a, Vec3 b) { return {a.r * b.r, a.g * b.g, a.b * b.b}; }
inline Vec3 operator*(Vec3 a, float s) { return {a.r * s, a.g * s, a.b * s}; }
inline Vec3 operator*(float s, Vec3 a) { return a * s; }
inline Vec3& operator+=(Vec3& a, Vec3 b) { return a = a + b; }
inline Vec3 mix(Vec3 a, Vec3 b, float t) { return a + (b - a) * t; }
inline float mix(float a, float b, float t) { return a + (b - a) * t; }
inline float clamp01(float v) { return v < 0.f ? 0.f : (v > 1.f ? 1.f : v); }
inline float smoothstep(float e0, float e1, float x) {
    float t = clamp01((x - e0) / (e1 - e0));
    return t * t * (3.f - 2.f * t);
}
// Colours are written in display space; lighting is worked out in linear
// light and converted back with this pair.
inline float toLinear(float v) { return float(fm::pow(std::max(v, 0.f), 2.2)); }
// Linear light to display value, through a table.
float gammaEncode(float linear);
inline Vec3 toLinear(Vec3 c) { return {toLinear(c.r), toLinear(c.g), toLinear(c.b)}; }
inline Vec3 hex(uint32_t rgb) {
    return {((rgb >> 16) & 255) / 255.f, ((rgb >> 8) & 255) / 255.f, (rgb & 255) / 255.f};
}

// RGBA, straight (not premultiplied) alpha, row 0 at the bottom as in the
// files. Colour channels hold linear light unless a writer is told otherwise.
class Image {
public:
    Image() = default;
    Image(int w, int h) : w_(w), h_(h), px_(size_t(w) * h * 4, 0.f) {}
    int width() const { return w_; }
    int height() const { return h_; }
    float* at(int x, int y) { return &px_[(size_t(y) * w_ + x) * 4]; }
    const float* at(int x, int y) const { return &px_[(size_t(y) * w_ + x) * 4]; }
    void set(int x, int y, Vec3 c, float a = 1.f) {
        float* p = at(x, y);
        p[0] = c.r; p[1] = c.g; p[2] = c.b; p[3] = a;
    }
    Vec3 rgb(int x, int y) const { const float* p = at(x, y); return {p[0], p[1], p[2]}; }
    float alpha(int x, int y) const { return at(x, y)[3]; }

private:
    int w_ = 0, h_ = 0;
    std::vector<float> px_;
};

// The image up to the first fully clear row over everything it shows, that
// row included (a filtered lookup at the top edge still fades to clear); an
// image with no clear row on top comes back whole.
Image withoutClearTop(const Image& img);

// Where a band (an image kept by withoutClearTop) shows anything, in 255ths
// of its picture's height, rounded outward: nothing but dark or clear rows
// lie below `bottom`, and nothing but clear texels above the line from
// (left edge, topLeft) to (right edge, topRight). Dark rows left undrawn
// look the same as drawn, since nothing is under a band but the clear.
struct Outline {
    int bottom = 0, topLeft = 255, topRight = 255;
};
Outline outlineOf(const Image& band);
// The band with its outline written into its top-left texel, which stays
// clear (a band's top row is), for the renderer to draw those rows alone.
Image withOutline(const Image& band);

// Softened along both diagonals: each pixel keeps 0.4 of itself and takes
// 0.15 of each diagonal neighbour (held inside the picture at its edges).
Image diagonallySoftened(const Image& img);

// Each block of factor x factor pixels averaged into one (the size must
// divide by it): for a picture that changes slowly and is read texel by
// texel, so that a smaller one serves.
Image boxDownsampled(const Image& img, int factor);

enum class Encoding { Linear, Display };

// Writes an uncompressed true-colour TGA: no image ID, no colour map, origin
// at the bottom left, 24 or 32 bits per pixel. Linear colours are gamma
// encoded; unless ditherSeed is 0 every channel gets a small hashed dither
// against banding.
// Returns false if the file cannot be written.
bool writeTga(const std::string& path, const Image& img, int bitsPerPixel, Encoding enc,
              uint32_t ditherSeed);

// Runs fn(y) for every y in [0, rows). Rows are handed out to a fixed
// number of workers; results must depend on y alone.
void parallelRows(int rows, const std::function<void(int)>& fn);

}  // namespace art
