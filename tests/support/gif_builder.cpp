#include "support/gif_builder.h"

#include <gif_lib.h>

namespace testing_support {
namespace {

int append(GifFileType* file, const GifByteType* bytes, int length) {
    auto& out = *static_cast<std::vector<std::uint8_t>*>(file->UserData);
    out.insert(out.end(), bytes, bytes + length);
    return length;
}

// A palette's entries, padded to the power of two a GIF stores; null for none.
ColorMapObject* makeMap(const std::vector<std::uint8_t>& rgb) {
    if (rgb.empty()) {
        return nullptr;
    }
    const int colours = static_cast<int>(rgb.size() / 3);
    int stored = 2;
    while (stored < colours) {
        stored *= 2;
    }
    ColorMapObject* map = GifMakeMapObject(stored, nullptr);
    for (int i = 0; i < stored; ++i) {
        const bool given = i < colours;
        map->Colors[i] = {given ? rgb[3 * i] : std::uint8_t{0},
                          given ? rgb[3 * i + 1] : std::uint8_t{0},
                          given ? rgb[3 * i + 2] : std::uint8_t{0}};
    }
    return map;
}

} // namespace

std::vector<std::uint8_t> writeGif(const GifPicture& picture) {
    std::vector<std::uint8_t> out;
    int code = 0;
    GifFileType* file = EGifOpen(&out, append, &code);
    if (file == nullptr) {
        return {};
    }
    EGifSetGifVersion(file, true);
    ColorMapObject* screen = makeMap(picture.palette);
    bool ok = EGifPutScreenDesc(file, picture.width, picture.height, 8, picture.background,
                                screen) == GIF_OK;
    GifFreeMapObject(screen);
    for (const GifFrame& frame : picture.frames) {
        if (!ok) {
            break;
        }
        if (frame.control) {
            const GifByteType control[4] = {
                static_cast<GifByteType>(frame.disposal << 2 | (frame.transparent >= 0 ? 1 : 0)), 0,
                0, static_cast<GifByteType>(frame.transparent >= 0 ? frame.transparent : 0)};
            ok = EGifPutExtension(file, GRAPHICS_EXT_FUNC_CODE, 4, control) == GIF_OK;
        }
        ColorMapObject* local = makeMap(frame.palette);
        if (local == nullptr && file->Image.ColorMap != nullptr) {
            // giflib drops the frame before's palette here without freeing it.
            GifFreeMapObject(file->Image.ColorMap);
            file->Image.ColorMap = nullptr;
        }
        ok = ok && EGifPutImageDesc(file, frame.left, frame.top, frame.width, frame.height,
                                    frame.interlaced, local) == GIF_OK;
        GifFreeMapObject(local);
        // An interlaced frame's rows go in its four passes.
        std::vector<int> rows;
        const int passes[][2] = {{0, 8}, {4, 8}, {2, 4}, {1, 2}};
        for (const auto& [start, step] : passes) {
            for (int y = frame.interlaced ? start : 0; y < frame.height;
                 y += frame.interlaced ? step : 1) {
                rows.push_back(y);
            }
            if (!frame.interlaced) {
                break;
            }
        }
        for (const int y : rows) {
            std::vector<GifPixelType> line(frame.indices.begin() + y * frame.width,
                                           frame.indices.begin() + (y + 1) * frame.width);
            ok = ok && EGifPutLine(file, line.data(), frame.width) == GIF_OK;
        }
    }
    if (EGifCloseFile(file, &code) != GIF_OK || !ok) {
        return {};
    }
    return out;
}

} // namespace testing_support
