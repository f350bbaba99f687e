#pragma once
// Writes files so that a failure never leaves a partial file or destroys an existing one.

#include "surface/failure.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace surface {

// Takes the bytes of a file in order; false when they could not be written.
using ByteSink = std::function<bool(std::string_view)>;

// Whether a saved file is forced to the disk before it replaces the old one: a desktop save
// should survive a crash right after it, a build step need not wait for the disk.
enum class Durability { Cached, Synced };

// Writes what `produce` hands to its sink into a new file beside `path` (the bytes the file
// system knows it by), which replaces `path` only when complete. `produce` returns false when
// the sink refused a piece or when it fails itself (then `whyNot`, if set, says why). An empty
// path is standard output; devices and pipes (such as /dev/stdout) are written directly.
std::optional<base::Error> saveFile(const std::string& path,
                                    const std::function<bool(const ByteSink&)>& produce,
                                    Durability durability = Durability::Cached,
                                    const std::function<QString()>& whyNot = {});

// Writes the bytes exactly as they are.
std::optional<base::Error> saveBytes(const std::string& path, std::string_view bytes,
                                     Durability durability = Durability::Cached);

// The name of a file for messages.
QString displayName(const std::string& path);

} // namespace surface
