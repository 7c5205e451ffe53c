#version 330 core
// The figure, lit at its rim by "color" (negative values take light away),
// or, from the shadow program, its shadow.
uniform sampler2D img;
uniform vec3 color;

in vec2 uv;
in float shadowAmount;
layout(location = 0) out vec4 fragColor;
layout(location = 1) out vec4 glowColor;
layout(location = 2) out vec4 unused;  // every draw buffer gets a defined value

void main() {
    vec4 tex = texture(img, uv);
    if (shadowAmount > 0.0) {
        float a = tex.a * shadowAmount;
        fragColor = vec4(0.05, 0.03, 0.02, a);
        glowColor = vec4(0.0, 0.0, 0.0, a);
        unused = vec4(0.0);
        return;
    }
    // The frame's colour is in red and green, its blue is its green's; blue
    // is the figure's halo (tools/art/walk.h).
    vec3 own = tex.rgg;

    // Rim: where the silhouette's alpha falls off within a few texels. Past
    // the branch, so looked up at level 0, the frames' only level, without
    // the neighbours' derivatives.
    vec2 d = 3.0 / vec2(textureSize(img, 0));
    float around = 0.25 * (textureLod(img, uv + vec2(d.x, 0.0), 0.0).a + textureLod(img, uv - vec2(d.x, 0.0), 0.0).a
                         + textureLod(img, uv + vec2(0.0, d.y), 0.0).a + textureLod(img, uv - vec2(0.0, d.y), 0.0).a);
    float rim = clamp((tex.a - around) * 3.0, 0.0, 1.0);
    vec3 lit = own + color * (0.2 + 0.8 * rim);
    fragColor = vec4(clamp(lit, 0.0, 1.0), tex.a);
    glowColor = vec4(max(color, vec3(0.0)) * rim * 0.78, tex.a);
    unused = vec4(0.0);
}
