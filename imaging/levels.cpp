#include "imaging/levels.h"

namespace imaging {

int greyAverage(Colour colour) {
    // The colour's hex text has no leading zeros and is zero-filled to six digits, so the
    // three bytes read are the top three of its significant digits: for a value of 7 or 8
    // digits (negative values are 8) the lowest one or two digits fall off.
    auto value = static_cast<std::uint32_t>(colour);
    if (value > 0x0FFFFFFFu) {
        value >>= 8;
    } else if (value > 0x00FFFFFFu) {
        value >>= 4;
    }
    const int sum = static_cast<int>((value >> 16) & 0xFF) + static_cast<int>((value >> 8) & 0xFF) +
                    static_cast<int>(value & 0xFF);
    // Round to nearest; a third never falls on a half, so no tie rule is needed.
    return (sum + 1) / 3;
}

} // namespace imaging
