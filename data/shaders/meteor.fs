#version 330 core
// Meteor sky: the far layer of small stars drifts slowly, the near layer of
// big ones a little faster, and meteors streak across both, the far ones
// thin and dim, the near ones long and bright.
uniform sampler2D smallimg;
uniform sampler2D bigimg;
uniform float time;

in vec2 uv;
layout(location = 0) out vec4 fragColor;
layout(location = 1) out vec4 glowColor;

const int meteorCount = 5;

// Trig-free hash: every pixel evaluates it for every meteor.
float hash(float n) {
    n = fract(n * 0.1031);
    n *= n + 33.33;
    n *= n + n;
    return fract(n);
}

// One meteor: a bright head moving along dir with a fading tail behind it.
// Pixels beyond the head's halo and the tail's width get nothing, so whole
// blocks of them skip the smooth steps and the exponential.
float streak(vec2 p, vec2 head, vec2 dir, float len, float widthPx) {
    vec2 d = p - head;
    float along = -dot(d, dir);                   // 0 at the head, len at the tail
    float side = abs(d.x * dir.y - d.y * dir.x);  // distance from the path
    float reach = widthPx * 0.011;                // the halo is below 1/1000 out there
    if (side > reach || along < -reach || along > len + reach) return 0.0;
    float inLen = step(-0.004, along) * (1.0 - smoothstep(0.0, len, along));
    float thin = 1.0 - smoothstep(0.0, widthPx * 0.0012 * (1.0 - 0.7 * clamp(along / len, 0.0, 1.0)), side);
    float headGlow = exp(-dot(d, d) * 60000.0 / (widthPx * widthPx));
    return inLen * inLen * thin * 0.9 + headGlow * 0.7;
}

void main() {
    vec2 far = uv + vec2(time * 0.004, 0.0);
    vec2 near = uv + vec2(time * 0.010, 0.0);
    vec4 small = texture(smallimg, far);
    vec4 big = texture(bigimg, near);
    vec3 sky = small.rgb + big.rgb * big.a;

    vec2 p = uv * vec2(16.0 / 9.0, 1.0);
    vec3 light = vec3(0.0);
    for (int i = 0; i < meteorCount; ++i) {
        float fi = float(i);
        float period = 2.1 + fi * 0.83;
        float cycle = floor((time + fi * 0.61) / period);
        float age = (time + fi * 0.61) - cycle * period;
        float life = 0.55 + 0.35 * hash(fi + cycle * 7.0);
        float seed = fi * 31.0 + cycle * 3.7;
        bool isNear = i < 2;
        vec2 start = vec2(0.5 + hash(seed) * 1.6, 0.55 + hash(seed + 1.0) * 0.5);
        vec2 dir = normalize(vec2(-1.0, -0.35 - 0.3 * hash(seed + 2.0)));
        float speed = isNear ? 1.6 : 0.8;
        vec2 head = start + dir * speed * age;
        float fade = smoothstep(0.0, 0.08, age) * (1.0 - smoothstep(life * 0.6, life, age));
        if (fade <= 0.0) continue;
        float s = streak(p, head, dir, isNear ? 0.42 : 0.2, isNear ? 2.2 : 1.2);
        vec3 tint = isNear ? vec3(0.85, 1.0, 0.8) : vec3(0.75, 0.85, 1.0);
        light += tint * s * fade * (isNear ? 1.0 : 0.55);
    }
    fragColor = vec4(sky + light, 1.0);
    glowColor = vec4(light * 0.8 + big.rgb * big.a * 0.15, 1.0);
}
