#version 330 core
// Glyphs from the image's alpha, in "color".
uniform sampler2D img;
uniform vec3 color;

in vec2 uv;
layout(location = 0) out vec4 fragColor;

void main() {
    fragColor = vec4(color, texture(img, uv).a);
}
