#include "walk.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace art {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180.0;

struct V2 {
    double x = 0, y = 0;
};
V2 operator+(V2 a, V2 b) { return {a.x + b.x, a.y + b.y}; }
V2 operator-(V2 a, V2 b) { return {a.x - b.x, a.y - b.y}; }
V2 operator*(V2 a, double s) { return {a.x * s, a.y * s}; }
double dot(V2 a, V2 b) { return a.x * b.x + a.y * b.y; }
double len(V2 a) { return std::sqrt(dot(a, a)); }
// Unit vector pointing down, swung forward (+x) by angle a.
V2 down(double a) { return {fm::sin(a), -fm::cos(a)}; }
// Unit vector pointing forward, pitched up by angle a.
V2 ahead(double a) { return {fm::cos(a), fm::sin(a)}; }
V2 rotate(V2 v, double a) {
    double c = fm::cos(a), s = fm::sin(a);
    return {v.x * c - v.y * s, v.x * s + v.y * c};
}
double frac(double v) { return v - std::floor(v); }
double smooth01(double t) {
    t = std::clamp(t, 0.0, 1.0);
    return t * t * (3 - 2 * t);
}

// ---------------------------------------------------------------------------
// Sagittal joint angles of normal walking, in degrees, over one cycle of the
// leg they belong to (0 % = that leg's heel strike, toe-off at 62 %). The
// shapes follow published averages of adult gait-lab recordings: the thigh
// swings from about 26 deg forward to 14 deg back, the knee bends about 60 deg
// in swing, the foot pitches toe-up at heel strike, lies flat through
// mid-stance and rolls onto the toes for push-off.
struct Key {
    double phase, value;
};
// Thigh: angle from the vertical, positive forward.
const Key kThigh[] = {{0, 26},    {5, 25.5}, {10, 23.5}, {15, 20}, {20, 15.5}, {25, 11},
                      {30, 6.5},  {35, 2},   {40, -2.5}, {45, -7}, {50, -11.5}, {55, -14.5},
                      {60, -13.5}, {65, -8}, {70, 0},    {75, 9},  {80, 20},    {85, 26},
                      {90, 28},   {95, 27}};
// Knee: flexion, positive bends the shank back.
const Key kKnee[] = {{0, 4},   {5, 11},  {10, 17}, {15, 19}, {20, 17}, {25, 13}, {30, 9},
                     {35, 6},  {40, 5},  {45, 6.5}, {50, 11}, {55, 21}, {60, 35}, {65, 49},
                     {70, 59}, {73, 62}, {76, 61}, {80, 55}, {85, 40}, {90, 22}, {95, 8}};
// Ankle: dorsiflexion, positive lifts the toes (0 = foot square to shank).
const Key kAnkle[] = {{0, 0},   {4, -4},  {8, -6},  {12, -3}, {18, 1},  {25, 4},  {30, 6},
                      {35, 8},  {40, 9.5}, {45, 10}, {50, 7},  {55, 0},  {58, -8}, {62, -16},
                      {65, -15}, {70, -8}, {75, -2}, {80, 2},  {85, 3},  {90, 2},  {95, 1}};
// Foot segment against the ground while it bears weight, positive toe-up:
// heel rocker, foot flat, heel rise and push-off.
const Key kStanceFoot[] = {{0, 18},  {4, 9},   {8, 2},    {10, 0},   {32, 0},
                           {38, -3}, {45, -11}, {50, -19}, {56, -31}, {62, -48}};

// Cubic Hermite through the keys with Catmull-Rom tangents, t in percent.
// Periodic keys wrap around 100; open ones hold their end slopes.
template <size_t N>
double curveAt(const Key (&k)[N], double t, bool periodic) {
    const long n = long(N);
    auto key = [&](long i, double* ph) {
        if (!periodic) {
            long j = std::clamp(i, 0L, n - 1);
            *ph = k[j].phase + double(i - j);
            return k[j].value + (i < 0 ? k[0].value - k[1].value : 0.0) * double(j - i) +
                   (i >= n ? k[n - 1].value - k[n - 2].value : 0.0) * double(i - j);
        }
        long j = ((i % n) + n) % n;
        *ph = k[j].phase + 100.0 * double((i - j) / n);
        return k[j].value;
    };
    long i = periodic ? n - 1 : 0;
    if (periodic) t = frac(t / 100.0) * 100.0;
    for (long j = 0; j < n; ++j)
        if (k[j].phase <= t) i = j;
    if (!periodic) i = std::min(i, n - 2);
    double p0, p1, p2, p3;
    double v0 = key(i - 1, &p0), v1 = key(i, &p1), v2 = key(i + 1, &p2), v3 = key(i + 2, &p3);
    double h = p2 - p1;
    double m1 = (v2 - v0) / (p2 - p0) * h;
    double m2 = (v3 - v1) / (p3 - p1) * h;
    double s = (t - p1) / h;
    double s2 = s * s, s3 = s2 * s;
    return (2 * s3 - 3 * s2 + 1) * v1 + (s3 - 2 * s2 + s) * m1 + (-2 * s3 + 3 * s2) * v2 +
           (s3 - s2) * m2;
}
template <size_t N>
double cycleCurve(const Key (&k)[N], double q) { return curveAt(k, q * 100.0, true); }

// ---------------------------------------------------------------------------
// Body dimensions as fractions of standing height (anthropometric averages).
constexpr double kThighLen = 0.245, kShankLen = 0.246;
constexpr double kTrunkLen = 0.288;  // hip joint to shoulder joint
constexpr double kUpperArm = 0.186, kForearm = 0.146, kHand = 0.078;

// Walking: stride (two steps) as a fraction of height, the share of the
// cycle a foot bears weight, and where the heel lands ahead of the hip.
constexpr double kStride = 0.78;
constexpr double kToeOff = 0.62;
constexpr double kHeelReach = 0.16;
// Hip height: mean and half the rise of the double bob (highest at each
// mid-stance, lowest at each double support).
constexpr double kHipMean = 0.5125, kHipBob = 0.0125;
// Extra toe clearance at mid-swing.
constexpr double kSwingLift = 0.007;
// Speed swing of the body: slowest at mid-stance, fastest at double support.
constexpr double kSpeedSwing = 0.06;

// Shoe, in the foot's frame: x forward from the ankle joint, y up. All
// three circles touch the ground when the foot lies flat (sole 0.039 below
// the ankle).
struct Circle {
    V2 c;
    double r;
};
const Circle kHeel{{-0.030, -0.017}, 0.022};
const Circle kBall{{0.070, -0.022}, 0.017};
const Circle kToe{{0.101, -0.027}, 0.012};

struct Leg {
    V2 hip, knee, ankle;
    double pitch;  // foot pitch, toe up positive (radians)
    Circle heel, ball, toe;
    bool planted;
};
struct Arm {
    V2 shoulder, elbow, wrist, tip;
};
struct Pose {
    V2 hip;
    double lean;  // trunk lean forward (radians)
    Leg leg[2];   // 0 near, 1 far
    Arm arm[2];
};

Circle footPoint(V2 ankle, double pitch, const Circle& c) {
    return {ankle + rotate(c.c, pitch), c.r};
}

V2 hipAt(double p) {
    double x = kStride * p - kSpeedSwing * kStride / (4 * kPi) * fm::sin(4 * kPi * (p - 0.30));
    double y = kHipMean + kHipBob * fm::cos(4 * kPi * (p - 0.30));
    return {x, y};
}

// Where a foot is while it bears weight, for its own phase q in [0, kToeOff]
// and the heel's landing spot: it rolls over the heel, lies flat, then rolls
// over the toe, never sliding.
void stanceFoot(double q, double heelX, V2* ankle, double* pitch) {
    double a = curveAt(kStanceFoot, q * 100.0, false) * kDeg;
    if (a > 0) {
        V2 pivot{heelX, kHeel.r};
        *ankle = pivot - rotate(kHeel.c, a);
    } else {
        V2 pivot{heelX + (kToe.c.x - kHeel.c.x), kToe.r};
        *ankle = pivot - rotate(kToe.c, a);
    }
    *pitch = a;
}

// Ankle relative to the hip and foot pitch from the recorded joint angles.
void recordedFoot(double q, V2* ankle, double* pitch) {
    double thigh = cycleCurve(kThigh, q) * kDeg;
    double shank = thigh - cycleCurve(kKnee, q) * kDeg;
    *ankle = down(thigh) * kThighLen + down(shank) * kShankLen;
    *pitch = shank + cycleCurve(kAnkle, q) * kDeg;
}

// Knee from hip and ankle, bending forward; a target out of reach is pulled
// in along the line from the hip.
V2 solveKnee(V2 hip, V2* ankle) {
    V2 d = *ankle - hip;
    double L = len(d);
    const double reach = (kThighLen + kShankLen) * 0.9995;
    if (L > reach) {
        d = d * (reach / L);
        L = reach;
        *ankle = hip + d;
    }
    double a = (kThighLen * kThighLen - kShankLen * kShankLen + L * L) / (2 * L);
    double h = std::sqrt(std::max(kThighLen * kThighLen - a * a, 0.0));
    V2 u = d * (1.0 / L);
    V2 fwd{-u.y, u.x};  // for a leg pointing down, this points forward
    if (fwd.x < 0) fwd = fwd * -1.0;
    return hip + u * a + fwd * h;
}

// One leg at body phase p; the leg's own cycle starts `offset` later.
Leg poseLeg(double p, double offset) {
    Leg l;
    double q = p - offset;
    double n = std::floor(q);
    double f = q - n;
    double heelX = hipAt(n + offset).x + kHeelReach;
    V2 hip = hipAt(p);
    V2 ankle;
    double pitch;
    if (f <= kToeOff) {
        stanceFoot(f, heelX, &ankle, &pitch);
        l.planted = true;
    } else {
        // Swing: the recorded path of the foot, bent so that it leaves from
        // the toe-off pose and lands on the next heel spot one stride ahead.
        V2 offA, onA, recA;
        double offP, onP, recP, recOffP, recOnP;
        V2 recOff, recOn;
        stanceFoot(kToeOff, heelX, &offA, &offP);
        stanceFoot(0.0, heelX + kStride, &onA, &onP);
        recordedFoot(kToeOff, &recOff, &recOffP);
        recordedFoot(1.0, &recOn, &recOnP);
        recordedFoot(f, &recA, &recP);
        V2 m0 = (offA - hipAt(n + offset + kToeOff)) - recOff;
        V2 m1 = (onA - hipAt(n + offset + 1.0)) - recOn;
        double s = smooth01((f - kToeOff) / (1.0 - kToeOff));
        ankle = hip + recA + m0 * (1 - s) + m1 * s + V2{0, kSwingLift * fm::sin(kPi * s)};
        pitch = recP + (offP - recOffP) * (1 - s) + (onP - recOnP) * s;
        l.planted = false;
    }
    l.hip = hip;
    l.knee = solveKnee(hip, &ankle);
    l.ankle = ankle;
    l.pitch = pitch;
    l.heel = footPoint(ankle, pitch, kHeel);
    l.ball = footPoint(ankle, pitch, kBall);
    l.toe = footPoint(ankle, pitch, kToe);
    return l;
}

// Arms swing against the leg of their own side: back at that leg's heel
// strike, forward half a cycle later, the elbow bending more as the arm
// comes forward.
Arm poseArm(V2 shoulder, double q) {
    double upper = (2.0 - 17.0 * fm::cos(2 * kPi * (q - 0.04))) * kDeg;
    double elbow = (22.0 - 12.0 * fm::cos(2 * kPi * (q - 0.08))) * kDeg;
    Arm a;
    a.shoulder = shoulder;
    a.elbow = shoulder + down(upper) * kUpperArm;
    a.wrist = a.elbow + down(upper + elbow) * kForearm;
    a.tip = a.wrist + down(upper + elbow + 8 * kDeg) * kHand;
    return a;
}

// Pose at body phase p (the near leg's phase), in units of standing height,
// ground at y = 0, walking toward +x.
Pose poseAt(double p) {
    Pose s;
    s.hip = hipAt(p);
    s.lean = (4.5 + 0.8 * fm::sin(4 * kPi * (p - 0.1))) * kDeg;
    s.leg[0] = poseLeg(p, 0.0);
    s.leg[1] = poseLeg(p, 0.5);
    V2 shoulder = s.hip + V2{fm::sin(s.lean), fm::cos(s.lean)} * kTrunkLen;
    s.arm[0] = poseArm(shoulder, p);
    s.arm[1] = poseArm(shoulder, p - 0.5);
    return s;
}

// ---------------------------------------------------------------------------
// Frame placement. Frame k shows body phase kPhase0 + k / 74; one cycle
// covers kStride figure heights, so the figure's scale in texels follows
// from the advance the renderer expects.
constexpr double kPhase0 = 0.30;  // frame 0: near leg at mid-stance
constexpr double kScale = kCycleAdvance / kStride;

double phaseOf(double frame) { return kPhase0 + frame / kWalkFrames; }

double originX() {
    static const double o = [] {
        double mean = 0;
        for (int f = 0; f < kWalkFrames; ++f) mean += hipAt(phaseOf(f)).x;
        return 256.0 + mean / kWalkFrames * kScale;
    }();
    return o;
}

// Maps the pose's units to texels of the frame: x mirrored (the figure
// walks left), soles on row kSoleRow.
struct Frame {
    double scale;
    V2 map(V2 q) const { return {originX() - q.x * scale, kSoleRow + q.y * scale}; }
};

// Signed-distance drawing.
struct Prim {
    enum Kind { Cone, Ellipse } kind;
    V2 a, b;        // cone: ends; ellipse: centre and (cos, sin) of its axis
    double ra, rb;  // cone: end radii; ellipse: semi-axes
    double x0, y0, x1, y1;  // bounding box
};

Prim cone(V2 a, double ra, V2 b, double rb) {
    Prim p{Prim::Cone, a, b, ra, rb, 0, 0, 0, 0};
    p.x0 = std::min(a.x - ra, b.x - rb); p.x1 = std::max(a.x + ra, b.x + rb);
    p.y0 = std::min(a.y - ra, b.y - rb); p.y1 = std::max(a.y + ra, b.y + rb);
    return p;
}
Prim ellipse(V2 c, double rx, double ry, double angle) {
    Prim p{Prim::Ellipse, c, {fm::cos(angle), fm::sin(angle)}, rx, ry, 0, 0, 0, 0};
    double r = std::max(rx, ry);
    p.x0 = c.x - r; p.x1 = c.x + r; p.y0 = c.y - r; p.y1 = c.y + r;
    return p;
}

double sdCone(V2 p, V2 a, V2 b, double ra, double rb) {
    p = p - a;
    V2 ab = b - a;
    double h = dot(ab, ab);
    if (h < 1e-12) return std::sqrt(dot(p, p)) - std::max(ra, rb);
    V2 q{(p.x * ab.y - p.y * ab.x) / h, dot(p, ab) / h};
    q.x = std::fabs(q.x);
    double bb = ra - rb;
    V2 c{std::sqrt(std::max(h - bb * bb, 1e-12)), bb};
    double k = c.x * q.y - c.y * q.x;
    double m = dot(c, q), n = dot(q, q);
    if (k < 0.0) return std::sqrt(h * n) - ra;
    if (k > c.x) return std::sqrt(h * (n + 1.0 - 2.0 * q.y)) - rb;
    return m - ra;
}

double sdEllipse(V2 p, V2 c, V2 axis, double rx, double ry) {
    V2 d = p - c;
    V2 q{d.x * axis.x + d.y * axis.y, -d.x * axis.y + d.y * axis.x};
    double k0 = fm::hypot(q.x / rx, q.y / ry);
    double k1 = fm::hypot(q.x / (rx * rx), q.y / (ry * ry));
    if (k1 < 1e-12) return -std::min(rx, ry);
    return k0 * (k0 - 1.0) / k1;
}

double eval(const Prim& pr, V2 p) {
    return pr.kind == Prim::Cone ? sdCone(p, pr.a, pr.b, pr.ra, pr.rb)
                                 : sdEllipse(p, pr.a, pr.b, pr.ra, pr.rb);
}

double smin(double a, double b, double k) {
    double h = std::max(k - std::fabs(a - b), 0.0) / k;
    return std::min(a, b) - h * h * k * 0.25;
}

struct Layer {
    std::vector<Prim> prims;
    double blend;  // smooth-union radius, texels
    float shade;   // display value of the layer's colour
    double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
    void add(const Prim& p) {
        prims.push_back(p);
        x0 = std::min(x0, p.x0); x1 = std::max(x1, p.x1);
        y0 = std::min(y0, p.y0); y1 = std::max(y1, p.y1);
    }
    double dist(V2 p) const {
        double d = 1e9;
        for (const Prim& pr : prims) {
            // Far from the primitive's box its exact distance cannot matter.
            double bx = std::max({pr.x0 - p.x, 0.0, p.x - pr.x1});
            double by = std::max({pr.y0 - p.y, 0.0, p.y - pr.y1});
            if (std::max(bx, by) > d + blend) continue;
            d = smin(d, eval(pr, p), blend);
        }
        return d;
    }
};

void addLeg(Layer& L, const Frame& fr, const Leg& lg) {
    const double s = fr.scale;
    V2 hip = fr.map(lg.hip), knee = fr.map(lg.knee), ankle = fr.map(lg.ankle);
    L.add(cone(hip, 0.060 * s, knee, 0.038 * s));
    L.add(cone(knee, 0.036 * s, ankle, 0.023 * s));
    // Calf: a swelling behind the upper shank.
    V2 shankDir = lg.ankle - lg.knee;
    V2 back = V2{shankDir.y, -shankDir.x} * (1.0 / kShankLen);  // points backward
    V2 calf = lg.knee + shankDir * 0.33 + back * 0.012;
    L.add(cone(fr.map(lg.knee + shankDir * 0.12), 0.034 * s, fr.map(calf), 0.037 * s));
    L.add(cone(fr.map(calf), 0.037 * s, fr.map(lg.knee + shankDir * 0.72), 0.026 * s));
    // Shoe.
    V2 f = ahead(lg.pitch), n{-f.y, f.x};
    V2 instep = lg.ankle + f * 0.060 + n * (-0.014);
    L.add(cone(ankle, 0.025 * s, fr.map(instep), 0.018 * s));
    L.add(cone(fr.map(lg.heel.c), lg.heel.r * s, fr.map(lg.ball.c), lg.ball.r * s));
    L.add(cone(fr.map(lg.ball.c), lg.ball.r * s, fr.map(lg.toe.c), lg.toe.r * s));
}

void addArm(Layer& L, const Frame& fr, const Arm& a) {
    const double s = fr.scale;
    V2 sh = fr.map(a.shoulder), el = fr.map(a.elbow), wr = fr.map(a.wrist), tip = fr.map(a.tip);
    L.add(cone(sh, 0.039 * s, el, 0.030 * s));
    L.add(cone(el, 0.029 * s, wr, 0.021 * s));
    L.add(cone(wr, 0.022 * s, tip, 0.015 * s));
}

void addBody(Layer& L, const Frame& fr, const Pose& ps) {
    const double s = fr.scale;
    V2 up{fm::sin(ps.lean), fm::cos(ps.lean)};
    V2 fw{up.y, -up.x};
    auto T = [&](double a, double b) { return fr.map(ps.hip + fw * a + up * b); };
    // Image angle of the trunk's forward axis (x is mirrored in the frame).
    double ang = fm::atan2(-fw.y, fw.x) + kPi;
    L.add(ellipse(T(-0.010, 0.010), 0.070 * s, 0.060 * s, ang));         // seat
    L.add(ellipse(T(-0.004, -0.032), 0.072 * s, 0.040 * s, ang));        // jacket hem
    L.add(cone(T(0.000, 0.040), 0.060 * s, T(0.006, 0.170), 0.063 * s));  // waist
    L.add(ellipse(T(0.014, 0.205), 0.068 * s, 0.080 * s, ang));          // chest
    L.add(cone(T(-0.010, 0.255), 0.055 * s, T(0.000, 0.292), 0.046 * s));  // shoulders
    L.add(cone(T(0.012, 0.290), 0.030 * s, T(0.026, 0.340), 0.026 * s));  // neck
    // The head stays level whatever the trunk does.
    V2 neckTop = ps.hip + fw * 0.026 + up * 0.340;
    auto Hd = [&](double a, double b) { return fr.map(neckTop + V2{a, b}); };
    L.add(ellipse(Hd(-0.004, 0.080), 0.066 * s, 0.070 * s, 0));          // skull
    L.add(ellipse(Hd(-0.020, 0.090), 0.058 * s, 0.062 * s, 0));          // hair
    L.add(cone(Hd(0.040, 0.085), 0.030 * s, Hd(0.040, 0.020), 0.022 * s));  // face
    L.add(cone(Hd(0.000, 0.030), 0.030 * s, Hd(0.040, 0.018), 0.020 * s));  // jaw
    L.add(cone(Hd(0.066, 0.066), 0.010 * s, Hd(0.080, 0.052), 0.006 * s));  // nose
}

}  // namespace

double walkFigureHeight() { return kScale; }

double walkHipX(double frame) { return Frame{kScale}.map(hipAt(phaseOf(frame))).x; }

namespace {

struct Built {
    Frame fr;
    Pose pose;
    Layer layers[5];
};

Built build(int frame) {
    Built b;
    b.fr = Frame{kScale};
    b.pose = poseAt(phaseOf(((frame % kWalkFrames) + kWalkFrames) % kWalkFrames));
    const double k = 0.012 * kScale;
    // Back to front: far arm, far leg, trunk and head, near leg, near arm.
    b.layers[0] = Layer{{}, k * 0.5, 0.030f};
    b.layers[1] = Layer{{}, k * 0.5, 0.034f};
    b.layers[2] = Layer{{}, k, 0.052f};
    b.layers[3] = Layer{{}, k * 0.5, 0.066f};
    b.layers[4] = Layer{{}, k * 0.5, 0.072f};
    addArm(b.layers[0], b.fr, b.pose.arm[1]);
    addLeg(b.layers[1], b.fr, b.pose.leg[1]);
    addBody(b.layers[2], b.fr, b.pose);
    addLeg(b.layers[3], b.fr, b.pose.leg[0]);
    addArm(b.layers[4], b.fr, b.pose.arm[0]);
    return b;
}

// Width of the soft edge: about one screen pixel when the 512-texel frame is
// shown 162 pixels tall, so the minified sprite keeps a smooth outline.
constexpr double kEdge = 3.0;

}  // namespace

GaitFrame walkGait(int frame) {
    Built b = build(frame);
    GaitFrame g{};
    V2 hip = b.fr.map(b.pose.hip);
    g.hipX = hip.x;
    g.hipY = hip.y;
    for (int l = 0; l < 2; ++l) {
        const Leg& lg = b.pose.leg[l];
        const Circle* pts[3] = {&lg.heel, &lg.ball, &lg.toe};
        double by = 1e9, bx = 0;
        for (const Circle* c : pts) {
            V2 m = b.fr.map(c->c);
            double y = m.y - c->r * b.fr.scale;
            if (y < by) { by = y; bx = m.x; }
        }
        g.footX[l] = bx;
        g.footY[l] = by;
        g.planted[l] = lg.planted;
    }
    g.minX = 1e9; g.maxX = -1e9; g.headTop = -1e9;
    for (const Layer& L : b.layers) {
        g.minX = std::min(g.minX, L.x0); g.maxX = std::max(g.maxX, L.x1);
        g.headTop = std::max(g.headTop, L.y1);
    }
    return g;
}

Image renderWalkFrame(int frame) {
    Built b = build(frame);
    Image img(kWalkSize, kWalkSize);
    double x0 = 1e9, y0 = 1e9, x1 = -1e9, y1 = -1e9;
    for (const Layer& L : b.layers) {
        x0 = std::min(x0, L.x0); x1 = std::max(x1, L.x1);
        y0 = std::min(y0, L.y0); y1 = std::max(y1, L.y1);
    }
    // Every texel the soft edge or the halo reaches.
    const double margin = 2 * kEdge + kHaloTexels;
    const int ix0 = std::max(0, int(std::floor(x0 - margin)));
    const int ix1 = std::min(kWalkSize - 1, int(std::ceil(x1 + margin)));
    const int iy0 = std::max(0, int(std::floor(y0 - margin)));
    const int iy1 = std::min(kWalkSize - 1, int(std::ceil(y1 + margin)));
    // A touch warm, like dusty cloth; blue carries the halo (walk.h), so
    // the colour's own blue is its green.
    const float red = 1.0f, green = 0.93f;
    const float bleed = b.layers[2].shade;
    parallelRows(kWalkSize, [&](int y) {
        for (int x = 0; x < kWalkSize; ++x) img.set(x, y, Vec3(red * bleed, green * bleed, 0.f), 0.f);
        if (y < iy0 || y > iy1) return;
        for (int x = ix0; x <= ix1; ++x) {
            V2 p{x + 0.5, y + 0.5};
            double dmin = 1e9;
            float shade = 0.f, acc = 0.f;
            for (const Layer& L : b.layers) {
                if (p.x < L.x0 - margin - L.blend || p.x > L.x1 + margin + L.blend ||
                    p.y < L.y0 - margin - L.blend || p.y > L.y1 + margin + L.blend)
                    continue;
                // Nothing reaches below the ground the soles stand on.
                double d = std::max(L.dist(p), kSoleRow - p.y);
                dmin = std::min(dmin, d);
                float cov = float(std::clamp(0.5 - d / kEdge, 0.0, 1.0));
                // Over-compositing of the layer colours, front layers last.
                shade = shade * (1.f - cov) + L.shade * cov;
                acc = acc * (1.f - cov) + cov;
            }
            float a = float(std::clamp(0.5 - dmin / kEdge, 0.0, 1.0));
            // None where the frame is all but opaque: the figure covers it.
            float halo = a < kHaloBelowAlpha ? float(std::clamp(1.0 - dmin / kHaloTexels, 0.0, 1.0)) : 0.f;
            if (a <= 0.f && halo <= 0.f) continue;
            float c = acc > 0.f ? shade / acc : bleed;
            img.set(x, y, Vec3(red * c, green * c, halo), a);
        }
    });
    return img;
}

}  // namespace art
