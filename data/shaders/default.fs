#version 330 core
// The figure, lit at its rim by "color" (negative values take light away)
// and glowing around it, or, from the shadow program, its shadow.
uniform sampler2D img;
uniform vec3 color;

in vec2 uv;
in float shadowAmount;
layout(location = 0) out vec4 fragColor;
layout(location = 1) out vec4 glowColor;
layout(location = 2) out vec4 unused;  // every draw buffer gets a defined value

const float rimGlow = 0.78;
const float haloGlow = 0.52;  // just outside the silhouette

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
    // is the halo, falling linearly with the distance outside the silhouette
    // (tools/art/walk.h).
    vec3 own = tex.rgg;
    float outside = tex.b;

    // Rim: where the silhouette's alpha falls off within a few texels. Past
    // the branch, so looked up at level 0, the frames' only level, without
    // the neighbours' derivatives.
    vec2 d = 3.0 / vec2(textureSize(img, 0));
    float around = 0.25 * (textureLod(img, uv + vec2(d.x, 0.0), 0.0).a + textureLod(img, uv - vec2(d.x, 0.0), 0.0).a
                         + textureLod(img, uv + vec2(0.0, d.y), 0.0).a + textureLod(img, uv - vec2(0.0, d.y), 0.0).a);
    float rim = clamp((tex.a - around) * 3.0, 0.0, 1.0);
    vec3 lit = own + color * (0.2 + 0.8 * rim);
    fragColor = vec4(clamp(lit, 0.0, 1.0), tex.a);

    // The glow: the rim's over the figure, which covers the glow behind it,
    // and the halo's around it, laid over the glow behind in proportion to
    // its strength. A figure that is not lit has none.
    vec3 light = max(color, vec3(0.0));
    float strength = max(max(light.r, light.g), max(light.b, 1.0 / 4096.0));
    float halo = outside * outside * haloGlow * min(strength, 1.0) * (1.0 - tex.a);
    float cover = tex.a + halo;
    vec3 glow = light * rim * rimGlow * tex.a + light / strength * halo;
    glowColor = vec4(glow / max(cover, 1.0 / 4096.0), cover);
    unused = vec4(0.0);
}
