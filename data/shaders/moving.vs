#version 330 core
// The walking figure: the 0.3 square placed at "offset", its x scaled by
// 9/16 so that it stays square on the 16:9 picture.
layout(location = 0) in vec2 square;
layout(location = 1) in vec2 texCoord;

uniform vec2 offset;

out vec2 uv;
out float shadowAmount;

void main() {
    uv = texCoord;
    shadowAmount = 0.0;
    gl_Position = vec4(offset + vec2(square.x * 9.0 / 16.0, square.y), 0.0, 1.0);
}
