#version 330 core
// Full-screen quad: clip-space corners and their texture coordinates.
layout(location = 1) in vec2 texCoord;
layout(location = 2) in vec2 position;

out vec2 uv;

void main() {
    uv = texCoord;
    gl_Position = vec4(position, 0.0, 1.0);
}
