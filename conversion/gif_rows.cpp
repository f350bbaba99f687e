#include "conversion/gif_rows.h"

#include <algorithm>
#include <cstring>
#include <gif_lib.h>

namespace conversion {
namespace {

using imaging::Pixel;

constexpr int kMaxExtent = 32767;
constexpr Pixel kOpaque = 0xFF000000;
constexpr Pixel kColour = 0x00FFFFFF;
// White and clear: what an index past the palette gives, and a rectangle cleared to the
// background when the frame had a transparent index.
constexpr Pixel kClearWhite = 0x00FFFFFF;

enum Disposal { kLeave = 1, kToBackground = 2, kToPrevious = 3 };

// The row of the frame that its `line`-th row in the file fills: an interlaced frame gives every
// eighth row from 0, every eighth from 4, every fourth from 2, then every second from 1.
int frameRow(int line, int height, bool interlaced) {
    if (!interlaced) {
        return line;
    }
    const int passes[][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
    for (const auto& [start, step] : passes) {
        const int rows = start < height ? (height - start + step - 1) / step : 0;
        if (line < rows) {
            return start + line * step;
        }
        line -= rows;
    }
    return height; // past the frame: not reached for line < height
}

} // namespace

bool looksLikeGif(std::span<const std::uint8_t> head) {
    return head.size() >= 6 && (std::memcmp(head.data(), "GIF87a", 6) == 0 ||
                                std::memcmp(head.data(), "GIF89a", 6) == 0);
}

Pixel GifRows::Palette::colour(int index, int transparent) const {
    Pixel colour = kClearWhite;
    if (index < count) {
        colour = given ? colours[static_cast<std::size_t>(index)] : 0;
    } else if (index == count && !given) {
        colour = 0;
    }
    return index == transparent ? colour & kColour : colour;
}

bool GifRows::alpha() const {
    return form() == RowForm::Pixels ||
           std::any_of(m_lookup.begin(), m_lookup.end(), [](Pixel p) { return p >> 24 != 0xFF; });
}

GifRows::GifRows(bitmap::ByteSource& source, std::string name)
    : m_source(source), m_name(std::move(name)) {}

GifRows::~GifRows() {
    if (m_file != nullptr) {
        int code = 0;
        DGifCloseFile(m_file, &code);
    }
}

int GifRows::readBytes(GifFileType* file, std::uint8_t* bytes, int length) {
    auto& self = *static_cast<GifRows*>(file->UserData);
    const std::size_t got = self.m_source.read({bytes, static_cast<std::size_t>(length)});
    // The screen's flags say how many colours its palette has even where it gives none.
    constexpr std::uint64_t kFlags = 10;
    if (self.m_consumed <= kFlags && kFlags < self.m_consumed + got) {
        self.m_screenFlags = bytes[kFlags - self.m_consumed];
    }
    self.m_consumed += got;
    if (got < static_cast<std::size_t>(length) && !self.m_source.error()) {
        self.m_ended = true;
    }
    return static_cast<int>(got);
}

std::optional<base::Error> GifRows::failure(int code, const std::string& where) const {
    if (code == D_GIF_ERR_NOT_ENOUGH_MEM) {
        return base::noMemory(m_name, "to read the picture");
    }
    if (auto why = m_source.error()) {
        return why;
    }
    // Whatever giflib calls it (a screen it could not read, say), data that ended is the cause.
    if (m_ended) {
        return base::Error{m_name, "the file is truncated: the GIF data ends " + where};
    }
    return base::Error{m_name, std::string("the GIF picture is damaged (") + GifErrorString(code) +
                                   ", " + where + ")"};
}

std::string GifRows::rowPlace(int row) const {
    return "at row " + std::to_string(row) + " of " + std::to_string(m_height);
}

std::optional<base::Error> GifRows::start() {
    if (m_file != nullptr) {
        int code = 0;
        DGifCloseFile(m_file, &code);
        m_file = nullptr;
    }
    m_onCanvas = false;
    if (m_started && !m_source.seek(0)) {
        return base::Error{m_name, "the GIF picture's frames cannot be read again from its start "
                                   "(it is not a file that can be read twice)"};
    }
    m_started = true;
    m_consumed = 0;
    m_ended = false;
    int code = 0;
    m_file = DGifOpen(this, readBytes, &code);
    if (m_file == nullptr) {
        return failure(code, "inside its header");
    }
    m_global = {};
    m_global.count = 2 << (m_screenFlags & 7);
    if (const ColorMapObject* map = m_file->SColorMap) {
        m_global.given = true;
        for (int i = 0; i < std::min(map->ColorCount, 256); ++i) {
            const GifColorType& c = map->Colors[i];
            m_global.colours[static_cast<std::size_t>(i)] =
                kOpaque | c.Red | Pixel{c.Green} << 8 | Pixel{c.Blue} << 16;
        }
    }
    m_background = m_file->SColorMap != nullptr ? m_file->SBackGroundColor : -1;
    m_transparent = -1;
    m_disposal = 0;
    m_disposed = true;
    m_frame = -1;
    m_rect = {};
    return std::nullopt;
}

std::optional<base::Error> GifRows::nextImage(bool& found) {
    found = false;
    const std::string where = "before frame " + std::to_string(m_frame + 2);
    for (;;) {
        GifRecordType type = UNDEFINED_RECORD_TYPE;
        if (DGifGetRecordType(m_file, &type) == GIF_ERROR) {
            return failure(m_file->Error, where);
        }
        if (type == TERMINATE_RECORD_TYPE) {
            return std::nullopt;
        }
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType* block = nullptr;
            if (DGifGetExtension(m_file, &code, &block) == GIF_ERROR) {
                return failure(m_file->Error, where);
            }
            // A control block: how the frame before is undone, and which index is clear in the
            // frames from here on (until another block says otherwise).
            if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 1) {
                dispose();
                m_disposal = (block[1] >> 2) & 7;
                m_transparent = (block[1] & 1) != 0 && block[0] >= 4 ? block[4] : -1;
            }
            while (block != nullptr) {
                if (DGifGetExtensionNext(m_file, &block) == GIF_ERROR) {
                    return failure(m_file->Error, where);
                }
            }
            continue;
        }
        if (type != IMAGE_DESC_RECORD_TYPE) {
            return failure(D_GIF_ERR_WRONG_RECORD, where);
        }
        if (DGifGetImageHeader(m_file) == GIF_ERROR) {
            return failure(m_file->Error, where);
        }
        break;
    }
    found = true;
    dispose();
    const GifImageDesc& image = m_file->Image;
    m_rect = {image.Left, image.Top, image.Width, image.Height};
    m_interlaced = image.Interlace;
    if (const ColorMapObject* map = image.ColorMap) {
        m_palette = {};
        m_palette.given = true;
        m_palette.count = map->ColorCount;
        for (int i = 0; i < std::min(map->ColorCount, 256); ++i) {
            const GifColorType& c = map->Colors[i];
            m_palette.colours[static_cast<std::size_t>(i)] =
                kOpaque | c.Red | Pixel{c.Green} << 8 | Pixel{c.Blue} << 16;
        }
    } else {
        m_palette = m_global;
    }
    ++m_frame;
    for (int i = 0; i < 256; ++i) {
        m_lookup[static_cast<std::size_t>(i)] = m_palette.colour(i, m_transparent);
    }
    if (m_frame == 0) {
        if (m_width == 0 && m_height == 0) {
            // A screen of no size is the first frame's.
            m_width = m_file->SWidth > 0 ? m_file->SWidth : m_rect.left + m_rect.width;
            m_height = m_file->SHeight > 0 ? m_file->SHeight : m_rect.top + m_rect.height;
        }
        m_firstWhole = m_rect.left == 0 && m_rect.top == 0 && m_rect.width >= m_width &&
                       m_rect.height >= m_height;
        m_firstFill = m_firstWhole         ? 0
                      : m_transparent >= 0 ? m_lookup[static_cast<std::size_t>(m_transparent)]
                      : m_background >= 0  ? m_lookup[static_cast<std::size_t>(m_background)]
                                           : 0;
        if (m_onCanvas) {
            fill(0, 0, m_width, m_height, m_firstFill);
        }
    }
    if (m_onCanvas && m_disposal == kToPrevious) {
        // What the frame covers, to be put back when the next frame comes.
        const int left = std::min(m_width - 1, m_rect.left);
        const int top = std::min(m_height - 1, m_rect.top);
        const int width = std::min(m_width - 1, m_rect.left + m_rect.width - 1) - left + 1;
        const int height = std::min(m_height - 1, m_rect.top + m_rect.height - 1) - top + 1;
        m_saved.clear();
        for (int y = top; y < top + height; ++y) {
            const Pixel* row = m_canvas.data() + static_cast<std::size_t>(y) * m_width;
            m_saved.insert(m_saved.end(), row + left, row + left + std::max(width, 0));
        }
    }
    m_disposed = false;
    return std::nullopt;
}

void GifRows::fill(int left, int top, int width, int height, Pixel colour) {
    for (int y = top; y < top + height; ++y) {
        Pixel* row = m_canvas.data() + static_cast<std::size_t>(y) * m_width;
        std::fill(row + left, row + left + width, colour);
    }
}

void GifRows::dispose() {
    if (m_disposed) {
        return;
    }
    // The frame's rectangle on the screen; one that starts past the screen's edge still takes
    // the edge's last column or row, as Qt's reader does.
    const int left = std::min(m_width - 1, m_rect.left);
    const int top = std::min(m_height - 1, m_rect.top);
    const int width = std::min(m_width - 1, m_rect.left + m_rect.width - 1) - left + 1;
    const int height = std::min(m_height - 1, m_rect.top + m_rect.height - 1) - top + 1;
    if (m_onCanvas && m_disposal == kToBackground) {
        const Pixel colour = m_transparent >= 0  ? kClearWhite
                             : m_background >= 0 ? m_palette.colour(m_background, m_transparent)
                                                 : m_canvas[0];
        fill(left, top, width, height, colour);
    } else if (m_onCanvas && m_disposal == kToPrevious && width > 0) {
        for (int y = 0; y < height; ++y) {
            std::copy_n(m_saved.data() + static_cast<std::size_t>(y) * width, width,
                        m_canvas.data() + static_cast<std::size_t>(top + y) * m_width + left);
        }
    }
    m_disposal = 0;
    m_disposed = true;
}

std::optional<base::Error> GifRows::skipImage() {
    const std::string where = "in frame " + std::to_string(m_frame + 1);
    int size = 0;
    GifByteType* block = nullptr;
    if (DGifGetCode(m_file, &size, &block) == GIF_ERROR) {
        return failure(m_file->Error, where);
    }
    while (block != nullptr) {
        if (DGifGetCodeNext(m_file, &block) == GIF_ERROR) {
            return failure(m_file->Error, where);
        }
    }
    return std::nullopt;
}

std::optional<base::Error> GifRows::readFrameLines(
    const std::function<void(int frameRow, const std::uint8_t* indices)>& take) {
    if (m_rect.width == 0 || m_rect.height == 0) {
        return skipImage();
    }
    m_line.resize(static_cast<std::size_t>(m_rect.width));
    for (int line = 0; line < m_rect.height; ++line) {
        if (DGifGetLine(m_file, m_line.data(), m_rect.width) == GIF_ERROR) {
            return failure(m_file->Error, "in frame " + std::to_string(m_frame + 1) + " after " +
                                              std::to_string(line) + " of its " +
                                              std::to_string(m_rect.height) + " rows");
        }
        take(frameRow(line, m_rect.height, m_interlaced), m_line.data());
    }
    return std::nullopt;
}

std::optional<base::Error> GifRows::drawFrame() {
    const int end = std::min(m_rect.left + m_rect.width, m_width);
    return readFrameLines([&](int row, const std::uint8_t* indices) {
        const int y = m_rect.top + row;
        if (y >= m_height) {
            return;
        }
        Pixel* line = m_canvas.data() + static_cast<std::size_t>(y) * m_width;
        for (int x = m_rect.left; x < end; ++x) {
            const std::uint8_t index = indices[x - m_rect.left];
            // The first frame is drawn whole; a later one leaves the screen under its clear index.
            if (m_frame == 0 || index != m_transparent) {
                line[x] = m_lookup[index];
            }
        }
    });
}

// A failed call leaves the decoder anywhere in the file: rows are refused until a call succeeds.
std::optional<base::Error> GifRows::settle(std::optional<base::Error> outcome) {
    m_broken = outcome;
    return outcome;
}

std::optional<base::Error> GifRows::open(std::uint64_t heldBudget) {
    m_budget = heldBudget;
    return settle(openFirst());
}

std::optional<base::Error> GifRows::openFirst() {
    if (auto failed = start()) {
        return failed;
    }
    bool found = false;
    if (auto failed = nextImage(found)) {
        return failed;
    }
    if (!found) {
        return base::Error{m_name, "the GIF file has no picture in it"};
    }
    const std::string size = std::to_string(m_width) + " × " + std::to_string(m_height) + " pixels";
    if (m_width <= 0 || m_height <= 0) {
        return base::Error{m_name, "the picture has no pixels (" + size + ")"};
    }
    if (m_width > kMaxExtent || m_height > kMaxExtent) {
        return base::Error{m_name, "the picture is too large (" + size +
                                       "; at most 32767 pixels wide and high are supported)"};
    }
    m_row.assign(static_cast<std::size_t>(m_width), 0);
    m_line.resize(static_cast<std::size_t>(m_rect.width));
    m_next = 0;
    m_frameRowsRead = 0;
    if (!m_interlaced) {
        return std::nullopt;
    }
    // An interlaced frame's rows come in passes: its visible indices are held.
    const int width = std::max(0, std::min(m_rect.left + m_rect.width, m_width) - m_rect.left);
    const int height = std::max(0, std::min(m_rect.top + m_rect.height, m_height) - m_rect.top);
    const std::uint64_t held = std::uint64_t(width) * static_cast<std::uint64_t>(height);
    if (held > m_budget) {
        return base::Error{m_name, "the picture is too large to decode whole (" + size +
                                       ", interlaced, take " + std::to_string(held) +
                                       " bytes; at most " + std::to_string(m_budget) +
                                       " bytes are allowed)"};
    }
    m_indices.assign(held, 0);
    return readFrameLines([&](int row, const std::uint8_t* indices) {
        if (row < height) {
            std::copy_n(indices, width, m_indices.data() + static_cast<std::size_t>(row) * width);
        }
    });
}

std::optional<base::Error> GifRows::holdCanvas() {
    const std::uint64_t held = std::uint64_t(m_width) * static_cast<std::uint64_t>(m_height) * 4;
    if (held > m_budget) {
        return base::Error{m_name, "the picture is too large to compose its frames (" +
                                       std::to_string(m_width) + " × " + std::to_string(m_height) +
                                       " pixels take " + std::to_string(held) + " bytes; at most " +
                                       std::to_string(m_budget) + " bytes are allowed)"};
    }
    m_canvas.assign(static_cast<std::size_t>(m_width) * static_cast<std::size_t>(m_height), 0);
    m_onCanvas = true;
    return std::nullopt;
}

std::optional<base::Error> GifRows::composeTo(int index) {
    while (m_frame < index) {
        bool found = false;
        auto failed = nextImage(found);
        if (!failed && !found) {
            failed =
                base::Error{m_name, "the GIF picture has no frame " + std::to_string(index + 1) +
                                        " (it has " + std::to_string(m_frame + 1) + ")"};
        }
        if (!failed) {
            failed = drawFrame();
        }
        if (failed) {
            m_onCanvas = false; // read again from the start next time
            return failed;
        }
    }
    return std::nullopt;
}

std::optional<base::Error> GifRows::selectFrame(int index) {
    return settle(select(index));
}

std::optional<base::Error> GifRows::select(int index) {
    if (index < 0) {
        return base::Error{m_name, "there is no frame " + std::to_string(index)};
    }
    m_selected = index;
    m_next = 0;
    if (!m_onCanvas || m_frame > index) {
        if (auto failed = start()) {
            return failed;
        }
        if (auto failed = holdCanvas()) {
            return failed;
        }
    }
    return composeTo(index);
}

base::Result<int> GifRows::frames() {
    if (m_frameCount < 0) {
        const bool onCanvas = m_onCanvas;
        int count = 0;
        auto failed = start();
        for (bool found = true; !failed && found;) {
            failed = nextImage(found);
            if (!failed && found) {
                ++count;
                failed = skipImage();
            }
        }
        if (settle(failed)) {
            return std::move(*failed);
        }
        m_frameCount = count;
        if (auto again = settle(onCanvas ? select(m_selected) : openFirst())) {
            return std::move(*again);
        }
    }
    return m_frameCount;
}

std::optional<base::Error> GifRows::next(SourceRow& row) {
    if (m_broken) {
        return m_broken;
    }
    row.y = m_next++;
    if (m_onCanvas) {
        row.bytes = reinterpret_cast<const std::uint8_t*>(
            m_canvas.data() + static_cast<std::size_t>(row.y) * m_width);
        return std::nullopt;
    }
    const int frameRow = row.y - m_rect.top;
    const int end = std::min(m_rect.left + m_rect.width, m_width);
    if (frameRow < 0 || frameRow >= m_rect.height || m_rect.left >= end) {
        std::fill(m_row.begin(), m_row.end(), m_firstFill);
        row.bytes = reinterpret_cast<const std::uint8_t*>(m_row.data());
        return std::nullopt;
    }
    const std::uint8_t* indices = nullptr;
    if (m_interlaced) {
        indices = m_indices.data() + static_cast<std::size_t>(frameRow) * (end - m_rect.left);
    } else {
        for (; m_frameRowsRead <= frameRow; ++m_frameRowsRead) {
            if (DGifGetLine(m_file, m_line.data(), m_rect.width) == GIF_ERROR) {
                return failure(m_file->Error, rowPlace(row.y));
            }
        }
        indices = m_line.data();
    }
    if (m_firstWhole) {
        row.bytes = indices; // the palette gives their colours
        return std::nullopt;
    }
    std::fill(m_row.begin(), m_row.begin() + m_rect.left, m_firstFill);
    std::transform(indices, indices + (end - m_rect.left), m_row.begin() + m_rect.left,
                   [&](std::uint8_t index) { return m_lookup[index]; });
    std::fill(m_row.begin() + end, m_row.end(), m_firstFill);
    row.bytes = reinterpret_cast<const std::uint8_t*>(m_row.data());
    return std::nullopt;
}

} // namespace conversion
