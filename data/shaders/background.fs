#version 330 core
// A still image. Its bright companion feeds the glow of the composite.
uniform sampler2D img;
uniform sampler2D bright;
uniform int kernelsize;  // sent by the pass; the composite shapes the glow

in vec2 uv;
layout(location = 0) out vec4 fragColor;
layout(location = 1) out vec4 glowColor;
layout(location = 2) out vec4 unused;  // every draw buffer gets a defined value

// Lookups stay between the outermost texel centres: the images repeat, and a
// filtered lookup past the edge would blend in the opposite side.
vec2 inside(sampler2D s, vec2 p) {
    vec2 edge = 0.5 / vec2(textureSize(s, 0));
    return clamp(p, edge, 1.0 - edge);
}

// The texel under p, held inside the image like the filtered lookups.
vec4 nearest(sampler2D s, vec2 p) {
    ivec2 size = textureSize(s, 0);
    return texelFetch(s, clamp(ivec2(p * vec2(size)), ivec2(0), max(size - 1, ivec2(0))), 0);
}

void main() {
    vec4 c = texture(img, inside(img, uv));
    // A clear texel leaves the attachments as they are under the blend;
    // skipping it spares a GPU the glow's lookup wherever a whole group of
    // pixels is see-through (a software rasteriser runs the rest masked all
    // the same, so there it saves nothing). A filtered alpha is clear below
    // half a step of 8 bits: GPUs' filter weights differ by about that much.
    // Nothing after this needs its neighbours (the companion is fetched).
    if (c.a < 0.5 / 255.0) discard;
    fragColor = c;

    // Only what stands out of the companion glows; a missing companion (the
    // default texture) adds nothing. The only companion drawn here is the
    // meteor ground's own image, where nothing stands out: one lookup of the
    // nearest texel serves. A companion with a halo to show would be looked
    // up filtered, as the desert's is.
    vec3 b = nearest(bright, uv).rgb;
    vec3 glow = max(b - vec3(0.55), vec3(0.0)) * 2.86;
    glowColor = vec4(glow, c.a);
    unused = vec4(0.0);
}
