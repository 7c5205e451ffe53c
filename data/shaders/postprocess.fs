#version 330 core
// Final composite: the offscreen picture, zoomed about the centre, with a
// glow from the bright attachment, a vignette and a fade. "avg" asks for the
// desert's softness, which its image carries already (the art generator
// softens it), so it is accepted and not read: a softening here would cost
// every row, since a software rasteriser runs the branch masked.
uniform sampler2D color;
uniform sampler2D bright;
uniform int height;
uniform float fadeperc;
uniform int kernelsize;
uniform float vignette;
uniform int avg;
uniform float zoom;

in vec2 uv;
out vec4 fragColor;

// Per-pixel turn of the sparse glow taps, so they do not band: the pixel's
// place on a low-discrepancy lattice (the R2 sequence), worked out in 32-bit
// fixed point so that every GPU gets the same bits.
float noise(vec2 fragCoord) {
    uvec2 pixel = uvec2(fragCoord);
    uint turn = pixel.x * 3242174889u + pixel.y * 2447445414u;  // 1/1.3247 and 1/1.3247^2 of 2^32
    return float(turn >> 8) * (1.0 / 16777216.0);
}

// A sine from two parabolas over one turn of x (0 to 1), within 0.06 of the
// real one: the taps' directions are noise anyway, and the real sine and
// cosine cost this pass a twentieth of its time on a software rasteriser.
float turnSine(float x) {
    float t = fract(x) * 2.0 - 1.0;
    return -4.0 * t * (1.0 - abs(t));
}

// The attachments repeat like any texture: taps near the picture's edge are
// held inside it rather than fetch the opposite side.
vec2 lo, hi;
vec2 inside(vec2 q) { return clamp(q, lo, hi); }

void main() {
    lo = 0.5 / vec2(textureSize(color, 0));
    hi = 1.0 - lo;
    vec2 p = inside((uv - 0.5) * zoom + 0.5);
    vec2 texel = vec2(9.0 / 16.0, 1.0) / float(max(height, 1));

    vec3 c = texture(color, p).rgb;

    // Glow: a centre tap and two pairs of taps, a near pair and a far pair
    // across it, turned per pixel, so that neighbouring pixels together
    // cover both rings. The radius follows kernelsize.
    float reach = float(kernelsize) * 3.0 * float(height) / 1080.0;
    float turn = noise(gl_FragCoord.xy);
    vec2 dir = vec2(turnSine(turn + 0.25), turnSine(turn));
    vec2 nearStep = dir * reach * 0.45 * texel;
    vec2 farStep = vec2(-dir.y, dir.x) * reach * texel;
    vec3 glow = texture(bright, p).rgb * 0.2
              + (texture(bright, inside(p + nearStep)).rgb + texture(bright, inside(p - nearStep)).rgb) * 0.24
              + (texture(bright, inside(p + farStep)).rgb + texture(bright, inside(p - farStep)).rgb) * 0.16;
    c += glow * 1.3;

    // Vignette: the larger the value, the further out the darkening starts.
    float d = length((uv - 0.5) * vec2(16.0 / 9.0, 1.0));
    c *= 1.0 - 0.85 * smoothstep(vignette - 0.45, vignette + 0.55, d);

    c *= 1.0 - clamp(fadeperc, 0.0, 1.0);
    fragColor = vec4(c, 1.0);
}
