#pragma once
// A picture file read whole onto a surface, as the window opens it: the loader's rows to the
// end, then the picture.

#include "surface/picture_loader.h"
#include "surface/picture_surface.h"

#include <optional>

namespace testing_support {

// Replaces the surface's picture by the one in the file; on failure the surface is unchanged.
inline std::optional<base::Error> loadInto(surface::PictureSurface& surface,
                                           const QString& fileName) {
    surface::PictureLoader loader;
    if (auto failed = loader.open(fileName)) {
        return failed;
    }
    while (!loader.finished()) {
        if (auto failed = loader.readRow()) {
            return failed;
        }
    }
    surface.setPicture(loader.image());
    return std::nullopt;
}

} // namespace testing_support
