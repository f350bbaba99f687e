#pragma once
// The converter's way to pictures other than bitmaps: a module of its own, linked with Qt's image
// library, loaded the first time such a picture comes.

// The name the module's entry point is exported under.
#define GREYPLANES_PICTURE_ENTRY "greyplanes_convert_whole_picture"
