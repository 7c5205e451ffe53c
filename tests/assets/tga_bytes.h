#pragma once
// Builds small TGA files byte by byte for the loader tests.
#include <initializer_list>
#include <string>

namespace velmora::test {

struct TgaHeader {
    int idLength = 0;
    int colourMapType = 0;
    int imageType = 2;
    int width = 1;
    int height = 1;
    int depth = 24;
    int descriptor = 0;
};

inline std::string tgaHeader(const TgaHeader& h) {
    std::string b(18, '\0');
    b[0] = static_cast<char>(h.idLength);
    b[1] = static_cast<char>(h.colourMapType);
    b[2] = static_cast<char>(h.imageType);
    b[12] = static_cast<char>(h.width & 0xff);
    b[13] = static_cast<char>((h.width >> 8) & 0xff);
    b[14] = static_cast<char>(h.height & 0xff);
    b[15] = static_cast<char>((h.height >> 8) & 0xff);
    b[16] = static_cast<char>(h.depth);
    b[17] = static_cast<char>(h.descriptor);
    return b;
}

// A 2 x 2 header with one field changed by `change`.
template <typename Change>
TgaHeader header2x2(Change change) {
    TgaHeader h;
    h.width = 2;
    h.height = 2;
    change(h);
    return h;
}

// Header, the image ID (idLength bytes of 'I'), then the pixel bytes.
inline std::string tgaFile(const TgaHeader& h, const std::string& pixels) {
    return tgaHeader(h) + std::string(static_cast<size_t>(h.idLength), 'I') + pixels;
}

inline std::string bytes(std::initializer_list<int> values) {
    std::string s;
    for (int v : values) s.push_back(static_cast<char>(v));
    return s;
}

}  // namespace velmora::test
