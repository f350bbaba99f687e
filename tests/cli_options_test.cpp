// The converter's command line, parsed in process: names, widths, how the options land, and
// which spellings name the same file.

#include "cli/options.h"
#include "faults/fault_support.h"

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
    EXPECT_EQ(parsed.error, GetParam().error);
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
    Widths, UsageErrors,
    testing::Values(Refusal{{"-r", "-5", "in"},
                            "bad width '-5': WIDTH is a whole number of pixels from 1 to 32767"},
                    Refusal{{"-r", "0", "in"},
                            "bad width '0': WIDTH is a whole number of pixels from 1 to 32767"},
                    Refusal{{"-r", "32768", "in"},
                            "bad width '32768': WIDTH is a whole number of pixels from 1 to 32767"},
                    Refusal{{"--reverse=8px", "in"},
                            "bad width '8px': WIDTH is a whole number of pixels from 1 to 32767"},
                    Refusal{{"-r", "+8", "in"},
                            "bad width '+8': WIDTH is a whole number of pixels from 1 to 32767"},
                    Refusal{{"in", "-r"}, "-r needs a WIDTH"},
                    Refusal{{"-r", "8", "-p", "out.bmp", "in"},
                            "-p cannot be used with -r: the picture goes to -o FILE"}));

INSTANTIATE_TEST_SUITE_P(Others, UsageErrors,
                         testing::Values(Refusal{{}, "no INPUT file given"},
                                         Refusal{{"a", "b"}, "only one INPUT file can be given"},
                                         Refusal{{"--lf=yes", "in"}, "--lf takes no value"},
                                         Refusal{{"--pad", "in"}, "unknown option --pad"}));

TEST(CommandLine, OptionsLandWhereTheyBelong) {
    cli::ParsedCommandLine p =
        parse({"--complete", "--lf", "--pad-rows", "-n", "logo", "-q", "--output=out\xff.h", "-p",
               "pic.bmp", "--", "-dir/in\xfe.bmp"});
    ASSERT_EQ(p.request, cli::Request::Run) << p.error;
    EXPECT_EQ(p.options.input, "-dir/in\xfe.bmp");
    EXPECT_EQ(p.options.textOutput, "out\xff.h");
    EXPECT_EQ(p.options.pictureOutput, "pic.bmp");
    EXPECT_EQ(p.options.style.name, "logo");
    EXPECT_TRUE(p.options.style.complete);
    EXPECT_TRUE(p.options.style.lf);
    EXPECT_EQ(p.options.style.source, "in\xfe.bmp");
    EXPECT_EQ(p.options.layout, imaging::RowLayout::Padded);
    EXPECT_EQ(p.options.reverseWidth, 0);
    EXPECT_FALSE(p.options.progress);

    p = parse({"-r", "32767", "in.h"});
    ASSERT_EQ(p.request, cli::Request::Run) << p.error;
    EXPECT_EQ(p.options.reverseWidth, 32767);
    EXPECT_EQ(p.options.style.name, "Untitled");
    EXPECT_FALSE(p.options.style.complete || p.options.style.lf);
    EXPECT_EQ(p.options.layout, imaging::RowLayout::Packed);
    EXPECT_TRUE(p.options.progress);
    EXPECT_EQ(parse({"in", "--help"}).request, cli::Request::Help);
    EXPECT_EQ(parse({"-V"}).request, cli::Request::Version);
}

// Which pairs of names are one file. Relative names are resolved from the folder the test
// runs in, so the files live there.
TEST(CommandLine, SameFileThroughLinksAndSpellings) {
    faults::TempDir dir;
    const std::string d = dir.path().string();
    faults::writeFile(dir / "x", "x");
    faults::writeFile(dir / "y", "y");
    faults::fs::create_directory(dir / "sub");
    faults::fs::create_symlink(dir / "x", dir / "link");
    faults::fs::create_hard_link(dir / "x", dir / "hard");
    faults::fs::create_directory_symlink(dir / "sub", dir / "alias");

    const struct {
        std::string a, b;
        bool same;
    } pairs[] = {
        {d + "/x", d + "/x", true},
        {d + "/x", d + "/./x", true},
        {d + "/x", d + "/sub/../x", true},
        {d + "/x", d + "/link", true},
        {d + "/x", d + "/hard", true},
        {d + "/sub/new", d + "/alias/new", true}, // neither exists yet
        {d + "/new", d + "/sub/../new", true},
        {d + "/x", d + "/y", false},
        {d + "/new", d + "/sub/new", false},
        {d + "/new", d + "/NEW", false},
        {"/dev/null", "/dev/null", false}, // devices may be named twice
        {d + "/sub", d + "/sub", false},   // writing to a folder fails on its own
    };
    for (const auto& [a, b, same] : pairs) {
        SCOPED_TRACE(a + " | " + b);
        for (const int slot : {0, 1, 2}) {
            cli::Options options;
            // -o a -p b; INPUT a -p b; INPUT b -o a.
            options.input = slot == 0 ? "" : slot == 1 ? a : b;
            options.textOutput = slot == 1 ? "" : a;
            options.pictureOutput = slot == 2 ? "" : b;
            EXPECT_EQ(cli::sameFileProblem(options).has_value(), same) << slot;
        }
    }

    // The relative spellings: x and ./x from the folder they are in.
    const auto here = faults::fs::current_path();
    faults::fs::current_path(dir.path());
    cli::Options options;
    options.input = "x";
    options.textOutput = "./x";
    const auto problem = cli::sameFileProblem(options);
    options.textOutput = "out.txt";
    options.pictureOutput = "../" + dir.path().filename().string() + "/out.txt";
    const auto missing = cli::sameFileProblem(options);
    faults::fs::current_path(here);
    EXPECT_EQ(problem, "-o ./x and INPUT x are the same file; nothing was written");
    EXPECT_EQ(missing, "-p " + options.pictureOutput +
                           " and -o out.txt are the same file; nothing was written");
}

} // namespace
