#version 330 core
// The night sky turning counter-clockwise about the celestial pole, as the
// northern sky does for a viewer facing it. The star image turns as it is;
// long-exposure trails open up as "startrail" falls below 1, growing to their
// full length at -1 and staying there, each behind a star of its own that
// turns with the image.
uniform sampler2D rotimg;
uniform float startrail;

in vec2 uv;
// How far the sky has turned ("time" times its spin), and that angle's
// cosine and sine: alike for every pixel, so the quad's vertex shader works
// them out.
flat in float starAngle;
flat in vec2 starTurn;
layout(location = 0) out vec4 fragColor;
layout(location = 1) out vec4 glowColor;
layout(location = 2) out vec4 unused;  // every draw buffer gets a defined value

const vec2 pole = vec2(0.38, 0.86);  // in texture space of the picture (render/sky.h)
const float starScale = 1080.0 / 2560.0;
const float fullTrail = 1.1;         // radians of arc at full length
const float rings = 230.0;           // trail rings per picture height
const float haloRings = 1.5;         // how far a trail's halo reaches, in rings
const float trailHalo = 0.4;         // its strength against the trail's own light
const float headRadius = 0.45;       // the star at a trail's head, in rings

// An integer hash (lowbias32): the same bits on every GPU.
uint hash32(uint x) {
    x ^= x >> 16;
    x *= 0x7feb352du;
    x ^= x >> 15;
    x *= 0x846ca68bu;
    x ^= x >> 16;
    return x;
}
float random(uint key, uint stream) {
    return float(hash32(key + stream * 0x9e3779b9u) >> 8) * (1.0 / 16777216.0);  // 24 bits: exact
}

// The angle of (x, y) about the origin in turns, within 2e-6 of a turn (a
// fiftieth of a pixel at the picture's far corner): the GL's own arc tangent
// is a sixteenth of this pass on a software rasteriser, this one a hundredth.
// In turns, the trails' arcs wrap with a plain fract.
float turnsOf(float y, float x) {
    vec2 a = abs(vec2(x, y));
    float t = min(a.x, a.y) / max(max(a.x, a.y), 1e-20);  // 0..1: the octant's tangent
    float s = t * t;
    float r = t * (0.1591336 + s * (-0.0525688 + s * (0.0286703 + s * (-0.0135493 + s * 0.0033160))));
    r = a.y > a.x ? 0.25 - r : r;
    r = x < 0.0 ? 0.5 - r : r;
    return y < 0.0 ? -r : r;
}

// A halo's falloff over its reach x (0 to 1): smooth where it ends.
float haloFalloff(float x) {
    float y = max(1.0 - x, 0.0);
    return y * y * y;
}

void main() {
    vec2 q = (uv - pole) * vec2(16.0 / 9.0, 1.0);
    float cs = starTurn.x, sn = starTurn.y;

    // The star image, turned about the pole.
    vec2 turned = vec2(cs * q.x + sn * q.y, -sn * q.x + cs * q.y);
    // One picture height spans 1080 texels of the square, tiling star field: round stars, and
    // about one texel per pixel at 1080 lines.
    vec3 stars = texture(rotimg, turned * starScale + pole).rgb;

    // Trails: each ring of the sky holds two stars; a trail is the arc the
    // star swept, bright at its head and fading toward its tail. Its halo
    // falls off with the distance from the trail, across the rings and, ahead
    // of the head, along them too, and ends a ring and a half out: a pixel
    // gathers the halos of its own ring's trails and of the rings on either
    // side.
    float growth = clamp(1.0 - startrail, 0.0, 2.0) * 0.5;
    float len = fullTrail * growth;
    vec3 trail = vec3(0.0), halo = vec3(0.0), heads = vec3(0.0);
    // No trails yet: the whole sky skips the arc tangent and the ring hashes
    // where the GL branches on a value alike for every pixel (a software
    // rasteriser runs them masked, and runs this test faster than a loop).
    if (len > 0.0) {
        float r = length(q) * rings;
        float ring = floor(r);
        float across = 1.0 - smoothstep(0.12, 0.42, abs(r - ring - 0.5));
        // Each star's head sits at its hash, in turns, carried round with the sky: the
        // angle here is the pixel's before the sky turned.
        float theta = turnsOf(q.y, q.x) - starAngle * 0.15915494;
        float toLength = 6.2831853 / max(len, 1e-4);  // turns into trail lengths
        float toRings = 6.2831853 * r / haloRings;    // turns into halo reaches along this ring
        // Where a GPU rounds a pixel on a ring's edge into the next ring, "across" is 0 there
        // and the halos of the rings on both sides of the edge are alike.
        for (int j = -1; j <= 1; ++j) {
            float x = abs(r - (ring + float(j) + 0.5)) / haloRings;  // 0 on the trail, 1 where its halo ends
            for (int k = 0; k < 2; ++k) {
                uint star = uint(max(ring + float(j), 0.0)) * 2u + uint(k);
                float behind = fract(random(star, 1u) - theta);  // turns from the head back along the trail
                float lit = max(1.0 - behind * toLength, 0.0);
                // Ahead of the head the nearest light is the head itself.
                float ahead = length(vec2(x, (1.0 - behind) * toRings));
                float h = random(star, 2u);
                float b = h * h * h * 0.9 + 0.1;
                vec3 tint = mix(vec3(0.65, 0.78, 1.0), vec3(1.0, 0.86, 0.7), random(star, 3u));
                vec3 light = tint * b;
                trail += j == 0 ? light * lit * lit : vec3(0.0);
                // The star itself, at the head of its trail on its own ring.
                float fromHead = length(vec2(x, min(behind, 1.0 - behind) * toRings)) * (haloRings / headRadius);
                heads += j == 0 ? light * (1.0 - smoothstep(0.3, 1.0, fromHead)) : vec3(0.0);
                halo += light * (lit * lit * haloFalloff(x) + haloFalloff(ahead));
            }
        }
        // The pole's rings are too tight to show.
        float open = smoothstep(0.0, 6.0, r);
        trail *= across * open;
        halo *= open;
        // The trails' own stars come out as the trails open behind them.
        heads *= open * min(growth * 8.0, 1.0);
    }
    // The sharp stars step back as their trails take over.
    vec3 sky = stars * (1.0 - 0.5 * growth) + heads;
    vec3 c = sky + trail * 0.85;
    fragColor = vec4(c + vec3(0.004, 0.008, 0.025), 1.0);
    // The stars' halos are baked into their image with them.
    glowColor = vec4(sky * 0.16 + halo * trailHalo, 1.0);
    unused = vec4(0.0);
}
