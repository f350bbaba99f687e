#pragma once
// Writes pictures as four-colour bitmaps: a 4-bit palette of the level colours.

#include "imaging/levels.h"
#include "platform/failure.h"
#include "platform/safe_save.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace surface {

// A picture's rows of pixels: row(y) gives row y's width pixels, valid until the next call.
using PixelRowsOf = std::function<const imaging::Pixel*(int)>;

// Writes a picture as a bottom-up 4-bit bitmap of the four level colours to the sink; a pixel
// that is not exactly a level colour is written white, as Convert reads it. False when the
// sink refused a piece.
bool writeLevelBitmap(int width, int height, const PixelRowsOf& row,
                      const platform::ByteSink& sink);

// The same into a file, replaced only when the new one is complete.
std::optional<base::Error>
saveLevelBitmap(int width, int height, const PixelRowsOf& row, const std::string& path,
                platform::Durability durability = platform::Durability::Cached);

} // namespace surface
