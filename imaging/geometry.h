#pragma once
// How a picture is turned and sized before its levels are taken.

#include "imaging/levels.h"

namespace imaging {

enum class Fit {
    Contain, // inside the size, keeping the aspect ratio, on the background
    Cover,   // over the whole size, keeping the aspect ratio, the centre cropped
    Stretch, // each side on its own
};

// How the picture is turned and sized before its levels are taken: the rotation first, then the
// flips, then the size.
struct Geometry {
    int quarterTurns = 0; // clockwise, 0 to 3
    bool flipLeftRight = false;
    bool flipTopBottom = false;
    int width = 0; // 0: not given; with only one side given the other keeps the aspect ratio
    int height = 0;
    Fit fit = Fit::Contain;
    imaging::Colour background = imaging::kWhite;

    bool turns() const { return quarterTurns != 0 || flipLeftRight || flipTopBottom; }
    bool resizes() const { return width > 0 || height > 0; }
};

} // namespace imaging
