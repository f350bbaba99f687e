#pragma once
// The ways a picture's grey averages are brought to the four levels.

namespace imaging {

enum class Dither {
    None,           // each pixel by its own grey average into the four bands
    FloydSteinberg, // error diffusion, serpentine rows
    Atkinson,       // error diffusion of three quarters of the error
    Bayer,          // the 8 x 8 ordered matrix
};

} // namespace imaging
