#pragma once
// Writes files so that a failure never leaves a partial file or destroys an existing one.

#include "platform/failure.h"

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Takes the bytes of a file in order; false when they could not be written.
using ByteSink = std::function<bool(std::string_view)>;

// Whether a saved file is forced to the disk before it replaces the old one: a desktop save
// should survive a crash right after it, a build step need not wait for the disk.
enum class Durability { Cached, Synced };

// Writes what `produce` hands to its sink. A regular file, by whatever name (links are followed
// to their target, dangling ones too), gets a new file beside it that replaces it only when
// complete, with the old one's permissions (a new one: 0666 less the umask); a file the user
// may not write is refused. An empty path, or any name of the file open on standard output
// (/dev/stdout), is written through descriptor 1 as it was given (appending when it appends);
// devices and pipes are written in place. `produce` returns false when the sink refused a
// piece or when it fails itself (then `whyNot`, if set, says why). SIGINT, SIGTERM and SIGHUP
// remove the unfinished file before they end the program.
std::optional<base::Error> saveFile(const std::string& path,
                                    const std::function<bool(const ByteSink&)>& produce,
                                    Durability durability = Durability::Cached,
                                    const std::function<QString()>& whyNot = {});

// Writes the bytes exactly as they are.
std::optional<base::Error> saveBytes(const std::string& path, std::string_view bytes,
                                     Durability durability = Durability::Cached);

// Whether `path` is empty or names the file open on standard output, by any name.
bool namesStandardOutput(const std::string& path);

// The name of a file for messages.
QString displayName(const std::string& path);

} // namespace platform
