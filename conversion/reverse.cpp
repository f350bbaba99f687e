#include "conversion/reverse.h"

#include "bitmap/decoder.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <new>
#include <sys/stat.h>
#include <unistd.h>

namespace conversion {
namespace {

using ctext::Layout;
using ctext::LayoutOptions;
using imaging::RowLayout;

struct Refusal {
    std::string reason;
    base::ErrorKind kind = base::ErrorKind::Input;
};

std::string counted(std::size_t n, int bits) {
    const char* unit = bits == 8 ? " byte" : " element";
    return std::to_string(n) + unit + (n == 1 ? "" : "s");
}

// The layout a complete header states: a line of its first comment that is the layout's
// sentence and nothing else. The picture's name shares the first line with other words and
// cannot break it, so a name that spells a sentence states nothing.
std::optional<LayoutOptions> statedLayout(std::string_view comment) {
    while (!comment.empty()) {
        const std::size_t end = std::min(comment.find('\n'), comment.size());
        std::string_view line = comment.substr(0, end);
        comment.remove_prefix(std::min(end + 1, comment.size()));
        const auto blank = [](char c) { return c == ' ' || c == '\t'; };
        while (!line.empty() && blank(line.front())) {
            line.remove_prefix(1);
        }
        if (line.starts_with('*')) {
            line.remove_prefix(1);
        }
        while (!line.empty() && blank(line.front())) {
            line.remove_prefix(1);
        }
        while (!line.empty() && blank(line.back())) {
            line.remove_suffix(1);
        }
        if (const auto stated = ctext::layoutOfSentence(line)) {
            return stated;
        }
    }
    return std::nullopt;
}

// The first option given that the header's layout contradicts, as the command line spells it.
std::optional<std::string> contradiction(const LayoutOptions& stated,
                                         const ReverseOptions& options) {
    const LayoutOptions& asked = options.layout;
    const ctext::LayoutGiven& given = options.given;
    if (given.layout && asked.layout != stated.layout) {
        return "--layout " + std::string(ctext::layoutInfo(asked.layout).name);
    }
    if (given.word && asked.word != stated.word) {
        return "--word " + std::to_string(asked.word);
    }
    if (given.rows && stated.layout == Layout::Planes && stated.word == 8 &&
        asked.rows != stated.rows) {
        return std::string("--pad-rows");
    }
    if (given.tileOrder && asked.tileOrder != stated.tileOrder) {
        return "--tile-order " + std::string(ctext::tileOrderName(asked.tileOrder));
    }
    if (given.invert && asked.invert != stated.invert) {
        return std::string("--invert");
    }
    if (given.tileMap && asked.tileMap != stated.tileMap) {
        return std::string("--tile-map");
    }
    if (given.tileBase && asked.tileBase != stated.tileBase) {
        return "--tile-base " + std::to_string(asked.tileBase);
    }
    if (given.mask && asked.mask != stated.mask) {
        return "--mask " + std::string(ctext::maskName(asked.mask));
    }
    if (given.rows && stated.mask != ctext::Mask::None && stated.layout != Layout::Planes &&
        asked.rows != stated.rows) {
        // The mask's rows, which the header states.
        return std::string("--pad-rows");
    }
    if (given.bitOrder && ctext::lsbFirst(asked) != ctext::lsbFirst(stated)) {
        return "--bit-order " + std::string(ctext::bitOrderName(asked.bitOrder));
    }
    return std::nullopt;
}

std::optional<std::uint64_t> defined(const TextArrays& text, const std::string& name) {
    for (const auto& [n, value] : text.defines) {
        if (n == name) {
            return value;
        }
    }
    return std::nullopt;
}

bool endsWith(const std::string& s, std::string_view end) {
    return s.size() > end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// Rows of that many elements that the count fits exactly, if any.
std::optional<std::size_t> wholeRows(std::size_t count, std::size_t perRow) {
    return count % perRow == 0 ? std::optional<std::size_t>(count / perRow) : std::nullopt;
}

// Packed rows of `width` pixels that `bytes` fits exactly (the largest such number).
std::optional<std::size_t> packedRows(std::size_t bytes, std::size_t width) {
    const std::size_t rows = bytes * 8 / width;
    return (rows * width + 7) / 8 == bytes ? std::optional<std::size_t>(rows) : std::nullopt;
}

// The height that the element count gives, or why it gives none.
std::variant<std::size_t, Refusal> heightOf(const LayoutOptions& layout, std::size_t count,
                                            int width, const std::string& arrays) {
    const auto w = static_cast<std::size_t>(width);
    if (const std::size_t lead = ctext::elementPlan(layout, width, 0).lead; lead > 0) {
        // An lvgl palette comes before the rows.
        if (count < lead) {
            return Refusal{arrays + " hold " + counted(count, 8) + ", fewer than the " +
                           counted(lead, 8) + " of the palette before the rows"};
        }
        count -= lead;
    }
    const int bits = ctext::elementBits(layout);
    const std::string holds = arrays + " hold " + counted(count, bits);
    if (layout.layout == Layout::Gb) {
        const std::size_t band = w / 8 * (layout.tileOrder == ctext::TileOrder::Tall8x16 ? 2 : 1);
        const std::size_t tall = layout.tileOrder == ctext::TileOrder::Tall8x16 ? 16 : 8;
        if (w % 8 != 0) {
            return Refusal{"gb tiles need a width that is a multiple of 8, not " +
                               std::to_string(width),
                           base::ErrorKind::Usage};
        }
        if (count % 16 != 0 || count / 16 % band != 0) {
            return Refusal{holds + ", not a whole number of bands of " + std::to_string(band) +
                           " tiles of 16 bytes (a band is " + std::to_string(tall) + " rows of " +
                           std::to_string(width) + " pixels)"};
        }
        return count / 16 / band * tall;
    }
    if (layout.layout == Layout::Pages) {
        // Without a height, every row of the last page is the picture's.
        if (count % w != 0) {
            return Refusal{holds + ", not a whole number of pages of " + std::to_string(width) +
                           " columns"};
        }
        return count / w * 8;
    }
    LayoutOptions paddedRows = layout;
    paddedRows.rows = RowLayout::Padded;
    const std::size_t padded = ctext::elementPlan(paddedRows, width, 1).perLine;
    if (layout.layout == Layout::Planes && bits == 8) {
        const auto packed = packedRows(count, w);
        const auto whole = wholeRows(count, padded);
        if (layout.rows == RowLayout::Packed) {
            if (!packed && whole && w % 8 != 0) {
                return Refusal{holds + ": " + std::to_string(*whole) + " rows of " +
                               std::to_string(width) + " pixels padded to " + counted(padded, 8) +
                               " each, not packed rows (" + std::to_string(count * 8 / w) +
                               " packed rows take " + counted((count * 8 / w * w + 7) / 8, 8) +
                               "); give --pad-rows"};
            }
            // A fill at the end shorter than one row is no part of the picture.
            return count * 8 / w;
        }
        if (!whole) {
            return Refusal{holds + ", not a whole number of rows of " + std::to_string(width) +
                           " pixels padded to " + counted(padded, 8) +
                           (packed ? "; they fit " + std::to_string(*packed) +
                                         " packed rows: leave out --pad-rows"
                                   : std::string())};
        }
        return *whole;
    }
    if (!wholeRows(count, padded)) {
        return Refusal{holds + ", not a whole number of rows of " + std::to_string(width) +
                       " pixels (" + counted(padded, bits) + " a row)"};
    }
    return count / padded;
}

// Why elements that make more rows than a picture has are refused, with the size to give when
// the fill bits of packed rows narrower than a byte made the extra rows.
std::string tooManyRows(const LayoutOptions& layout, std::size_t count, int width,
                        std::size_t height, const std::string& arrays) {
    const int bits = ctext::elementBits(layout);
    std::string reason = arrays + " hold " + counted(count, bits) + ", " + std::to_string(height) +
                         " rows of " + std::to_string(width) + (width == 1 ? " pixel" : " pixels") +
                         "; a picture has at most " + std::to_string(bitmap::kMaxExtent);
    const auto fits = [&](int rows) {
        return ctext::elementPlan(layout, width, rows).total == count;
    };
    int lowest = bitmap::kMaxExtent;
    if (!fits(lowest)) {
        return reason;
    }
    while (lowest > 1 && fits(lowest - 1)) {
        --lowest;
    }
    const std::string size = std::to_string(width) + "x" + std::to_string(bitmap::kMaxExtent);
    return reason + ": give the height, -r " + size +
           (lowest < bitmap::kMaxExtent ? " (or any from " + std::to_string(lowest) + ")"
                                        : std::string());
}

// Puts a dark and a light array in that order and returns their common name; a single array's
// name; or nothing.
std::string commonName(std::vector<ctext::CArray>& arrays) {
    if (arrays.size() == 1) {
        return arrays[0].name;
    }
    if (arrays.size() != 2) {
        return {};
    }
    if (endsWith(arrays[0].name, "_l") && endsWith(arrays[1].name, "_d")) {
        std::swap(arrays[0], arrays[1]);
    }
    if (endsWith(arrays[0].name, "_d") && endsWith(arrays[1].name, "_l") &&
        arrays[0].name.substr(0, arrays[0].name.size() - 2) ==
            arrays[1].name.substr(0, arrays[1].name.size() - 2)) {
        return arrays[0].name.substr(0, arrays[0].name.size() - 2);
    }
    return {};
}

// The layout to read: the one a complete header states, unless an option contradicts it, or
// the options'; either held to the options given.
std::variant<LayoutOptions, Refusal> layoutToRead(std::string_view firstComment,
                                                  const ReverseOptions& options) {
    LayoutOptions layout = options.layout;
    if (const auto stated = statedLayout(firstComment)) {
        if (const auto against = contradiction(*stated, options)) {
            return Refusal{"its first comment says \"" + ctext::layoutSentence(*stated) + "\"; " +
                               *against + " contradicts it",
                           base::ErrorKind::Usage};
        }
        layout = *stated;
    }
    if (const auto problem = ctext::layoutProblem(layout, options.given)) {
        return Refusal{*problem, base::ErrorKind::Usage};
    }
    return layout;
}

std::string layoutName(const LayoutOptions& layout) {
    return "--layout " + std::string(ctext::layoutInfo(layout.layout).name);
}

// Keeps only the arrays that -n NAME names for the layout, in the layout's order, whatever else
// the text holds.
std::optional<Refusal> pickNamed(std::vector<ctext::CArray>& arrays, const std::string& name,
                                 const LayoutOptions& layout) {
    std::vector<ctext::CArray> picked;
    for (const std::string& wanted : ctext::layoutInfo(layout.layout).arrays == 2
                                         ? std::vector<std::string>{name + "_d", name + "_l"}
                                     : layout.layout == Layout::Lvgl
                                         ? std::vector<std::string>{name + "_map"}
                                         : std::vector<std::string>{name}) {
        const auto found = std::find_if(arrays.begin(), arrays.end(),
                                        [&](const ctext::CArray& a) { return a.name == wanted; });
        if (found == arrays.end()) {
            std::string held;
            for (std::size_t k = 0; k < arrays.size() && k < 8; ++k) {
                held += (k == 0 ? "" : ", ") + ctext::excerpt(arrays[k].name);
            }
            held += arrays.size() > 8 ? ", ..." : "";
            return Refusal{
                "it holds no array " + wanted + " for " + layoutName(layout) +
                (arrays.empty() ? " (it holds no arrays)" : " (its arrays: " + held + ")")};
        }
        picked.push_back(std::move(*found));
    }
    arrays = std::move(picked);
    return std::nullopt;
}

// Why the arrays are not the layout's: their number, their element type, or two sizes.
std::optional<Refusal> arraysProblem(const std::vector<ctext::CArray>& arrays,
                                     const LayoutOptions& layout) {
    const ctext::LayoutInfo& info = ctext::layoutInfo(layout.layout);
    if (arrays.size() != static_cast<std::size_t>(info.arrays)) {
        return Refusal{"it holds " + std::to_string(arrays.size()) +
                       (arrays.size() == 1 ? " array" : " arrays") + "; " + layoutName(layout) +
                       (info.arrays == 2 ? " has two (the dark and the light plane)" : " has one")};
    }
    const int bits = ctext::elementBits(layout);
    for (const ctext::CArray& array : arrays) {
        if (array.elementBits != bits) {
            return Refusal{"line " + std::to_string(array.line) + ": " + array.name + " holds " +
                           std::to_string(array.elementBits) + "-bit elements; " +
                           layoutName(layout) +
                           (layout.layout == Layout::Planes ? " --word " + std::to_string(bits)
                                                            : std::string()) +
                           " has " + std::to_string(bits) + "-bit ones"};
        }
    }
    if (arrays.size() == 2 && arrays[0].size() != arrays[1].size()) {
        return Refusal{arrays[0].name + " holds " + counted(arrays[0].size(), bits) + " but " +
                       arrays[1].name + " " + counted(arrays[1].size(), bits)};
    }
    return std::nullopt;
}

// The width, and the height when one is known, from -r and the header's NAME_width and
// NAME_height (of the arrays' common name), which must agree.
struct Extent {
    int width = 0;
    std::optional<std::size_t> height;
};

std::variant<Extent, Refusal> extentOf(const TextArrays& text, const std::string& name,
                                       const ReverseOptions& options) {
    const auto headerWidth = name.empty() ? std::nullopt : defined(text, name + "_width");
    const auto headerHeight = name.empty() ? std::nullopt : defined(text, name + "_height");
    int width = options.width;
    if (headerWidth && width != 0 && *headerWidth != static_cast<std::uint64_t>(width)) {
        return Refusal{name + "_width is " + std::to_string(*headerWidth) + ", not the -r WIDTH " +
                           std::to_string(width),
                       base::ErrorKind::Usage};
    }
    if (headerHeight && options.height &&
        *headerHeight != static_cast<std::uint64_t>(*options.height)) {
        return Refusal{name + "_height is " + std::to_string(*headerHeight) +
                           ", not the -r HEIGHT " + std::to_string(*options.height),
                       base::ErrorKind::Usage};
    }
    if (headerHeight && !options.height &&
        *headerHeight > static_cast<std::uint64_t>(bitmap::kMaxExtent)) {
        return Refusal{name + "_height is " + std::to_string(*headerHeight) +
                       "; a picture has at most " + std::to_string(bitmap::kMaxExtent) + " rows"};
    }
    if (width == 0 && headerWidth) {
        width = static_cast<int>(std::min<std::uint64_t>(*headerWidth, bitmap::kMaxExtent + 1));
    }
    if (width <= 0 || width > bitmap::kMaxExtent) {
        return Refusal{width <= 0 ? "no width: give -r WIDTH"
                                  : "it is " + std::to_string(*headerWidth) +
                                        " pixels wide; a picture has at most " +
                                        std::to_string(bitmap::kMaxExtent)};
    }
    // Both are at most the largest extent: the parser's and the header's are checked.
    if (options.height) {
        return Extent{width, static_cast<std::size_t>(*options.height)};
    }
    if (headerHeight) {
        return Extent{width, static_cast<std::size_t>(*headerHeight)};
    }
    return Extent{width, std::nullopt};
}

// The height of the picture: the one known, if the arrays hold exactly its elements, or the one
// their element count gives.
std::variant<std::size_t, Refusal> heightToRead(const LayoutOptions& layout, std::size_t count,
                                                const Extent& extent, const std::string& what) {
    const int width = extent.width;
    const int bits = ctext::elementBits(layout);
    std::size_t height = 0;
    if (extent.height) {
        height = *extent.height;
        if (const auto refused = ctext::extentProblem(layout, width, static_cast<int>(height))) {
            return Refusal{"the picture " + *refused};
        }
        const std::size_t need = ctext::elementPlan(layout, width, static_cast<int>(height)).total;
        if (count != need) {
            std::string reason = what + " hold " + counted(count, bits) + ", but " +
                                 std::to_string(width) + " x " + std::to_string(height) +
                                 " pixels in " + layoutName(layout) + " take " +
                                 counted(need, bits);
            if (layout.layout == Layout::Planes && bits == 8) {
                LayoutOptions other = layout;
                other.rows =
                    layout.rows == RowLayout::Packed ? RowLayout::Padded : RowLayout::Packed;
                if (ctext::elementPlan(other, width, static_cast<int>(height)).total == count) {
                    reason += other.rows == RowLayout::Padded
                                  ? ", as many as padded rows take: give --pad-rows"
                                  : ", as many as packed rows take: leave out --pad-rows";
                }
            }
            return Refusal{reason};
        }
    } else {
        auto rows = heightOf(layout, count, width, what);
        if (auto* refused = std::get_if<Refusal>(&rows)) {
            return *refused;
        }
        height = std::get<std::size_t>(rows);
        if (height > static_cast<std::size_t>(bitmap::kMaxExtent)) {
            return Refusal{tooManyRows(layout, count, width, height, what)};
        }
    }
    if (height == 0) {
        return Refusal{what + " hold " + counted(count, bits) + ", fewer than one row of " +
                       std::to_string(width) + " pixels takes"};
    }
    return height;
}

// Sets the planes from the elements of one picture in `array`, starting at element `from`.
void setPlane(imaging::Planes& planes, const ctext::CArray& array, int index,
              const LayoutOptions& layout, std::size_t from) {
    const ctext::ElementPlan plan = ctext::elementPlan(layout, planes.width, planes.height);
    const std::size_t bytes = static_cast<std::size_t>(ctext::elementBits(layout)) / 8;
    std::vector<std::uint32_t> elements;
    for (std::size_t line = 0; line < plan.lines; ++line) {
        const std::size_t first = plan.lead + line * plan.perLine;
        const std::size_t last = std::min(plan.total, first + plan.perLine);
        elements.clear();
        for (std::size_t e = from + first; e < from + last; ++e) {
            std::uint32_t value = 0;
            for (std::size_t b = 0; b < bytes; ++b) {
                value = value << 8 | array.data[e * bytes + b];
            }
            elements.push_back(value);
        }
        ctext::setLineElements(planes, layout, index, line, elements);
    }
}

// Sets the planes' mask from the mask's elements of one picture, starting at element `from`,
// its polarity undone.
void setMask(imaging::Planes& planes, const ctext::CArray& mask, const LayoutOptions& layout,
             std::size_t from) {
    const LayoutOptions maskLayout = ctext::maskLayout(layout);
    const imaging::RowLayout rows = ctext::planesRowLayout(maskLayout);
    imaging::Planes opaque = imaging::makePlanes(planes.width, planes.height, rows);
    setPlane(opaque, mask, 0, maskLayout, from);
    if (rows == planes.layout) {
        planes.mask = std::move(opaque.dark);
        return;
    }
    // Row by row into the planes' own row layout.
    imaging::Planes relaid = imaging::makePlanes(planes.width, planes.height, planes.layout);
    std::vector<std::uint8_t> row((static_cast<std::size_t>(planes.width) + 7) / 8);
    std::vector<std::uint8_t> none(row.size());
    for (int y = 0; y < planes.height; ++y) {
        imaging::rowBytes(opaque, y, row, none);
        std::fill(none.begin(), none.end(), 0);
        imaging::setRowBytes(relaid, y, row, none);
    }
    planes.mask = std::move(relaid.dark);
}

// The planes of one picture whose elements start at element `from` of each array (and
// `maskFrom` of the mask, if any).
imaging::Planes pictureOf(const std::vector<ctext::CArray>& arrays, const ctext::CArray* mask,
                          const LayoutOptions& layout, int width, int height, std::size_t from,
                          std::size_t maskFrom) {
    imaging::Planes planes = imaging::makePlanes(width, height, ctext::planesRowLayout(layout));
    for (std::size_t a = 0; a < arrays.size(); ++a) {
        setPlane(planes, arrays[a], static_cast<int>(a), layout, from);
    }
    if (mask != nullptr) {
        setMask(planes, *mask, layout, maskFrom);
    }
    return planes;
}

// The planes that the arrays' elements set, each array's data let go once read.
imaging::Planes planesOf(std::vector<ctext::CArray>& arrays, const ctext::CArray* mask,
                         const LayoutOptions& layout, int width, int height) {
    imaging::Planes planes = imaging::makePlanes(width, height, ctext::planesRowLayout(layout));
    for (std::size_t a = 0; a < arrays.size(); ++a) {
        setPlane(planes, arrays[a], static_cast<int>(a), layout, 0);
        std::vector<std::uint8_t>().swap(arrays[a].data);
    }
    if (mask != nullptr) {
        setMask(planes, *mask, layout, 0);
    }
    return planes;
}

bool takesMask(const LayoutOptions& layout) {
    return layout.layout == Layout::Planes || layout.layout == Layout::Packed2 ||
           layout.layout == Layout::Nibble4;
}

// Takes the mask NAME_m out of the arrays: the one -n names, or the one whose name is the
// others' common name and "_m". A layout with a mask must find it; one without a polarity
// refuses it.
std::variant<std::optional<ctext::CArray>, Refusal> takeMask(std::vector<ctext::CArray>& arrays,
                                                             const ReverseOptions& options,
                                                             const LayoutOptions& layout,
                                                             bool stated) {
    if (!takesMask(layout) || (stated && layout.mask == ctext::Mask::None)) {
        return std::optional<ctext::CArray>();
    }
    auto found = arrays.end();
    for (auto a = arrays.begin(); a != arrays.end(); ++a) {
        if (!endsWith(a->name, "_m")) {
            continue;
        }
        const std::string prefix = a->name.substr(0, a->name.size() - 2);
        if (options.name) {
            if (prefix == *options.name) {
                found = a;
            }
            continue;
        }
        std::vector<ctext::CArray> others;
        for (const ctext::CArray& other : arrays) {
            if (&other != &*a) {
                others.push_back({other.name, other.elementBits, other.line, {}, {}});
            }
        }
        if (!others.empty() && commonName(others) == prefix) {
            found = a;
        }
    }
    if (found == arrays.end()) {
        if (layout.mask == ctext::Mask::None) {
            return std::optional<ctext::CArray>();
        }
        return Refusal{"it holds no mask array" +
                       (options.name ? " " + *options.name + "_m" : std::string(" NAME_m")) +
                       " for --mask " + std::string(ctext::maskName(layout.mask))};
    }
    if (layout.mask == ctext::Mask::None) {
        return Refusal{"it holds a mask, " + found->name +
                           ", but no header says what its bits mean: give --mask ones (1 marks "
                           "an opaque pixel) or --mask zeros",
                       base::ErrorKind::Usage};
    }
    const int bits = ctext::elementBits(ctext::maskLayout(layout));
    if (found->elementBits != bits) {
        return Refusal{"line " + std::to_string(found->line) + ": " + found->name + " holds " +
                       std::to_string(found->elementBits) + "-bit elements, not " +
                       (bits == 8 ? std::string("bytes") : std::to_string(bits) + "-bit ones")};
    }
    std::optional<ctext::CArray> mask = std::move(*found);
    arrays.erase(found);
    return mask;
}

// Whether the mask holds as many elements as `count` pictures of that extent take.
std::optional<Refusal> maskCountProblem(const ctext::CArray* mask, const LayoutOptions& layout,
                                        int width, int height, std::size_t count) {
    if (mask == nullptr) {
        return std::nullopt;
    }
    const LayoutOptions maskLayout = ctext::maskLayout(layout);
    const std::size_t need = ctext::elementPlan(maskLayout, width, height).total * count;
    if (mask->size() == need) {
        return std::nullopt;
    }
    const int bits = ctext::elementBits(maskLayout);
    return Refusal{mask->name + " holds " + counted(mask->size(), bits) + ", but the mask of " +
                   (count > 1 ? std::to_string(count) + " frames of " : std::string()) +
                   std::to_string(width) + " x " + std::to_string(height) + " pixels takes " +
                   counted(need, bits)};
}

// Frames of one extent, read one after another and put into a sheet in the grid's order.
std::variant<imaging::Planes, Refusal>
framesOf(std::vector<ctext::CArray>& arrays, const ctext::CArray* mask, const LayoutOptions& layout,
         const imaging::FrameGrid& grid, int sheetWidth, std::optional<int> sheetHeight,
         std::optional<std::uint64_t> stated, const std::string& what) {
    const int bits = ctext::elementBits(layout);
    const std::size_t frameSize = ctext::elementPlan(layout, grid.width, grid.height).total;
    const std::string frame = std::to_string(grid.width) + " x " + std::to_string(grid.height);
    if (const auto refused = ctext::extentProblem(layout, grid.width, grid.height)) {
        return Refusal{"a frame " + *refused};
    }
    const std::size_t count = arrays[0].size();
    if (frameSize == 0 || count % frameSize != 0 || count == 0) {
        return Refusal{what + " hold " + counted(count, bits) +
                       ", not a whole number of frames of " + frame + " pixels (" +
                       counted(frameSize, bits) + " each)"};
    }
    const std::size_t frames = count / frameSize;
    if (stated && *stated != frames) {
        return Refusal{what + " hold " + std::to_string(frames) + " frames of " + frame +
                       " pixels, but the header says " + std::to_string(*stated)};
    }
    if (sheetWidth == 0) {
        // One row of frames.
        if (frames * static_cast<std::size_t>(grid.width) >
            static_cast<std::size_t>(bitmap::kMaxExtent)) {
            return Refusal{std::to_string(frames) + " frames of " + frame +
                           " pixels in a row are wider than a picture can be (" +
                           std::to_string(bitmap::kMaxExtent) +
                           "): give the sheet, -r WIDTHxHEIGHT --frames " +
                           std::to_string(grid.width) + "x" + std::to_string(grid.height)};
        }
        sheetWidth = static_cast<int>(frames) * grid.width;
    }
    if (sheetWidth % grid.width != 0 || (sheetHeight && *sheetHeight % grid.height != 0)) {
        return Refusal{"a sheet of " + std::to_string(sheetWidth) +
                       (sheetHeight ? " x " + std::to_string(*sheetHeight) : std::string()) +
                       " pixels is not a whole number of frames of " + frame};
    }
    const auto across = static_cast<std::size_t>(sheetWidth / grid.width);
    const std::size_t down =
        sheetHeight ? static_cast<std::size_t>(*sheetHeight / grid.height) : frames / across;
    if (across * down != frames) {
        return Refusal{what + " hold " + std::to_string(frames) +
                       (frames == 1 ? " frame" : " frames") + " of " + frame + " pixels, not " +
                       (sheetHeight
                            ? "the " + std::to_string(across * down) + " of a sheet of " +
                                  std::to_string(sheetWidth) + " x " + std::to_string(*sheetHeight)
                            : "whole rows of " + std::to_string(across) + " (a sheet " +
                                  std::to_string(sheetWidth) + " pixels wide)")};
    }
    if (down * static_cast<std::size_t>(grid.height) >
        static_cast<std::size_t>(bitmap::kMaxExtent)) {
        return Refusal{std::to_string(down) + " rows of frames of " + frame +
                       " pixels are taller than a picture can be (" +
                       std::to_string(bitmap::kMaxExtent) + ")"};
    }
    if (auto refused = maskCountProblem(mask, layout, grid.width, grid.height, frames)) {
        return *refused;
    }
    const int height = static_cast<int>(down) * grid.height;
    imaging::Planes sheet = imaging::makePlanes(sheetWidth, height, ctext::planesRowLayout(layout));
    if (mask != nullptr) {
        sheet.mask.assign(sheet.planeBytes(), 0);
    }
    const std::size_t maskSize =
        ctext::elementPlan(ctext::maskLayout(layout), grid.width, grid.height).total;
    for (std::size_t f = 0; f < frames; ++f) {
        const imaging::Planes picture =
            pictureOf(arrays, mask, layout, grid.width, grid.height, f * frameSize, f * maskSize);
        imaging::pasteFrame(sheet, grid, static_cast<int>(f), picture);
    }
    return sheet;
}

// A map's tiles and the map, drawn back tile by tile through the map.
std::variant<imaging::Planes, Refusal>
reverseMapped(TextArrays& text, const ReverseOptions& options, const LayoutOptions& layout) {
    std::vector<ctext::CArray>& arrays = text.arrays;
    std::string name;
    if (options.name) {
        name = *options.name;
    } else if (arrays.size() == 2) {
        if (endsWith(arrays[0].name, "_map")) {
            std::swap(arrays[0], arrays[1]);
        }
        name = arrays[0].name;
    }
    const auto tiles = std::find_if(arrays.begin(), arrays.end(),
                                    [&](const ctext::CArray& a) { return a.name == name; });
    const auto map = std::find_if(arrays.begin(), arrays.end(),
                                  [&](const ctext::CArray& a) { return a.name == name + "_map"; });
    if (name.empty() || tiles == arrays.end() || map == arrays.end()) {
        return Refusal{"it holds no arrays NAME and NAME_map for " + layoutName(layout) +
                       " --tile-map" + (name.empty() ? std::string() : " (NAME " + name + ")")};
    }
    for (const ctext::CArray* array : {&*tiles, &*map}) {
        if (array->elementBits != 8) {
            return Refusal{"line " + std::to_string(array->line) + ": " + array->name + " holds " +
                           std::to_string(array->elementBits) + "-bit elements, not bytes"};
        }
    }
    if (tiles->size() % 16 != 0) {
        return Refusal{tiles->name + " holds " + counted(tiles->size(), 8) +
                       ", not a whole number of tiles of 16 bytes"};
    }
    const auto extent = extentOf(text, name, options);
    if (const auto* refused = std::get_if<Refusal>(&extent)) {
        return *refused;
    }
    const int width = std::get<Extent>(extent).width;
    const auto across = static_cast<std::size_t>(width) / 8;
    if (width % 8 != 0) {
        return Refusal{"gb tiles need a width that is a multiple of 8, not " +
                           std::to_string(width),
                       base::ErrorKind::Usage};
    }
    if (map->size() == 0 || map->size() % across != 0 ||
        map->size() / across * 8 > static_cast<std::size_t>(bitmap::kMaxExtent)) {
        return Refusal{map->name + " holds " + counted(map->size(), 8) +
                       ", not a whole number of rows of " + std::to_string(across) + " tiles"};
    }
    const std::size_t height = map->size() / across * 8;
    if (const auto given = std::get<Extent>(extent).height; given && *given != height) {
        return Refusal{map->name + " holds " + std::to_string(map->size() / across) +
                       " rows of tiles, " + std::to_string(height) + " pixel rows, not " +
                       std::to_string(*given)};
    }
    imaging::Planes planes =
        imaging::makePlanes(width, static_cast<int>(height), ctext::planesRowLayout(layout));
    const LayoutOptions rows{Layout::Gb};
    const std::size_t count = tiles->size() / 16;
    std::vector<std::uint32_t> elements(16);
    for (std::size_t t = 0; t < map->size(); ++t) {
        const std::size_t number =
            (map->data[t] + 256u - static_cast<unsigned>(layout.tileBase)) % 256u;
        if (number >= count) {
            return Refusal{map->name + "[" + std::to_string(t) + "] is " +
                           std::to_string(map->data[t]) + ": tile " + std::to_string(number) +
                           " counting from " + std::to_string(layout.tileBase) + ", but " +
                           tiles->name + " holds " + std::to_string(count) +
                           (count == 1 ? " tile" : " tiles")};
        }
        std::copy_n(tiles->data.begin() + static_cast<std::ptrdiff_t>(16 * number), 16,
                    elements.begin());
        ctext::setLineElements(planes, rows, 0, t, elements);
    }
    return planes;
}

std::variant<imaging::Planes, Refusal> reverse(TextArrays text, const ReverseOptions& options) {
    std::vector<ctext::CArray>& arrays = text.arrays;
    const auto toRead = layoutToRead(text.firstComment, options);
    if (const auto* refused = std::get_if<Refusal>(&toRead)) {
        return *refused;
    }
    const LayoutOptions& layout = std::get<LayoutOptions>(toRead);
    if (options.frames.any()) {
        if (const auto refused = ctext::framesProblem(layout)) {
            return Refusal{"--frames " + std::to_string(options.frames.width) + "x" +
                               std::to_string(options.frames.height) + " " + *refused,
                           base::ErrorKind::Usage};
        }
    }
    if (layout.layout == Layout::Gb && layout.tileMap) {
        return reverseMapped(text, options, layout);
    }
    auto taken = takeMask(arrays, options, layout, statedLayout(text.firstComment).has_value());
    if (const auto* refused = std::get_if<Refusal>(&taken)) {
        return *refused;
    }
    const std::optional<ctext::CArray> mask = std::get<std::optional<ctext::CArray>>(taken);
    std::string name = commonName(arrays);
    if (layout.layout == Layout::Lvgl && endsWith(name, "_map")) {
        // The descriptor's name, which names the width and height.
        name.resize(name.size() - 4);
    }
    if (options.name) {
        if (auto refused = pickNamed(arrays, *options.name, layout)) {
            return *refused;
        }
        name = *options.name;
    }
    if (auto refused = arraysProblem(arrays, layout)) {
        return *refused;
    }
    const std::string what = arrays.size() == 2 ? "its arrays" : "its array";
    std::optional<std::uint64_t> statedFrames;
    if (!name.empty()) {
        statedFrames = defined(text, name + "_frames");
    }
    if (options.frames.any()) {
        // -r gives the sheet; the header's extent is the frame's.
        for (const auto& [side, asked] : {std::pair{std::string("_width"), options.frames.width},
                                          {std::string("_height"), options.frames.height}}) {
            const auto header = name.empty() ? std::nullopt : defined(text, name + side);
            if (header && *header != static_cast<std::uint64_t>(asked)) {
                return Refusal{name + side + " is " + std::to_string(*header) +
                                   ", not the frame's " + std::to_string(asked) + " of --frames " +
                                   std::to_string(options.frames.width) + "x" +
                                   std::to_string(options.frames.height),
                               base::ErrorKind::Usage};
            }
        }
        return framesOf(arrays, mask ? &*mask : nullptr, layout, options.frames, options.width,
                        options.height, statedFrames, what);
    }
    const auto extent = extentOf(text, name, options);
    if (const auto* refused = std::get_if<Refusal>(&extent)) {
        return *refused;
    }
    const int width = std::get<Extent>(extent).width;
    if (statedFrames && *statedFrames > 0 && std::get<Extent>(extent).height) {
        // The header's frames, one row of them.
        const imaging::FrameGrid row{width, static_cast<int>(*std::get<Extent>(extent).height)};
        return framesOf(arrays, mask ? &*mask : nullptr, layout, row, 0, row.height, statedFrames,
                        what);
    }
    const auto height = heightToRead(layout, arrays[0].size(), std::get<Extent>(extent), what);
    if (const auto* refused = std::get_if<Refusal>(&height)) {
        return *refused;
    }
    const int rows = static_cast<int>(std::get<std::size_t>(height));
    if (auto refused = maskCountProblem(mask ? &*mask : nullptr, layout, width, rows, 1)) {
        return *refused;
    }
    return planesOf(arrays, mask ? &*mask : nullptr, layout, width, rows);
}

// The C text of a regular file or of standard input, read in a bounded buffer, or the reason
// it cannot be read (with an empty file name).
base::Result<TextArrays> readText(const std::string& path) {
    const bool standardInput = path == "-";
    const int fd = standardInput ? STDIN_FILENO : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return base::Error{{}, std::strerror(errno)};
    }
    struct Closer {
        int fd;
        bool owned;
        ~Closer() {
            if (owned) {
                ::close(fd);
            }
        }
    } closer{fd, !standardInput};
    if (!standardInput) {
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            return base::Error{{}, std::strerror(errno)};
        }
        // A device could run for ever; C text is a file. Standard input may be a pipe.
        if (S_ISDIR(st.st_mode)) {
            return base::Error{{}, "is a folder"};
        }
        if (!S_ISREG(st.st_mode)) {
            return base::Error{{}, "is not a regular file"};
        }
    }
    return ctext::readCText([fd](std::span<char> room) -> std::ptrdiff_t {
        for (;;) {
            const ssize_t got = ::read(fd, room.data(), room.size());
            if (got >= 0 || errno != EINTR) {
                return got;
            }
        }
    });
}

} // namespace

base::Result<imaging::Planes> reverseArrays(TextArrays text, const std::string& name,
                                            const ReverseOptions& options) {
    try {
        auto reversed = reverse(std::move(text), options);
        if (auto* refused = std::get_if<Refusal>(&reversed)) {
            return base::Error{name, std::move(refused->reason), refused->kind};
        }
        return std::get<imaging::Planes>(std::move(reversed));
    } catch (const std::bad_alloc&) {
        return base::noMemory(name, "to read it");
    }
}

base::Result<imaging::Planes> reverseFile(const ReverseOptions& options) {
    const std::string name = options.input == "-" ? "standard input" : options.input;
    try {
        auto text = readText(options.input);
        if (auto* error = std::get_if<base::Error>(&text)) {
            error->file = name;
            return *error;
        }
        return reverseArrays(std::get<TextArrays>(std::move(text)), name, options);
    } catch (const std::bad_alloc&) {
        return base::noMemory(name, "to read it");
    }
}

} // namespace conversion
