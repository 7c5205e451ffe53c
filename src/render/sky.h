#pragma once
// The night sky's turn, which the star pass draws ("pole" in rotate.fs, "starSpin" in
// background.vs) and the tests measure on the screen: the sharp stars and their trails turn
// together, counter-clockwise as seen, about one pole.
namespace velmora::sky {

// Radians per second of the scene's time, counter-clockwise on the screen.
constexpr double kSpin = 0.045;
// The pole in the picture, as fractions of its width and of its height up from its bottom edge.
constexpr double kPoleU = 0.38;
constexpr double kPoleV = 0.86;

}  // namespace velmora::sky
