#pragma once
// Writes GIF files through giflib's encoder, frame by frame as given, for the tests.

#include <cstdint>
#include <vector>

namespace testing_support {

struct GifFrame {
    int left = 0;
    int top = 0;
    int width = 1;
    int height = 1;
    bool interlaced = false;
    std::vector<std::uint8_t> palette; // red, green, blue a colour; empty: the screen's
    bool control = false;              // a control block before the frame
    int disposal = 0;
    int transparent = -1;
    std::vector<std::uint8_t> indices; // width × height, rows from the top
};

struct GifPicture {
    int width = 1;
    int height = 1;
    std::vector<std::uint8_t> palette; // the screen's; may be empty
    int background = 0;
    std::vector<GifFrame> frames;
};

// The file's bytes; empty when giflib refuses the picture.
std::vector<std::uint8_t> writeGif(const GifPicture& picture);

} // namespace testing_support
