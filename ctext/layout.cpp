#include "ctext/layout.h"

#include <algorithm>
#include <array>
#include <numeric>
#include <unordered_map>

namespace ctext {

using imaging::Planes;
using imaging::RowLayout;

namespace {

constexpr LayoutInfo kLayouts[] = {
    {Layout::Planes, "planes", 2, 0, Breaks::RowStarts, BitOrder::Msb},
    {Layout::Gb, "gb", 1, 8, Breaks::Tiles, BitOrder::Msb},
    {Layout::Packed2, "packed2", 1, 8, Breaks::RowStarts, BitOrder::Msb},
    {Layout::Nibble4, "nibble4", 1, 8, Breaks::RowStarts, BitOrder::Msb},
    // A page's byte is a column, its top pixel in bit 0.
    {Layout::Pages, "pages", 2, 8, Breaks::Pages, BitOrder::Lsb},
    {Layout::Lvgl, "lvgl", 1, 8, Breaks::RowStarts, BitOrder::Msb},
};

// The palette of an lvgl picture: each level's colour as blue, green, red and alpha.
constexpr std::array<std::uint8_t, 16> makeLvglPalette() {
    std::array<std::uint8_t, 16> palette{};
    for (std::size_t level = 0; level < 4; ++level) {
        const std::uint32_t colour = imaging::kLevelPalette[level];
        palette[4 * level] = static_cast<std::uint8_t>(colour);
        palette[4 * level + 1] = static_cast<std::uint8_t>(colour >> 8);
        palette[4 * level + 2] = static_cast<std::uint8_t>(colour >> 16);
        palette[4 * level + 3] = 0xFF;
    }
    return palette;
}
constexpr auto kLvglPalette = makeLvglPalette();

constexpr std::pair<TileOrder, std::string_view> kTileOrders[] = {
    {TileOrder::Rows, "rows"}, {TileOrder::Columns, "columns"}, {TileOrder::Tall8x16, "8x16"}};

constexpr std::pair<BitOrder, std::string_view> kBitOrders[] = {{BitOrder::Msb, "msb"},
                                                                {BitOrder::Lsb, "lsb"}};

// Each byte with its bits in the other order.
constexpr std::array<std::uint8_t, 256> makeReversed() {
    std::array<std::uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned r = 0;
        for (unsigned b = 0; b < 8; ++b) {
            r |= (i >> b & 1u) << (7 - b);
        }
        table[i] = static_cast<std::uint8_t>(r);
    }
    return table;
}
constexpr auto kReversed = makeReversed();

// The bits of an element of `bits` bits in the other order.
std::uint32_t reversed(std::uint32_t element, int bits) {
    std::uint32_t r = 0;
    for (int b = 0; b < bits; b += 8) {
        r = r << 8 | kReversed[element >> b & 0xFFu];
    }
    return r;
}

// A byte's groups of `group` bits (2 or 4) in the other order.
std::uint32_t groupsReversed(std::uint32_t byte, unsigned group) {
    if (group == 4) {
        return (byte >> 4 | byte << 4) & 0xFFu;
    }
    return (byte >> 6 & 0x03u) | (byte >> 2 & 0x0Cu) | (byte << 2 & 0x30u) | (byte << 6 & 0xC0u);
}

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

// The mask of the pixels' bits of an element in the top-bit-first order.
std::uint32_t pixelMask(int bits, std::size_t pixelBits) {
    const std::uint32_t all = bits == 32 ? 0xFFFFFFFFu : (std::uint32_t{1} << bits) - 1;
    return keepPixels(all, bits, pixelBits);
}

// A plane element of `pixelBits` pixels, laid out top bit first, as the options want it.
std::uint32_t turned(std::uint32_t element, int bits, std::size_t pixelBits,
                     const LayoutOptions& options) {
    if (options.invert) {
        element ^= pixelMask(bits, pixelBits);
    }
    return lsbFirst(options) ? reversed(element, bits) : element;
}

// The inverse, with the bits that stand for no pixel cleared.
std::uint32_t unturned(std::uint32_t element, int bits, std::size_t pixelBits,
                       const LayoutOptions& options) {
    if (lsbFirst(options)) {
        element = reversed(element, bits);
    }
    const std::uint32_t mask = pixelMask(bits, pixelBits);
    return (options.invert ? element ^ mask : element) & mask;
}

// Bits of an 8 x 8 block, row r in byte r (its leftmost pixel in the top bit), turned so that
// column c is byte 7 - c (its top pixel in bit 0); the turn is its own inverse.
std::uint64_t transposed(std::uint64_t x) {
    std::uint64_t t = (x ^ (x >> 7)) & 0x00AA00AA00AA00AAu;
    x ^= t ^ (t << 7);
    t = (x ^ (x >> 14)) & 0x0000CCCC0000CCCCu;
    x ^= t ^ (t << 14);
    t = (x ^ (x >> 28)) & 0x00000000F0F0F0F0u;
    return x ^ t ^ (t << 28);
}

// The page's rows of the 8 columns from 8 * block of a plane, as transposed() takes them.
std::uint64_t pageBlock(const std::vector<std::uint8_t>& plane, std::size_t rowBits,
                        std::size_t top, std::size_t rows, std::size_t block) {
    std::uint64_t x = 0;
    for (std::size_t r = 0; r < rows; ++r) {
        const std::size_t bit = (top + r) * rowBits + 8 * block;
        const unsigned byte = rowBits % 8 == 0 ? plane[bit / 8] : imaging::eightBitsAt(plane, bit);
        x |= std::uint64_t{byte} << (8 * r);
    }
    return x;
}

bool turns(const LayoutOptions& options) {
    return options.invert || lsbFirst(options);
}

// The pixels of element `k` of the byte planes of a line: packed planes run on through the
// rows, padded ones start each row on a new byte.
std::size_t bytePixels(const Planes& planes, const ElementPlan& plan, std::size_t k) {
    const auto width = static_cast<std::size_t>(planes.width);
    if (planes.layout == RowLayout::Packed) {
        const std::size_t bits = width * static_cast<std::size_t>(planes.height);
        return std::min<std::size_t>(8, bits - std::min(bits, 8 * k));
    }
    const std::size_t inRow = k % plan.perLine;
    return std::min<std::size_t>(8, width - 8 * inRow);
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

std::string_view maskName(Mask mask) {
    return mask == Mask::Ones ? "ones" : mask == Mask::Zeros ? "zeros" : "none";
}

std::optional<Mask> maskNamed(std::string_view name) {
    if (name == "ones") {
        return Mask::Ones;
    }
    if (name == "zeros") {
        return Mask::Zeros;
    }
    return std::nullopt;
}

std::string_view bitOrderName(BitOrder order) {
    for (const auto& [o, name] : kBitOrders) {
        if (o == order) {
            return name;
        }
    }
    return "msb";
}

std::optional<BitOrder> bitOrderNamed(std::string_view name) {
    for (const auto& [order, n] : kBitOrders) {
        if (n == name) {
            return order;
        }
    }
    return std::nullopt;
}

bool lsbFirst(const LayoutOptions& options) {
    const BitOrder order = options.bitOrder == BitOrder::Default
                               ? layoutInfo(options.layout).bitOrder
                               : options.bitOrder;
    return order == BitOrder::Lsb;
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
    if (given.rows && (gb || options.layout == Layout::Pages)) {
        return "--pad-rows" + layout;
    }
    if (given.word && !planes) {
        return "--word " + std::to_string(options.word) + layout;
    }
    if (options.tileBase < 0 || options.tileBase > 255) {
        return "--tile-base takes 0 to 255, not " + std::to_string(options.tileBase);
    }
    if (given.tileMap && !gb) {
        return "--tile-map" + layout;
    }
    if (given.tileBase && !options.tileMap) {
        return "--tile-base " + std::to_string(options.tileBase) + " needs --tile-map";
    }
    if (gb && options.tileMap && options.tileOrder != TileOrder::Rows) {
        // The map numbers the tiles left to right, then top to bottom.
        return "--tile-map does not go with --tile-order " +
               std::string(tileOrderName(options.tileOrder));
    }
    if (given.tileOrder && !gb) {
        return "--tile-order " + std::string(tileOrderName(options.tileOrder)) + layout;
    }
    // An lvgl picture's format fixes its indices and their order.
    const bool fixed = gb || options.layout == Layout::Lvgl;
    if (given.invert && fixed) {
        return "--invert" + layout;
    }
    if (given.bitOrder && fixed) {
        // The hardware fixes the order.
        return "--bit-order " +
               std::string(bitOrderName(lsbFirst(options) ? BitOrder::Lsb : BitOrder::Msb)) +
               layout;
    }
    if (options.mask != Mask::None && !planes && options.layout != Layout::Packed2 &&
        options.layout != Layout::Nibble4) {
        const std::string mask = "--mask " + std::string(maskName(options.mask)) + layout;
        return gb ? mask + ": its objects take colour 0 (white) as transparent" : mask;
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

namespace {

// A tile's 16 bytes as the gb layout writes them, as two numbers.
struct TileKey {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    auto operator<=>(const TileKey&) const = default;
};

struct TileHash {
    std::size_t operator()(const TileKey& k) const {
        return std::hash<std::uint64_t>{}(k.high * 0x9E3779B97F4A7C15u ^ k.low);
    }
};

// The tiles of a picture in whole 8 x 8 tiles, left to right and top to bottom.
class Tiles {
  public:
    explicit Tiles(const Planes& planes)
        : m_planes(planes), m_across(tilesAcross(planes.width)), m_rowBytes(planes.rowBits() / 8),
          m_straight(planes.rowBits() % 8 == 0),
          m_count(elementPlan(LayoutOptions{Layout::Gb}, planes.width, planes.height).lines) {}
    std::size_t count() const { return m_count; }
    std::size_t across() const { return m_across; }
    TileKey key(std::size_t t, std::array<std::uint8_t, 16>& tile) {
        if (m_straight) {
            // Rows that start on a byte hold a tile's rows as bytes of the planes.
            const std::size_t first = t / m_across * 8 * m_rowBytes + t % m_across;
            for (std::size_t r = 0; r < 8; ++r) {
                tile[2 * r] = m_planes.light[first + r * m_rowBytes];
                tile[2 * r + 1] = m_planes.dark[first + r * m_rowBytes];
            }
        } else {
            m_elements.clear();
            lineElements(m_planes, LayoutOptions{Layout::Gb}, 0, t, m_elements);
            std::copy(m_elements.begin(), m_elements.end(), tile.begin());
        }
        TileKey key;
        for (std::size_t k = 0; k < 16; ++k) {
            std::uint64_t& half = k < 8 ? key.high : key.low;
            half = half << 8 | tile[k];
        }
        return key;
    }

  private:
    const Planes& m_planes;
    std::size_t m_across;
    std::size_t m_rowBytes;
    bool m_straight;
    std::size_t m_count;
    std::vector<std::uint32_t> m_elements;
};

// The number of different tiles, counted in the memory of one key a tile (the planes' own
// size) rather than a hash of them all.
std::size_t differentTiles(const Planes& planes) {
    Tiles tiles(planes);
    std::vector<TileKey> keys(tiles.count());
    std::array<std::uint8_t, 16> tile{};
    for (std::size_t t = 0; t < keys.size(); ++t) {
        keys[t] = tiles.key(t, tile);
    }
    std::sort(keys.begin(), keys.end());
    return static_cast<std::size_t>(std::unique(keys.begin(), keys.end()) - keys.begin());
}

} // namespace

TileMap tileMapOf(const Planes& planes) {
    TileMap result;
    Tiles tiles(planes);
    result.across = tiles.across();
    result.map.reserve(tiles.count());
    std::unordered_map<TileKey, std::uint32_t, TileHash> numbers;
    std::array<std::uint8_t, 16> tile{};
    for (std::size_t t = 0; t < tiles.count(); ++t) {
        const auto [found, added] = numbers.try_emplace(
            tiles.key(t, tile), static_cast<std::uint32_t>(result.tiles.size()));
        if (added) {
            if (result.tiles.size() == kMapTiles) {
                // No map numbers more: the rest is not looked at.
                result.overflowed = true;
                break;
            }
            result.tiles.push_back(tile);
        }
        result.map.push_back(found->second);
    }
    return result;
}

std::optional<std::string> framesProblem(const LayoutOptions& options) {
    if (options.layout == Layout::Lvgl) {
        return "does not apply to --layout lvgl: its image descriptor describes one picture";
    }
    if (options.layout == Layout::Gb && options.tileMap) {
        return "does not apply to --layout gb --tile-map: its map numbers the tiles of one "
               "picture";
    }
    return std::nullopt;
}

std::optional<std::string> planesProblem(const LayoutOptions& options, const Planes& planes,
                                         const imaging::FrameGrid& frames) {
    if (frames.any()) {
        if (planes.width % frames.width != 0 || planes.height % frames.height != 0) {
            return "is " + std::to_string(planes.width) + " x " + std::to_string(planes.height) +
                   " pixels, not a whole number of frames of " + std::to_string(frames.width) +
                   " x " + std::to_string(frames.height);
        }
        if (auto refused = extentProblem(options, frames.width, frames.height)) {
            // "is W x H pixels; ..." of the frame.
            return "has frames of " + refused->substr(3);
        }
        return std::nullopt;
    }
    if (auto refused = extentProblem(options, planes.width, planes.height)) {
        return refused;
    }
    if (options.layout == Layout::Gb && options.tileMap && tileMapOf(planes).overflowed) {
        return "has " + std::to_string(differentTiles(planes)) +
               " different tiles; --tile-map numbers at most " + std::to_string(kMapTiles);
    }
    return std::nullopt;
}

namespace {

// The sentence that follows the layout's for a mask.
constexpr std::string_view kMaskFollows = " A mask follows, one bit per pixel";

std::string maskSentence(const LayoutOptions& options) {
    const std::string rows = options.layout == Layout::Planes ? " as in the planes"
                             : options.rows == RowLayout::Padded
                                 ? ", its rows padded to whole bytes"
                                 : ", its rows not padded";
    return std::string(kMaskFollows) + rows + ": " + (options.mask == Mask::Ones ? "1" : "0") +
           " marks an opaque pixel.";
}

} // namespace

std::string layoutSentence(const LayoutOptions& options) {
    const bool masked = options.mask != Mask::None &&
                        (options.layout == Layout::Planes || options.layout == Layout::Packed2 ||
                         options.layout == Layout::Nibble4);
    if (masked) {
        LayoutOptions levels = options;
        levels.mask = Mask::None;
        return layoutSentence(levels) + maskSentence(options);
    }
    switch (options.layout) {
    case Layout::Planes: {
        const std::string planes =
            options.invert ? "Two inverted planes of one bit per pixel (0 marks a pixel)"
                           : "Two planes of one bit per pixel";
        const std::string order =
            lsbFirst(options) ? "least significant bit first" : "most significant bit first";
        if (options.word == 8) {
            return planes + ", " + order + ", rows " +
                   (options.rows == RowLayout::Padded ? "padded to whole bytes" : "not padded") +
                   ".";
        }
        return planes + " in " + std::to_string(options.word) + "-bit elements, " + order +
               ", rows padded to whole elements.";
    }
    case Layout::Gb: {
        const char* order = options.tileOrder == TileOrder::Rows
                                ? "left to right, then top to bottom"
                            : options.tileOrder == TileOrder::Columns
                                ? "top to bottom, then left to right"
                                : "in 8 x 16 pairs, each column's top tile before the one below";
        const std::string tiles = "Game Boy tiles of 8 x 8 pixels, 16 bytes each: per pixel row "
                                  "the low bits, then the high bits, white 0 to black 3; ";
        if (options.tileMap) {
            return tiles +
                   "each different tile once, in the order in which it first appears "
                   "left to right, then top to bottom, and a map of a byte a tile "
                   "numbering them from " +
                   std::to_string(options.tileBase) + ".";
        }
        return tiles + "tiles " + order + ".";
    }
    case Layout::Pages:
        return std::string(options.invert
                               ? "Two inverted planes of one bit per pixel (0 marks a pixel)"
                               : "Two planes of one bit per pixel") +
               " in pages of 8 rows, a byte a column of 8 pixels, the top pixel in bit " +
               (lsbFirst(options) ? "0" : "7") + ", the last page filled with zero bits.";
    case Layout::Lvgl:
        return "An LVGL image of colour format I2: a palette of black, dark grey, light grey and "
               "white (blue, green, red, alpha each), then two bits per pixel, four pixels a byte, "
               "leftmost pixel in the top bits, black 0 to white 3, rows padded to whole bytes.";
    case Layout::Packed2:
        return std::string("Two bits per pixel, four pixels a byte, leftmost pixel in the ") +
               (lsbFirst(options) ? "low" : "top") + " bits, " +
               (options.invert ? "white 0 to black 3" : "black 0 to white 3") +
               ", rows padded to whole bytes.";
    case Layout::Nibble4:
        return std::string("Four bits per pixel, two pixels a byte, left pixel in the ") +
               (lsbFirst(options) ? "low" : "high") + " nibble, " +
               (options.invert ? "white 0, light grey 5, dark grey 10, black 15"
                               : "black 0, dark grey 5, light grey 10, white 15") +
               ", rows padded to whole bytes.";
    }
    return {};
}

LayoutOptions maskLayout(const LayoutOptions& options) {
    LayoutOptions mask{Layout::Planes};
    mask.word = options.layout == Layout::Planes ? options.word : 8;
    mask.rows = options.rows;
    mask.bitOrder = lsbFirst(options) ? BitOrder::Lsb : BitOrder::Msb;
    mask.invert = options.mask == Mask::Zeros;
    return mask;
}

std::optional<LayoutOptions> layoutOfSentence(std::string_view sentence) {
    if (const std::size_t at = sentence.find(kMaskFollows); at != std::string_view::npos) {
        const auto layout = layoutOfSentence(sentence.substr(0, at));
        if (!layout) {
            return std::nullopt;
        }
        for (const Mask mask : {Mask::Ones, Mask::Zeros}) {
            for (const RowLayout rows : {layout->rows, RowLayout::Padded}) {
                LayoutOptions masked = *layout;
                masked.mask = mask;
                masked.rows = rows;
                if (layoutSentence(masked) == sentence) {
                    return masked;
                }
            }
        }
        return std::nullopt;
    }
    std::vector<LayoutOptions> statable;
    for (const auto& [rows, word] : {std::pair{RowLayout::Packed, 8},
                                     {RowLayout::Padded, 8},
                                     {RowLayout::Padded, 16},
                                     {RowLayout::Padded, 32}}) {
        statable.push_back({Layout::Planes, rows, word});
    }
    for (const auto& [order, name] : kTileOrders) {
        statable.push_back({Layout::Gb, RowLayout::Packed, 8, order});
    }
    constexpr std::string_view kMapped = "numbering them from ";
    if (const std::size_t at = sentence.rfind(kMapped); at != std::string_view::npos) {
        // The base of a map, as the sentence gives it.
        std::string_view digits = sentence.substr(at + kMapped.size());
        int base = 0;
        for (std::size_t k = 0; k + 1 < digits.size() && k < 3; ++k) {
            if (digits[k] < '0' || digits[k] > '9') {
                break;
            }
            base = base * 10 + (digits[k] - '0');
        }
        LayoutOptions mapped{Layout::Gb};
        mapped.tileMap = true;
        mapped.tileBase = std::min(base, 255);
        statable.push_back(mapped);
    }
    statable.push_back({Layout::Lvgl});
    for (const Layout layout : {Layout::Packed2, Layout::Nibble4, Layout::Pages}) {
        statable.push_back({layout, RowLayout::Packed, 8});
    }
    // Each of them inverted and in the other bit order where that applies.
    const std::size_t plain = statable.size();
    for (std::size_t k = 0; k < plain; ++k) {
        if (statable[k].layout == Layout::Gb || statable[k].layout == Layout::Lvgl) {
            continue;
        }
        for (const auto& [invert, order] : {std::pair{true, BitOrder::Default},
                                            {false, BitOrder::Msb},
                                            {true, BitOrder::Msb},
                                            {false, BitOrder::Lsb},
                                            {true, BitOrder::Lsb}}) {
            LayoutOptions turned = statable[k];
            turned.invert = invert;
            turned.bitOrder = order;
            statable.push_back(turned);
        }
    }
    for (const LayoutOptions& candidate : statable) {
        if (layoutSentence(candidate) == sentence) {
            return candidate;
        }
    }
    return std::nullopt;
}

std::span<const std::uint8_t> leadElements(const LayoutOptions& options) {
    if (options.layout == Layout::Lvgl) {
        return kLvglPalette;
    }
    return {};
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
    case Layout::Pages:
        plan.perLine = w;
        plan.lines = (h + 7) / 8;
        plan.total = plan.perLine * plan.lines;
        return plan;
    case Layout::Lvgl:
        plan.perLine = (w + 3) / 4;
        plan.lead = kLvglPalette.size();
        plan.lines = h;
        plan.total = plan.lead + plan.perLine * h;
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
    if (options.layout == Layout::Pages) {
        const std::vector<std::uint8_t>& plane = array == 0 ? planes.dark : planes.light;
        const std::size_t top = 8 * line;
        const std::size_t rows =
            std::min<std::size_t>(8, static_cast<std::size_t>(planes.height) - top);
        // Inverted within the page's rows: the filling rows stay zero.
        const unsigned flip = options.invert ? (1u << rows) - 1 : 0u;
        const bool lsb = lsbFirst(options);
        const std::size_t first = out.size();
        out.resize(first + width);
        std::uint32_t* put = out.data() + first;
        const std::size_t rowBits = planes.rowBits();
        // Whole pages of rows that start on a byte, the usual case, read straight.
        const bool straight = rows == 8 && rowBits % 8 == 0;
        const std::uint8_t* page = plane.data() + (straight ? top * rowBits / 8 : 0);
        for (std::size_t block = 0; 8 * block < width; ++block) {
            std::uint64_t x = 0;
            if (straight) {
                for (std::size_t r = 0; r < 8; ++r) {
                    x |= std::uint64_t{page[r * rowBits / 8 + block]} << (8 * r);
                }
            } else {
                x = pageBlock(plane, rowBits, top, rows, block);
            }
            const std::uint64_t columns = transposed(x);
            const std::size_t count = std::min<std::size_t>(8, width - 8 * block);
            for (std::size_t c = 0; c < count; ++c) {
                const unsigned byte = (columns >> (8 * (7 - c)) & 0xFFu) ^ flip;
                put[8 * block + c] = lsb ? byte : kReversed[byte];
            }
        }
        return;
    }
    const ElementPlan plan = elementPlan(options, planes.width, planes.height);
    if (options.layout == Layout::Planes && options.word == 8) {
        const std::vector<std::uint8_t>& plane = array == 0 ? planes.dark : planes.light;
        const std::size_t first = line * plan.perLine;
        const std::size_t last = std::min(plan.total, first + plan.perLine);
        if (!turns(options)) {
            out.insert(out.end(), plane.begin() + static_cast<std::ptrdiff_t>(first),
                       plane.begin() + static_cast<std::ptrdiff_t>(last));
            return;
        }
        const unsigned flip = options.invert ? 0xFFu : 0u;
        const bool lsb = lsbFirst(options);
        for (std::size_t k = first; k < last; ++k) {
            const unsigned byte = plane[k] ^ flip;
            out.push_back(lsb ? kReversed[byte] : byte);
        }
        // Only a line's last byte can hold fill bits, which stay zero.
        if (last > first) {
            out.back() = turned(plane[last - 1], 8, bytePixels(planes, plan, last - 1), options);
        }
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
            // rowBytes() already cleared the bits past the row.
            out.push_back(
                turned(element, plan.bits, width - std::min(width, e * bytes * 8), options));
        }
        return;
    }
    case Layout::Lvgl:
    case Layout::Packed2: {
        // A byte of each plane at a time, two elements; the row's scratch has room past its
        // last byte.
        const unsigned flip = options.invert ? 0xFFu : 0u;
        const std::uint8_t* dark = scratch.dark.data();
        const std::uint8_t* light = scratch.light.data();
        const std::size_t first = out.size();
        out.resize(first + (plan.perLine + 1) / 2 * 2);
        std::uint32_t* put = out.data() + first;
        for (std::size_t k = 0; 2 * k < plan.perLine; ++k) {
            const unsigned d = dark[k];
            const unsigned l = light[k];
            put[2 * k] = kPacked2[(d & 0xF0u) | l >> 4] ^ flip;
            put[2 * k + 1] = kPacked2[(d & 15u) << 4 | (l & 15u)] ^ flip;
        }
        out.resize(first + plan.perLine);
        out.back() = keepPixels(out.back(), 8, 2 * (width - 4 * (plan.perLine - 1)));
        if (lsbFirst(options)) {
            for (std::size_t e = first; e < out.size(); ++e) {
                out[e] = groupsReversed(out[e], 2);
            }
        }
        break;
    }
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
        if (lsbFirst(options)) {
            for (std::size_t e = first; e < out.size(); ++e) {
                out[e] = groupsReversed(out[e], 4);
            }
        }
        break;
    }
    case Layout::Gb:
    case Layout::Pages:
        break;
    }
}

void setLineElements(Planes& planes, const LayoutOptions& options, int array, std::size_t line,
                     std::span<const std::uint32_t> elements) {
    if (options.layout == Layout::Pages) {
        std::vector<std::uint8_t>& plane = array == 0 ? planes.dark : planes.light;
        const auto width = static_cast<std::size_t>(planes.width);
        const std::size_t rowBits = planes.rowBits();
        const std::size_t top = 8 * line;
        const std::size_t rows =
            std::min<std::size_t>(8, static_cast<std::size_t>(planes.height) - top);
        const unsigned keep = (1u << rows) - 1;
        const unsigned flip = options.invert ? keep : 0u;
        const bool lsb = lsbFirst(options);
        for (std::size_t block = 0; 8 * block < width && 8 * block < elements.size(); ++block) {
            std::uint64_t columns = 0;
            const std::size_t count =
                std::min({std::size_t{8}, width - 8 * block, elements.size() - 8 * block});
            for (std::size_t c = 0; c < count; ++c) {
                const unsigned given = elements[8 * block + c] & 0xFFu;
                const unsigned byte = ((lsb ? given : kReversed[given]) ^ flip) & keep;
                columns |= std::uint64_t{byte} << (8 * (7 - c));
            }
            const std::uint64_t x = transposed(columns);
            for (std::size_t r = 0; r < rows; ++r) {
                const unsigned byte = x >> (8 * r) & 0xFFu;
                const std::size_t bit = (top + r) * rowBits + 8 * block;
                if (bit % 8 == 0) {
                    plane[bit / 8] = static_cast<std::uint8_t>(plane[bit / 8] | byte);
                    continue;
                }
                for (std::size_t c = 0; c < count; ++c) {
                    if (byte >> (7 - c) & 1u) {
                        plane[(bit + c) / 8] |= static_cast<std::uint8_t>(0x80u >> ((bit + c) % 8));
                    }
                }
            }
        }
        return;
    }
    const ElementPlan plan = elementPlan(options, planes.width, planes.height);
    if (options.layout == Layout::Planes && options.word == 8) {
        std::vector<std::uint8_t>& plane = array == 0 ? planes.dark : planes.light;
        const std::size_t first = line * plan.perLine;
        for (std::size_t k = 0; k < elements.size() && first + k < plane.size(); ++k) {
            plane[first + k] = static_cast<std::uint8_t>(
                turns(options)
                    ? unturned(elements[k], 8, bytePixels(planes, plan, first + k), options)
                    : elements[k]);
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
        const auto width = static_cast<std::size_t>(planes.width);
        for (std::size_t e = 0; e < elements.size(); ++e) {
            const std::uint32_t element =
                turns(options) ? unturned(elements[e], plan.bits,
                                          width - std::min(width, e * bytes * 8), options)
                               : elements[e];
            for (std::size_t b = 0; b < bytes && e * bytes + b < rowBytesCount; ++b) {
                row[e * bytes + b] = static_cast<std::uint8_t>(element >> (8 * (bytes - 1 - b)));
            }
        }
        // The other plane's bits are left as they are.
        setRowBytes(planes, y, array == 0 ? dark : none, array == 0 ? none : light);
        return;
    }
    case Layout::Lvgl:
    case Layout::Packed2:
        for (std::size_t e = 0; e < elements.size(); ++e) {
            const unsigned given =
                lsbFirst(options) ? groupsReversed(elements[e] & 0xFFu, 2) : elements[e];
            const unsigned v = options.invert ? ~given & 0xFFu : given & 0xFFu;
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
            const unsigned given =
                lsbFirst(options) ? groupsReversed(elements[e] & 0xFFu, 4) : elements[e];
            const unsigned v = options.invert ? ~given & 0xFFu : given & 0xFFu;
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
    case Layout::Pages:
        break;
    }
    setRowBytes(planes, y, dark, light);
}

} // namespace ctext
