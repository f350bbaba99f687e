#pragma once
// Writes what a conversion produced: the C text of the planes and the four-level picture.

#include "conversion/stream.h"
#include "ctext/c_array_writer.h"
#include "imaging/plane_encoder.h"
#include "platform/failure.h"
#include "platform/safe_save.h"

#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

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

// Writes the C text of the planes on a thread of its own while a conversion makes them, each
// row as soon as it is made, so that writing overlaps with converting. Holds nothing but the
// pieces of text the writer is making. Only for a file of its own (beside()): what goes to
// standard output, a device or a pipe cannot be taken back if the conversion fails.
class TextBeside final : public RowsMade {
  public:
    TextBeside(const ctext::TextStyle& style, Target target);
    ~TextBeside() override;
    TextBeside(const TextBeside&) = delete;
    TextBeside& operator=(const TextBeside&) = delete;

    // Whether the text can be written beside the conversion of a picture into `target`.
    static bool beside(const Target& target);

    void started(const imaging::Planes& planes) override;
    void made(int rows) override;
    void ended(bool whole) override;

    // Whether the text was written (or failed to be) beside a conversion that made its planes
    // whole; if not, it is still to be written.
    bool written() const { return m_written; }
    // The failure of the text written, if any.
    const std::optional<base::Error>& failure() const { return m_failure; }

  private:
    bool awaitRows(int rows);

    ctext::TextStyle m_style;
    Target m_target;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_made = 0;
    int m_wanted = 0; // rows the writer waits for; 0 when it does not wait
    bool m_ended = false;
    bool m_whole = false;
    bool m_written = false;
    std::optional<base::Error> m_failure;
    std::exception_ptr m_thrown;
    std::optional<std::jthread> m_thread;
};

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
