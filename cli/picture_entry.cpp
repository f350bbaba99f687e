// The module that reads pictures other than bitmaps for the converter.

#include "cli/picture_module.h"
#include "conversion/whole_picture.h"

#include <new>

extern "C" __attribute__((visibility("default"))) int greyplanes_picture_interface() {
    return GREYPLANES_PICTURE_INTERFACE;
}

extern "C" __attribute__((visibility("default"))) void greyplanes_convert_whole_picture(
    QIODevice* file, const std::string* name, const conversion::ConvertOptions* options,
    imaging::RowProgress* progress, base::Result<imaging::Planes>* result) {
    try {
        *result = conversion::readWholePicture(*file, *name, *options, *progress);
    } catch (const std::bad_alloc&) {
        *result = base::noMemory(*name, "to convert it");
    }
}
