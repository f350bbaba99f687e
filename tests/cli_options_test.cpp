// The converter's command line, parsed in process: names, widths and how the options land.

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

} // namespace
