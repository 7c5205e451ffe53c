#version 330 core
// Full-screen quad: clip-space corners and their texture coordinates.
//
// An image shorter than a 16:9 picture of its width is a layer over the
// bottom of the picture with only clear sky above its top row (the art is
// written that way); the quad then covers those rows alone, so that the
// sky above costs nothing to draw. The image is the pass's first, on unit
// 0 in every program sharing this shader; the window-sized pictures the
// composite reads are 16:9 to within a row, so they are drawn whole.
//
// Such a layer's top-left texel is clear, and the art generator writes in
// its colour the outline of what the layer shows, in heights of the
// picture (withOutline in tools/art): red, the line below which it shows
// only black, which the picture is there already (nothing is drawn under
// these layers that low); green and blue, its top edge at the left and at
// the right. The quad shrinks to that outline. A layer whose corner is not
// clear is drawn whole.
//
// A uniform a pass never sends reads 0, and two couplings rest on that.
// The two skies (the meteor sky, the star trails) are told apart as the
// programs sent neither a "width" nor a "height", and nothing else is: a
// land is drawn over each right after, so their quad starts where it turns
// opaque (the star field that turns is the one square image, the meteor
// sky 16:9). And "img" is sent only by the passes whose first image it is:
// the others (star trails, meteor sky, composite) leave it on unit 0, where
// their first image is too. A GL test holds both (render_frame).
//
// The meteor sky's meteors and the star field's turn depend on the time
// alone, so they are worked out here, once per corner, instead of once per
// pixel; programs whose fragment shader does not read them drop them (and
// "time") when they are linked.
layout(location = 1) in vec2 texCoord;
layout(location = 2) in vec2 position;

uniform float time;
uniform sampler2D img;
uniform int width;
uniform int height;

// Where the lands turn opaque (kMeteorGroundOpaqueBelow and
// kStarNightOpaqueBelow in tools/art/art.h), of the picture's height.
const float meteorGroundCovers = 0.27;
const float starLandCovers = 0.36;

out vec2 uv;

const float starSpin = 0.045;  // radians per second about the pole, counter-clockwise (render/sky.h)
flat out float starAngle;
flat out vec2 starTurn;        // cos, sin of starAngle

const int meteorCount = 5;
// The meteors in flight, first to last; the rest of the slots are unused.
flat out int meteorsLit;
flat out vec4 meteorPath[meteorCount];   // head position, direction of flight
flat out vec4 meteorShape[meteorCount];  // tail length, width in pixels of 1080 lines, strength, 1 if near

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

void main() {
    ivec2 size = textureSize(img, 0);
    bool band = size.x > 0 && size.y * 16 < size.x * 9 - 16;
    float top = band ? float(size.y * 16) / float(size.x * 9) : 1.0;  // of the picture's height
    bool sky = width == 0 && height == 0;
    vec4 outline = band && !sky ? texelFetch(img, ivec2(0, size.y - 1), 0) : vec4(1.0);
    bool outlined = outline.a < 0.5 / 255.0;
    float bottom = sky ? (size.x == size.y ? starLandCovers : meteorGroundCovers) : (outlined ? outline.r : 0.0);
    float edge = outlined ? mix(outline.g, outline.b, texCoord.x) : top;
    // The corners move to the rows drawn (v, of the picture's height); the
    // texture coordinates follow them.
    float v = mix(bottom, edge, texCoord.y);
    uv = vec2(texCoord.x, v / top);
    gl_Position = vec4(position.x, v * 2.0 - 1.0, 0.0, 1.0);

    starAngle = time * starSpin;  // under 1.4 radians in the star-trail row's 29 s
    starTurn = vec2(cos(starAngle), sin(starAngle));

    // Each meteor comes back on its own period, from a new place each time;
    // the first two are near (fast, long and bright), the others far. Only
    // those in flight are handed on, so that pixels loop over them alone.
    // Where a GPU's division rounds a time on a period's edge into the next
    // cycle or the last, the age is about 0 or a whole period: dark either way.
    vec4 path[meteorCount], shape[meteorCount];
    int lit = 0;
    for (int i = 0; i < meteorCount; ++i) {
        float fi = float(i);
        float period = 2.1 + fi * 0.83;
        float cycle = floor((time + fi * 0.61) / period);
        float age = (time + fi * 0.61) - cycle * period;
        uint flight = uint(i) * 0x10000u + uint(max(cycle, 0.0));  // this meteor's pass of the sky
        float life = 0.55 + 0.35 * random(flight, 1u);
        float fade = smoothstep(0.0, 0.08, age) * (1.0 - smoothstep(life * 0.6, life, age));
        if (fade <= 0.0) continue;
        bool isNear = i < 2;
        vec2 start = vec2(0.5 + random(flight, 2u) * 1.6, 0.55 + random(flight, 3u) * 0.5);
        vec2 dir = normalize(vec2(-1.0, -0.35 - 0.3 * random(flight, 4u)));
        vec2 head = start + dir * (isNear ? 1.6 : 0.8) * age;
        path[lit] = vec4(head, dir);
        shape[lit] = vec4(isNear ? 0.42 : 0.2, isNear ? 2.2 : 1.2, fade * (isNear ? 1.0 : 0.55), isNear ? 1.0 : 0.0);
        ++lit;
    }
    meteorsLit = lit;
    for (int i = 0; i < meteorCount; ++i) {
        meteorPath[i] = i < lit ? path[i] : vec4(0.0);
        meteorShape[i] = i < lit ? shape[i] : vec4(0.0);
    }
}
