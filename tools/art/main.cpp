// velmora-artgen DATA_DIR TITLE_FONT TEXT_FONT
// Draws the walking figure and the demo's images into DATA_DIR.
#include <cstdio>

#include "art.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: %s DATA_DIR TITLE_FONT TEXT_FONT\n", argv[0]);
        return 2;
    }
    art::Fonts fonts{argv[2], argv[3]};
    return art::generateAll(argv[1], fonts) ? 0 : 1;
}
