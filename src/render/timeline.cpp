// The programme of the show: which scene plays at which music time, and how
// the final composite is tuned while it plays.
#include "render/demo.h"

#include "render/renderbuffer.h"
#include "render/timeline.h"

#include <cmath>

namespace {

using velmora::CompositeParams;

struct Cue {
    double from, to;                           // music seconds, both ends open
    void (*play)(Demo&, double local);         // local = seconds since `from`
    void (*tune)(CompositeParams&, double t);  // from the music time, after drawing
};

void desert(Demo& d, double t) { d.sceneDesert(t); }
void title(Demo& d, double) { d.drawBackground(d.textures[Demo::kTitle], 0); }
void particles(Demo& d, double t) { d.drawParticles(t); }
void meteors(Demo& d, double t) { d.sceneMeteor(t); }
void mountain(Demo& d, double t) { d.sceneMountain(t); }
void starNight(Demo& d, double t) { d.sceneStarNight(t); }
void credits(Demo& d, double) { d.drawBackground(d.textures[Demo::kCredits], 0); }

//  from      to         scene      composite
const Cue kScore[] = {
    {0.0,     64.3,      desert,    velmora::averageOn},
    // 64.3 .. 65.53: silence on screen
    {65.53,   70.0,      title,     nullptr},
    {70.0,    94.524,    particles, nullptr},
    {94.524,  123.679,   meteors,   velmora::pulseGlow},
    {123.679, 152.981,   mountain,  velmora::breatheZoom},
    {152.981, 182.0,     starNight, nullptr},
    {182.0,   HUGE_VAL,  credits,   nullptr},  // until the shell stops after 185 s
};

const Cue* cueAt(double t) {
    for (const Cue& cue : kScore)
        if (t > cue.from && t < cue.to) return &cue;
    return nullptr;
}

}  // namespace

int velmora::scoreRow(double t) {
    const Cue* cue = cueAt(t);
    return cue ? static_cast<int>(cue - kScore) + 1 : 0;
}

double velmora::scoreRowStart(int row) {
    const int rows = static_cast<int>(sizeof kScore / sizeof kScore[0]);
    return row >= 1 && row <= rows ? kScore[row - 1].from : 0.0;
}

CompositeParams velmora::compositeAt(double t) {
    CompositeParams params = defaultCompositeParams();
    if (const Cue* cue = cueAt(t))
        if (cue->tune) cue->tune(params, t);
    params.fadePercent = fadeAt(t);
    return params;
}

void Demo::render(double t) {
    if (!renderbuffer) return;  // set-up failed: nothing to draw with
    Renderbuffer& target = *renderbuffer;
    glBindFramebuffer(GL_FRAMEBUFFER, target.framebuffer);
    glClear(GL_COLOR_BUFFER_BIT);
    glViewport(0, 0, target.width, target.height);

    if (const Cue* cue = cueAt(t)) cue->play(*this, t - cue->from);
    const CompositeParams params = velmora::compositeAt(t);

    target.fadePercent = params.fadePercent;
    target.kernelSize = params.kernelSize;
    target.average = params.average;
    target.vignette = params.vignette;
    target.zoom = params.zoom;
    target.composite();
}
