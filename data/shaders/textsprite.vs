#version 330 core
// A text sprite: the 0.3 square at "offset", kept square on 16:9.
layout(location = 0) in vec2 square;
layout(location = 1) in vec2 texCoord;

uniform vec2 offset;

out vec2 uv;

void main() {
    uv = texCoord;
    gl_Position = vec4(offset + vec2(square.x * 9.0 / 16.0, square.y), 0.0, 1.0);
}
