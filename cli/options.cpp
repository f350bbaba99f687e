#include "cli/options.h"

#include "ctext/c_identifier.h"
#include "ctext/layout.h"
#include "imaging/dither.h"
#include "imaging/option_values.h"

#include <algorithm>
#include <array>
#include <getopt.h>
#include <optional>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace cli {
namespace {

// Long-only options get numbers past every character.
enum Id : int {
    Output = 'o',
    Picture = 'p',
    Name = 'n',
    Reverse = 'r',
    Quiet = 'q',
    Help = 'h',
    Version = 'V',
    Complete = 256,
    PadRows,
    Lf,
    LayoutOption,
    Word,
    TileOrderOption,
    Invert,
    BitOrderOption,
    TileMapOption,
    TileBase,
    Art,
    DitherOption,
    GreyOption,
    Brightness,
    Contrast,
    Gamma,
    Thresholds,
    LevelsOption,
    RotateOption,
    FlipOption,
    SizeOption,
    FitOption,
    BackgroundOption,
    FramesOption,
    FrameOrderOption,
    MaskOption,
    TransparentOption,
};

struct OptionSpec {
    Id id;
    std::string_view longName;
    std::string_view argument; // empty: takes none
    std::string_view help;     // lines after the first are indented under it
};

// The one table behind the parser and --help.
constexpr auto kOptions = std::to_array<OptionSpec>({
    {Output, "output", "FILE",
     "write the C text (with -r: the bitmap) to FILE\n"
     "instead of standard output; - is standard output"},
    {Picture, "picture", "FILE",
     "also write the four-level picture to FILE as a\n"
     "bitmap; - is standard output (then give -o FILE)"},
    {Name, "name", "NAME",
     "name the arrays after NAME (NAME_d and NAME_l for\n"
     "planes; with -r: read those); a C identifier, not\n"
     "a keyword of C or C++"},
    {Complete, "complete", "",
     "write a header that compiles as C and C++: a comment\n"
     "naming INPUT and the layout, a guard, NAME_width,\n"
     "NAME_height and const arrays"},
    {LayoutOption, "layout", "LAYOUT",
     "planes (default: NAME_d and NAME_l, 1 bit a pixel),\n"
     "gb (8 x 8 tiles, 2 bits a pixel), packed2 (2 bits a\n"
     "pixel, 0 black to 3 white), nibble4 (4 bits a pixel),\n"
     "pages (NAME_d and NAME_l in pages of 8 rows, a byte\n"
     "a column of 8 pixels) or lvgl (a whole C file: an\n"
     "LVGL image NAME of format I2 and its data NAME_map)"},
    {Word, "word", "BITS",
     "planes: 8 (default), 16 or 32 bits an element, each\n"
     "pixel row padded to whole elements"},
    {TileOrderOption, "tile-order", "ORDER", "gb: rows (default), columns or 8x16 (sprite pairs)"},
    {TileMapOption, "tile-map", "",
     "gb: each different tile once (at most 256), and\n"
     "NAME_map, a byte a tile of the picture numbering them"},
    {TileBase, "tile-base", "N",
     "with --tile-map: the number of the first tile, 0\n"
     "(default) to 255; numbers go on modulo 256"},
    {Invert, "invert", "",
     "planes and pages: every pixel's bit inverted, fill\n"
     "bits stay 0; packed2 and nibble4: white is 0"},
    {BitOrderOption, "bit-order", "ORDER",
     "planes, packed2 and nibble4: msb (default: the\n"
     "leftmost pixel in the top bits) or lsb (in the low\n"
     "bits); pages: lsb (default: the top pixel in bit 0)\n"
     "or msb (in bit 7)"},
    {PadRows, "pad-rows", "",
     "start each pixel row on a new byte, its last byte\n"
     "filled with zero bits (with -r: read rows that way)"},
    {Art, "art", "", "with --complete: the picture as text in a comment"},
    {Lf, "lf", "", "end lines with LF instead of CR LF"},
    {DitherOption, "dither", "METHOD", "none (default), floyd-steinberg, atkinson or bayer"},
    {GreyOption, "grey", "RULE",
     "a pixel's grey: average (default, (R + G + B) / 3) or\n"
     "luma ((299 R + 587 G + 114 B) / 1000)"},
    {Brightness, "brightness", "B", "add B (-255 to 255) to every grey"},
    {Contrast, "contrast", "C", "spread the greys around 128 by C % (-100 to 100)"},
    {Gamma, "gamma", "G",
     "raise the greys to 1/G (0.1 to 10; above 1 lightens\n"
     "the middle greys)"},
    {Thresholds, "thresholds", "A,B,C",
     "the plain bands: below A black, below B dark grey,\n"
     "below C light grey (default 43,128,213)"},
    {LevelsOption, "levels", "K,D,L,W",
     "the greys the panel shows for its four levels\n"
     "(default 0,85,170,255): dithering aims at them, the\n"
     "plain bands lie half way between them"},
    {RotateOption, "rotate", "ANGLE",
     "turn the picture first: 90, 180 or 270 degrees\n"
     "clockwise"},
    {FlipOption, "flip", "AXIS",
     "then mirror it: h left and right, v top and bottom\n"
     "(give both to do both)"},
    {SizeOption, "size", "SIZE",
     "then size it to WxH pixels; Wx or xH keep the\n"
     "aspect ratio; shrinking averages, growing repeats"},
    {FitOption, "fit", "FIT",
     "with --size WxH: contain (default: inside it, on the\n"
     "background), cover (over it, the centre cropped) or\n"
     "stretch (each side on its own)"},
    {BackgroundOption, "background", "RGB",
     "with --size WxH and --fit contain: the colour around\n"
     "the picture, six hex digits (default ffffff)"},
    {FramesOption, "frames", "WxH",
     "the picture is a sheet of frames of W x H pixels:\n"
     "write them one after another, each as a picture of\n"
     "its own (several INPUTs of one size, or an animated\n"
     "GIF, are frames without it); with -r: the text holds\n"
     "frames of W x H, -r gives the sheet's size"},
    {FrameOrderOption, "frame-order", "ORDER",
     "with --frames: rows (default: left to right, then\n"
     "top to bottom) or columns (top to bottom first)"},
    {MaskOption, "mask", "POLARITY",
     "planes, packed2 and nibble4: also write NAME_m, one\n"
     "bit a pixel, 1 where a pixel is opaque (ones) or 0\n"
     "there (zeros); transparent pixels are white"},
    {TransparentOption, "transparent", "RGB",
     "with --mask: pixels of this colour (six hex digits,\n"
     "as ff00ff) are transparent too; -p and -r show\n"
     "transparent pixels in it (default ff00ff)"},
    {Reverse, "reverse", "SIZE",
     "INPUT is C text; write the picture it holds as a\n"
     "bitmap (to standard output only when it is not a\n"
     "terminal); SIZE is WIDTH or WIDTHxHEIGHT in pixels"},
    {Quiet, "quiet", "", "no progress display"},
    {Help, "help", "", "show this help and exit"},
    {Version, "version", "", "show the version and exit"},
});

constexpr std::string_view kUsageHead =
    "Usage: greyplanes-cli [options] INPUT...\n"
    "       greyplanes-cli -r WIDTH[xHEIGHT] [options] INPUT\n"
    "Reduces the picture INPUT to four grey levels and writes them as C arrays, by\n"
    "default the dark and light bit planes Untitled_d and Untitled_l; several INPUTs\n"
    "of one size are written as frames, one after another. With -r, reads such C\n"
    "text back and writes the four-level picture. INPUT - is standard input.\n"
    "\n";

constexpr std::string_view kUsageTail =
    "\n"
    "INPUT, -o and -p must be different files; a file named - is ./-. Files are\n"
    "replaced only when completely written. Progress goes to standard error when it\n"
    "is a terminal. Exit status: 0 on success, 1 when a file cannot be read or\n"
    "written, 2 for a usage error.\n";

bool hasShortName(const OptionSpec& entry) {
    return entry.id < 256;
}

const OptionSpec* find(int id) {
    const auto it = std::find_if(kOptions.begin(), kOptions.end(),
                                 [&](const OptionSpec& entry) { return entry.id == id; });
    return it == kOptions.end() ? nullptr : &*it;
}

// "-o" or "--output", as the user spelled it.
std::string spelling(const OptionSpec& entry, bool asLong) {
    return asLong || !hasShortName(entry) ? "--" + std::string(entry.longName)
                                          : std::string{'-', static_cast<char>(entry.id)};
}

// The words of a choice, or nothing when `text` is none of them.
template <typename T, std::size_t N>
std::optional<T> choice(std::string_view text,
                        const std::array<std::pair<std::string_view, T>, N>& words) {
    for (const auto& [word, value] : words) {
        if (text == word) {
            return value;
        }
    }
    return std::nullopt;
}

constexpr auto kWords = std::to_array<std::pair<std::string_view, int>>({
    {"8", 8},
    {"16", 16},
    {"32", 32},
});

// What getopt_long could not take, in our words: `argument` is the one it stopped at, unless
// that was a short option inside a group (getopt stays on the group, so `argument` is the one
// before it).
std::string refusal(int result, int option, const std::string& argument) {
    const OptionSpec* entry = find(option);
    // An unknown short option is reported as itself; '?' with an option of ours or none at all
    // (an unknown or ambiguous long one) comes from a long option. A missing value ends the
    // command line, so `argument` is the option itself then.
    const bool asLong =
        result == '?' ? option == 0 || entry != nullptr : argument.starts_with("--");
    if (result == ':' && entry != nullptr) {
        return spelling(*entry, asLong) + " needs a " + std::string(entry->argument);
    }
    if (!asLong) {
        return "unknown option -" + std::string(1, static_cast<char>(option));
    }
    const std::string given = argument.substr(0, argument.find('='));
    if (entry != nullptr) {
        return "--" + std::string(entry->longName) + " takes no value";
    }
    std::vector<std::string> candidates;
    for (const OptionSpec& candidate : kOptions) {
        if (("--" + std::string(candidate.longName)).starts_with(given)) {
            candidates.push_back("--" + std::string(candidate.longName));
        }
    }
    if (candidates.size() < 2) {
        return "unknown option " + given;
    }
    std::string list = candidates.front();
    for (std::size_t i = 1; i < candidates.size(); ++i) {
        list += (i + 1 == candidates.size() ? " or " : ", ") + candidates[i];
    }
    return "ambiguous option " + given + ": " + list;
}

// The arguments as getopt_long wants them: writable C strings (copies that keep the bytes as
// given, after a program name) and the tables of short and long options.
struct GetoptTables {
    std::vector<std::string> copies;
    std::vector<char*> argv;
    std::vector<option> longOptions;
    std::string shortOptions;

    explicit GetoptTables(std::span<const std::string> arguments) : copies{"greyplanes-cli"} {
        copies.insert(copies.end(), arguments.begin(), arguments.end());
        for (std::string& copy : copies) {
            argv.push_back(copy.data());
        }
        argv.push_back(nullptr);
        // "-": operands come back in order as option 1, whatever POSIXLY_CORRECT says; ":"
        // tells a missing value from an unknown option.
        shortOptions = "-:";
        for (const OptionSpec& entry : kOptions) {
            longOptions.push_back({entry.longName.data(),
                                   entry.argument.empty() ? no_argument : required_argument,
                                   nullptr, entry.id});
            if (hasShortName(entry)) {
                shortOptions += static_cast<char>(entry.id);
                if (!entry.argument.empty()) {
                    shortOptions += ':';
                }
            }
        }
        longOptions.push_back({nullptr, 0, nullptr, 0});
    }
    int argc() const { return static_cast<int>(copies.size()); }
};

// The options given that only some others go with, as spelled, for the messages about ones
// that do not go together.
struct Spelled {
    std::optional<std::string> art, dither, complete, lf, tone;
    std::optional<std::string> geometry, fit, background; // the first turning or sizing option
    std::optional<std::string> frames, frameOrder, transparent;
    bool quiet = false;
};

// A usage error about the command line as a whole: it names no file.
base::Error usage(std::string reason) {
    return base::Error{{}, std::move(reason), base::ErrorKind::Usage};
}

// The reason for a refused value, from what the option takes.
std::string takes(std::string_view what) {
    return "it is " + std::string(what);
}

// Takes one option with its value into `options`, or says why the value is refused.
std::optional<base::Error> take(const OptionSpec& entry, const std::string& spelled,
                                const std::string& value, Options& options, Spelled& given) {
    ctext::LayoutOptions& layout = options.style.layout;
    auto bad = [&](std::string_view what) {
        return usage("bad " + std::string(entry.argument) + " '" + value + "' for " + spelled +
                     ": " + std::string(what));
    };
    switch (entry.id) {
    case Help:
    case Version:
        break;
    case Quiet:
        given.quiet = true;
        break;
    case Complete:
        options.style.complete = true;
        given.complete = spelled;
        break;
    case Lf:
        options.style.lf = true;
        given.lf = spelled;
        break;
    case Art:
        options.style.art = true;
        given.art = spelled;
        break;
    case PadRows:
        layout.rows = imaging::RowLayout::Padded;
        options.layoutGiven.rows = true;
        break;
    case Invert:
        layout.invert = true;
        options.layoutGiven.invert = true;
        break;
    case Output:
        options.textOutput = value == kStandardStream ? std::string() : value;
        break;
    case Picture:
        options.pictureOutput = value;
        break;
    case Name:
        if (auto problem = ctext::nameProblem(value)) {
            return usage(std::move(*problem));
        }
        options.style.name = value;
        options.nameGiven = true;
        break;
    case LayoutOption:
        if (const auto chosen = ctext::layoutNamed(value)) {
            layout.layout = *chosen;
            options.layoutGiven.layout = true;
        } else {
            return bad("it is planes, gb, packed2, nibble4, pages or lvgl");
        }
        break;
    case Word:
        if (const auto chosen = choice(value, kWords)) {
            layout.word = *chosen;
            options.layoutGiven.word = true;
        } else {
            return bad("it is 8, 16 or 32");
        }
        break;
    case TileOrderOption:
        if (const auto chosen = ctext::tileOrderNamed(value)) {
            layout.tileOrder = *chosen;
            options.layoutGiven.tileOrder = true;
        } else {
            return bad("it is rows, columns or 8x16");
        }
        break;
    case TileMapOption:
        layout.tileMap = true;
        options.layoutGiven.tileMap = true;
        break;
    case TileBase:
        if (value.empty() || value.size() > 3 ||
            !std::all_of(value.begin(), value.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
            std::stoi(value) > 255) {
            return bad("it is a whole number from 0 to 255");
        }
        layout.tileBase = std::stoi(value);
        options.layoutGiven.tileBase = true;
        break;
    case BitOrderOption:
        if (const auto chosen = ctext::bitOrderNamed(value)) {
            layout.bitOrder = *chosen;
            options.layoutGiven.bitOrder = true;
        } else {
            return bad("it is msb or lsb");
        }
        break;
    case DitherOption:
        if (const auto chosen = imaging::ditherNamed(value)) {
            options.dither = *chosen;
            given.dither = spelled + " " + value;
        } else {
            return bad("it is none, floyd-steinberg, atkinson or bayer");
        }
        break;
    case GreyOption:
        if (const auto rule = imaging::greyRuleNamed(value)) {
            options.tone.grey = *rule;
        } else {
            return bad(takes(imaging::kGreyRuleTakes));
        }
        given.tone = spelled;
        break;
    case Brightness:
        if (const auto number = imaging::brightnessValue(value)) {
            options.tone.brightness = *number;
        } else {
            return bad(takes(imaging::kBrightnessTakes));
        }
        given.tone = spelled;
        break;
    case Contrast:
        if (const auto number = imaging::contrastValue(value)) {
            options.tone.contrast = *number;
        } else {
            return bad(takes(imaging::kContrastTakes));
        }
        given.tone = spelled;
        break;
    case Gamma:
        if (const auto number = imaging::gammaValue(value)) {
            options.tone.gamma = *number;
        } else {
            return bad(takes(imaging::kGammaTakes));
        }
        given.tone = spelled;
        break;
    case Thresholds:
        if (const auto edges = imaging::thresholdsValue(value)) {
            options.tone.thresholds = *edges;
        } else {
            return bad(takes(imaging::kThresholdsTakes));
        }
        given.tone = spelled;
        break;
    case LevelsOption:
        if (const auto levels = imaging::levelsValue(value)) {
            options.tone.levels = *levels;
        } else {
            return bad(takes(imaging::kLevelsTakes));
        }
        given.tone = spelled;
        break;
    case RotateOption:
        if (const auto chosen = imaging::quarterTurnsNamed(value)) {
            options.geometry.quarterTurns = *chosen;
        } else {
            return bad(takes(imaging::kRotationTakes));
        }
        given.geometry = given.geometry.value_or(spelled + " " + value);
        break;
    case FlipOption:
        if (value == "h") {
            options.geometry.flipLeftRight = true;
        } else if (value == "v") {
            options.geometry.flipTopBottom = true;
        } else {
            return bad("it is h or v");
        }
        given.geometry = given.geometry.value_or(spelled + " " + value);
        break;
    case SizeOption: {
        const auto size = imaging::sizeValue(value);
        if (!size) {
            return bad(takes(imaging::kSizeTakes));
        }
        std::tie(options.geometry.width, options.geometry.height) = *size;
        given.geometry = given.geometry.value_or(spelled + " " + value);
        break;
    }
    case FitOption:
        if (const auto chosen = imaging::fitNamed(value)) {
            options.geometry.fit = *chosen;
            given.fit = spelled + " " + value;
        } else {
            return bad(takes(imaging::kFitTakes));
        }
        break;
    case BackgroundOption:
        if (const auto chosen = imaging::colourValue(value)) {
            options.geometry.background = *chosen;
            given.background = spelled + " " + value;
        } else {
            return bad(takes(imaging::kColourTakes));
        }
        break;
    case FramesOption: {
        const std::size_t by = value.find('x');
        const auto width = imaging::extentValue(std::string_view(value).substr(0, by));
        const auto height = by == std::string::npos
                                ? std::nullopt
                                : imaging::extentValue(std::string_view(value).substr(by + 1));
        if (!width || !height) {
            return bad("it is WxH, each a whole number of pixels from 1 to 32767");
        }
        options.frames.width = *width;
        options.frames.height = *height;
        given.frames = spelled + " " + value;
        break;
    }
    case FrameOrderOption:
        if (value == "rows" || value == "columns") {
            options.frames.order =
                value == "rows" ? imaging::FrameOrder::Rows : imaging::FrameOrder::Columns;
        } else {
            return bad("it is rows or columns");
        }
        given.frameOrder = spelled + " " + value;
        break;
    case MaskOption:
        if (const auto chosen = ctext::maskNamed(value)) {
            layout.mask = *chosen;
            options.layoutGiven.mask = true;
        } else {
            return bad("it is ones or zeros");
        }
        break;
    case TransparentOption:
        if (const auto chosen = imaging::colourValue(
                value.starts_with('#') ? std::string_view(value).substr(1) : value)) {
            options.transparent = *chosen;
            given.transparent = spelled + " " + value;
        } else {
            return bad("it is six hex digits RRGGBB, as ff00ff for magenta");
        }
        break;
    case Reverse: {
        const std::size_t by = value.find('x');
        const auto width = imaging::extentValue(std::string_view(value).substr(0, by));
        const auto height = by == std::string::npos
                                ? std::optional<int>(0)
                                : imaging::extentValue(std::string_view(value).substr(by + 1));
        if (!width || !height) {
            return bad("it is WIDTH or WIDTHxHEIGHT, each a whole number of pixels from 1 "
                       "to 32767");
        }
        options.reverseWidth = *width;
        options.reverseHeight = *height;
        break;
    }
    }
    return std::nullopt;
}

// Why the options given cannot go together, or nothing.
std::optional<base::Error> combinationProblem(const Options& options, const Spelled& given) {
    // Options that do not apply to the layout, named with it. With -r and no --layout, the
    // layout may come from the text's header: the way back asks then.
    if (options.reverseWidth == 0 || options.layoutGiven.layout) {
        if (auto problem = ctext::layoutProblem(options.style.layout, options.layoutGiven)) {
            return usage(std::move(*problem));
        }
    }
    if (given.art && !options.style.complete) {
        return usage(*given.art + " needs --complete: only a complete header has comments");
    }
    if (given.fit && !imaging::fitApplies(options.geometry)) {
        return usage(*given.fit + " needs --size WxH: with one side given, the other follows "
                                  "the picture");
    }
    if (given.background && !imaging::backgroundApplies(options.geometry)) {
        return usage(*given.background + " needs --size WxH with --fit contain: only then is "
                                         "there room around the picture");
    }
    if (given.frames && (options.reverseWidth == 0 || options.layoutGiven.layout)) {
        if (const auto refused = ctext::framesProblem(options.style.layout)) {
            return usage(*given.frames + " " + *refused);
        }
    }
    if (given.frameOrder && !given.frames) {
        return usage(*given.frameOrder + " needs --frames WxH");
    }
    if (given.transparent && options.style.layout.mask == ctext::Mask::None &&
        options.reverseWidth == 0) {
        return usage(*given.transparent + " needs --mask: transparency is read only for a mask");
    }
    if (!options.moreInputs.empty()) {
        if (options.reverseWidth > 0) {
            return usage("-r reads one INPUT");
        }
        if (given.frames) {
            return usage(*given.frames + " cuts one picture into frames; several INPUTs are "
                                         "frames already");
        }
        const auto fromStandardInput = [](const std::string& input) {
            return input == kStandardStream;
        };
        if (std::count_if(options.moreInputs.begin(), options.moreInputs.end(), fromStandardInput) +
                int{fromStandardInput(options.input)} >
            1) {
            return usage("standard input (-) can be only one of the INPUTs");
        }
    }
    if (options.reverseWidth > 0) {
        if (!options.pictureOutput.empty()) {
            return usage("-p cannot be used with -r: the picture goes to -o FILE");
        }
        for (const auto& levels : {given.geometry, given.dither, given.tone}) {
            if (levels) {
                return usage(*levels +
                             " cannot be used with -r: the text holds the levels already");
            }
        }
        for (const auto& dress : {given.complete, given.lf}) {
            if (dress) {
                return usage(*dress + " cannot be used with -r: it dresses C text, and -r reads "
                                      "any dress");
            }
        }
    }
    if (options.pictureOutput == kStandardStream && options.textOutput.empty()) {
        return usage("-p - and the C text cannot both go to standard output: give -o FILE");
    }
    return std::nullopt;
}

// The comment of a complete text names the file without its folder, so that a header made in
// a build tree reads the same on every machine.
std::string sourceName(const std::string& input) {
    const std::size_t slash = input.rfind('/');
    return input == kStandardStream     ? "standard input"
           : slash == std::string::npos ? input
                                        : input.substr(slash + 1);
}

} // namespace

std::string usageText() {
    std::vector<std::string> heads;
    std::size_t column = 0;
    for (const OptionSpec& entry : kOptions) {
        // "  -o, --output FILE" or "      --complete".
        std::string head(6, ' ');
        if (hasShortName(entry)) {
            head[2] = '-';
            head[3] = static_cast<char>(entry.id);
            head[4] = ',';
        }
        head.append("--").append(entry.longName);
        if (!entry.argument.empty()) {
            head.append(" ").append(entry.argument);
        }
        column = std::max(column, head.size() + 2);
        heads.push_back(std::move(head));
    }
    std::string text(kUsageHead);
    for (std::size_t i = 0; i < kOptions.size(); ++i) {
        text += heads[i] + std::string(column - heads[i].size(), ' ');
        for (const char c : kOptions[i].help) {
            text += c;
            if (c == '\n') {
                text += std::string(column, ' ');
            }
        }
        text += '\n';
    }
    return text + std::string(kUsageTail);
}

ParsedCommandLine parseCommandLine(std::span<const std::string> arguments) {
    ParsedCommandLine parsed;
    Options& options = parsed.options;
    auto fail = [&](base::Error error) {
        parsed.request = Request::UsageError;
        parsed.error = std::move(error);
        return parsed;
    };

    GetoptTables tables(arguments);
    const int argc = tables.argc();
    std::vector<std::string> inputs;
    Spelled given;
    // 0 makes glibc start afresh, so that the parser can run more than once in a process.
    optind = 0;
    opterr = 0;
    for (;;) {
        int longIndex = -1;
        const int result = getopt_long(argc, tables.argv.data(), tables.shortOptions.c_str(),
                                       tables.longOptions.data(), &longIndex);
        if (result == -1) {
            break;
        }
        if (result == 1) {
            inputs.emplace_back(optarg);
            continue;
        }
        if (result == '?' || result == ':') {
            return fail(usage(
                refusal(result, optopt, tables.copies[static_cast<std::size_t>(optind - 1)])));
        }
        const OptionSpec& entry = *find(result);
        const std::string spelled = spelling(entry, longIndex >= 0);
        const std::string value = optarg != nullptr ? optarg : "";
        if (!entry.argument.empty() && value.empty()) {
            return fail(usage(spelled + " needs a " + std::string(entry.argument)));
        }
        if (entry.id == Help || entry.id == Version) {
            parsed.request = entry.id == Help ? Request::Help : Request::Version;
            return parsed;
        }
        if (auto problem = take(entry, spelled, value, options, given)) {
            return fail(std::move(*problem));
        }
    }
    for (int i = optind; i < argc; ++i) {
        inputs.push_back(tables.copies[static_cast<std::size_t>(i)]);
    }
    if (inputs.empty()) {
        return fail(usage("no INPUT file given"));
    }
    options.input = inputs.front();
    options.moreInputs.assign(inputs.begin() + 1, inputs.end());
    if (auto problem = combinationProblem(options, given)) {
        return fail(std::move(*problem));
    }
    options.progress = !given.quiet;
    options.style.source = sourceName(options.input);
    parsed.request = Request::Run;
    return parsed;
}

} // namespace cli
