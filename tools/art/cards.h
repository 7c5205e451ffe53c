#pragma once
// What the title and the credits say: the generator sets these words, and the tests read them
// back off the screen with an OCR engine.
namespace art {

constexpr const char* kTitleName = "Velmora";

// The credits, top to bottom. A library's line is its name, right-aligned against the centre
// gutter, and what it does, to the gutter's right.
struct CreditLine {
    const char* name;
    const char* what;
};
constexpr const char* kCreditsHeading = "Velmora";
constexpr const char* kCreditsSubtitle = "A REAL-TIME AUDIOVISUAL DEMO";
constexpr const char* kCreditsClaim = "Every picture, step and note was made by its own code at build time.";
constexpr const char* kCreditsBuiltWith = "Built with";
constexpr CreditLine kCreditsLibraries[] = {
    {"GLFW", "windows, context and input"},
    {"GLEW", "OpenGL entry points"},
    {"SDL2", "sound output"},
    {"libmpg123", "MP3 decoding"},
    {"LAME", "MP3 encoding of the soundtrack"},
    {"Mesa", "OpenGL in the test runs"},
    {"stb", "type and image tools"},
};
constexpr const char* kCreditsTypefaces = "Set in Quattrocento and Lato";
constexpr const char* kCreditsThanks = "Thank you for watching";

}  // namespace art
