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
    glowColor = vec4(tint.rgb * 0.35, a);
    unused = vec4(0.0);
}
