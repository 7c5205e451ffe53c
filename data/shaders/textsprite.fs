#version 330 core
// Glyphs from the image's alpha, in "color".
uniform sampler2D img;
uniform vec3 color;

in vec2 uv;
layout(location = 0) out vec4 fragColor;
// Nothing for the glow or the third target, but a defined nothing.
layout(location = 1) out vec4 glowColor;
layout(location = 2) out vec4 unused;

void main() {
    fragColor = vec4(color, texture(img, uv).a);
    glowColor = vec4(0.0);
    unused = vec4(0.0);
}
