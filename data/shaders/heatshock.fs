#version 330 core
// The desert in the heat: rising ripples bend the picture, strongest just
// above the hot ground and wherever the bright companion glows.
uniform sampler2D img;
uniform sampler2D bright;
uniform int width;
uniform float time;

in vec2 uv;
layout(location = 0) out vec4 fragColor;
layout(location = 1) out vec4 glowColor;
layout(location = 2) out vec4 unused;  // every draw buffer gets a defined value

const float horizon = 0.56;   // texture v of the far dunes' line
const float amplitude = 4.0;  // strongest bend, in pixels

// A sine from two parabolas, close enough for a ripple and far cheaper per
// pixel than the real one.
float wave(float x) {
    float t = fract(x * 0.15915494 + 0.5) * 2.0 - 1.0;  // -1..1 over one turn
    return 4.0 * t * (1.0 - abs(t));
}

// Lookups stay between the outermost texel centres: the images repeat, and a
// filtered lookup past the edge would blend in the opposite side.
vec2 inside(sampler2D s, vec2 p) {
    vec2 edge = 0.5 / vec2(textureSize(s, 0));
    return clamp(p, edge, 1.0 - edge);
}

void main() {
    float px = 1.0 / float(max(width, 1));
    // The companion's colour is the sun's glow with its halo, its alpha the
    // heat. The composite shows the glow as it is drawn here, so the
    // companion, a quarter of the picture's size, is looked up filtered: its
    // nearest texel would lay the halo out in steps of four pixels.
    vec4 companion = texture(bright, inside(bright, uv));
    vec3 glow = companion.rgb;
    float heat = companion.a;

    // Air above the ground: full strength near the horizon, thinning out
    // toward the sky and toward the foreground.
    float air = (1.0 - smoothstep(horizon, horizon + 0.22, uv.y)) * (0.35 + 0.65 * smoothstep(0.05, horizon, uv.y));
    float strength = clamp(air + heat * 0.8, 0.0, 1.4);

    // Two crossing ripples drift upward; the phases move with time.
    float w1 = wave(uv.y * 260.0 - time * 7.0 + wave(uv.x * 23.0 + time * 0.9) * 2.0);
    float w2 = wave(uv.y * 115.0 - time * 4.3 + uv.x * 61.0);
    vec2 bend = vec2(w1 * 0.7 + w2 * 0.3, (w2 - w1) * 0.25) * amplitude * px * strength;

    vec4 c = texture(img, inside(img, uv + bend));
    fragColor = vec4(c.rgb, 1.0);
    // The halo is far wider than the bend: the unbent companion serves.
    glowColor = vec4(glow * 0.78, 1.0);
    unused = vec4(0.0);
}
