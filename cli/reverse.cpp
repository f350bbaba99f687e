#include "cli/reverse.h"

#include "cli/messages.h"
#include "conversion/output.h"
#include "imaging/c_array_reader.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {
namespace {

void report(std::FILE* errors, const std::string& file, const std::string& reason) {
    printError(errors, base::Error{file, reason});
}

// The C text of the file, read in a bounded buffer, or the reason it cannot be read.
base::Result<imaging::CText> readText(const std::string& name) {
    auto readFrom = [](int fd) {
        return imaging::readCText([fd](std::span<char> room) -> std::ptrdiff_t {
            return ::read(fd, room.data(), room.size());
        });
    };
    if (name == kStandardStream) {
        auto text = readFrom(STDIN_FILENO);
        if (auto* error = std::get_if<base::Error>(&text)) {
            error->file = "standard input";
        }
        return text;
    }
    const int fd = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        return base::Error{name, std::strerror(error)};
    }
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    if (S_ISDIR(st.st_mode)) {
        return base::Error{name, "is a folder"};
    }
    // A device or a pipe could run for ever; C text is a file.
    if (!S_ISREG(st.st_mode)) {
        return base::Error{name, "is not a regular file"};
    }
    auto text = readFrom(fd);
    if (auto* error = std::get_if<base::Error>(&text)) {
        error->file = name;
    }
    return text;
}

bool endsWith(const std::string& s, std::string_view end) {
    return s.size() >= end.size() && s.compare(s.size() - end.size(), end.size(), end) == 0;
}

// The value of `#define NAME`, or 0 where there is none.
std::uint64_t defined(const imaging::CText& text, const std::string& name) {
    for (const auto& [n, value] : text.defines) {
        if (n == name) {
            return value;
        }
    }
    return 0;
}

} // namespace

int reverse(const Options& options, std::FILE* errors) {
    if (options.textOutput.empty() && ::isatty(STDOUT_FILENO)) {
        std::fprintf(errors, "greyplanes-cli: -r writes a bitmap; give -o FILE or redirect "
                             "standard output\nTry 'greyplanes-cli --help' for more.\n");
        return 2;
    }
    const std::string input =
        options.input == kStandardStream ? std::string("standard input") : options.input;
    auto read = readText(options.input);
    if (auto* error = std::get_if<base::Error>(&read)) {
        printError(errors, *error);
        return 1;
    }
    imaging::CText& text = std::get<imaging::CText>(read);
    if (text.arrays.size() != 2) {
        report(errors, input,
               text.arrays.empty() ? "no array of bytes in it"
               : text.arrays.size() > 2
                   ? std::to_string(text.arrays.size()) + " arrays in it, not two"
                   : "only one array (" + imaging::excerpt(text.arrays[0].name) +
                         ") in it, not two");
        return 1;
    }
    imaging::CArray* dark = &text.arrays[0];
    imaging::CArray* light = &text.arrays[1];
    if (endsWith(dark->name, "_l") && endsWith(light->name, "_d")) {
        std::swap(dark, light);
    }
    for (const imaging::CArray* a : {dark, light}) {
        if (a->elementBits != 8) {
            report(errors, input,
                   "line " + std::to_string(a->line) + ": " + imaging::excerpt(a->name) +
                       ": its elements are of " + std::to_string(a->elementBits) +
                       " bits, not bytes");
            return 1;
        }
    }
    if (dark->data.size() != light->data.size()) {
        report(errors, input,
               imaging::excerpt(dark->name) + " holds " + std::to_string(dark->data.size()) +
                   " bytes and " + imaging::excerpt(light->name) + " " +
                   std::to_string(light->data.size()) + ": the planes must be as long");
        return 1;
    }
    const std::string prefix =
        endsWith(dark->name, "_d") ? dark->name.substr(0, dark->name.size() - 2) : std::string();
    const std::uint64_t width = prefix.empty() ? 0 : defined(text, prefix + "_width");
    const std::uint64_t height = prefix.empty() ? 0 : defined(text, prefix + "_height");
    if (width != 0 && width != static_cast<std::uint64_t>(options.reverseWidth)) {
        report(errors, input,
               imaging::excerpt(prefix) + "_width is " + std::to_string(width) +
                   ", not the -r WIDTH " + std::to_string(options.reverseWidth));
        return 2;
    }
    imaging::Planes planes{options.reverseWidth, 0, options.style.layout.rows, {}, {}};
    std::size_t rows = dark->data.size() * 8 / planes.rowBits();
    // Packed rows narrower than a byte cannot tell the fill bits of the last byte from white
    // rows; a complete text says how many rows there are, and its planes hold exactly them.
    if (height > 0) {
        const std::uint64_t wanted = height > 32767 ? 0 : (height * planes.rowBits() + 7) / 8;
        if (wanted == 0 || wanted > dark->data.size()) {
            report(errors, input,
                   imaging::excerpt(prefix) + "_height is " + std::to_string(height) +
                       ", but its planes hold only " + std::to_string(rows) + " rows");
            return 1;
        }
        if (wanted < dark->data.size()) {
            report(errors, input,
                   imaging::excerpt(prefix) + "_height is " + std::to_string(height) +
                       ", but its planes hold " + std::to_string(dark->data.size()) +
                       " bytes, more than the " + std::to_string(wanted) + " of " +
                       std::to_string(height) + " rows");
            return 1;
        }
        rows = static_cast<std::size_t>(height);
    }
    if (options.reverseHeight > 0) {
        if (height > 0 && height != static_cast<std::uint64_t>(options.reverseHeight)) {
            report(errors, input,
                   imaging::excerpt(prefix) + "_height is " + std::to_string(height) +
                       ", not the -r HEIGHT " + std::to_string(options.reverseHeight));
            return 2;
        }
        if (static_cast<std::size_t>(options.reverseHeight) > rows) {
            report(errors, input,
                   "its planes hold only " + std::to_string(rows) + " rows of " +
                       std::to_string(options.reverseWidth) + " pixels, not the -r HEIGHT " +
                       std::to_string(options.reverseHeight));
            return 1;
        }
        rows = static_cast<std::size_t>(options.reverseHeight);
    }
    if (rows == 0) {
        report(errors, input,
               "its planes hold " + std::to_string(dark->data.size()) +
                   (dark->data.size() == 1 ? " byte" : " bytes") + ", fewer than one row of " +
                   std::to_string(options.reverseWidth) + " pixels needs (" +
                   std::to_string((planes.rowBits() + 7) / 8) + ")");
        return 1;
    }
    if (rows > 32767) {
        report(errors, input,
               "its planes hold " + std::to_string(rows) + " rows of " +
                   std::to_string(options.reverseWidth) + " pixels; a picture has at most 32767");
        return 1;
    }
    // A trailing fill shorter than one row is not part of the picture.
    planes.height = static_cast<int>(rows);
    planes.dark = std::move(dark->data);
    planes.light = std::move(light->data);
    planes.dark.resize(planes.planeBytes());
    planes.light.resize(planes.planeBytes());
    if (const auto failure =
            conversion::writePicture(planes, conversion::Target{options.textOutput})) {
        printError(errors, *failure);
        return 1;
    }
    return 0;
}

} // namespace cli
