#pragma once
// The ways the four levels are laid out in C arrays, one for each kind of display routine.

#include "imaging/frames.h"
#include "imaging/plane_encoder.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ctext {

enum class Layout {
    Planes,  // two arrays, NAME_d and NAME_l, of one bit a pixel
    Gb,      // one array of 8 x 8 tiles of 2 bits a pixel, 16 bytes a tile
    Packed2, // one array, 2 bits a pixel, four pixels a byte
    Nibble4, // one array, 4 bits a pixel, two pixels a byte
    Pages,   // NAME_d and NAME_l in pages of 8 rows, a byte a column of 8 pixels
    Lvgl,    // an image descriptor NAME of colour format I2 and its data NAME_map: a palette,
             // then 2 bits a pixel
};

// Which pixel of an element comes first: the one in its top bits or the one in its low bits.
enum class BitOrder {
    Default, // the layout's own (its row of the layouts table)
    Msb,
    Lsb,
};

// Whether a layout's arrays are followed by a mask NAME_m of one bit a pixel, and what its bits
// say: 1 where a pixel is opaque (drawn), or 0 there, for routines that AND the mask in first.
enum class Mask {
    None,
    Ones,
    Zeros,
};

// The order of the tiles of the Gb layout.
enum class TileOrder {
    Rows,     // left to right, then top to bottom
    Columns,  // top to bottom, then left to right
    Tall8x16, // for each band of 16 rows, each column of 8 gives its top tile, then the one below
};

struct LayoutOptions {
    Layout layout = Layout::Planes;
    imaging::RowLayout rows =
        imaging::RowLayout::Packed;        // Planes: rows run on, or start on a new element
    int word = 8;                          // Planes: bits an element, 8, 16 or 32
    TileOrder tileOrder = TileOrder::Rows; // Gb
    bool invert = false;                   // every pixel's bits inverted (white is 0, or lit is 1)
    BitOrder bitOrder = BitOrder::Default; // not for Gb
    bool tileMap = false;                  // Gb: the different tiles only, and a map of them
    int tileBase = 0;                      // Gb with a map: the number of the first tile, 0-255
    Mask mask = Mask::None;                // not for Gb

    bool operator==(const LayoutOptions&) const = default;
};

// Which of the layout options a command line (or a dialog) gave, so that one that does not
// apply, or that contradicts a header, is named even when it repeats the default.
struct LayoutGiven {
    bool layout = false;
    bool rows = false;
    bool word = false;
    bool tileOrder = false;
    bool invert = false;
    bool bitOrder = false;
    bool tileMap = false;
    bool tileBase = false;
    bool mask = false;
};

// Where the line breaks of an array go.
enum class Breaks {
    RowStarts, // before each element whose first bit starts a pixel row
    Tiles,     // before each tile
    Pages,     // before each page of 8 rows
};

// One row of the layouts table.
struct LayoutInfo {
    Layout layout;
    std::string_view name; // as --layout spells it
    int arrays;            // 2: NAME_d (dark) and NAME_l (light); 1: NAME
    int elementBits;       // 0: the word option's
    Breaks breaks;
    BitOrder bitOrder; // without --bit-order; Msb or Lsb
};

const LayoutInfo& layoutInfo(Layout layout);
// The layout that --layout spells `name`, if any.
std::optional<Layout> layoutNamed(std::string_view name);
// How --tile-order spells an order, and the order it spells.
std::string_view tileOrderName(TileOrder order);
std::optional<TileOrder> tileOrderNamed(std::string_view name);

// How --mask spells a polarity, and the polarity it spells.
std::string_view maskName(Mask mask);
std::optional<Mask> maskNamed(std::string_view name);

// How --bit-order spells an order, and the order it spells.
std::string_view bitOrderName(BitOrder order);
std::optional<BitOrder> bitOrderNamed(std::string_view name);
// Whether the first pixel of an element is in its low bits, after the layout's default.
bool lsbFirst(const LayoutOptions& options);

// Bits of one element of the layout's arrays: 8, 16 or 32.
int elementBits(const LayoutOptions& options);

// Why the combination cannot be written (an option given that does not apply to the layout,
// or a word that is not 8, 16 or 32), naming both as the command line spells them, or nothing
// when it can. The one rule: the converter, the way back and the export dialog all ask it.
std::optional<std::string> layoutProblem(const LayoutOptions& options, const LayoutGiven& given);

// Why a picture of that extent cannot be laid out (gb needs whole tiles), or nothing.
std::optional<std::string> extentProblem(const LayoutOptions& options, int width, int height);

// The most different tiles a map can number.
inline constexpr std::size_t kMapTiles = 256;

// The tiles of a picture in 8 x 8 tiles (whole tiles only) as a map: each different tile once,
// in the order in which it first appears reading the tiles left to right and top to bottom,
// and for each tile of the picture in that order the number of its tile (before the base).
// Past kMapTiles different tiles it stops, overflowed, its map cut short there.
struct TileMap {
    std::vector<std::array<std::uint8_t, 16>> tiles; // as the gb layout writes a tile
    std::vector<std::uint32_t> map;
    std::size_t across = 0; // tiles a row of the map
    bool overflowed = false;
};
TileMap tileMapOf(const imaging::Planes& planes);

// Why frames cannot be written in the layout (as the picture's words after "--frames WxH"),
// or nothing: an lvgl descriptor and a tile map describe one picture.
std::optional<std::string> framesProblem(const LayoutOptions& options);

// Why the planes cannot be written in the layout: their extent (extentProblem, of each frame
// when `frames` cuts them), a sheet that is not a whole number of frames, or more different
// tiles than a map can number; or nothing. Worded after the picture's name.
std::optional<std::string> planesProblem(const LayoutOptions& options,
                                         const imaging::Planes& planes,
                                         const imaging::FrameGrid& frames = {});

// The planes layout of the mask NAME_m: one plane laid out as the planes layout lays out one,
// with the options' word, rows and bit order, its bits inverted for Mask::Zeros (padding stays
// zero).
LayoutOptions maskLayout(const LayoutOptions& options);

// The layout in words, one sentence (and one more for a mask, its polarity and rows), as a
// complete header's first comment says it; the way back recognises a header's layout by it.
std::string layoutSentence(const LayoutOptions& options);
// The layout whose sentence is exactly `sentence`, if any.
std::optional<LayoutOptions> layoutOfSentence(std::string_view sentence);

// How the elements of each array of a layout break into lines. A line is one pixel row (its
// elements padded), one tile, or for packed planes the run of bytes up to the next byte that
// starts a row (the last line may be shorter).
struct ElementPlan {
    int bits = 8;
    std::size_t perLine = 0; // elements of a full line
    std::size_t lines = 0;
    std::size_t total = 0; // elements of each array, the lead among them
    std::size_t lead = 0;  // elements before the first line, on a line of their own
};

// The plan of planes of that extent in the layout; for packed planes it follows the planes'
// own row layout.
ElementPlan elementPlan(const LayoutOptions& options, int width, int height);

// The elements of line `line` of array `array` (0 dark or the only one, 1 light), put at the
// end of `out`. Planes must be the options' planes: their row layout is the options' for
// 8-bit planes.
void lineElements(const imaging::Planes& planes, const LayoutOptions& options, int array,
                  std::size_t line, std::vector<std::uint32_t>& out);

// The elements before the first line (lvgl's palette), if any.
std::span<const std::uint8_t> leadElements(const LayoutOptions& options);

// The inverse: sets the pixels of that line from its elements (bits that stand for no pixel
// are ignored). The line's pixels must still be white. A nibble4 value between two levels
// becomes the nearer one.
void setLineElements(imaging::Planes& planes, const LayoutOptions& options, int array,
                     std::size_t line, std::span<const std::uint32_t> elements);

// The row layout of the planes a layout is written from and read into.
imaging::RowLayout planesRowLayout(const LayoutOptions& options);

} // namespace ctext
