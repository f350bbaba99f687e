#pragma once
// Writes files so that a failure never leaves a partial file or destroys an existing one.

#include "platform/failure.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// Takes the bytes of a file in order; false when they could not be written (the save knows
// why).
using ByteSink = std::function<bool(std::string_view)>;

// Hands the bytes of a file to the sink, in order, and may stop at a piece the sink refused:
// that failure is the save's to report. Returns the error that stopped it when it failed itself
// (base::noMemory, ...); the save names the file in it.
using Producer = std::function<std::optional<base::Error>(const ByteSink&)>;

// Whether a saved file is forced to the disk before it replaces the old one: a desktop save
// should survive a crash right after it, a build step need not wait for the disk.
enum class Durability { Cached, Synced };

// Writes what `produce` hands to its sink. A regular file, by whatever name (links are followed
// to their target, dangling ones too), gets a new file beside it that replaces it only when
// complete, with the old one's permissions (a new one: 0666 less the umask); a file the user
// may not write is refused. An empty path, or any name of the file open on standard output
// (/dev/stdout), is written through descriptor 1 as it was given (appending when it appends);
// devices and pipes are written in place. SIGINT, SIGTERM and SIGHUP remove the unfinished file
// before they end the program.
std::optional<base::Error> saveFile(const std::string& path, const Producer& produce,
                                    Durability durability = Durability::Cached);

// Takes bytes of a file at their offset; false when they could not be written.
using PlacedSink = std::function<bool(std::uint64_t offset, std::string_view bytes)>;
using PlacedProducer = std::function<std::optional<base::Error>(const PlacedSink&)>;

// Saves as saveFile() does, each piece written at its offset, in any order: for what can be
// written side by side, into a file that can seek (not standard output, a device or a pipe).
std::optional<base::Error> saveFileAt(const std::string& path, const PlacedProducer& produce,
                                      Durability durability = Durability::Cached);

// Whether `path` is empty or names the file open on standard output, by any name.
bool namesStandardOutput(const std::string& path);

// The name of a file for messages.
QString displayName(const std::string& path);

} // namespace platform
