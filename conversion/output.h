#pragma once
// Writes what a conversion produced: the C text of the planes and the four-level picture.

#include "ctext/c_array_writer.h"
#include "imaging/plane_encoder.h"
#include "platform/failure.h"
#include "platform/safe_save.h"

#include <cstdint>
#include <optional>
#include <string>

namespace conversion {

// Where an output goes: a file name as the bytes the file system knows it by, or an empty
// name for standard output.
struct Target {
    std::string path;
    bool isStandardOutput() const { return path.empty(); }
};

// Writes the C text of the planes. A file is replaced only when the new one is complete. A
// picture that the style's layout cannot hold (gb tiles) is refused, named by style.source,
// before anything is written.
std::optional<base::Error>
writeText(const imaging::Planes& planes, const ctext::TextStyle& style, const Target& target,
          platform::Durability durability = platform::Durability::Cached);

// The colour of transparent pixels in a picture unless one is given (0xBBGGRR, magenta).
inline constexpr std::uint32_t kTransparentColour = 0xFF00FF;

// Writes the picture that the planes stand for as a bottom-up 4-bit bitmap whose palette is the
// four level colours; planes with a mask add a fifth, `transparent`, for the pixels it leaves
// out.
std::optional<base::Error>
writePicture(const imaging::Planes& planes, const Target& target,
             std::uint32_t transparent = kTransparentColour,
             platform::Durability durability = platform::Durability::Cached);

// Whether the two outputs are separate regular files (or names with nothing there yet), which
// two threads can write side by side: not standard output, a device or a pipe.
bool separateFiles(const Target& text, const Target& picture);

// What writeTextAndPicture() made of each output: the failure of each, if any.
struct Written {
    std::optional<base::Error> text;
    std::optional<base::Error> picture;
};

// Writes the text and the picture as writeText() and writePicture() do, at the same time on two
// threads when separateFiles() allows it (else one after the other, the text first). Each is
// written whatever becomes of the other.
Written writeTextAndPicture(const imaging::Planes& planes, const ctext::TextStyle& style,
                            const Target& text, const Target& picture,
                            std::uint32_t transparent = kTransparentColour);

} // namespace conversion
