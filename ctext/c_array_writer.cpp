#include "ctext/c_array_writer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <numeric>
#include <optional>
#include <string_view>

namespace ctext {

using imaging::Planes;
using imaging::RowLayout;

namespace {

constexpr std::size_t kEntry = 6; // "0xHH, "

// Eight bytes an entry, so that one store writes it; the two after the entry are overwritten
// by what follows.
constexpr std::array<std::array<char, 8>, 256> makeEntries() {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, 8>, 256> table{};
    for (std::size_t v = 0; v < 256; ++v) {
        table[v] = {'0', 'x', digits[v >> 4], digits[v & 15], ',', ' ', ' ', ' '};
    }
    return table;
}
constexpr auto kEntries = makeEntries();

// Writes "0xHH, " for `value` and returns the end; the two bytes after it must be writable.
inline char* putEntry(char* out, unsigned value) {
    std::memcpy(out, kEntries[value & 0xFFu].data(), 8);
    return out + kEntry;
}

// A file name as it may stand inside a C comment on one line: control bytes (a line end among
// them) become '?', and a space parts "*/", which would end the comment, and "/*", which
// compilers warn about inside one.
std::string commentSafe(std::string_view name) {
    std::string safe;
    for (const char c : name) {
        const bool control = static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
        safe += control ? '?' : c;
        if (safe.size() >= 2 && (safe.compare(safe.size() - 2, 2, "*/") == 0 ||
                                 safe.compare(safe.size() - 2, 2, "/*") == 0)) {
            safe.insert(safe.size() - 1, 1, ' ');
        }
    }
    return safe;
}

// The text around the elements, line ends already in place.
struct Frame {
    std::vector<std::string> before; // up to each array's first element
    std::string tail;                // after the last array's last element
    std::string_view eol;
};

bool mapped(const TextStyle& style) {
    return style.layout.layout == Layout::Gb && style.layout.tileMap;
}

bool takesMask(Layout layout) {
    return layout == Layout::Planes || layout == Layout::Packed2 || layout == Layout::Nibble4;
}

// ORs `count` bits of `from`, starting at bit `at`, into `to` from bit `into`; whole bytes are
// copied where both start on one.
void copyBits(const std::vector<std::uint8_t>& from, std::size_t at, std::size_t count,
              std::vector<std::uint8_t>& to, std::size_t into) {
    if (at % 8 == 0 && into % 8 == 0) {
        std::memcpy(to.data() + into / 8, from.data() + at / 8, count / 8);
        if (count % 8 != 0) {
            to[(into + count) / 8] |=
                static_cast<std::uint8_t>(from[(at + count) / 8] & (0xFFu << (8 - count % 8)));
        }
        return;
    }
    for (std::size_t k = 0; k < count; k += 8) {
        unsigned bits = imaging::eightBitsAt(from, at + k);
        if (count - k < 8) {
            bits &= 0xFFu << (8 - (count - k));
        }
        const std::size_t bit = into + k;
        const auto shift = static_cast<unsigned>(bit % 8);
        to[bit / 8] = static_cast<std::uint8_t>(to[bit / 8] | bits >> shift);
        if (shift != 0 && bit / 8 + 1 < to.size()) {
            to[bit / 8 + 1] = static_cast<std::uint8_t>(to[bit / 8 + 1] | bits << (8 - shift));
        }
    }
}

// Which planes of a frame an array's lines read.
enum Needs { DarkPlane, LightPlane, BothPlanes };

// The lines of each array and their elements: the layout's plan, frame after frame, or a tile
// map's tiles (a line each) and its map (a line a row of tiles); then the mask's, if any.
class Lines {
  public:
    Lines(const Planes& planes, const TextStyle& style)
        : m_planes(planes), m_options(style.layout), m_grid(style.frames),
          m_frames(imaging::frameCount(style.frames, planes.width, planes.height)),
          m_width(m_grid.any() ? m_grid.width : planes.width),
          m_height(m_grid.any() ? m_grid.height : planes.height),
          m_plan(elementPlan(style.layout, m_width, m_height)),
          m_arrays(mapped(style) ? 2 : layoutInfo(style.layout.layout).arrays),
          m_masked(style.layout.mask != Mask::None), m_maskOptions(maskLayout(style.layout)),
          m_maskPlan(elementPlan(m_maskOptions, m_width, m_height)) {
        if (mapped(style)) {
            m_map = tileMapOf(planes);
        }
    }
    int width() const { return m_width; }
    int height() const { return m_height; }
    int frames() const { return m_frames; }
    bool framed() const { return m_grid.any(); }
    bool masked() const { return m_masked; }
    // The layout's arrays, the mask not among them.
    int layoutArrays() const { return m_arrays; }
    bool isMask(int array) const { return array == m_arrays; }
    const ElementPlan& plan(int array = 0) const { return isMask(array) ? m_maskPlan : m_plan; }
    std::size_t lines(int array) const {
        if (!m_map || isMask(array)) {
            return plan(array).lines * static_cast<std::size_t>(m_frames);
        }
        return array == 0 ? m_map->tiles.size()
                          : m_map->map.size() / std::max<std::size_t>(1, m_map->across);
    }
    // The elements of one frame.
    std::size_t frameElements(int array) const {
        if (!m_map || isMask(array)) {
            return plan(array).total;
        }
        return array == 0 ? m_map->tiles.size() * 16 : m_map->map.size();
    }
    std::size_t elements(int array) const {
        return frameElements(array) * static_cast<std::size_t>(m_frames);
    }
    // The different tiles of a map, or the tiles of a frame.
    std::size_t tiles() const { return m_map ? m_map->tiles.size() : m_plan.lines; }
    void line(int array, std::size_t line, std::vector<std::uint32_t>& out) const {
        if (isMask(array)) {
            const std::size_t per = m_maskPlan.lines;
            lineElements(maskFrame(static_cast<int>(line / per)), m_maskOptions, 0, line % per,
                         out);
        } else if (!m_map) {
            lineElements(frame(static_cast<int>(line / m_plan.lines), needs(array)), m_options,
                         array, line % m_plan.lines, out);
        } else if (array == 0) {
            out.insert(out.end(), m_map->tiles[line].begin(), m_map->tiles[line].end());
        } else {
            const auto base = static_cast<std::uint32_t>(m_options.tileBase);
            for (std::size_t k = 0; k < m_map->across; ++k) {
                out.push_back((m_map->map[line * m_map->across + k] + base) & 0xFFu);
            }
        }
    }
    // Frame f's planes (those that `needs` asks for, the other left white): the planes
    // themselves when they are one picture. Valid until the next call.
    const Planes& frame(int f, Needs needs = BothPlanes) const {
        if (!m_grid.any()) {
            return m_planes;
        }
        if (m_cutAt == f && (m_cutNeeds == needs || m_cutNeeds == BothPlanes)) {
            return m_cut;
        }
        if (m_cut.dark.empty()) {
            m_cut = imaging::makePlanes(m_width, m_height, m_planes.layout);
        } else {
            std::fill(m_cut.dark.begin(), m_cut.dark.end(), 0);
            std::fill(m_cut.light.begin(), m_cut.light.end(), 0);
        }
        const imaging::FrameOrigin origin =
            imaging::frameOrigin(m_grid, m_planes.width, m_planes.height, f);
        const std::size_t from = m_planes.rowBits();
        const std::size_t to = m_cut.rowBits();
        for (int y = 0; y < m_height; ++y) {
            const std::size_t at =
                static_cast<std::size_t>(origin.y + y) * from + static_cast<std::size_t>(origin.x);
            const std::size_t into = static_cast<std::size_t>(y) * to;
            const auto w = static_cast<std::size_t>(m_width);
            if (needs != LightPlane) {
                copyBits(m_planes.dark, at, w, m_cut.dark, into);
            }
            if (needs != DarkPlane) {
                copyBits(m_planes.light, at, w, m_cut.light, into);
            }
        }
        m_cutAt = f;
        m_cutNeeds = needs;
        return m_cut;
    }

  private:
    // Planes and pages read one plane for each array; the others both.
    Needs needs(int array) const {
        const bool onePlane =
            m_options.layout == Layout::Planes || m_options.layout == Layout::Pages;
        return !onePlane ? BothPlanes : array == 0 ? DarkPlane : LightPlane;
    }

    // Frame f's mask as the dark plane of planes laid out as the mask is; a picture without a
    // mask is opaque.
    const Planes& maskFrame(int f) const {
        if (m_maskAt == f) {
            return m_maskCut;
        }
        if (m_maskCut.dark.empty()) {
            m_maskCut = imaging::makePlanes(m_width, m_height, planesRowLayout(m_maskOptions));
        } else {
            std::fill(m_maskCut.dark.begin(), m_maskCut.dark.end(), 0);
        }
        const imaging::FrameOrigin origin =
            imaging::frameOrigin(m_grid, m_planes.width, m_planes.height, f);
        const auto w = static_cast<std::size_t>(m_width);
        const std::vector<std::uint8_t> opaque((w + 7) / 8 + 1, 0xFF);
        for (int y = 0; y < m_height; ++y) {
            const std::size_t into = static_cast<std::size_t>(y) * m_maskCut.rowBits();
            if (m_planes.mask.empty()) {
                copyBits(opaque, 0, w, m_maskCut.dark, into);
            } else {
                copyBits(m_planes.mask,
                         static_cast<std::size_t>(origin.y + y) * m_planes.rowBits() +
                             static_cast<std::size_t>(origin.x),
                         w, m_maskCut.dark, into);
            }
        }
        m_maskAt = f;
        return m_maskCut;
    }

    const Planes& m_planes;
    const LayoutOptions& m_options;
    imaging::FrameGrid m_grid;
    int m_frames;
    int m_width;
    int m_height;
    ElementPlan m_plan;
    int m_arrays;
    bool m_masked;
    LayoutOptions m_maskOptions;
    ElementPlan m_maskPlan;
    std::optional<TileMap> m_map;
    mutable int m_cutAt = -1;
    mutable Needs m_cutNeeds = BothPlanes;
    mutable Planes m_cut;
    mutable int m_maskAt = -1;
    mutable Planes m_maskCut;
};

std::string typeName(int bits) {
    return bits == 32 ? "unsigned long" : bits == 16 ? "unsigned short" : "unsigned char";
}

std::vector<std::string> arrayNames(const TextStyle& style) {
    std::vector<std::string> names;
    if (mapped(style)) {
        names = {style.name, style.name + "_map"};
    } else if (style.layout.layout == Layout::Lvgl) {
        names = {style.name + "_map"};
    } else if (layoutInfo(style.layout.layout).arrays == 2) {
        names = {style.name + "_d", style.name + "_l"};
    } else {
        names = {style.name};
    }
    if (style.layout.mask != Mask::None) {
        names.push_back(style.name + "_m");
    }
    return names;
}

// Byte planes are written as they were encoded, padded or not. Frames and a mask are written
// only where the layout takes them.
TextStyle effective(const Planes& planes, const TextStyle& style) {
    TextStyle actual = style;
    if (actual.layout.layout == Layout::Planes && actual.layout.word == 8) {
        actual.layout.rows = planes.layout;
    }
    if (framesProblem(actual.layout)) {
        actual.frames = {};
    }
    if (!takesMask(actual.layout.layout)) {
        actual.layout.mask = Mask::None;
    }
    return actual;
}

// Pictures up to this width are drawn in a complete text's comments.
constexpr int kArtWidth = 256;

// The comment that opens a drawing of the picture, and the one that stands in for it.
std::string artHead(const std::string& eol) {
    return "/* The picture, a line a pixel row: # black, + dark grey, . light grey, a space "
           "white." +
           eol;
}
std::string artTail(const std::string& eol) {
    return " */" + eol;
}
std::string noArt(const std::string& eol) {
    return "/* No picture as text: it is wider than " + std::to_string(kArtWidth) + " pixels. */" +
           eol;
}
bool drawsArt(const Lines& lines, const TextStyle& style) {
    return style.complete && style.art && lines.width() <= kArtWidth;
}
constexpr std::size_t kArtRowExtra = 5; // " * |" and "|"

Frame frameOf(const TextStyle& style, const Lines& lines) {
    Frame f;
    f.eol = style.lf ? std::string_view("\n") : std::string_view("\r\n");
    const std::string eol(f.eol);
    const std::string& name = style.name;
    const std::vector<std::string> names = arrayNames(style);
    const std::string type = typeName(elementBits(style.layout));
    // The mask's elements are its planes layout's.
    const auto typeOf = [&](std::size_t a) {
        return lines.isMask(static_cast<int>(a)) ? typeName(lines.plan(static_cast<int>(a)).bits)
                                                 : type;
    };
    // An lvgl picture is always a whole C file.
    const bool lvgl = style.layout.layout == Layout::Lvgl;
    if (!style.complete && !lvgl) {
        for (std::size_t a = 0; a < names.size(); ++a) {
            f.before.push_back((a == 0 ? "" : eol + eol) + "static " + typeOf(a) + " " + names[a] +
                               "[] = {" + eol);
        }
        return f;
    }
    // The name as it is: Logo2 and LOGO2 are two headers and need two guards.
    const std::string guard = "GREYPLANES_" + name + "_H";
    const std::string width = std::to_string(lines.width());
    const std::string height = std::to_string(lines.height());
    const std::string extent =
        (lines.frames() > 1 ? std::to_string(lines.frames()) + " frames of " : std::string()) +
        width + " x " + height;
    const bool planesLayout = layoutInfo(style.layout.layout).arrays == 2;
    std::string head =
        "/* " + commentSafe(style.source) + ": " + extent + " pixels in four grey levels." + eol +
        " * " + layoutSentence(style.layout) +
        (planesLayout ? eol + " * " + name + "_d: black and dark grey pixels; " + name +
                            "_l: black and light grey pixels."
                      : std::string()) +
        " */" + eol + "#ifndef " + guard + eol + "#define " + guard + eol + eol +
        (lvgl ? "#if defined(LV_LVGL_H_INCLUDE_SIMPLE)" + eol + "#include \"lvgl.h\"" + eol +
                    "#else" + eol + "#include \"lvgl/lvgl.h\"" + eol + "#endif" + eol + eol
              : std::string()) +
        "#define " + name + "_width " + width + eol + "#define " + name + "_height " + height + eol;
    if (style.layout.layout == Layout::Gb) {
        head += "#define " + name + "_tiles " + std::to_string(lines.tiles()) + eol;
    }
    if (mapped(style)) {
        head += "#define " + name + "_map_width " + std::to_string(lines.width() / 8) + eol +
                "#define " + name + "_map_height " + std::to_string(lines.height() / 8) + eol;
    }
    if (lines.framed()) {
        head += "#define " + name + "_frames " + std::to_string(lines.frames()) + eol + "#define " +
                name + "_frame_size " + std::to_string(lines.frameElements(0)) + eol;
        if (lines.masked()) {
            head += "#define " + name + "_m_frame_size " +
                    std::to_string(lines.frameElements(lines.layoutArrays())) + eol;
        }
    }
    const std::string art = style.art && !drawsArt(lines, style) ? noArt(eol) : std::string();
    for (std::size_t a = 0; a < names.size(); ++a) {
        f.before.push_back((a == 0 ? head + eol : eol + "};" + eol + eol) + art + "static const " +
                           (lvgl ? std::string("LV_ATTRIBUTE_MEM_ALIGN uint8_t") : typeOf(a)) +
                           " " + names[a] + "[] = {" + eol);
    }
    f.tail = eol + "};" + eol + eol;
    if (lvgl) {
        // Declared first: a const object is private to its file in C++ otherwise.
        const std::string in = "    ";
        f.tail += "LV_IMAGE_DECLARE(" + name + ");" + eol + "const lv_image_dsc_t " + name +
                  " = {" + eol + in + ".header = {" + eol + in + in +
                  ".magic = LV_IMAGE_HEADER_MAGIC," + eol + in + in + ".cf = LV_COLOR_FORMAT_I2," +
                  eol + in + in + ".flags = 0," + eol + in + in + ".w = " + width + "," + eol + in +
                  in + ".h = " + height + "," + eol + in + in +
                  ".stride = " + std::to_string(lines.plan().perLine) + "," + eol + in + "}," +
                  eol + in + ".data_size = sizeof(" + names[0] + ")," + eol + in +
                  ".data = " + names[0] + "," + eol + "};" + eol + eol;
    }
    f.tail += "#endif" + eol;
    return f;
}

std::size_t entrySize(int bits) {
    return 4 + static_cast<std::size_t>(bits) / 4;
}

std::size_t artSize(const Lines& lines, std::size_t eol) {
    const std::string e(eol, '\n');
    return artHead(e).size() + artTail(e).size() +
           static_cast<std::size_t>(lines.height()) * static_cast<std::size_t>(lines.frames()) *
               (static_cast<std::size_t>(lines.width()) + kArtRowExtra + eol);
}

// The entries of bytes [first, last) of a plane, each preceded by a line break where a line
// starts.
char* putBytes(char* out, const std::vector<std::uint8_t>& plane, std::size_t first,
               std::size_t last, std::size_t perLine, std::string_view eol) {
    std::size_t untilBreak = (perLine - first % perLine) % perLine;
    for (std::size_t k = first; k < last; ++k) {
        if (untilBreak == 0) {
            std::memcpy(out, eol.data(), eol.size());
            out += eol.size();
            untilBreak = perLine;
        }
        --untilBreak;
        out = putEntry(out, plane[k]);
    }
    return out;
}

// One element of 16 or 32 bits, "0xHHHH, " or "0xHHHHHHHH, ".
char* putWide(char* out, std::uint32_t element, int bits) {
    constexpr char digits[] = "0123456789ABCDEF";
    *out++ = '0';
    *out++ = 'x';
    for (int shift = bits - 4; shift >= 0; shift -= 4) {
        *out++ = digits[(element >> shift) & 15u];
    }
    *out++ = ',';
    *out++ = ' ';
    return out;
}

// Whether an array is a byte plane of one picture, written from the plane's bytes whole.
bool wholeBytes(const TextStyle& style, const Lines& lines, int array) {
    return style.layout.layout == Layout::Planes && style.layout.word == 8 && !lines.framed() &&
           !lines.isMask(array);
}

} // namespace

std::size_t arraysTextSize(const Planes& planes, const TextStyle& given) {
    const TextStyle style = effective(planes, given);
    const Lines lines(planes, style);
    const Frame f = frameOf(style, lines);
    std::size_t size = f.tail.size();
    for (std::size_t a = 0; a < f.before.size(); ++a) {
        const int array = static_cast<int>(a);
        ElementPlan plan = lines.plan(array);
        std::size_t count = lines.elements(array);
        std::size_t breaks = lines.lines(array);
        if (wholeBytes(style, lines, array)) {
            // Byte planes are written whole, whatever their extent says.
            count = planes.dark.size();
            breaks = (count + plan.perLine - 1) / plan.perLine;
        }
        size += f.before[a].size() + (!lines.isMask(array) && plan.lead > 0 ? f.eol.size() : 0) +
                f.eol.size() * breaks + entrySize(plan.bits) * count;
        if (drawsArt(lines, style)) {
            size += artSize(lines, f.eol.size());
        }
    }
    return size;
}

std::string writeArrays(const Planes& planes, const TextStyle& style) {
    std::string text;
    text.reserve(arraysTextSize(planes, style));
    writeArraysTo(
        planes,
        [&](std::string_view piece) {
            text.append(piece);
            return true;
        },
        style);
    return text;
}

bool writeArraysTo(const Planes& planes, const std::function<bool(std::string_view)>& sink,
                   const TextStyle& given, const AwaitRows& awaitRows) {
    const TextStyle style = effective(planes, given);
    constexpr std::size_t kPiece = std::size_t{1} << 18;
    // Rows the planes are known to have made so far.
    int made = awaitRows ? 0 : planes.height;
    auto await = [&](int rows) {
        if (made >= rows) {
            return true;
        }
        if (!awaitRows(rows)) {
            return false;
        }
        made = rows;
        return true;
    };
    // A tile map is made of the whole planes before anything is written.
    if (mapped(style) && !await(planes.height)) {
        return false;
    }
    const Lines lines(planes, style);
    const Frame f = frameOf(style, lines);
    std::size_t lineChars = static_cast<std::size_t>(lines.width()) + kArtRowExtra;
    for (int a = 0; a < static_cast<int>(f.before.size()); ++a) {
        lineChars = std::max(lineChars, lines.plan(a).perLine * entrySize(lines.plan(a).bits));
    }
    // Room for a piece and one more line (or art row) after it.
    lineChars += f.eol.size();
    std::vector<char> piece(kPiece + lineChars + 2); // 2: the spare bytes of putEntry()
    std::vector<std::uint32_t> elements;
    char* out = piece.data();
    auto flush = [&](bool always) {
        const auto used = static_cast<std::size_t>(out - piece.data());
        if (used == 0 || (!always && used < kPiece)) {
            return true;
        }
        out = piece.data();
        return sink({piece.data(), used});
    };
    auto put = [&](std::string_view text) {
        std::memcpy(out, text.data(), text.size());
        out += text.size();
    };
    auto art = [&] {
        const std::string eol(f.eol);
        if (!await(planes.height) || !sink(artHead(eol))) {
            return false;
        }
        static constexpr char kChar[] = {'#', '+', '.', ' '};
        std::vector<imaging::Pixel> row(static_cast<std::size_t>(lines.width()));
        // Frame after frame, one below the other.
        for (int frame = 0; frame < lines.frames(); ++frame) {
            const Planes& drawn = lines.frame(frame);
            for (int y = 0; y < lines.height(); ++y) {
                decodeRow(drawn, y, row);
                put(" * |");
                for (const imaging::Pixel p : row) {
                    *out++ = kChar[p == imaging::kBlack       ? 0
                                   : p == imaging::kDarkGrey  ? 1
                                   : p == imaging::kLightGrey ? 2
                                                              : 3];
                }
                put("|");
                put(f.eol);
                if (!flush(false)) {
                    return false;
                }
            }
        }
        return flush(true) && sink(artTail(eol));
    };
    auto array = [&](int a) {
        const ElementPlan& plan = lines.plan(a);
        if (wholeBytes(style, lines, a) && !style.layout.invert && !lsbFirst(style.layout)) {
            // The elements are the plane's own bytes.
            const std::vector<std::uint8_t>& bytes = a == 0 ? planes.dark : planes.light;
            const std::size_t rowBits = planes.rowBits();
            for (std::size_t first = 0; first < bytes.size(); first += kPiece / (kEntry + 2)) {
                const std::size_t last = std::min(bytes.size(), first + kPiece / (kEntry + 2));
                // The rows that have bits in these bytes, the last one's partly.
                const auto rows = static_cast<int>(std::min<std::size_t>(
                    static_cast<std::size_t>(planes.height), (8 * last + rowBits - 1) / rowBits));
                if (!await(rows)) {
                    return false;
                }
                const char* end = putBytes(piece.data(), bytes, first, last, plan.perLine, f.eol);
                if (!sink({piece.data(), static_cast<std::size_t>(end - piece.data())})) {
                    return false;
                }
            }
            return true;
        }
        // The other layouts, frames and the mask read the planes once they are whole.
        if (!await(planes.height)) {
            return false;
        }
        // Frames whose rows are whole bytes of the sheet's rows are written from them, a line a
        // frame row: the planes as they are, a mask held as bits with its polarity an inversion.
        const bool maskArray = lines.isMask(a);
        const LayoutOptions arrayLayout = maskArray ? maskLayout(style.layout) : style.layout;
        const bool bytePlane = arrayLayout.layout == Layout::Planes && arrayLayout.word == 8 &&
                               lines.framed() && !lsbFirst(arrayLayout) &&
                               (maskArray ? !planes.mask.empty() : !arrayLayout.invert);
        if (bytePlane && lines.width() % 8 == 0) {
            const std::vector<std::uint8_t>& plane = maskArray ? planes.mask
                                                     : a == 0  ? planes.dark
                                                               : planes.light;
            const std::uint8_t flip = arrayLayout.invert ? 0xFF : 0x00;
            const auto width = static_cast<std::size_t>(lines.width());
            const std::size_t stride = planes.rowBits() / 8;
            for (int frame = 0; frame < lines.frames(); ++frame) {
                const imaging::FrameOrigin origin =
                    imaging::frameOrigin(style.frames, planes.width, planes.height, frame);
                for (int y = 0; y < lines.height(); ++y) {
                    const std::uint8_t* row = plane.data() +
                                              static_cast<std::size_t>(origin.y + y) * stride +
                                              static_cast<std::size_t>(origin.x) / 8;
                    put(f.eol);
                    for (std::size_t k = 0; k < width / 8; ++k) {
                        out = putEntry(out, row[k] ^ flip);
                    }
                    if (!flush(false)) {
                        return false;
                    }
                }
            }
            return flush(true);
        }
        if (bytePlane && !maskArray) {
            // Each frame's own bytes, a line at a time.
            for (int frame = 0; frame < lines.frames(); ++frame) {
                const std::vector<std::uint8_t>& bytes = a == 0
                                                             ? lines.frame(frame, DarkPlane).dark
                                                             : lines.frame(frame, LightPlane).light;
                for (std::size_t first = 0; first < plan.total; first += plan.perLine) {
                    out = putBytes(out, bytes, first, std::min(plan.total, first + plan.perLine),
                                   plan.perLine, f.eol);
                    if (!flush(false)) {
                        return false;
                    }
                }
            }
            return flush(true);
        }
        if (const auto lead = leadElements(style.layout); !lead.empty() && !lines.isMask(a)) {
            put(f.eol);
            for (const std::uint8_t e : lead) {
                out = putEntry(out, e);
            }
        }
        for (std::size_t line = 0; line < lines.lines(a); ++line) {
            elements.clear();
            lines.line(a, line, elements);
            put(f.eol);
            for (const std::uint32_t e : elements) {
                if (plan.bits == 8) {
                    out = putEntry(out, e);
                } else {
                    out = putWide(out, e, plan.bits);
                }
            }
            if (!flush(false)) {
                return false;
            }
        }
        return flush(true);
    };
    for (std::size_t a = 0; a < f.before.size(); ++a) {
        const std::string& before = f.before[a];
        if (drawsArt(lines, style)) {
            // The drawing goes between the previous array's end and this one's declaration.
            const std::size_t declaration = before.rfind("static const ");
            if (!sink(std::string_view(before).substr(0, declaration)) || !art() ||
                !sink(std::string_view(before).substr(declaration))) {
                return false;
            }
        } else if (!sink(before)) {
            return false;
        }
        if (!array(static_cast<int>(a))) {
            return false;
        }
    }
    return f.tail.empty() || sink(f.tail);
}

bool writeArraysAt(const Planes& planes, const PlacedText& sink, const TextStyle& given,
                   const AwaitRows& awaitRows) {
    const TextStyle style = effective(planes, given);
    std::optional<Lines> lines;
    if (!mapped(style)) {
        lines.emplace(planes, style);
    }
    const bool sideBySide = lines && lines->layoutArrays() == 2 && !lines->masked() &&
                            wholeBytes(style, *lines, 0) && !style.layout.invert &&
                            !lsbFirst(style.layout) && !drawsArt(*lines, style);
    if (!sideBySide) {
        std::size_t at = 0;
        return writeArraysTo(
            planes,
            [&](std::string_view piece) {
                const bool taken = sink(at, piece);
                at += piece.size();
                return taken;
            },
            given, awaitRows);
    }
    const Frame f = frameOf(style, *lines);
    const std::size_t perLine = lines->plan(0).perLine;
    // The text of the first `count` bytes of a plane: their entries and a line break before
    // each line.
    const auto textOf = [&](std::size_t count) {
        return count * kEntry + (count + perLine - 1) / perLine * f.eol.size();
    };
    const std::size_t bytes = planes.dark.size();
    const std::size_t dark = f.before[0].size();
    const std::size_t light = dark + textOf(bytes) + f.before[1].size();
    if (!sink(0, f.before[0]) || !sink(light - f.before[1].size(), f.before[1])) {
        return false;
    }
    constexpr std::size_t kBytes = (std::size_t{1} << 18) / (kEntry + 2);
    std::vector<char> piece(textOf(kBytes) + 2); // 2: the spare bytes of putEntry()
    const std::size_t rowBits = planes.rowBits();
    for (std::size_t first = 0; first < bytes; first += kBytes) {
        const std::size_t last = std::min(bytes, first + kBytes);
        // The rows that have bits in these bytes, the last one's partly.
        const auto rows = static_cast<int>(std::min<std::size_t>(
            static_cast<std::size_t>(planes.height), (8 * last + rowBits - 1) / rowBits));
        if (awaitRows && !awaitRows(rows)) {
            return false;
        }
        for (const auto& [plane, start] : {std::pair{&planes.dark, dark}, {&planes.light, light}}) {
            const char* end = putBytes(piece.data(), *plane, first, last, perLine, f.eol);
            if (!sink(start + textOf(first),
                      {piece.data(), static_cast<std::size_t>(end - piece.data())})) {
                return false;
            }
        }
    }
    return f.tail.empty() || sink(light + textOf(bytes), f.tail);
}

} // namespace ctext
