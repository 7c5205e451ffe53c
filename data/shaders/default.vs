#version 330 core
// The 0.3 square at "offset", as it comes.
layout(location = 0) in vec2 square;
layout(location = 1) in vec2 texCoord;

uniform vec2 offset;

out vec2 uv;
out float shadowAmount;

void main() {
    uv = texCoord;
    shadowAmount = 0.0;
    gl_Position = vec4(offset + square, 0.0, 1.0);
}
