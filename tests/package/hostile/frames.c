/* The frames' header defines the frames' count and size, and the mask. */
#include "greyplanes/walk.h"

int walk_last_mask_word(void) {
    return walk_frames == 3 ? walk_m[3 * walk_m_frame_size - 1] : -1;
}
