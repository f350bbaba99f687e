#pragma once
// Reduces a picture file to the planes of its four grey levels.

#include "conversion/pipeline.h"
#include "conversion/stages.h"
#include "imaging/dither.h"
#include "imaging/frames.h"
#include "imaging/levels.h"
#include "imaging/plane_encoder.h"
#include "imaging/tone.h"
#include "platform/failure.h"

#include <optional>
#include <string>

class QIODevice;
#include <variant>

namespace conversion {

// Told of the planes' rows as a conversion makes them, for a writer that works beside it.
class RowsMade {
  public:
    virtual ~RowsMade() = default;
    // The planes, at their full size and all white, before their first row is made; they stay
    // where they are until ended() returns.
    virtual void started(const imaging::Planes& planes) = 0;
    // The first `rows` rows of the planes are made (not all of them: ended() says that).
    virtual void made(int rows) = 0;
    // The planes are whole, or (`whole` false) will never be; returns once they are no longer
    // read.
    virtual void ended(bool whole) = 0;
};

// What a conversion makes of the picture.
struct ConvertOptions {
    imaging::RowLayout rows = imaging::RowLayout::Packed; // of the planes
    imaging::Dither dither = imaging::Dither::None;
    imaging::Tone tone{}; // the grey rule, tone, edges and the panel's levels
    Geometry geometry{};  // turning and sizing before the levels; none by default
    // A sheet of frames: each frame is dithered as a picture of its own. The picture must be a
    // whole number of frames across and down.
    imaging::FrameGrid frames{};
    // Read which pixels are transparent into the planes' mask (alpha below half, or exactly the
    // key colour); without it, alpha is composited over white.
    bool mask = false;
    std::optional<imaging::Colour> transparent{};
    // Told of the rows as they are made, when the picture is one conversion of rows (not the
    // frames of an animation, which are pasted into a sheet after).
    RowsMade* rowsMade = nullptr;
};

// Reads a picture that is not a bitmap from the device and returns the planes of its four levels,
// dithered as the options ask; a failure is named by `name`. The window passes Qt's readers in
// process (readWholePicture()); the converter passes the module it loads only when such a
// picture comes, so that converting a bitmap never loads Qt's image library.
using WholePictureReader = base::Result<imaging::Planes> (*)(QIODevice& file,
                                                             const std::string& name,
                                                             const ConvertOptions& options,
                                                             imaging::RowProgress& progress);

// The rows of a source, through the stages before the bands that the options ask for, into
// planes; the converter's and the whole-picture reader's last step.
base::Result<imaging::Planes> convertRows(RowSource& rows, const std::string& name,
                                          const ConvertOptions& options,
                                          imaging::RowProgress& progress);

// Reads the picture file (the bytes its name is known by) and returns the planes of its four
// levels, dithered as the options ask. A bitmap is decoded, quantized and encoded a row at a
// time, so only the planes are held, except that error diffusion over a bottom-up bitmap keeps a
// byte of grey per pixel to work from the top; the other formats go to `others`. Progress counts
// the rows done; a yield that asks to stop is ignored (the work is short per row and nobody waits
// on it). Any failure, running out of memory included, is returned with its reason.
// With `frames`, an animated GIF gives every frame, converted each on its own, as a sheet of one
// row, and `frames` their grid (none for a picture of one frame); without, its first frame.
base::Result<imaging::Planes> convertFile(const std::string& path, const ConvertOptions& options,
                                          imaging::RowProgress& progress, WholePictureReader others,
                                          imaging::FrameGrid* frames = nullptr);

// The same for the picture on standard input, named "standard input" in errors: a bitmap
// streams from it even through a pipe; the other formats are read whole first.
base::Result<imaging::Planes> convertStandardInput(const ConvertOptions& options,
                                                   imaging::RowProgress& progress,
                                                   WholePictureReader others,
                                                   imaging::FrameGrid* frames = nullptr);

} // namespace conversion
