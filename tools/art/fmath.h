#pragma once
// Elementary functions from plain arithmetic. The C library picks different
// code paths on different processors, which can change the last bit of a
// result; these give the same bits everywhere (with contraction off).
#include <cmath>
#include <cstdint>

namespace art {
namespace fm {

constexpr double kPi = 3.14159265358979323846;

inline double sinPoly(double r) {  // |r| <= pi/4
    double r2 = r * r;
    return r * (1 + r2 * (-1.0 / 6 + r2 * (1.0 / 120 + r2 * (-1.0 / 5040 + r2 * (1.0 / 362880 +
                r2 * (-1.0 / 39916800 + r2 * (1.0 / 6227020800.0)))))));
}
inline double cosPoly(double r) {
    double r2 = r * r;
    return 1 + r2 * (-0.5 + r2 * (1.0 / 24 + r2 * (-1.0 / 720 + r2 * (1.0 / 40320 +
               r2 * (-1.0 / 3628800 + r2 * (1.0 / 479001600.0))))));
}
// sin and cos of x, reduced by quarter turns.
inline void sincos(double x, double* s, double* c) {
    const double pio2Hi = 1.57079632673412561417, pio2Lo = 6.07710050650619224932e-11;
    double k = std::floor(x * (2.0 / kPi) + 0.5);
    double r = (x - k * pio2Hi) - k * pio2Lo;
    double sp = sinPoly(r), cp = cosPoly(r);
    int q = int(std::fmod(k, 4.0));
    if (q < 0) q += 4;
    switch (q) {
        case 0: *s = sp; *c = cp; break;
        case 1: *s = cp; *c = -sp; break;
        case 2: *s = -sp; *c = -cp; break;
        default: *s = -cp; *c = sp; break;
    }
}
inline double sin(double x) { double s, c; sincos(x, &s, &c); return s; }
inline double cos(double x) { double s, c; sincos(x, &s, &c); return c; }

inline double exp(double x) {
    if (x > 700) x = 700;
    if (x < -700) return 0.0;
    const double ln2Hi = 6.93147180369123816490e-01, ln2Lo = 1.90821492927058770002e-10;
    double k = std::floor(x * 1.44269504088896338700 + 0.5);
    double r = (x - k * ln2Hi) - k * ln2Lo;
    double p = 1 + r * (1 + r * (1.0 / 2 + r * (1.0 / 6 + r * (1.0 / 24 + r * (1.0 / 120 +
               r * (1.0 / 720 + r * (1.0 / 5040 + r * (1.0 / 40320 + r * (1.0 / 362880 +
               r * (1.0 / 3628800 + r * (1.0 / 39916800.0)))))))))));
    return std::ldexp(p, int(k));
}

inline double log(double x) {
    if (!(x > 0)) return -1e300;
    int e;
    double m = std::frexp(x, &e);  // [0.5, 1)
    if (m < 0.70710678118654752440) { m *= 2; --e; }
    double s = (m - 1) / (m + 1), s2 = s * s;
    double t = s * (2 + s2 * (2.0 / 3 + s2 * (2.0 / 5 + s2 * (2.0 / 7 + s2 * (2.0 / 9 +
               s2 * (2.0 / 11 + s2 * (2.0 / 13 + s2 * (2.0 / 15 + s2 * (2.0 / 17)))))))));
    return t + e * 0.69314718055994530942;
}

inline double pow(double x, double y) {
    if (x <= 0) return 0.0;
    return exp(y * log(x));
}

inline double atan(double x) {
    bool neg = x < 0;
    if (neg) x = -x;
    bool inv = x > 1;
    if (inv) x = 1 / x;
    // Two halvings of the angle bring x below tan(pi / 16).
    x = x / (1 + std::sqrt(1 + x * x));
    x = x / (1 + std::sqrt(1 + x * x));
    double x2 = x * x, t = 0, sign = 1;
    double term = x;
    for (int n = 1; n <= 23; n += 2) {
        t += sign * term / n;
        term *= x2;
        sign = -sign;
    }
    t *= 4;
    if (inv) t = kPi / 2 - t;
    return neg ? -t : t;
}

inline double atan2(double y, double x) {
    if (x > 0) return atan(y / x);
    if (x < 0) return y >= 0 ? atan(y / x) + kPi : atan(y / x) - kPi;
    return y > 0 ? kPi / 2 : (y < 0 ? -kPi / 2 : 0.0);
}
inline double acos(double x) {
    if (x >= 1) return 0;
    if (x <= -1) return kPi;
    return atan2(std::sqrt(1 - x * x), x);
}
inline double hypot(double x, double y) { return std::sqrt(x * x + y * y); }

// Single-precision conveniences (computed in double).
inline float sinf(float x) { return float(sin(x)); }
inline float cosf(float x) { return float(cos(x)); }
inline float expf(float x) { return float(exp(x)); }
inline float powf(float x, float y) { return float(pow(x, y)); }
inline float acosf(float x) { return float(acos(x)); }

}  // namespace fm
}  // namespace art
