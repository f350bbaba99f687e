// The converter's command line, parsed in process: names, widths and how the options land.

#include "cli/messages.h"
#include "cli/module_loader.h"
#include "cli/options.h"
#include "cli/picture_module.h"
#include "faults/fault_support.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

cli::ParsedCommandLine parse(std::vector<std::string> arguments) {
    return cli::parseCommandLine(arguments);
}

struct Refusal {
    std::vector<std::string> arguments;
    const char* error;
};

class UsageErrors : public testing::TestWithParam<Refusal> {};

TEST_P(UsageErrors, SayWhy) {
    const cli::ParsedCommandLine parsed = parse(GetParam().arguments);
    EXPECT_EQ(parsed.request, cli::Request::UsageError);
    EXPECT_EQ(parsed.error.reason, GetParam().error);
    EXPECT_EQ(parsed.error.kind, base::ErrorKind::Usage);
    EXPECT_EQ(parsed.error.file, "");
}

INSTANTIATE_TEST_SUITE_P(
    Names, UsageErrors,
    testing::Values(
        Refusal{{"-n", "int", "in"}, "bad name 'int': it is a keyword of C and C++"},
        Refusal{{"-n", "_Bool", "in"}, "bad name '_Bool': it is a keyword of C"},
        Refusal{{"-n", "typeof_unqual", "in"}, "bad name 'typeof_unqual': it is a keyword of C"},
        Refusal{{"--name", "and", "in"}, "bad name 'and': it is a keyword of C++"},
        Refusal{{"--name=co_await", "in"}, "bad name 'co_await': it is a keyword of C++"},
        Refusal{{"-n", "1logo", "in"},
                "bad name '1logo': a C identifier cannot start with a digit"},
        Refusal{{"-n", "tiny-1", "in"},
                "bad name 'tiny-1': a C identifier holds only letters A "
                "to Z and a to z, digits and '_'"},
        Refusal{{"-n", "caf\xc3\xa9", "in"},
                "bad name 'caf\xc3\xa9': a C identifier holds only "
                "letters A to Z and a to z, digits and '_'"},
        Refusal{{"-n", "", "in"}, "-n needs a NAME"},
        Refusal{{"in", "--name"}, "--name needs a NAME"}));

INSTANTIATE_TEST_SUITE_P(
    Values, UsageErrors,
    testing::Values(
        Refusal{{"-r", "-5", "in"},
                "bad SIZE '-5' for -r: it is WIDTH or WIDTHxHEIGHT, each a "
                "whole number of pixels from 1 to 32767"},
        Refusal{{"-r", "32768", "in"},
                "bad SIZE '32768' for -r: it is WIDTH or WIDTHxHEIGHT, "
                "each a whole number of pixels from 1 to 32767"},
        Refusal{{"--reverse=8x", "in"},
                "bad SIZE '8x' for --reverse: it is WIDTH or "
                "WIDTHxHEIGHT, each a whole number of pixels from 1 to "
                "32767"},
        Refusal{{"-r", "x8", "in"},
                "bad SIZE 'x8' for -r: it is WIDTH or WIDTHxHEIGHT, each a "
                "whole number of pixels from 1 to 32767"},
        Refusal{{"-r8x+2", "in"},
                "bad SIZE '8x+2' for -r: it is WIDTH or WIDTHxHEIGHT, each a "
                "whole number of pixels from 1 to 32767"},
        Refusal{{"in", "-r"}, "-r needs a SIZE"}, Refusal{{"in", "-qr"}, "-r needs a SIZE"},
        Refusal{{"--output=", "in"}, "--output needs a FILE"},
        Refusal{
            {"--layout", "Planes", "in"},
            "bad LAYOUT 'Planes' for --layout: it is planes, gb, packed2, nibble4, pages or lvgl"},
        Refusal{{"--word=24", "in"}, "bad BITS '24' for --word: it is 8, 16 or 32"},
        Refusal{{"--tile-o", "8x8", "in"},
                "bad ORDER '8x8' for --tile-order: it is rows, columns or 8x16"},
        Refusal{{"--tile-base", "256", "in"},
                "bad N '256' for --tile-base: it is a whole number from 0 to 255"},
        Refusal{{"--bit-order", "LSB", "in"}, "bad ORDER 'LSB' for --bit-order: it is msb or lsb"},
        Refusal{{"--dither", "floyd", "in"},
                "bad METHOD 'floyd' for --dither: it is none, "
                "floyd-steinberg, atkinson or bayer"},
        Refusal{{"--grey", "lum", "in"}, "bad RULE 'lum' for --grey: it is average or luma"},
        Refusal{{"--brightness", "+5", "in"},
                "bad B '+5' for --brightness: it is a whole number from -255 to 255"},
        Refusal{{"--contrast=-101", "in"},
                "bad C '-101' for --contrast: it is a whole number from -100 to 100"},
        Refusal{{"--gamma", "1e1", "in"},
                "bad G '1e1' for --gamma: it is a number from 0.1 to 10, such as 1.5"},
        Refusal{{"--gamma", "0.09", "in"},
                "bad G '0.09' for --gamma: it is a number from 0.1 to 10, such as 1.5"},
        Refusal{{"--thresholds", "0,128,213", "in"},
                "bad A,B,C '0,128,213' for --thresholds: it is three whole numbers "
                "A,B,C with 1 <= A < B < C <= 255"},
        Refusal{{"--thresholds", "43,128", "in"},
                "bad A,B,C '43,128' for --thresholds: it is three whole numbers "
                "A,B,C with 1 <= A < B < C <= 255"},
        Refusal{{"--levels", "0,85,85,255", "in"},
                "bad K,D,L,W '0,85,85,255' for --levels: it is four whole numbers "
                "K,D,L,W from 0 to 255, each above the one before"},
        Refusal{{"--levels", "0,85,170,256", "in"},
                "bad K,D,L,W '0,85,170,256' for --levels: it is four whole numbers "
                "K,D,L,W from 0 to 255, each above the one before"}));

INSTANTIATE_TEST_SUITE_P(
    Geometry, UsageErrors,
    testing::Values(Refusal{{"--rotate", "45", "in"},
                            "bad ANGLE '45' for --rotate: it is 90, 180 or 270"},
                    Refusal{{"--flip=x", "in"}, "bad AXIS 'x' for --flip: it is h or v"},
                    Refusal{{"--size", "0x5", "in"},
                            "bad SIZE '0x5' for --size: it is WxH, Wx or xH, each a whole number "
                            "of pixels from 1 to 32767"},
                    Refusal{{"--size", "x", "in"},
                            "bad SIZE 'x' for --size: it is WxH, Wx or xH, each a whole number "
                            "of pixels from 1 to 32767"},
                    Refusal{{"--size", "400", "in"},
                            "bad SIZE '400' for --size: it is WxH, Wx or xH, each a whole number "
                            "of pixels from 1 to 32767"},
                    Refusal{{"--size", "4x3", "--fit", "fill", "in"},
                            "bad FIT 'fill' for --fit: it is contain, cover or stretch"},
                    Refusal{{"--background", "#fff", "in"},
                            "bad RGB '#fff' for --background: it is six hex digits RRGGBB, as "
                            "ffffff for white"},
                    Refusal{{"--size", "4x", "--fit", "cover", "in"},
                            "--fit cover needs --size WxH: with one side given, the other follows "
                            "the picture"},
                    Refusal{{"--size", "4x3", "--fit", "cover", "--background", "000000", "in"},
                            "--background 000000 needs --size WxH with --fit contain: only then "
                            "is there room around the picture"},
                    Refusal{{"-r", "8", "--flip", "v", "in"},
                            "--flip v cannot be used with -r: the text holds the levels already"}));

// Options that do not go together are named both.
INSTANTIATE_TEST_SUITE_P(
    Combinations, UsageErrors,
    testing::Values(
        Refusal{{"--pad-rows", "--layout", "gb", "in"}, "--pad-rows does not apply to --layout gb"},
        Refusal{{"--layout=planes", "--tile-order", "rows", "in"},
                "--tile-order rows does not apply to --layout planes"},
        Refusal{{"--tile-order", "columns", "--layout", "nibble4", "in"},
                "--tile-order columns does not apply to --layout nibble4"},
        Refusal{{"--bit-order", "lsb", "--layout", "gb", "in"},
                "--bit-order lsb does not apply to --layout gb"},
        Refusal{{"--layout", "gb", "--inv", "in"}, "--invert does not apply to --layout gb"},
        Refusal{{"--word", "8", "--layout", "packed2", "in"},
                "--word 8 does not apply to --layout packed2"},
        Refusal{{"--word", "16", "--layout", "gb", "in"},
                "--word 16 does not apply to --layout gb"},
        Refusal{{"--tile-map", "--layout", "gb", "--tile-order", "8x16", "in"},
                "--tile-map does not go with --tile-order 8x16"},
        Refusal{{"--layout", "gb", "--tile-base", "3", "in"}, "--tile-base 3 needs --tile-map"},
        Refusal{{"--tile-map", "in"}, "--tile-map does not apply to --layout planes"},
        Refusal{{"--art", "in"}, "--art needs --complete: only a complete header has comments"},
        Refusal{{"-r", "8", "-p", "out.bmp", "in"},
                "-p cannot be used with -r: the picture goes to -o FILE"},
        Refusal{{"-r", "8", "--dither", "bayer", "in"},
                "--dither bayer cannot be used with -r: the text holds the levels already"},
        Refusal{{"-r", "8", "--gamma", "2", "in"},
                "--gamma cannot be used with -r: the text holds the levels already"},
        Refusal{{"-r", "8", "--comp", "in"},
                "--complete cannot be used with -r: it dresses C text, and -r reads any dress"},
        Refusal{{"--lf", "-r8", "in"},
                "--lf cannot be used with -r: it dresses C text, and -r reads any dress"},
        Refusal{{"-r", "8", "--layout", "gb", "--bit-order=msb", "in"},
                "--bit-order msb does not apply to --layout gb"},
        Refusal{{"-p", "-", "in"},
                "-p - and the C text cannot both go to standard output: give -o FILE"},
        Refusal{{"-o", "-", "-p-", "in"},
                "-p - and the C text cannot both go to standard output: give -o FILE"}));

INSTANTIATE_TEST_SUITE_P(
    Spellings, UsageErrors,
    testing::Values(
        Refusal{{}, "no INPUT file given"}, Refusal{{"-r", "8", "a", "b"}, "-r reads one INPUT"},
        Refusal{{"--frames", "2x2", "a", "--", "b"},
                "--frames 2x2 cuts one picture into frames; several INPUTs are "
                "frames already"},
        Refusal{{"--frames", "2x", "a"},
                "bad WxH '2x' for --frames: it is WxH, each a whole number of "
                "pixels from 1 to 32767"},
        Refusal{{"--frame-order", "columns", "a"}, "--frame-order columns needs --frames WxH"},
        Refusal{{"--frames", "8x8", "--layout", "gb", "--tile-map", "a"},
                "--frames 8x8 does not apply to --layout gb --tile-map: its map numbers the "
                "tiles of one picture"},
        Refusal{{"-", "a", "-"}, "standard input (-) can be only one of the INPUTs"},
        Refusal{{"--transparent", "#ff00ff", "a"},
                "--transparent #ff00ff needs --mask: transparency is read only for "
                "a mask"},
        Refusal{{"--mask", "zeros", "--layout", "gb", "a"},
                "--mask zeros does not apply to --layout gb: its objects take colour "
                "0 (white) as transparent"},
        Refusal{{"--lf=yes", "in"}, "--lf takes no value"},
        Refusal{{"--qu=1", "in"}, "--quiet takes no value"},
        Refusal{{"--padding", "in"}, "unknown option --padding"},
        Refusal{{"-qx", "in"}, "unknown option -x"},
        Refusal{{"--complete", "-Zq", "in"}, "unknown option -Z"},
        Refusal{{"--p", "in"}, "ambiguous option --p: --picture or --pad-rows"},
        Refusal{{"--com=x", "in"}, "--complete takes no value"},
        Refusal{{"-", "--l", "in"}, "ambiguous option --l: --layout, --lf or --levels"}));

// What the table alone cannot show: grouped short options, attached values, prefixes, "--"
// and "-".
TEST(CommandLine, SpellingsOfOneCommand) {
    const std::vector<std::vector<std::string>> spellings = {
        {"-q", "-o", "x.h", "-n", "logo", "--layout", "packed2", "--invert", "in.bmp"},
        {"-qox.h", "-nlogo", "--layout=packed2", "--invert", "in.bmp"},
        {"in.bmp", "--qui", "--out", "x.h", "--na=logo", "--lay", "packed2", "--inv"},
        {"-qo", "x.h", "--name", "logo", "--layout", "packed2", "--invert", "--", "in.bmp"},
    };
    for (const auto& arguments : spellings) {
        const cli::ParsedCommandLine p = parse(arguments);
        ASSERT_EQ(p.request, cli::Request::Run) << arguments[0] << ": " << p.error.reason;
        EXPECT_EQ(p.options.input, "in.bmp");
        EXPECT_EQ(p.options.textOutput, "x.h");
        EXPECT_EQ(p.options.style.name, "logo");
        EXPECT_EQ(p.options.style.layout.layout, ctext::Layout::Packed2);
        EXPECT_TRUE(p.options.style.layout.invert);
        EXPECT_FALSE(p.options.progress);
    }

    // After "--" everything is INPUT; "-" is standard input, "-o -" standard output.
    cli::ParsedCommandLine p = parse({"-o", "-", "--", "-q"});
    ASSERT_EQ(p.request, cli::Request::Run) << p.error.reason;
    EXPECT_EQ(p.options.input, "-q");
    EXPECT_TRUE(p.options.textOutput.empty());
    EXPECT_TRUE(p.options.progress);
    p = parse({"-o", "x.h", "-p", "-", "-"});
    ASSERT_EQ(p.request, cli::Request::Run) << p.error.reason;
    EXPECT_EQ(p.options.input, cli::kStandardStream);
    EXPECT_EQ(p.options.pictureOutput, cli::kStandardStream);
    EXPECT_EQ(p.options.style.source, "standard input");
    // A value that looks like an option is still the value.
    p = parse({"-o", "-q", "in"});
    ASSERT_EQ(p.request, cli::Request::Run) << p.error.reason;
    EXPECT_EQ(p.options.textOutput, "-q");
    EXPECT_TRUE(p.options.progress);
    // The parser starts afresh each time, even after an error in the middle of a group.
    EXPECT_EQ(parse({"-qxo", "a"}).request, cli::Request::UsageError);
    EXPECT_EQ(parse({"-o", "b", "in"}).options.textOutput, "b");
}

TEST(CommandLine, OptionsLandWhereTheyBelong) {
    cli::ParsedCommandLine p =
        parse({"--complete", "--lf", "--pad-rows", "-n", "logo", "-q", "--output=out\xff.h", "-p",
               "pic.bmp", "--art", "--word", "32", "--dither", "floyd-steinberg", "--",
               "-dir/in\xfe.bmp"});
    ASSERT_EQ(p.request, cli::Request::Run) << p.error.reason;
    EXPECT_EQ(p.options.input, "-dir/in\xfe.bmp");
    EXPECT_EQ(p.options.textOutput, "out\xff.h");
    EXPECT_EQ(p.options.pictureOutput, "pic.bmp");
    EXPECT_EQ(p.options.style.name, "logo");
    EXPECT_TRUE(p.options.style.complete);
    EXPECT_TRUE(p.options.style.lf);
    EXPECT_TRUE(p.options.style.art);
    EXPECT_EQ(p.options.style.source, "in\xfe.bmp");
    EXPECT_EQ(p.options.style.layout.rows, imaging::RowLayout::Padded);
    EXPECT_EQ(p.options.style.layout.word, 32);
    EXPECT_EQ(p.options.dither, imaging::Dither::FloydSteinberg);
    EXPECT_EQ(p.options.reverseWidth, 0);
    EXPECT_FALSE(p.options.progress);

    p = parse({"--grey", "luma", "--brightness", "-7", "--contrast", "100", "--gamma", ".5",
               "--thresholds", "1,2,255", "--levels", "0,93,120,255", "in"});
    ASSERT_EQ(p.request, cli::Request::Run) << p.error.reason;
    EXPECT_EQ(p.options.tone.grey, imaging::GreyRule::Luma);
    EXPECT_EQ(p.options.tone.brightness, -7);
    EXPECT_EQ(p.options.tone.contrast, 100);
    EXPECT_EQ(p.options.tone.gamma, 0.5);
    EXPECT_EQ(p.options.tone.thresholds, (std::array<int, 3>{1, 2, 255}));
    EXPECT_EQ(p.options.tone.levels, (std::array<int, 4>{0, 93, 120, 255}));

    p = parse({"--layout", "gb", "--tile-order", "8x16", "in"});
    ASSERT_EQ(p.request, cli::Request::Run) << p.error.reason;
    EXPECT_EQ(p.options.style.layout.layout, ctext::Layout::Gb);
    EXPECT_EQ(p.options.style.layout.tileOrder, ctext::TileOrder::Tall8x16);
    EXPECT_FALSE(p.options.style.layout.invert);

    p = parse({"-r", "32767", "in.h"});
    ASSERT_EQ(p.request, cli::Request::Run) << p.error.reason;
    EXPECT_EQ(p.options.reverseWidth, 32767);
    EXPECT_EQ(p.options.reverseHeight, 0);
    EXPECT_EQ(p.options.style.name, "Untitled");
    EXPECT_FALSE(p.options.style.complete || p.options.style.lf);
    EXPECT_EQ(p.options.style.layout.rows, imaging::RowLayout::Packed);
    EXPECT_EQ(p.options.dither, imaging::Dither::None);
    EXPECT_TRUE(p.options.progress);
    p = parse({"-r7x3", "in.h"});
    EXPECT_EQ(p.options.reverseWidth, 7);
    EXPECT_EQ(p.options.reverseHeight, 3);
    EXPECT_FALSE(p.options.nameGiven);
    // What was given is recorded, defaults too, so that -r can hold each against a header;
    // without --layout the header's layout decides what applies.
    p = parse({"-r", "8", "--layout", "planes", "--word", "8", "-n", "Untitled", "in.h"});
    ASSERT_EQ(p.request, cli::Request::Run) << p.error.reason;
    EXPECT_TRUE(p.options.nameGiven);
    EXPECT_TRUE(p.options.layoutGiven.layout && p.options.layoutGiven.word);
    EXPECT_FALSE(p.options.layoutGiven.rows || p.options.layoutGiven.tileOrder ||
                 p.options.layoutGiven.invert);
    p = parse({"-r", "8", "--tile-order", "rows", "--invert", "--pad-rows", "in.h"});
    ASSERT_EQ(p.request, cli::Request::Run) << p.error.reason;
    EXPECT_TRUE(p.options.layoutGiven.tileOrder && p.options.layoutGiven.invert &&
                p.options.layoutGiven.rows);
    EXPECT_FALSE(p.options.layoutGiven.layout);
    p = parse({"--rotate", "270", "--flip", "v", "--size", "x300", "in"});
    ASSERT_EQ(p.request, cli::Request::Run) << p.error.reason;
    EXPECT_EQ(p.options.geometry.quarterTurns, 3);
    EXPECT_TRUE(p.options.geometry.flipTopBottom && !p.options.geometry.flipLeftRight);
    EXPECT_EQ(p.options.geometry.width, 0);
    EXPECT_EQ(p.options.geometry.height, 300);
    p = parse({"--size", "400x3", "--background", "12a4Fe", "in"});
    ASSERT_EQ(p.request, cli::Request::Run) << p.error.reason;
    EXPECT_EQ(p.options.geometry.width, 400);
    EXPECT_EQ(p.options.geometry.background, 0xFEA412); // red in the low byte
    EXPECT_EQ(parse({"in", "--help"}).request, cli::Request::Help);
    EXPECT_EQ(parse({"--vers"}).request, cli::Request::Version);
}

// The picture module is looked for only beside the program or relative to it, never from the
// working folder; the first one there is loaded, or refused with its path and the reason.
// The converter's one reporter: what it prints for each kind of error, and the exit status.
TEST(Reporter, PrintsAndPicksTheStatusByKind) {
    using base::ErrorKind;
    const struct {
        base::Error error;
        const char* printed;
        int status;
    } rows[] = {
        {{"in.bmp", "it is empty"}, "greyplanes-cli: in.bmp: it is empty\n", 1},
        {{{}, "bad header"}, "greyplanes-cli: bad header\n", 1},
        {base::noMemory("a.png", "to convert it"),
         "greyplanes-cli: a.png: not enough memory to convert it\n", 1},
        {base::noMemory("x.h"), "greyplanes-cli: x.h: not enough memory\n", 1},
        {{"gb.h", "p_width is 5, not the -r WIDTH 6", ErrorKind::Usage},
         "greyplanes-cli: gb.h: p_width is 5, not the -r WIDTH 6\n",
         2},
        {{{}, "-w needs a number", ErrorKind::Usage},
         "greyplanes-cli: -w needs a number\nTry 'greyplanes-cli --help' for more.\n",
         2},
        {{"standard output", "gone", ErrorKind::Quiet}, "", 1},
    };
    for (const auto& row : rows) {
        char* text = nullptr;
        std::size_t size = 0;
        std::FILE* out = ::open_memstream(&text, &size);
        ASSERT_NE(out, nullptr);
        const int status = cli::report(out, row.error);
        std::fclose(out);
        EXPECT_EQ(std::string(text, size), row.printed);
        EXPECT_EQ(status, row.status) << row.printed;
        std::free(text);
    }
}

TEST(PictureModule, LoadsOnlyFromTheProgramsOwnPlace) {
    EXPECT_EQ(cli::moduleCandidates("/opt/gp/bin/greyplanes-cli", "m.so", "../libexec/gp"),
              (std::vector<std::string>{"/opt/gp/bin/m.so", "/opt/gp/bin/../libexec/gp/m.so"}));
    for (const std::string unknown : {"", "greyplanes-cli", "bin/greyplanes-cli"}) {
        EXPECT_EQ(cli::moduleCandidates(unknown, "m.so", "../libexec/gp"),
                  std::vector<std::string>{})
            << unknown;
    }

    const char* built = std::getenv("GREYPLANES_PICTURE_MODULE");
    ASSERT_NE(built, nullptr);
    faults::TempDir dir;
    const std::string module = built;
    const std::string missing = (dir / "missing.so").string();
    const std::string fake = (dir / "fake.so").string();
    faults::writeFile(fake, "not a module");
    const struct {
        std::vector<std::string> candidates;
        int version;
        std::string failure; // empty: loaded
    } cases[] = {
        {{missing, module}, GREYPLANES_PICTURE_INTERFACE, ""},
        {{module},
         GREYPLANES_PICTURE_INTERFACE + 1,
         module + ": its interface is version " + std::to_string(GREYPLANES_PICTURE_INTERFACE) +
             ", this converter needs version " + std::to_string(GREYPLANES_PICTURE_INTERFACE + 1)},
        {{missing, fake, module}, GREYPLANES_PICTURE_INTERFACE, fake + ": "},
        {{missing, missing + "2"}, 1, "it is at neither " + missing + " nor " + missing + "2"},
        {{}, 1, "there is no place to look for it"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.failure);
        const auto loaded =
            cli::loadModule(c.candidates, GREYPLANES_PICTURE_INTERFACE_ENTRY, c.version);
        if (c.failure.empty()) {
            ASSERT_EQ(loaded.index(), 0u) << std::get<1>(loaded);
            ::dlclose(std::get<0>(loaded));
        } else {
            ASSERT_EQ(loaded.index(), 1u);
            // A failure ending in ": " is followed by the loader's own reason.
            const std::string& failure = std::get<1>(loaded);
            const bool open = c.failure.ends_with(": ");
            EXPECT_EQ(open ? failure.substr(0, c.failure.size()) : failure, c.failure);
            EXPECT_TRUE(!open || failure.size() > c.failure.size()) << failure;
        }
    }
}

} // namespace
