#pragma once
// Lookups into the programme of the show, for the renderer and its checks.
#include "render/timing.h"

namespace velmora {

// 1-based row of the programme that plays at music time t, 0 for none.
int scoreRow(double t);
// The music time at which row `row` opens (0 for row 0, nothing playing).
double scoreRowStart(int row);

// The composite settings for music time t: defaults, the playing row's
// changes, and the fade.
CompositeParams compositeAt(double t);

}  // namespace velmora
