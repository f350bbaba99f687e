#include "conversion/output.h"

#include "bitmap/writer.h"
#include "ctext/layout.h"

#include <algorithm>
#include <exception>
#include <new>
#include <optional>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace conversion {
namespace {

// What could not be done for want of memory.
constexpr std::string_view kWriting = "to write it";

// Row y's dark and light bits, starting on a byte: straight from the planes when the row
// starts on one, else gathered into the two buffers.
std::pair<const std::uint8_t*, const std::uint8_t*> rowBits(const imaging::Planes& planes, int y,
                                                            std::vector<std::uint8_t>& dark,
                                                            std::vector<std::uint8_t>& light) {
    const std::size_t offset = static_cast<std::size_t>(y) * planes.rowBits();
    if (offset % 8 == 0) {
        return {planes.dark.data() + offset / 8, planes.light.data() + offset / 8};
    }
    imaging::rowBytes(planes, y, dark, light);
    return {dark.data(), light.data()};
}

// Row y's mask bits, starting on a byte, as rowBits() gives the levels'.
const std::uint8_t* maskBits(const imaging::Planes& planes, int y,
                             std::vector<std::uint8_t>& opaque) {
    const std::size_t offset = static_cast<std::size_t>(y) * planes.rowBits();
    if (offset % 8 == 0) {
        return planes.mask.data() + offset / 8;
    }
    for (std::size_t k = 0; k + 1 < opaque.size(); ++k) {
        opaque[k] = static_cast<std::uint8_t>(imaging::eightBitsAt(planes.mask, offset + 8 * k));
    }
    return opaque.data();
}

bool fileOfItsOwn(const Target& target) {
    if (target.isStandardOutput() || platform::namesStandardOutput(target.path)) {
        return false;
    }
    struct stat there {};
    return ::stat(target.path.c_str(), &there) != 0 || S_ISREG(there.st_mode);
}

} // namespace

std::optional<base::Error> writeText(const imaging::Planes& planes, const ctext::TextStyle& style,
                                     const Target& target, platform::Durability durability) {
    // Nothing is written for a picture that the layout cannot hold.
    if (const auto refused = ctext::planesProblem(style.layout, planes)) {
        return base::Error{style.source, *refused};
    }
    return platform::saveFile(
        target.path,
        [&](const platform::ByteSink& sink) -> std::optional<base::Error> {
            try {
                // A piece the sink refused is the save's to report.
                ctext::writeArraysTo(planes, sink, style);
            } catch (const std::bad_alloc&) {
                return base::noMemory({}, kWriting);
            }
            return std::nullopt;
        },
        durability);
}

TextBeside::TextBeside(const ctext::TextStyle& style, Target target)
    : m_style(style), m_target(std::move(target)) {}

TextBeside::~TextBeside() {
    ended(false);
}

bool TextBeside::beside(const Target& target) {
    return fileOfItsOwn(target);
}

void TextBeside::started(const imaging::Planes& planes) {
    // A picture the layout cannot hold is refused by the writing after the conversion.
    if (ctext::planesProblem(m_style.layout, planes, m_style.frames)) {
        return;
    }
    try {
        m_thread.emplace([this, &planes] {
            std::optional<base::Error> failure;
            try {
                failure = platform::saveFileAt(
                    m_target.path,
                    [&](const platform::PlacedSink& sink) -> std::optional<base::Error> {
                        bool abandoned = false;
                        try {
                            // A piece the sink refused is the save's to report.
                            ctext::writeArraysAt(planes, sink, m_style, [&](int rows) {
                                abandoned = !awaitRows(rows);
                                return !abandoned;
                            });
                        } catch (const std::bad_alloc&) {
                            return base::noMemory({}, kWriting);
                        }
                        if (abandoned) {
                            // The save then leaves no file, nor a changed one.
                            return base::Error{{}, "the picture was not converted"};
                        }
                        return std::nullopt;
                    });
            } catch (const std::bad_alloc&) {
                failure = base::noMemory(m_target.path, kWriting);
            } catch (...) {
                m_thrown = std::current_exception();
            }
            const std::lock_guard lock(m_mutex);
            m_failure = std::move(failure);
        });
    } catch (const std::system_error&) {
        // No thread to be had: the text is written after the conversion.
    }
}

void TextBeside::made(int rows) {
    const std::lock_guard lock(m_mutex);
    m_made = rows;
    // Woken once the rows it waits for are made, not at every row.
    if (m_wanted != 0 && rows >= m_wanted) {
        m_wanted = 0;
        m_changed.notify_one();
    }
}

void TextBeside::ended(bool whole) {
    if (!m_thread) {
        return;
    }
    {
        const std::lock_guard lock(m_mutex);
        if (!m_ended) {
            m_ended = true;
            m_whole = whole;
            m_changed.notify_one();
        }
    }
    m_thread.reset(); // joins
    m_written = m_whole;
    if (m_written && m_thrown) {
        std::rethrow_exception(std::exchange(m_thrown, nullptr));
    }
}

bool TextBeside::awaitRows(int rows) {
    std::unique_lock lock(m_mutex);
    while (!m_ended && m_made < rows) {
        m_wanted = rows;
        m_changed.wait(lock);
    }
    return !m_ended || m_whole;
}

std::optional<base::Error> writePicture(const imaging::Planes& planes, const Target& target,
                                        std::uint32_t transparent,
                                        platform::Durability durability) {
    return platform::saveFile(
        target.path,
        [&](const platform::ByteSink& sink) -> std::optional<base::Error> {
            try {
                std::vector<std::uint8_t> dark((static_cast<std::size_t>(planes.width) + 7) / 8);
                std::vector<std::uint8_t> light(dark.size());
                std::vector<std::uint8_t> opaque;
                std::optional<bitmap::Transparency> transparency;
                if (!planes.mask.empty()) {
                    opaque.resize(dark.size() + 1);
                    transparency = bitmap::Transparency{
                        transparent, [&](int y) { return maskBits(planes, y, opaque); }};
                }
                // A piece the sink refused is the save's to report.
                bitmap::writeLevelBitmap(
                    planes.width, planes.height, imaging::kLevelPalette,
                    [&](int y) { return rowBits(planes, y, dark, light); }, sink,
                    transparency ? &*transparency : nullptr);
            } catch (const std::bad_alloc&) {
                return base::noMemory({}, kWriting);
            }
            return std::nullopt;
        },
        durability);
}

bool separateFiles(const Target& text, const Target& picture) {
    return text.path != picture.path && fileOfItsOwn(text) && fileOfItsOwn(picture);
}

Written writeTextAndPicture(const imaging::Planes& planes, const ctext::TextStyle& style,
                            const Target& text, const Target& picture, std::uint32_t transparent) {
    Written written;
    if (!separateFiles(text, picture)) {
        written.text = writeText(planes, style, text);
        written.picture = writePicture(planes, picture, transparent);
        return written;
    }
    std::exception_ptr thrown;
    std::optional<std::jthread> worker;
    try {
        worker.emplace([&] {
            try {
                written.picture = writePicture(planes, picture, transparent);
            } catch (...) {
                thrown = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        // No thread to be had: the same work on this one.
        written.text = writeText(planes, style, text);
        written.picture = writePicture(planes, picture, transparent);
        return written;
    }
    written.text = writeText(planes, style, text);
    worker.reset(); // joins
    if (thrown) {
        std::rethrow_exception(thrown);
    }
    return written;
}

} // namespace conversion
