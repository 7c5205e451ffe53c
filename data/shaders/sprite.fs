#version 330 core
// One particle: a soft round grain.
in vec4 tint;
layout(location = 0) out vec4 fragColor;
layout(location = 1) out vec4 glowColor;
layout(location = 2) out vec4 unused;  // every draw buffer gets a defined value

void main() {
    vec2 d = gl_PointCoord * 2.0 - 1.0;
    float a = tint.a * (1.0 - smoothstep(0.4, 1.0, dot(d, d)));
    fragColor = vec4(tint.rgb, a);
    // Each grain glows where it is: a few pixels across, it is too small
    // to spread a halo of its own, and the cloud of them reads as one glow.
    glowColor = vec4(tint.rgb * 0.16, a);
    unused = vec4(0.0);
}
