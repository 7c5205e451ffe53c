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
const float frames = 74.0;
const float cycleDrift = 330.7 / 512.0;  // the figure's own walk across its frame per cycle
const float figureCentre = 419.1 / 512.0;  // its hip u at frame 0
const float figureHeight = 1.8;          // clip units

float hash(float n) { return fract(sin(n * 12.9898) * 43758.5453); }

void main() {
    float id = float(gl_VertexID);
    float h1 = hash(id * 0.731 + 0.1), h2 = hash(id * 1.377 + 0.2), h3 = hash(id * 2.113 + 0.3);

    // Where the particle sits in the figure, walking on the spot.
    float frame = mod(floor(time * frameRate), frames);
    vec2 sampleAt = vec2(seed.x + figureCentre - 0.5 - cycleDrift * frame / frames, seed.y);
    bool inside = all(greaterThanEqual(sampleAt, vec2(0.0))) && all(lessThanEqual(sampleAt, vec2(1.0)));
    vec4 texel = inside ? textureLod(img, sampleAt, 0.0) : vec4(0.0);
    vec2 home = (seed - vec2(0.5, 0.45)) * vec2(figureHeight * 9.0 / 16.0, figureHeight);
    home += 0.004 * vec2(sin(time * 2.0 + h1 * 40.0), cos(time * 1.7 + h2 * 40.0));

    // The cloud: a slow vortex of sand around the centre.
    float radius = 0.15 + 1.05 * sqrt(h1);
    float spin = h2 * 6.2831853 + time * (0.35 / (radius + 0.2));
    vec2 cloud = vec2(cos(spin) * radius * 1.25, sin(spin) * radius * 0.62);

    // Gathering: each particle leaves the cloud at its own moment.
    float leave = h3 * gather * 0.6;
    float k = smoothstep(leave, leave + gather * 0.4, time);
    // Scattering: blown to the left and up, the figure's leading side first;
    // the wind reaches its trailing side late enough that it is still
    // leaving at the cut. The figure stands on the seeds around u = 0.5.
    float across = clamp((seed.x - 0.35) / 0.3, 0.0, 1.0);
    float blownFrom = scatter + across * (rowEnd - scatter - blowing * 0.3);
    float gust = smoothstep(blownFrom, blownFrom + blowing, time);
    vec2 wind = gust * gust * vec2(-2.4 - h1 * 1.5, 0.35 + h2 * 0.6 + sin(id) * 0.2) * 0.9;

    bool dust = h3 > 0.8;  // one in five stays in the cloud
    vec2 p = dust ? cloud : mix(cloud, home, k);
    p += wind;

    float onFigure = smoothstep(0.3, 0.7, texel.a);
    // Three grains in four wait out the cloud unseen and show only as they
    // settle on the figure; the fourth carries the cloud, at full strength
    // and a little larger, so that the cloud holds its light. The dust is
    // thinned the same way. Each grain drawn costs its set-up whatever its
    // size, so fewer, larger grains are the cheaper cloud.
    bool spare = hash(id * 3.173 + 0.4) >= 0.25;
    float shown = dust ? (spare ? 0.0 : 0.6) : mix(spare ? 0.0 : 1.0, onFigure, k);
    vec3 sand = mix(vec3(1.0, 0.72, 0.38), vec3(1.0, 0.9, 0.7), h2);
    vec3 body = mix(sand, texel.rgb * 0.6 + sand * 0.7, 0.4);
    tint = vec4(dust ? sand * 0.8 : body, shown * (1.0 - gust * 0.6));

    // Larger while in the cloud, which the dust never leaves.
    const float cloudGrowth = 0.4;  // px
    gl_PointSize = dust ? 2.0 + cloudGrowth : 2.0 + 1.5 * h1 + cloudGrowth * (1.0 - k);
    // A grain too faint to change a pixel is put beyond the far plane: the
    // clipper drops it before it costs any set-up or blending.
    gl_Position = tint.a < 0.002 ? vec4(0.0, 0.0, 2.0, 1.0) : vec4(p, 0.0, 1.0);
}
