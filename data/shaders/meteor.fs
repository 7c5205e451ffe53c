#version 330 core
// Meteor sky: the far layer of small stars drifts slowly, the near layer of
// big ones a little faster, and meteors streak across both, the far ones
// thin and dim, the near ones long and bright. Where they are in the sky is
// worked out per frame by the quad's vertex shader.
uniform sampler2D smallimg;
uniform sampler2D bigimg;
uniform float time;

in vec2 uv;
const int meteorCount = 5;
flat in int meteorsLit;
flat in vec4 meteorPath[meteorCount];
flat in vec4 meteorShape[meteorCount];

layout(location = 0) out vec4 fragColor;
layout(location = 1) out vec4 glowColor;
layout(location = 2) out vec4 unused;  // every draw buffer gets a defined value

// The ground drawn over this sky is opaque below this texture v (the art
// generator guarantees it: kMeteorGroundOpaqueBelow in tools/art/art.h).
const float groundCovers = 0.27;

// One meteor: a bright head moving along dir with a fading tail behind it
// (x), and its halo (y), which falls off with the distance to the nearest
// point of the streak from that point's light, and around the head.
vec2 streak(vec2 p, vec2 head, vec2 dir, float len, float widthPx) {
    vec2 d = p - head;
    float along = -dot(d, dir);                   // 0 at the head, len at the tail
    float side = abs(d.x * dir.y - d.y * dir.x);  // distance from the path
    float reach = widthPx * 0.011;                // where the halo ends
    if (side > reach || along < -reach || along > len + reach) return vec2(0.0);  // keeps far pixels exactly dark
    float inLen = step(-0.004, along) * (1.0 - smoothstep(0.0, len, along));
    float thin = 1.0 - smoothstep(0.0, widthPx * 0.0012 * (1.0 - 0.7 * clamp(along / len, 0.0, 1.0)), side);
    float headGlow = exp(-dot(d, d) * 60000.0 / (widthPx * widthPx));
    float core = inLen * inLen * thin * 0.9 + headGlow * 0.7;

    // The halo ends at the reach, the same distance every way round, so the
    // cut above never shows.
    float nearest = clamp(along, 0.0, len);
    float fromStreak = length(vec2(side, along - nearest));
    float fromHead = length(d);
    float trailLight = 1.0 - smoothstep(0.0, len, nearest);
    const float trailHaloWidth = 0.0022;  // of widthPx: 5 pixels of 1080 lines for a near meteor
    const float headHaloWidth = 0.0036;
    const float haloStrength = 0.585;     // where it starts, against the core's 0.9 and 0.7
    float trailHalo = trailLight * trailLight * haloStrength * exp(-fromStreak / (widthPx * trailHaloWidth))
                    * (1.0 - smoothstep(reach * 0.4, reach, fromStreak));
    float headHalo = haloStrength * exp(-fromHead / (widthPx * headHaloWidth)) * (1.0 - smoothstep(reach * 0.4, reach, fromHead));
    return vec2(core, trailHalo + headHalo);
}

void main() {
    vec2 far = uv + vec2(time * 0.004, 0.0);
    vec2 near = uv + vec2(time * 0.010, 0.0);
    // The far layer holds the glow of air over the horizon; its alpha is
    // what the air lets through of the lights in front of it. Looked up
    // before the discard below, while every pixel is still running: a
    // filtered lookup needs its neighbours.
    vec4 small = texture(smallimg, far);
    vec4 big = texture(bigimg, near);

    // Nothing drawn here would be seen. The quad already starts on this line
    // (background.vs); the test holds should it ever cover more, and costs
    // nothing measurable.
    if (uv.y < groundCovers) discard;
    vec3 stars = big.rgb * big.a;

    vec2 p = uv * vec2(16.0 / 9.0, 1.0);
    vec3 light = vec3(0.0), halo = vec3(0.0);
    const float coreGlow = 0.26;  // the streaks' own share of the glow, over their halos
    // A loop as long as the meteors in flight: every pixel does the work of
    // each iteration, so the count, not a test inside, is what saves it. It
    // tests at its end, since a software rasteriser runs a loop's body once
    // more, for no pixel, when the test comes first. The meteors move down
    // through plain variables rather than being read by the loop's index:
    // indexing the inputs makes a software rasteriser copy all ten of them
    // into memory for every pixel (a sixth of this pass). There is one
    // variable per slot.
    vec4 path0 = meteorPath[0], path1 = meteorPath[1], path2 = meteorPath[2], path3 = meteorPath[3], path4 = meteorPath[4];
    vec4 shape0 = meteorShape[0], shape1 = meteorShape[1], shape2 = meteorShape[2], shape3 = meteorShape[3], shape4 = meteorShape[4];
    int i = 0;
    if (meteorsLit > 0) do {
        vec2 s = streak(p, path0.xy, path0.zw, shape0.x, shape0.y) * shape0.z;
        vec3 tint = mix(vec3(0.75, 0.85, 1.0), vec3(0.85, 1.0, 0.8), shape0.w);
        light += tint * s.x;
        halo += tint * (s.x * coreGlow + s.y);
        path0 = path1; path1 = path2; path2 = path3; path3 = path4;
        shape0 = shape1; shape1 = shape2; shape2 = shape3; shape3 = shape4;
    } while (++i < meteorsLit);
    fragColor = vec4(small.rgb + (stars + light) * small.a, 1.0);
    // The stars' halos are baked into their layer with them.
    glowColor = vec4((halo + stars * 0.1) * small.a, 1.0);
    unused = vec4(0.0);
}
