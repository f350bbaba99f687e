// libFuzzer target: the C-text reader, over raw text and over the text the writer makes.

#include "ctext/c_array_reader.h"
#include "ctext/c_array_writer.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <string_view>

namespace {

using namespace ctext;
using namespace imaging;

// A declared size may ask for the whole default budget from a few bytes; this keeps one input
// within the fuzzer's malloc limit while reaching the same refusal.
constexpr std::uint64_t kBudget = std::uint64_t{16} << 20;

void check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The text through a read function that hands it over in pieces of 1 to 16 bytes, the sizes
// taken from the text itself, so that buffer refills fall inside every kind of token.
base::Result<CText> readInPieces(std::string_view text) {
    std::size_t turn = 0;
    const std::string_view all = text;
    return readCText(
        [&](std::span<char> room) -> std::ptrdiff_t {
            const std::size_t want =
                all.empty() ? 1 : 1 + static_cast<unsigned char>(all[turn++ % all.size()]) % 16;
            const std::size_t n = std::min({text.size(), room.size(), want});
            std::copy_n(text.data(), n, room.data());
            text.remove_prefix(n);
            return static_cast<std::ptrdiff_t>(n);
        },
        kBudget);
}

bool same(const CText& a, const CText& b) {
    if (a.arrays.size() != b.arrays.size() || a.defines != b.defines ||
        a.firstComment != b.firstComment) {
        return false;
    }
    for (std::size_t k = 0; k < a.arrays.size(); ++k) {
        const CArray& x = a.arrays[k];
        const CArray& y = b.arrays[k];
        if (x.name != y.name || x.elementBits != y.elementBits || x.line != y.line ||
            x.declaredSize != y.declaredSize || x.data != y.data) {
            return false;
        }
    }
    return true;
}

// Any text: read or refused with a reason, the same in one piece and in many.
void raw(std::string_view text) {
    const auto whole = readCText(text, kBudget);
    const auto pieces = readInPieces(text);
    if (const auto* e = std::get_if<base::Error>(&whole)) {
        check(!e->reason.empty());
        check(std::holds_alternative<base::Error>(pieces) &&
              std::get<base::Error>(pieces).reason == e->reason);
        return;
    }
    check(std::holds_alternative<CText>(pieces) &&
          same(std::get<CText>(whole), std::get<CText>(pieces)));
    for (const CArray& a : std::get<CText>(whole).arrays) {
        check(a.elementBits == 8 || a.elementBits == 16 || a.elementBits == 32);
        check(a.data.size() % static_cast<std::size_t>(a.elementBits / 8) == 0);
        check(!a.declaredSize || *a.declaredSize == a.size());
    }
}

// The layouts and options the writer has, one of them chosen by a byte.
LayoutOptions layoutOf(unsigned choice) {
    LayoutOptions o;
    switch (choice % 6) {
    case 0:
    case 1:
        o.layout = Layout::Planes;
        o.rows = choice & 8 ? RowLayout::Padded : RowLayout::Packed;
        o.word = choice & 16 ? 16 : choice & 32 ? 32 : 8;
        o.invert = choice & 64;
        o.bitOrder = choice & 128 ? BitOrder::Lsb : BitOrder::Default;
        break;
    case 2:
    case 3:
        o.layout = Layout::Gb;
        o.rows = RowLayout::Padded;
        o.tileOrder = choice & 8    ? TileOrder::Columns
                      : choice & 16 ? TileOrder::Tall8x16
                                    : TileOrder::Rows;
        break;
    default:
        o.layout = choice & 128      ? Layout::Pages
                   : choice % 6 == 4 ? Layout::Packed2
                                     : Layout::Nibble4;
        o.rows = RowLayout::Padded;
        o.invert = choice & 8;
        o.bitOrder = choice & 64 ? BitOrder::Lsb : BitOrder::Msb;
        break;
    }
    return o;
}

// Planes from the bytes, written in the layout and style the first bytes choose, read back
// exactly: the elements the layout lays out, under the writer's names.
void planes(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < 5) {
        return;
    }
    const LayoutOptions layout = layoutOf(bytes[4]);
    int width = 1 + (bytes[0] | (bytes[1] & 1) << 8);
    int height = 1 + bytes[2] % 48;
    if (layout.layout == Layout::Gb) {
        width = (width + 7) / 8 * 8;
        height = (height + 15) / 16 * 16;
    }
    if (extentProblem(layout, width, height)) {
        std::abort();
    }
    const unsigned dress = bytes[3];
    Planes p = makePlanes(width, height, planesRowLayout(layout));
    for (std::size_t k = 0; k < p.dark.size(); ++k) {
        p.dark[k] = bytes[(5 + 2 * k) % bytes.size()];
        p.light[k] = bytes[(6 + 2 * k) % bytes.size()];
    }
    TextStyle style;
    style.layout = layout;
    style.lf = dress & 2;
    style.complete = dress & 4;
    style.art = dress & 32;
    style.name = dress & 8 ? "logo_2" : "Untitled";
    style.source = "in\x1b*/.bmp";
    const std::string text = writeArrays(p, style);
    const auto read = dress & 16 ? readInPieces(text) : readCText(text, kBudget);
    check(std::holds_alternative<CText>(read));
    const CText& t = std::get<CText>(read);
    const int arrays = layoutInfo(layout.layout).arrays;
    check(t.arrays.size() == static_cast<std::size_t>(arrays));
    const ElementPlan plan = elementPlan(layout, width, height);
    std::vector<std::uint32_t> want;
    for (int a = 0; a < arrays; ++a) {
        const CArray& got = t.arrays[static_cast<std::size_t>(a)];
        check(got.name == (arrays == 1 ? style.name : style.name + (a == 0 ? "_d" : "_l")));
        check(got.elementBits == plan.bits);
        want.clear();
        for (std::size_t line = 0; line < plan.lines; ++line) {
            lineElements(p, layout, a, line, want);
        }
        check(got.size() == want.size());
        for (std::size_t i = 0; i < want.size(); ++i) {
            check(got.at(i) == want[i]);
        }
    }
    check(t.defines.size() == (style.complete ? (layout.layout == Layout::Gb ? 3u : 2u) : 0u));
}

} // namespace

// Every input is raw text, so that a kept input replays as the text it is; half of them also
// make planes (writing them costs more than reading).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    raw({reinterpret_cast<const char*>(data), size});
    if (size > 0 && (data[0] & 1) != 0) {
        planes({data, size});
    }
    return 0;
}
