#version 330 core
// Final composite: the offscreen picture, zoomed about the centre, softened
// on request, with a glow from the bright attachment, a vignette and a fade.
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

// Small per-pixel rotation so the sparse glow taps do not band.
float hash(vec2 p) {
    return fract(sin(dot(p, vec2(12.9898, 78.233))) * 43758.5453);
}

void main() {
    vec2 p = (uv - 0.5) * zoom + 0.5;
    vec2 texel = vec2(9.0 / 16.0, 1.0) / float(max(height, 1));

    vec3 c = texture(color, p).rgb;
    if (avg == 1) {
        c = c * 0.2
          + texture(color, p + texel * vec2( 1.0,  1.0)).rgb * 0.2
          + texture(color, p + texel * vec2(-1.0,  1.0)).rgb * 0.2
          + texture(color, p + texel * vec2( 1.0, -1.0)).rgb * 0.2
          + texture(color, p + texel * vec2(-1.0, -1.0)).rgb * 0.2;
    }

    // Glow: eight taps on two rings whose radius follows kernelsize.
    float reach = float(kernelsize) * 3.0 * float(height) / 1080.0;
    float a = hash(gl_FragCoord.xy) * 6.2831853;
    vec3 glow = texture(bright, p).rgb * 0.2;
    for (int i = 0; i < 4; ++i) {
        float ang = a + float(i) * 1.5707963;
        vec2 dir = vec2(cos(ang), sin(ang));
        glow += texture(bright, p + dir * reach * 0.45 * texel).rgb * 0.12;
        glow += texture(bright, p + dir.yx * vec2(-1.0, 1.0) * reach * texel).rgb * 0.08;
    }
    c += glow * 1.3;

    // Vignette: the larger the value, the further out the darkening starts.
    float d = length((uv - 0.5) * vec2(16.0 / 9.0, 1.0));
    c *= 1.0 - 0.85 * smoothstep(vignette - 0.45, vignette + 0.55, d);

    c *= 1.0 - clamp(fadeperc, 0.0, 1.0);
    fragColor = vec4(c, 1.0);
}
