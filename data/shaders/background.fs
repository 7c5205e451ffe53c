#version 330 core
// A still image. Its bright companion feeds the glow of the composite,
// widened by a few taps kernelsize pixels apart.
uniform sampler2D img;
uniform sampler2D bright;
uniform int width;
uniform int kernelsize;

in vec2 uv;
layout(location = 0) out vec4 fragColor;
layout(location = 1) out vec4 glowColor;

void main() {
    vec4 c = texture(img, uv);
    // A clear texel leaves both attachments as they are under the blend;
    // skipping it spares the glow taps wherever the layer is see-through.
    if (c.a == 0.0) discard;
    fragColor = c;

    // Only what stands out of the companion glows. A missing companion (the
    // default texture: one black texel) adds nothing, so the taps are skipped.
    vec3 glow = vec3(0.0);
    if (textureSize(bright, 0).x > 1) {
        vec2 step = vec2(1.0, 16.0 / 9.0) * float(kernelsize) / float(max(width, 1));
        vec3 b = texture(bright, uv).rgb * 0.4
               + texture(bright, uv + vec2(step.x, 0.0)).rgb * 0.15
               + texture(bright, uv - vec2(step.x, 0.0)).rgb * 0.15
               + texture(bright, uv + vec2(0.0, step.y)).rgb * 0.15
               + texture(bright, uv - vec2(0.0, step.y)).rgb * 0.15;
        glow = max(b - vec3(0.55), vec3(0.0)) * 2.2;
    }
    glowColor = vec4(glow, c.a);
}
