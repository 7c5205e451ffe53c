#include "audio/steady.h"

#include <algorithm>
#include <cmath>

double SteadyPosition::next(double target, bool started, double jitter, double given, int rate,
                            Clock::time_point now) {
    constexpr double kNearSteer = 0.004;  // of the playback speed
    constexpr double kFarSteer = 0.05;
    constexpr double kSnapSeconds = 0.1;
    if (!steady_) {
        if (!started) return std::min(target, given);
        steady_ = true;
        frames_ = target;
    } else {
        const double step = std::chrono::duration<double>(now - at_).count() * rate;
        const double error = target - (frames_ + step);
        if (std::fabs(error) > kSnapSeconds * rate) {
            frames_ = target;
        } else {
            const double steer = (std::fabs(error) > jitter ? kFarSteer : kNearSteer) * step;
            frames_ += step + std::clamp(error, -steer, steer);
        }
    }
    frames_ = std::min(frames_, given);
    at_ = now;
    return frames_;
}
