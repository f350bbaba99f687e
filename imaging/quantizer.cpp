#include "imaging/quantizer.h"

#include <algorithm>

namespace imaging {

void quantizeRow(std::span<Pixel> row) {
    // The bands as ranges of the byte sum, so that branch-free selects let the compiler
    // vectorise the loop.
    constexpr Pixel kDarkSum = sumFrom(kDarkFrom);
    constexpr Pixel kLightSum = sumFrom(kLightFrom);
    constexpr Pixel kWhiteSum = sumFrom(kWhiteFrom);
    for (Pixel& pixel : row) {
        const Pixel sum = (pixel & 0xFF) + ((pixel >> 8) & 0xFF) + ((pixel >> 16) & 0xFF);
        Pixel level = sum < kDarkSum ? Pixel{kBlack} : Pixel{kDarkGrey};
        level = sum < kLightSum ? level : Pixel{kLightGrey};
        level = sum < kWhiteSum ? level : Pixel{kWhite};
        pixel = (pixel & ~kColourMask) | level;
    }
}

} // namespace imaging
