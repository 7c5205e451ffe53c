#pragma once
// An output's own estimate of what is heard moves in steps (callbacks, the server's reports) and
// wanders with their jitter. Readings therefore advance with the monotonic clock from the moment
// the output has started playing, and are steered toward its estimate by at most a small fraction
// of their speed, so they neither stutter nor jump. Within the estimate's own jitter the steering
// is gentle; an output that really runs slow (a starved or busy sound server) is followed faster,
// so the picture does not run ahead of the sound. A large gap (a stalled device) is taken at once.
// Nor do readings pass what the output has been given: they wait there, and go on from there
// when it takes more, rather than jump to where they would have been.
#include <chrono>

class SteadyPosition {
public:
    using Clock = std::chrono::steady_clock;

    // `target`: the output's estimate in frames; `started`: whether it has played anything yet
    // (until then its estimate is taken as it is); `jitter`: how far in frames the estimate wanders
    // between its steps; `given`: the frames the output has taken so far.
    double next(double target, bool started, double jitter, double given, int rate, Clock::time_point now);
    void reset() { steady_ = false; }

private:
    double frames_ = 0;
    Clock::time_point at_{};
    bool steady_ = false;
};
