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

// The lines of each array and their elements: the layout's plan, or a tile map's tiles (a line
// each) and its map (a line a row of tiles).
class Lines {
  public:
    Lines(const Planes& planes, const TextStyle& style)
        : m_planes(planes), m_options(style.layout),
          m_plan(elementPlan(style.layout, planes.width, planes.height)) {
        if (mapped(style)) {
            m_map = tileMapOf(planes);
        }
    }
    const ElementPlan& plan() const { return m_plan; }
    std::size_t lines(int array) const {
        if (!m_map) {
            return m_plan.lines;
        }
        return array == 0 ? m_map->tiles.size()
                          : m_map->map.size() / std::max<std::size_t>(1, m_map->across);
    }
    std::size_t elements(int array) const {
        if (!m_map) {
            return m_plan.total;
        }
        return array == 0 ? m_map->tiles.size() * 16 : m_map->map.size();
    }
    // The different tiles of a map, or the picture's tiles.
    std::size_t tiles() const { return m_map ? m_map->tiles.size() : m_plan.lines; }
    void line(int array, std::size_t line, std::vector<std::uint32_t>& out) const {
        if (!m_map) {
            lineElements(m_planes, m_options, array, line, out);
        } else if (array == 0) {
            out.insert(out.end(), m_map->tiles[line].begin(), m_map->tiles[line].end());
        } else {
            const auto base = static_cast<std::uint32_t>(m_options.tileBase);
            for (std::size_t k = 0; k < m_map->across; ++k) {
                out.push_back((m_map->map[line * m_map->across + k] + base) & 0xFFu);
            }
        }
    }

  private:
    const Planes& m_planes;
    const LayoutOptions& m_options;
    ElementPlan m_plan;
    std::optional<TileMap> m_map;
};

std::string typeName(int bits) {
    return bits == 32 ? "unsigned long" : bits == 16 ? "unsigned short" : "unsigned char";
}

std::vector<std::string> arrayNames(const TextStyle& style) {
    if (mapped(style)) {
        return {style.name, style.name + "_map"};
    }
    if (style.layout.layout == Layout::Lvgl) {
        return {style.name + "_map"};
    }
    if (layoutInfo(style.layout.layout).arrays == 2) {
        return {style.name + "_d", style.name + "_l"};
    }
    return {style.name};
}

// Byte planes are written as they were encoded, padded or not.
TextStyle effective(const Planes& planes, const TextStyle& style) {
    TextStyle actual = style;
    if (actual.layout.layout == Layout::Planes && actual.layout.word == 8) {
        actual.layout.rows = planes.layout;
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
bool drawsArt(const Planes& planes, const TextStyle& style) {
    return style.complete && style.art && planes.width <= kArtWidth;
}
constexpr std::size_t kArtRowExtra = 5; // " * |" and "|"

Frame frameOf(const Planes& planes, const TextStyle& style, const Lines& lines) {
    Frame f;
    f.eol = style.lf ? std::string_view("\n") : std::string_view("\r\n");
    const std::string eol(f.eol);
    const std::string& name = style.name;
    const std::vector<std::string> names = arrayNames(style);
    const std::string type = typeName(elementBits(style.layout));
    // An lvgl picture is always a whole C file.
    const bool lvgl = style.layout.layout == Layout::Lvgl;
    if (!style.complete && !lvgl) {
        for (std::size_t a = 0; a < names.size(); ++a) {
            f.before.push_back((a == 0 ? "" : eol + eol) + "static " + type + " " + names[a] +
                               "[] = {" + eol);
        }
        return f;
    }
    // The name as it is: Logo2 and LOGO2 are two headers and need two guards.
    const std::string guard = "GREYPLANES_" + name + "_H";
    const std::string extent = std::to_string(planes.width) + " x " + std::to_string(planes.height);
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
        "#define " + name + "_width " + std::to_string(planes.width) + eol + "#define " + name +
        "_height " + std::to_string(planes.height) + eol;
    if (style.layout.layout == Layout::Gb) {
        head += "#define " + name + "_tiles " + std::to_string(lines.tiles()) + eol;
    }
    if (mapped(style)) {
        head += "#define " + name + "_map_width " + std::to_string(planes.width / 8) + eol +
                "#define " + name + "_map_height " + std::to_string(planes.height / 8) + eol;
    }
    const std::string art = style.art && !drawsArt(planes, style) ? noArt(eol) : std::string();
    for (std::size_t a = 0; a < names.size(); ++a) {
        f.before.push_back((a == 0 ? head + eol : eol + "};" + eol + eol) + art + "static const " +
                           (lvgl ? std::string("LV_ATTRIBUTE_MEM_ALIGN uint8_t") : type) + " " +
                           names[a] + "[] = {" + eol);
    }
    f.tail = eol + "};" + eol + eol;
    if (lvgl) {
        // Declared first: a const object is private to its file in C++ otherwise.
        const std::string in = "    ";
        f.tail += "LV_IMAGE_DECLARE(" + name + ");" + eol + "const lv_image_dsc_t " + name +
                  " = {" + eol + in + ".header = {" + eol + in + in +
                  ".magic = LV_IMAGE_HEADER_MAGIC," + eol + in + in + ".cf = LV_COLOR_FORMAT_I2," +
                  eol + in + in + ".flags = 0," + eol + in + in +
                  ".w = " + std::to_string(planes.width) + "," + eol + in + in +
                  ".h = " + std::to_string(planes.height) + "," + eol + in + in +
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

std::size_t artSize(const Planes& planes, std::size_t eol) {
    const std::string e(eol, '\n');
    return artHead(e).size() + artTail(e).size() +
           static_cast<std::size_t>(planes.height) *
               (static_cast<std::size_t>(planes.width) + kArtRowExtra + eol);
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

} // namespace

std::size_t arraysTextSize(const Planes& planes, const TextStyle& given) {
    const TextStyle style = effective(planes, given);
    const Lines lines(planes, style);
    const Frame f = frameOf(planes, style, lines);
    ElementPlan plan = lines.plan();
    const bool whole = style.layout.layout == Layout::Planes && plan.bits == 8;
    if (whole) {
        // Byte planes are written whole, whatever their extent says.
        plan.total = planes.dark.size();
        plan.lines = (plan.total + plan.perLine - 1) / plan.perLine;
    }
    std::size_t size = f.tail.size();
    for (std::size_t a = 0; a < f.before.size(); ++a) {
        const int array = static_cast<int>(a);
        size += f.before[a].size() + (plan.lead > 0 ? f.eol.size() : 0) +
                f.eol.size() * (whole ? plan.lines : lines.lines(array)) +
                entrySize(plan.bits) * (whole ? plan.total : lines.elements(array));
        if (drawsArt(planes, style)) {
            size += artSize(planes, f.eol.size());
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
                   const TextStyle& given) {
    const TextStyle style = effective(planes, given);
    constexpr std::size_t kPiece = std::size_t{1} << 18;
    const Lines lines(planes, style);
    const Frame f = frameOf(planes, style, lines);
    const ElementPlan& plan = lines.plan();
    // Byte planes are written from the plane's own bytes, unless their bits are turned.
    const bool bytePlanes = style.layout.layout == Layout::Planes && plan.bits == 8 &&
                            !style.layout.invert && !lsbFirst(style.layout);
    const std::size_t entry = entrySize(plan.bits);
    // Room for a piece and one more line (or art row) after it.
    const std::size_t lineChars =
        std::max(plan.perLine * entry, static_cast<std::size_t>(planes.width) + kArtRowExtra) +
        f.eol.size();
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
        if (!sink(artHead(eol))) {
            return false;
        }
        static constexpr char kChar[] = {'#', '+', '.', ' '};
        std::vector<imaging::Pixel> row(static_cast<std::size_t>(planes.width));
        for (int y = 0; y < planes.height; ++y) {
            decodeRow(planes, y, row);
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
        return flush(true) && sink(artTail(eol));
    };
    auto array = [&](int a) {
        if (bytePlanes) {
            // The elements are the plane's own bytes.
            const std::vector<std::uint8_t>& bytes = a == 0 ? planes.dark : planes.light;
            for (std::size_t first = 0; first < bytes.size(); first += kPiece / (kEntry + 2)) {
                const std::size_t last = std::min(bytes.size(), first + kPiece / (kEntry + 2));
                const char* end = putBytes(piece.data(), bytes, first, last, plan.perLine, f.eol);
                if (!sink({piece.data(), static_cast<std::size_t>(end - piece.data())})) {
                    return false;
                }
            }
            return true;
        }
        if (const auto lead = leadElements(style.layout); !lead.empty()) {
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
        if (drawsArt(planes, style)) {
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

} // namespace ctext
