#include "cli/options.h"

#include <algorithm>
#include <array>

namespace cli {
namespace {

constexpr std::string_view kUsage =
    "Usage: greyplanes-cli [options] INPUT\n"
    "       greyplanes-cli -r WIDTH [options] INPUT\n"
    "Reduces the picture INPUT to four grey levels and writes its dark and light bit planes\n"
    "as the C arrays Untitled_d and Untitled_l. With -r, reads such C text back and writes\n"
    "the four-level picture.\n"
    "\n"
    "  -o, --output FILE    write the C text (with -r: the bitmap) to FILE instead of\n"
    "                       standard output\n"
    "  -p, --picture FILE   also write the four-level picture to FILE as a 24-bit bitmap\n"
    "  -n, --name NAME      name the arrays NAME_d and NAME_l; NAME is a C identifier that\n"
    "                       is not a keyword of C or C++\n"
    "      --complete       write a header that compiles as C and C++: a comment naming\n"
    "                       INPUT, a guard, NAME_width, NAME_height and const arrays\n"
    "      --pad-rows       start each pixel row on a new byte, its last byte filled with\n"
    "                       zero bits (with -r: read the rows that way)\n"
    "      --lf             end lines with LF instead of CR LF\n"
    "  -r, --reverse WIDTH  INPUT is C text holding the two arrays; write the picture,\n"
    "                       WIDTH pixels wide, as a 24-bit bitmap (to standard output only\n"
    "                       when it is not a terminal)\n"
    "  -q, --quiet          no progress display\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "\n"
    "INPUT, -o and -p must be different files. Files are replaced only when completely\n"
    "written. Progress goes to standard error when it is a terminal.\n"
    "Exit status: 0 on success, 1 when a file cannot be read or written, 2 for a usage error.\n";

// The keywords of C (C99 to C23) and C++ (to C++20, with the alternative tokens), from the
// standards' keyword tables.
constexpr auto kCKeywords = std::to_array<std::string_view>({
    "_Alignas",
    "_Alignof",
    "_Atomic",
    "_BitInt",
    "_Bool",
    "_Complex",
    "_Decimal128",
    "_Decimal32",
    "_Decimal64",
    "_Generic",
    "_Imaginary",
    "_Noreturn",
    "_Static_assert",
    "_Thread_local",
    "alignas",
    "alignof",
    "auto",
    "bool",
    "break",
    "case",
    "char",
    "const",
    "constexpr",
    "continue",
    "default",
    "do",
    "double",
    "else",
    "enum",
    "extern",
    "false",
    "float",
    "for",
    "goto",
    "if",
    "inline",
    "int",
    "long",
    "nullptr",
    "register",
    "restrict",
    "return",
    "short",
    "signed",
    "sizeof",
    "static",
    "static_assert",
    "struct",
    "switch",
    "thread_local",
    "true",
    "typedef",
    "typeof",
    "typeof_unqual",
    "union",
    "unsigned",
    "void",
    "volatile",
    "while",
});
constexpr auto kCppKeywords = std::to_array<std::string_view>({
    "alignas",       "alignof",     "and",
    "and_eq",        "asm",         "auto",
    "bitand",        "bitor",       "bool",
    "break",         "case",        "catch",
    "char",          "char16_t",    "char32_t",
    "char8_t",       "class",       "co_await",
    "co_return",     "co_yield",    "compl",
    "concept",       "const",       "const_cast",
    "consteval",     "constexpr",   "constinit",
    "continue",      "decltype",    "default",
    "delete",        "do",          "double",
    "dynamic_cast",  "else",        "enum",
    "explicit",      "export",      "extern",
    "false",         "float",       "for",
    "friend",        "goto",        "if",
    "inline",        "int",         "long",
    "mutable",       "namespace",   "new",
    "noexcept",      "not",         "not_eq",
    "nullptr",       "operator",    "or",
    "or_eq",         "private",     "protected",
    "public",        "register",    "reinterpret_cast",
    "requires",      "return",      "short",
    "signed",        "sizeof",      "static",
    "static_assert", "static_cast", "struct",
    "switch",        "template",    "this",
    "thread_local",  "throw",       "true",
    "try",           "typedef",     "typeid",
    "typename",      "union",       "unsigned",
    "using",         "virtual",     "void",
    "volatile",      "wchar_t",     "while",
    "xor",           "xor_eq",
});

template <std::size_t N>
bool contains(const std::array<std::string_view, N>& words, std::string_view word) {
    return std::find(words.begin(), words.end(), word) != words.end();
}

// 1 to 32767, digits only.
std::optional<int> widthValue(std::string_view text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const int value = std::stoi(std::string(text));
    return value >= 1 && value <= 32767 ? std::optional<int>(value) : std::nullopt;
}

} // namespace

std::string_view usageText() {
    return kUsage;
}

std::optional<std::string> nameProblem(std::string_view name) {
    const std::string quoted = "bad name '" + std::string(name) + "': ";
    const bool wellFormed = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_';
    });
    if (!wellFormed) {
        return quoted + "a C identifier holds only letters A to Z and a to z, digits and '_'";
    }
    if (name[0] >= '0' && name[0] <= '9') {
        return quoted + "a C identifier cannot start with a digit";
    }
    const bool c = contains(kCKeywords, name);
    const bool cpp = contains(kCppKeywords, name);
    if (c || cpp) {
        return quoted + "it is a keyword of " + (c && cpp ? "C and C++" : c ? "C" : "C++");
    }
    return std::nullopt;
}

ParsedCommandLine parseCommandLine(std::span<const std::string> arguments) {
    ParsedCommandLine parsed;
    Options& options = parsed.options;
    auto fail = [&](std::string message) {
        parsed.request = Request::UsageError;
        parsed.error = std::move(message);
        return parsed;
    };
    bool quiet = false;
    bool endOfOptions = false;
    bool inputGiven = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& arg = arguments[i];
        if (endOfOptions || arg == "-" || arg.empty() || arg[0] != '-') {
            if (inputGiven) {
                return fail("only one INPUT file can be given");
            }
            options.input = arg;
            inputGiven = true;
            continue;
        }
        if (arg == "--") {
            endOfOptions = true;
            continue;
        }
        // Long options also take their value as --option=VALUE.
        std::string option = arg;
        std::optional<std::string> attached;
        if (const std::size_t eq = arg.find('='); arg.starts_with("--") && eq != arg.npos) {
            option = arg.substr(0, eq);
            attached = arg.substr(eq + 1);
        }
        auto is = [&](std::string_view shortName, std::string_view longName) {
            return option == shortName || option == longName;
        };
        auto value = [&](const char* what) -> std::optional<std::string> {
            std::string v;
            if (attached) {
                v = *attached;
            } else if (i + 1 < arguments.size()) {
                v = arguments[++i];
            }
            if (v.empty()) {
                fail(option + " needs a " + what);
                return std::nullopt;
            }
            return v;
        };
        const bool takesValue = is("-o", "--output") || is("-p", "--picture") ||
                                is("-n", "--name") || is("-r", "--reverse");
        if (attached && !takesValue) {
            return fail(option + " takes no value");
        }
        if (is("-h", "--help")) {
            parsed.request = Request::Help;
            return parsed;
        }
        if (is("-V", "--version")) {
            parsed.request = Request::Version;
            return parsed;
        }
        if (is("-q", "--quiet")) {
            quiet = true;
        } else if (is("--complete", "--complete")) {
            options.style.complete = true;
        } else if (is("--lf", "--lf")) {
            options.style.lf = true;
        } else if (is("--pad-rows", "--pad-rows")) {
            options.layout = imaging::RowLayout::Padded;
        } else if (is("-o", "--output")) {
            const auto file = value("FILE");
            if (!file) {
                return parsed;
            }
            options.textOutput = *file;
        } else if (is("-p", "--picture")) {
            const auto file = value("FILE");
            if (!file) {
                return parsed;
            }
            options.pictureOutput = *file;
        } else if (is("-n", "--name")) {
            const auto name = value("NAME");
            if (!name) {
                return parsed;
            }
            if (auto problem = nameProblem(*name)) {
                return fail(std::move(*problem));
            }
            options.style.name = *name;
        } else if (is("-r", "--reverse")) {
            const auto text = value("WIDTH");
            if (!text) {
                return parsed;
            }
            const auto width = widthValue(*text);
            if (!width) {
                return fail("bad width '" + *text +
                            "': WIDTH is a whole number of pixels from 1 to 32767");
            }
            options.reverseWidth = *width;
        } else {
            return fail("unknown option " + option);
        }
    }
    if (!inputGiven) {
        return fail("no INPUT file given");
    }
    if (options.reverseWidth > 0 && !options.pictureOutput.empty()) {
        return fail("-p cannot be used with -r: the picture goes to -o FILE");
    }
    options.progress = !quiet;
    // The comment of a complete text names the file without its folder, so that a header
    // made in a build tree reads the same on every machine.
    const std::size_t slash = options.input.rfind('/');
    options.style.source =
        slash == std::string::npos ? options.input : options.input.substr(slash + 1);
    parsed.request = Request::Run;
    return parsed;
}

} // namespace cli
