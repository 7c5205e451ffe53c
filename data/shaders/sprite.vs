#version 330 core
// The particle cloud. Each particle owns a seed point of the walk frame; a
// swirling cloud gathers into a giant walking figure made of the particles
// whose seed lies on the figure, and the wind takes it apart at the end.
layout(location = 0) in vec2 seed;

uniform sampler2D img;
uniform float time;

out vec4 tint;

const float gather = 5.0;       // seconds until the figure stands
const float scatter = 20.0;     // the wind rises
const float rowEnd = 24.524;    // the cut to the meteor sky: some of the figure must still be there
const float blowing = 5.0;      // seconds for a grain to be blown away
const float frameRate = 30.0;
const int frames = 74;
const float cycleDrift = 330.7 / 512.0;  // the figure's own walk across its frame per cycle
const float figureCentre = 419.1 / 512.0;  // its hip u at frame 0
const float figureHeight = 1.8;          // clip units

// The particles' integer hash (lowbias32), the one that jitters their seeds on the CPU: the same
// bits on every GPU. Each of a grain's numbers is drawn from a stream of its own.
uint hash32(uint x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}
float random(uint grain, uint stream) {
    return float(hash32(grain + stream * 0x9e3779b9u) >> 8) * (1.0 / 16777216.0);  // 24 bits: exact
}

// Sine and cosine of an angle in turns, taken between -pi and pi, where every GPU agrees on them.
vec2 cosSin(float turns) {
    float a = 6.2831853 * (fract(turns + 0.5) - 0.5);
    return vec2(cos(a), sin(a));
}

void main() {
    uint id = uint(gl_VertexID);
    float h1 = random(id, 1u), h2 = random(id, 2u), h3 = random(id, 3u);

    // Where the particle sits in the figure, walking on the spot. The frame is counted in
    // integers: a float modulo may land on 74 itself where the time is a whole cycle.
    float frame = float(int(time * frameRate) % frames);
    vec2 sampleAt = vec2(seed.x + figureCentre - 0.5 - cycleDrift * frame / float(frames), seed.y);
    bool inside = all(greaterThanEqual(sampleAt, vec2(0.0))) && all(lessThanEqual(sampleAt, vec2(1.0)));
    vec4 texel = inside ? textureLod(img, sampleAt, 0.0) : vec4(0.0);
    vec2 home = (seed - vec2(0.5, 0.45)) * vec2(figureHeight * 9.0 / 16.0, figureHeight);
    // A tremble of 2 and 1.7 radians a second, from a phase of the grain's own.
    home += 0.004 * vec2(cosSin(time * 0.31830989 + h1 * 6.3661977).y, cosSin(time * 0.27056340 + h2 * 6.3661977).x);

    // The cloud: a slow vortex of sand around the centre, turning at 0.35 / (radius + 0.2)
    // radians a second.
    float radius = 0.15 + 1.05 * sqrt(h1);
    vec2 spin = cosSin(h2 + time * (0.055704230 / (radius + 0.2)));
    vec2 cloud = spin * radius * vec2(1.25, 0.62);

    // Gathering: each particle leaves the cloud at its own moment.
    float leave = h3 * gather * 0.6;
    float k = smoothstep(leave, leave + gather * 0.4, time);
    // Scattering: blown to the left and up, the figure's leading side first;
    // the wind reaches its trailing side late enough that it is still
    // leaving at the cut. The figure stands on the seeds around u = 0.5.
    float across = clamp((seed.x - 0.35) / 0.3, 0.0, 1.0);
    float blownFrom = scatter + across * (rowEnd - scatter - blowing * 0.3);
    float gust = smoothstep(blownFrom, blownFrom + blowing, time);
    vec2 wind = gust * gust * vec2(-2.4 - h1 * 1.5, 0.15 + h2 * 0.6 + random(id, 4u) * 0.4) * 0.9;

    bool dust = h3 > 0.8;  // one in five stays in the cloud
    vec2 p = dust ? cloud : mix(cloud, home, k);
    p += wind;

    float onFigure = smoothstep(0.3, 0.7, texel.a);
    // Three grains in four wait out the cloud unseen and show only as they
    // settle on the figure; the fourth carries the cloud, at full strength
    // and a little larger, so that the cloud holds its light. The dust is
    // thinned the same way. Each grain drawn costs its set-up whatever its
    // size, so fewer, larger grains are the cheaper cloud.
    bool spare = random(id, 5u) >= 0.25;
    float shown = dust ? (spare ? 0.0 : 0.6) : mix(spare ? 0.0 : 1.0, onFigure, k);
    vec3 sand = mix(vec3(1.0, 0.72, 0.38), vec3(1.0, 0.9, 0.7), h2);
    // The frame's colour is in red and green; its blue is the figure's halo.
    vec3 body = mix(sand, texel.rgg * 0.6 + sand * 0.7, 0.4);
    tint = vec4(dust ? sand * 0.8 : body, shown * (1.0 - gust * 0.6));

    // Larger while in the cloud, which the dust never leaves.
    const float cloudGrowth = 0.4;  // px
    gl_PointSize = dust ? 2.0 + cloudGrowth : 2.0 + 1.5 * h1 + cloudGrowth * (1.0 - k);
    // A grain too faint to change a pixel is put beyond the far plane: the
    // clipper drops it before it costs any set-up or blending.
    gl_Position = tint.a < 0.002 ? vec4(0.0, 0.0, 2.0, 1.0) : vec4(p, 0.0, 1.0);
}
