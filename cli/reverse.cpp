#include "cli/reverse.h"

#include "cli/messages.h"
#include "conversion/output.h"
#include "imaging/c_array_reader.h"

#include <cerrno>
#include <cstring>
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

// The whole file, or the reason it cannot be read.
std::optional<std::string> readText(const std::string& name, std::string* reason) {
    if (name == kStandardStream) {
        std::string text;
        char buffer[65536];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0;) {
            text.append(buffer, n);
        }
        if (std::ferror(stdin)) {
            *reason = std::strerror(errno);
            return std::nullopt;
        }
        return text;
    }
    const std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(name.c_str(), "rb"),
                                                                  &std::fclose);
    struct stat st {};
    if (!file || ::fstat(::fileno(file.get()), &st) != 0) {
        *reason = std::strerror(errno);
        return std::nullopt;
    }
    if (S_ISDIR(st.st_mode)) {
        *reason = "is a folder";
        return std::nullopt;
    }
    // A device or a pipe could run for ever; C text is a file.
    if (!S_ISREG(st.st_mode)) {
        *reason = "is not a regular file";
        return std::nullopt;
    }
    std::string text(static_cast<std::size_t>(st.st_size), '\0');
    const std::size_t got = std::fread(text.data(), 1, text.size(), file.get());
    if (std::ferror(file.get())) {
        *reason = std::strerror(errno);
        return std::nullopt;
    }
    text.resize(got);
    return text;
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
    std::string reason;
    auto text = readText(options.input, &reason);
    if (!text) {
        report(errors, input, reason);
        return 1;
    }
    imaging::CArraysRead read = imaging::readCArrays(*text);
    text.reset();
    if (!read.error.empty()) {
        report(errors, input, read.error);
        return 1;
    }
    const imaging::CArrays& arrays = read.arrays;
    const std::string prefix = arrays.darkName.substr(0, arrays.darkName.size() - 2);
    if (arrays.width != 0 && arrays.width != options.reverseWidth) {
        report(errors, input,
               prefix + "_width is " + std::to_string(arrays.width) + ", not the -r WIDTH " +
                   std::to_string(options.reverseWidth));
        return 2;
    }
    imaging::Planes planes{options.reverseWidth, 0, options.style.layout.rows, {}, {}};
    std::size_t rows = arrays.dark.size() * 8 / planes.rowBits();
    // Packed rows narrower than a byte cannot tell the fill bits of the last byte from white
    // rows; a complete text says how many rows there are.
    if (arrays.height > 0) {
        if (static_cast<std::size_t>(arrays.height) > rows) {
            report(errors, input,
                   prefix + "_height is " + std::to_string(arrays.height) +
                       ", but its planes hold only " + std::to_string(rows) + " rows");
            return 1;
        }
        rows = static_cast<std::size_t>(arrays.height);
    }
    if (options.reverseHeight > 0) {
        if (arrays.height > 0 && arrays.height != options.reverseHeight) {
            report(errors, input,
                   prefix + "_height is " + std::to_string(arrays.height) + ", not the -r HEIGHT " +
                       std::to_string(options.reverseHeight));
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
               "its planes hold " + std::to_string(read.arrays.dark.size()) +
                   (read.arrays.dark.size() == 1 ? " byte" : " bytes") +
                   ", fewer than one row of " + std::to_string(options.reverseWidth) +
                   " pixels needs (" + std::to_string((planes.rowBits() + 7) / 8) + ")");
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
    planes.dark = std::move(read.arrays.dark);
    planes.light = std::move(read.arrays.light);
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
