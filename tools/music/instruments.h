#pragma once
#include <cstdint>

#include "score.h"

namespace velmora::music {

// Adds one note into the stereo buffers `left` and `right`, which start at the note's onset
// and hold `room` frames. The note writes its attack, sustain and release tail, never more
// than `room` frames, and ends on silence (no step at either end).
void renderNote(Instrument instrument, const Note& note, uint32_t seed, float* left, float* right, int64_t room);

// How many frames a note may ring past its gate at most; bounds the work per note.
int64_t tailFrames(Instrument instrument, const Note& note);

}  // namespace velmora::music
