#version 330 core
// Final composite: the offscreen picture, zoomed about the centre, with the
// glow of the bright attachment, a vignette and a fade. "avg" asks for the
// desert's softness, which its image carries already (the art generator
// softens it), so it is accepted and not read: a softening here would cost
// every row, since a software rasteriser runs the branch masked.
//
// The passes draw each light's halo into the bright attachment where the
// light is: the art generator bakes the images' halos, and the meteors, the
// star trails and the figure work theirs out from the distance to the
// light, at the strength it shows. One lookup of it is the whole glow,
// smooth wherever the halo is; a gain here would only show the attachment's
// 8-bit steps larger.
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

// The passes draw their halos at the reach of the largest kernel; a smaller
// one shows that part of it.
const int fullKernel = 9;

void main() {
    // The attachments repeat like any texture: a zoomed lookup near the
    // picture's edge is held inside it rather than fetch the opposite side.
    vec2 lo = 0.5 / vec2(textureSize(color, 0));
    vec2 p = clamp((uv - 0.5) * zoom + 0.5, lo, 1.0 - lo);
    vec3 c = texture(color, p).rgb;

    // Glow: the halo raised to a power that grows as the kernel shrinks.
    // Each halo falls off from its light, so the power pulls its faint outer
    // part in toward the light and leaves the bright core: at a tenth of the
    // reach (kernel 0) little but the core still glows. The power is taken
    // of the halo's brightest channel, which keeps its hue: its whole part by
    // squaring (GLSL's pow costs a software rasteriser as much as the rest of
    // this pass), its fraction as a straight line between the whole powers.
    vec3 halo = texture(bright, p).rgb;
    float reach = float(clamp(kernelsize, 0, fullKernel) + 1) / float(fullKernel + 1);
    float power = 1.0 / reach - 1.0;  // 0 to 9
    int whole = int(power);
    float part = power - float(whole);
    float peak = max(max(halo.r, halo.g), halo.b);
    float peak2 = peak * peak, peak4 = peak2 * peak2, peak8 = peak4 * peak4;
    float shown = (1.0 - part + part * peak) * ((whole & 1) != 0 ? peak : 1.0) * ((whole & 2) != 0 ? peak2 : 1.0)
                * ((whole & 4) != 0 ? peak4 : 1.0) * ((whole & 8) != 0 ? peak8 : 1.0);
    c += halo * shown;

    // Vignette: the larger the value, the further out the darkening starts.
    float d = length((uv - 0.5) * vec2(16.0 / 9.0, 1.0));
    c *= 1.0 - 0.85 * smoothstep(vignette - 0.45, vignette + 0.55, d);

    c *= 1.0 - clamp(fadeperc, 0.0, 1.0);
    fragColor = vec4(c, 1.0);
}
