#version 330 core
// The figure's shadow on the desert floor: the frame mirrored at the soles,
// laid toward the viewer and sheared away from the low sun. "offset" is the
// shadow's own, 0.15 above the figure's, so the soles sit at offset.y - 0.15
// plus the 16 texel rows under them.
layout(location = 3) in vec2 hanging;  // x 0..0.3, y 0..-1

uniform vec2 offset;

out vec2 uv;
out float shadowAmount;

const float soleRow = 16.0 / 512.0;
const float shadowLength = 0.42;  // clip units down the screen
const float shear = 0.30;         // clip x per unit of length

void main() {
    float along = -hanging.y;  // 0 at the soles, 1 at the head's shadow
    float u = hanging.x / 0.3;
    uv = vec2(u, soleRow + along * (1.0 - soleRow));
    shadowAmount = 0.62 * (1.0 - 0.65 * along);
    float solesY = offset.y - 0.15 + 0.3 * soleRow;
    vec2 p = vec2(offset.x + hanging.x * 9.0 / 16.0 + along * shear * shadowLength,
                  solesY - along * shadowLength);
    gl_Position = vec4(p, 0.0, 1.0);
}
