#include "ctext/layout.h"

#include <algorithm>
#include <array>
#include <numeric>

namespace ctext {

using imaging::Planes;
using imaging::RowLayout;

namespace {

constexpr LayoutInfo kLayouts[] = {
    {Layout::Planes, "planes", 2, 0, Breaks::RowStarts},
    {Layout::Gb, "gb", 1, 8, Breaks::Tiles},
    {Layout::Packed2, "packed2", 1, 8, Breaks::RowStarts},
    {Layout::Nibble4, "nibble4", 1, 8, Breaks::RowStarts},
};

constexpr std::pair<TileOrder, std::string_view> kTileOrders[] = {
    {TileOrder::Rows, "rows"}, {TileOrder::Columns, "columns"}, {TileOrder::Tall8x16, "8x16"}};

// A pixel's value in packed2 before inversion, by its (dark, light) bits: black 0 ... white 3.
constexpr unsigned valueOf(unsigned dark, unsigned light) {
    return 3 - (dark * 2 + light);
}

// Four pixels of packed2 from the nibbles of a dark and a light byte (index dark << 4 | light).
constexpr std::array<std::uint8_t, 256> makePacked2() {
    std::array<std::uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned byte = 0;
        for (unsigned k = 0; k < 4; ++k) {
            const unsigned bit = 3 - k;
            byte = byte << 2 | valueOf((i >> (4 + bit)) & 1u, (i >> bit) & 1u);
        }
        table[i] = static_cast<std::uint8_t>(byte);
    }
    return table;
}
constexpr auto kPacked2 = makePacked2();

// Two pixels of nibble4 from two dark and two light bits (index dark << 2 | light).
constexpr std::array<std::uint8_t, 16> makeNibble4() {
    std::array<std::uint8_t, 16> table{};
    for (unsigned i = 0; i < 16; ++i) {
        const unsigned left = valueOf((i >> 3) & 1u, (i >> 1) & 1u) * 5;
        const unsigned right = valueOf((i >> 2) & 1u, i & 1u) * 5;
        table[i] = static_cast<std::uint8_t>(left << 4 | right);
    }
    return table;
}
constexpr auto kNibble4 = makeNibble4();

// Four pixels of nibble4 (two bytes, the first in the high byte) from the nibbles of a dark and
// a light byte (index dark << 4 | light).
constexpr std::array<std::uint16_t, 256> makeNibble4Pairs() {
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        const unsigned d = i >> 4;
        const unsigned l = i & 15u;
        const unsigned first = kNibble4[(d >> 2) << 2 | (l >> 2)];
        const unsigned second = kNibble4[(d & 3u) << 2 | (l & 3u)];
        table[i] = static_cast<std::uint16_t>(first << 8 | second);
    }
    return table;
}
constexpr auto kNibble4Pairs = makeNibble4Pairs();

// The (dark, light) bits of a packed2 value before inversion.
constexpr unsigned darkOf(unsigned value) {
    return (3 - value) >> 1;
}
constexpr unsigned lightOf(unsigned value) {
    return (3 - value) & 1u;
}

std::size_t tilesAcross(int width) {
    return static_cast<std::size_t>(width) / 8;
}

// Tile `tile` in the order of the options, as (column, row) of tiles.
std::pair<std::size_t, std::size_t> tileAt(const LayoutOptions& options, int width, int height,
                                           std::size_t tile) {
    const std::size_t across = tilesAcross(width);
    const std::size_t down = static_cast<std::size_t>(height) / 8;
    switch (options.tileOrder) {
    case TileOrder::Rows:
        return {tile % across, tile / across};
    case TileOrder::Columns:
        return {tile / down, tile % down};
    case TileOrder::Tall8x16: {
        const std::size_t band = tile / (2 * across);
        const std::size_t inBand = tile % (2 * across);
        return {inBand / 2, band * 2 + inBand % 2};
    }
    }
    return {0, 0};
}

// Scratch rows, as rowBytes() lays them out.
struct RowScratch {
    std::vector<std::uint8_t> dark;
    std::vector<std::uint8_t> light;
    void size(int width) {
        // Room for a whole 32-bit element past the last byte.
        const std::size_t bytes = (static_cast<std::size_t>(width) + 7) / 8 + 4;
        dark.assign(bytes, 0);
        light.assign(bytes, 0);
    }
};
thread_local RowScratch scratch;

// The last element of a row keeps only the bits of its pixels.
std::uint32_t keepPixels(std::uint32_t element, int bits, std::size_t pixelBits) {
    if (pixelBits >= static_cast<std::size_t>(bits)) {
        return element;
    }
    const auto unused = static_cast<unsigned>(bits - static_cast<int>(pixelBits));
    return element >> unused << unused;
}

} // namespace

const LayoutInfo& layoutInfo(Layout layout) {
    for (const LayoutInfo& info : kLayouts) {
        if (info.layout == layout) {
            return info;
        }
    }
    return kLayouts[0];
}

std::optional<Layout> layoutNamed(std::string_view name) {
    for (const LayoutInfo& info : kLayouts) {
        if (info.name == name) {
            return info.layout;
        }
    }
    return std::nullopt;
}

std::string_view tileOrderName(TileOrder order) {
    for (const auto& [o, name] : kTileOrders) {
        if (o == order) {
            return name;
        }
    }
    return "rows";
}

std::optional<TileOrder> tileOrderNamed(std::string_view name) {
    for (const auto& [order, n] : kTileOrders) {
        if (n == name) {
            return order;
        }
    }
    return std::nullopt;
}

int elementBits(const LayoutOptions& options) {
    const int bits = layoutInfo(options.layout).elementBits;
    return bits != 0 ? bits : options.word;
}

std::optional<std::string> layoutProblem(const LayoutOptions& options, const LayoutGiven& given) {
    if (options.word != 8 && options.word != 16 && options.word != 32) {
        return "--word takes 8, 16 or 32, not " + std::to_string(options.word);
    }
    const std::string layout =
        " does not apply to --layout " + std::string(layoutInfo(options.layout).name);
    const bool planes = options.layout == Layout::Planes;
    const bool gb = options.layout == Layout::Gb;
    if (given.rows && gb) {
        return "--pad-rows" + layout;
    }
    if (given.word && !planes) {
        return "--word " + std::to_string(options.word) + layout;
    }
    if (given.tileOrder && !gb) {
        return "--tile-order " + std::string(tileOrderName(options.tileOrder)) + layout;
    }
    if (given.invert && (planes || gb)) {
        return "--invert" + layout;
    }
    return std::nullopt;
}

std::optional<std::string> extentProblem(const LayoutOptions& options, int width, int height) {
    if (options.layout != Layout::Gb) {
        return std::nullopt;
    }
    const int tall = options.tileOrder == TileOrder::Tall8x16 ? 16 : 8;
    if (width % 8 == 0 && height % tall == 0) {
        return std::nullopt;
    }
    return "is " + std::to_string(width) + " x " + std::to_string(height) + " pixels; --layout gb" +
           (tall == 16 ? std::string(" with --tile-order 8x16") : std::string()) +
           " needs a width that is a multiple of 8 and a height that is a multiple of " +
           std::to_string(tall);
}

std::string layoutSentence(const LayoutOptions& options) {
    switch (options.layout) {
    case Layout::Planes:
        if (options.word == 8) {
            return std::string(
                       "Two planes of one bit per pixel, most significant bit first, rows ") +
                   (options.rows == RowLayout::Padded ? "padded to whole bytes" : "not padded") +
                   ".";
        }
        return "Two planes of one bit per pixel in " + std::to_string(options.word) +
               "-bit elements, most significant bit first, rows padded to whole elements.";
    case Layout::Gb: {
        const char* order = options.tileOrder == TileOrder::Rows
                                ? "left to right, then top to bottom"
                            : options.tileOrder == TileOrder::Columns
                                ? "top to bottom, then left to right"
                                : "in 8 x 16 pairs, each column's top tile before the one below";
        return std::string("Game Boy tiles of 8 x 8 pixels, 16 bytes each: per pixel row the low "
                           "bits, then the high bits, white 0 to black 3; tiles ") +
               order + ".";
    }
    case Layout::Packed2:
        return std::string("Two bits per pixel, four pixels a byte, leftmost pixel in the top "
                           "bits, ") +
               (options.invert ? "white 0 to black 3" : "black 0 to white 3") +
               ", rows padded to whole bytes.";
    case Layout::Nibble4:
        return std::string("Four bits per pixel, two pixels a byte, left pixel in the high "
                           "nibble, ") +
               (options.invert ? "white 0, light grey 5, dark grey 10, black 15"
                               : "black 0, dark grey 5, light grey 10, white 15") +
               ", rows padded to whole bytes.";
    }
    return {};
}

std::optional<LayoutOptions> layoutOfSentence(std::string_view sentence) {
    std::vector<LayoutOptions> statable = {{Layout::Planes, RowLayout::Packed, 8},
                                           {Layout::Planes, RowLayout::Padded, 8},
                                           {Layout::Planes, RowLayout::Padded, 16},
                                           {Layout::Planes, RowLayout::Padded, 32}};
    for (const auto& [order, name] : kTileOrders) {
        statable.push_back({Layout::Gb, RowLayout::Packed, 8, order});
    }
    for (const Layout layout : {Layout::Packed2, Layout::Nibble4}) {
        for (const bool invert : {false, true}) {
            statable.push_back({layout, RowLayout::Packed, 8, TileOrder::Rows, invert});
        }
    }
    for (const LayoutOptions& candidate : statable) {
        if (layoutSentence(candidate) == sentence) {
            return candidate;
        }
    }
    return std::nullopt;
}

RowLayout planesRowLayout(const LayoutOptions& options) {
    return options.layout == Layout::Planes && options.word == 8 ? options.rows : RowLayout::Padded;
}

ElementPlan elementPlan(const LayoutOptions& options, int width, int height) {
    ElementPlan plan;
    plan.bits = elementBits(options);
    const auto w = static_cast<std::size_t>(std::max(width, 1));
    const auto h = static_cast<std::size_t>(std::max(height, 0));
    switch (options.layout) {
    case Layout::Planes:
        if (options.word == 8 && options.rows == RowLayout::Packed) {
            plan.total = (w * h + 7) / 8;
            plan.perLine = w / std::gcd(w, std::size_t{8});
            plan.lines = (plan.total + plan.perLine - 1) / plan.perLine;
            return plan;
        }
        plan.perLine =
            (w + static_cast<std::size_t>(plan.bits) - 1) / static_cast<std::size_t>(plan.bits);
        break;
    case Layout::Gb:
        plan.perLine = 16;
        plan.lines = tilesAcross(width) * (h / 8);
        plan.total = plan.lines * 16;
        return plan;
    case Layout::Packed2:
        plan.perLine = (w + 3) / 4;
        break;
    case Layout::Nibble4:
        plan.perLine = (w + 1) / 2;
        break;
    }
    plan.lines = h;
    plan.total = plan.perLine * h;
    return plan;
}

void lineElements(const Planes& planes, const LayoutOptions& options, int array, std::size_t line,
                  std::vector<std::uint32_t>& out) {
    const auto width = static_cast<std::size_t>(planes.width);
    if (options.layout == Layout::Gb) {
        // A tile's rows are whole bytes of the planes (the width is a multiple of 8); rows
        // past the picture's end are white.
        const auto [tx, ty] = tileAt(options, planes.width, planes.height, line);
        const std::size_t first = out.size();
        out.resize(first + 16);
        std::uint32_t* put = out.data() + first;
        const std::size_t rowBits = planes.rowBits();
        for (std::size_t r = 0; r < 8; ++r, put += 2) {
            const std::size_t y = ty * 8 + r;
            if (y >= static_cast<std::size_t>(planes.height) || 8 * tx >= width) {
                put[0] = put[1] = 0;
                continue;
            }
            const std::size_t bit = y * rowBits + 8 * tx;
            if (bit % 8 == 0 && 8 * tx + 8 <= width) {
                put[0] = planes.light[bit / 8];
                put[1] = planes.dark[bit / 8];
                continue;
            }
            const unsigned keep = 0xFFu << (8 - std::min<std::size_t>(8, width - 8 * tx));
            put[0] = imaging::eightBitsAt(planes.light, bit) & keep;
            put[1] = imaging::eightBitsAt(planes.dark, bit) & keep;
        }
        return;
    }
    const ElementPlan plan = elementPlan(options, planes.width, planes.height);
    if (options.layout == Layout::Planes && options.word == 8) {
        const std::vector<std::uint8_t>& plane = array == 0 ? planes.dark : planes.light;
        const std::size_t first = line * plan.perLine;
        const std::size_t last = std::min(plan.total, first + plan.perLine);
        out.insert(out.end(), plane.begin() + static_cast<std::ptrdiff_t>(first),
                   plane.begin() + static_cast<std::ptrdiff_t>(last));
        return;
    }
    scratch.size(planes.width);
    rowBytes(planes, static_cast<int>(line), scratch.dark, scratch.light);
    switch (options.layout) {
    case Layout::Planes: {
        const std::vector<std::uint8_t>& row = array == 0 ? scratch.dark : scratch.light;
        const std::size_t bytes = static_cast<std::size_t>(plan.bits) / 8;
        for (std::size_t e = 0; e < plan.perLine; ++e) {
            std::uint32_t element = 0;
            for (std::size_t b = 0; b < bytes; ++b) {
                element = element << 8 | row[e * bytes + b];
            }
            out.push_back(element);
        }
        return; // rowBytes() already cleared the bits past the row
    }
    case Layout::Packed2:
        for (std::size_t e = 0; e < plan.perLine; ++e) {
            const unsigned d = scratch.dark[e / 2] >> (e % 2 == 0 ? 4 : 0) & 15u;
            const unsigned l = scratch.light[e / 2] >> (e % 2 == 0 ? 4 : 0) & 15u;
            const unsigned v = kPacked2[d << 4 | l];
            out.push_back(options.invert ? ~v & 0xFFu : v);
        }
        out.back() = keepPixels(out.back(), 8, 2 * (width - 4 * (plan.perLine - 1)));
        break;
    case Layout::Nibble4: {
        // Four pixels at a time; the row's scratch has room past its last byte.
        const unsigned flip = options.invert ? 0xFFu : 0u;
        const std::size_t first = out.size();
        out.resize(first + (plan.perLine + 1) / 2 * 2);
        std::uint32_t* put = out.data() + first;
        for (std::size_t k = 0; 2 * k < plan.perLine; ++k) {
            const unsigned shift = k % 2 == 0 ? 4 : 0;
            const unsigned d = scratch.dark[k / 2] >> shift & 15u;
            const unsigned l = scratch.light[k / 2] >> shift & 15u;
            const unsigned pair = kNibble4Pairs[d << 4 | l];
            put[2 * k] = (pair >> 8 ^ flip) & 0xFFu;
            put[2 * k + 1] = (pair ^ flip) & 0xFFu;
        }
        out.resize(first + plan.perLine);
        out.back() = keepPixels(out.back(), 8, 4 * (width - 2 * (plan.perLine - 1)));
        break;
    }
    case Layout::Gb:
        break;
    }
}

void setLineElements(Planes& planes, const LayoutOptions& options, int array, std::size_t line,
                     std::span<const std::uint32_t> elements) {
    const ElementPlan plan = elementPlan(options, planes.width, planes.height);
    if (options.layout == Layout::Planes && options.word == 8) {
        std::vector<std::uint8_t>& plane = array == 0 ? planes.dark : planes.light;
        const std::size_t first = line * plan.perLine;
        for (std::size_t k = 0; k < elements.size() && first + k < plane.size(); ++k) {
            plane[first + k] = static_cast<std::uint8_t>(elements[k]);
        }
        return;
    }
    scratch.size(planes.width);
    std::vector<std::uint8_t>& dark = scratch.dark;
    std::vector<std::uint8_t>& light = scratch.light;
    const std::vector<std::uint8_t> none(dark.size(), 0);
    if (options.layout == Layout::Gb) {
        const auto [tx, ty] = tileAt(options, planes.width, planes.height, line);
        for (std::size_t r = 0; r < 8 && 2 * r + 1 < elements.size(); ++r) {
            const std::size_t y = ty * 8 + r;
            const std::size_t bit = y * planes.rowBits() + 8 * tx;
            if (bit % 8 == 0 && y < static_cast<std::size_t>(planes.height)) {
                // The usual case, padded planes: the tile row is one byte of each.
                planes.light[bit / 8] |= static_cast<std::uint8_t>(elements[2 * r]);
                planes.dark[bit / 8] |= static_cast<std::uint8_t>(elements[2 * r + 1]);
                continue;
            }
            std::fill(dark.begin(), dark.end(), 0);
            std::fill(light.begin(), light.end(), 0);
            light[tx] = static_cast<std::uint8_t>(elements[2 * r]);
            dark[tx] = static_cast<std::uint8_t>(elements[2 * r + 1]);
            setRowBytes(planes, static_cast<int>(ty * 8 + r), dark, light);
        }
        return;
    }
    const int y = static_cast<int>(line);
    elements = elements.first(std::min(elements.size(), plan.perLine));
    switch (options.layout) {
    case Layout::Planes: {
        std::vector<std::uint8_t>& row = array == 0 ? dark : light;
        const std::size_t bytes = static_cast<std::size_t>(plan.bits) / 8;
        const std::size_t rowBytesCount = (static_cast<std::size_t>(planes.width) + 7) / 8;
        for (std::size_t e = 0; e < elements.size(); ++e) {
            for (std::size_t b = 0; b < bytes && e * bytes + b < rowBytesCount; ++b) {
                row[e * bytes + b] =
                    static_cast<std::uint8_t>(elements[e] >> (8 * (bytes - 1 - b)));
            }
        }
        // The other plane's bits are left as they are.
        setRowBytes(planes, y, array == 0 ? dark : none, array == 0 ? none : light);
        return;
    }
    case Layout::Packed2:
        for (std::size_t e = 0; e < elements.size(); ++e) {
            const unsigned v = options.invert ? ~elements[e] & 0xFFu : elements[e] & 0xFFu;
            for (unsigned k = 0; k < 4; ++k) {
                const unsigned value = v >> (6 - 2 * k) & 3u;
                const std::size_t x = 4 * e + k;
                const auto bit = static_cast<unsigned>(7 - x % 8);
                dark[x / 8] = static_cast<std::uint8_t>(dark[x / 8] | darkOf(value) << bit);
                light[x / 8] = static_cast<std::uint8_t>(light[x / 8] | lightOf(value) << bit);
            }
        }
        break;
    case Layout::Nibble4:
        for (std::size_t e = 0; e < elements.size(); ++e) {
            const unsigned v = options.invert ? ~elements[e] & 0xFFu : elements[e] & 0xFFu;
            for (unsigned k = 0; k < 2; ++k) {
                // The nearest of 0, 5, 10 and 15.
                const unsigned value = std::min(((v >> (4 - 4 * k) & 15u) + 2) / 5, 3u);
                const std::size_t x = 2 * e + k;
                const auto bit = static_cast<unsigned>(7 - x % 8);
                dark[x / 8] = static_cast<std::uint8_t>(dark[x / 8] | darkOf(value) << bit);
                light[x / 8] = static_cast<std::uint8_t>(light[x / 8] | lightOf(value) << bit);
            }
        }
        break;
    case Layout::Gb:
        break;
    }
    setRowBytes(planes, y, dark, light);
}

} // namespace ctext
