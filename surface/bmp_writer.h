#pragma once
// Writes pictures as four-colour bitmaps: a 4-bit palette of the level colours.

#include "imaging/levels.h"
#include "imaging/plane_encoder.h"
#include "platform/failure.h"
#include "platform/safe_save.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>

namespace surface {

// Sets the bits of a picture's row y in planes one row high, whose bits are clear.
using LevelRowsOf = std::function<void(int y, imaging::Planes& bits)>;

// Writes a picture as a bottom-up 4-bit bitmap of the four level colours to the sink. False
// when the sink refused a piece.
bool writeLevelBitmap(int width, int height, const LevelRowsOf& levels,
                      const platform::ByteSink& sink);

// The same into a file, replaced only when the new one is complete.
std::optional<base::Error>
saveLevelBitmap(int width, int height, const LevelRowsOf& levels, const std::string& path,
                platform::Durability durability = platform::Durability::Cached);

} // namespace surface
