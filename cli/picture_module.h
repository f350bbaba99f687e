#pragma once
// The converter's way to pictures other than bitmaps: a module of its own, linked with Qt's image
// library, loaded the first time such a picture comes.

// The name the module's entry point is exported under.
#define GREYPLANES_PICTURE_ENTRY "greyplanes_convert_whole_picture"
// The function that tells which interface the module was built for, and that interface: one more
// whenever the entry's arguments or the types they point to change.
#define GREYPLANES_PICTURE_INTERFACE_ENTRY "greyplanes_picture_interface"
#define GREYPLANES_PICTURE_INTERFACE 1
