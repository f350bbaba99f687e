// The converter's firmware options end to end: a complete text compiles as C and C++ and holds
// the planes of the picture it wrote, every text reverses to that picture, and the command
// line's files: one file named twice, names that are not UTF-8, closed standard streams.

#include "faults/fault_support.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>

namespace {

using faults::readFile;
using faults::writeFile;
using faults::fs::path;

// The dark and light planes of a 4-bit bottom-up palette bitmap holding only level colours,
// packed bit by bit, each row starting on a new byte when `padded`.
std::pair<std::string, std::string> planesOfBitmap(const std::string& bmp, bool padded) {
    auto le32 = [&](std::size_t at) {
        return static_cast<int>(static_cast<unsigned char>(bmp.at(at)) |
                                static_cast<unsigned char>(bmp.at(at + 1)) << 8 |
                                static_cast<unsigned char>(bmp.at(at + 2)) << 16);
    };
    const int width = le32(18);
    const int height = le32(22);
    const auto pixels = static_cast<std::size_t>(le32(10));
    const std::size_t stride = ((static_cast<std::size_t>(width) + 1) / 2 + 3) & ~std::size_t{3};
    const std::size_t rowBits = padded ? (width + 7) / 8 * 8 : width;
    const std::size_t bytes = (rowBits * height + 7) / 8;
    std::string dark(bytes, '\0');
    std::string light(bytes, '\0');
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const auto twoPixels = static_cast<unsigned char>(
                bmp.at(pixels + (height - 1 - y) * stride + static_cast<std::size_t>(x) / 2));
            const unsigned index = x % 2 == 0 ? twoPixels >> 4 : twoPixels & 15u;
            EXPECT_EQ(bmp.at(28), 4) << "bits per pixel";
            const std::size_t at = 54 + 4 * index; // the palette entry: B, G, R, 0
            const int blue = static_cast<unsigned char>(bmp.at(at));
            const int red = static_cast<unsigned char>(bmp.at(at + 2));
            const std::size_t bit = y * rowBits + x;
            const char mask = static_cast<char>(0x80 >> (bit % 8));
            // Black 0x000000, dark grey 0x5A595A, light grey 0xB4B4B4, white 0xFFFFFF.
            if (red < 0x80) {
                dark[bit / 8] |= mask;
            }
            if (red == 0 || red == 0xB4) {
                light[bit / 8] |= mask;
            }
            EXPECT_TRUE(red == 0 || red == 0x5A || red == 0xB4 || red == 0xFF) << blue;
        }
    }
    return {dark, light};
}

std::string cBytes(const std::string& bytes) {
    std::ostringstream out;
    for (const char b : bytes) {
        out << static_cast<int>(static_cast<unsigned char>(b)) << ",";
    }
    return out.str();
}

// Compiles `source` with the compiler in the environment variable and runs it: its exit status,
// or -1 when it did not build.
int compileAndRun(const char* compilerVariable, const std::vector<std::string>& flags,
                  const path& source, const path& dir) {
    const char* compiler = std::getenv(compilerVariable);
    if (compiler == nullptr) {
        ADD_FAILURE() << compilerVariable << " is not set";
        return -1;
    }
    std::string command = std::string(compiler);
    for (const auto& flag : flags) {
        command += " " + flag;
    }
    const path program = dir / "check";
    command += " -I" + dir.string() + " -o " + program.string() + " " + source.string() + " 2>&1";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) {
            output.append(buffer, n);
        }
        if (pclose(pipe) != 0) {
            ADD_FAILURE() << command << "\n" << output;
            return -1;
        }
    }
    EXPECT_EQ(output, "") << command;
    return std::system(program.c_str());
}

TEST(CompleteText, CompilesAsCAndCppAndHoldsThePlanesOfItsPicture) {
    faults::TempDir dir;
    std::string checks;
    std::string includes;
    std::string expected;
    for (const bool padded : {false, true}) {
        for (const int width : {1, 7, 8, 9, 15, 16, 17}) {
            const std::string name = std::string(padded ? "pad" : "packed") + std::to_string(width);
            writeFile(dir / "in.bmp", faults::bmp24(width, 3));
            std::vector<std::string> args{"--complete",
                                          "--name",
                                          name,
                                          "-o",
                                          (dir / (name + ".h")).string(),
                                          "-p",
                                          (dir / (name + ".bmp")).string()};
            if (padded) {
                args.push_back("--pad-rows");
            }
            args.push_back((dir / "in.bmp").string());
            const auto r = faults::runCli(args);
            ASSERT_EQ(r.exitCode, 0) << r.err;
            const auto [dark, light] = planesOfBitmap(readFile(dir / (name + ".bmp")), padded);
            // Twice: the guard must keep the second inclusion empty.
            includes += "#include \"" + name + ".h\"\n#include \"" + name + ".h\"\n";
            expected += "static const unsigned char e_" + name + "_d[] = {" + cBytes(dark) +
                        "};\nstatic const unsigned char e_" + name + "_l[] = {" + cBytes(light) +
                        "};\n";
            checks += "    bad += " + name + "_width != " + std::to_string(width) + " || " + name +
                      "_height != 3;\n";
            for (const char* plane : {"_d", "_l"}) {
                checks += "    bad += sizeof " + name + plane + " != sizeof e_" + name + plane +
                          " || memcmp(" + name + plane + ", e_" + name + plane + ", sizeof e_" +
                          name + plane + ") != 0;\n";
            }
        }
    }
    const path source = dir / "check.c";
    writeFile(source, includes + "#include <string.h>\n" + expected +
                          "int main(void) {\n    int bad = 0;\n" + checks + "    return bad;\n}\n");
    EXPECT_EQ(compileAndRun("GREYPLANES_TEST_CC",
                            {"-std=c99", "-Wall", "-Wextra", "-Wpedantic", "-Werror"}, source,
                            dir.path()),
              0);
    EXPECT_EQ(
        compileAndRun("GREYPLANES_TEST_CXX",
                      {"-x", "c++", "-std=c++17", "-Wall", "-Wextra", "-Wpedantic", "-Werror"},
                      source, dir.path()),
        0);
}

// Every text of a picture, reversed, gives the very bytes that -p wrote.
class RoundTrip : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(RoundTrip, TextReversesToThePicture) {
    const std::vector<std::string>& mode = GetParam();
    const bool padded = std::find(mode.begin(), mode.end(), "--pad-rows") != mode.end();
    const bool complete = std::find(mode.begin(), mode.end(), "--complete") != mode.end();
    faults::TempDir dir;
    for (const auto& [width, height] :
         {std::pair{13, 7}, std::pair{16, 3}, std::pair{3, 5}, std::pair{1, 11}}) {
        // Packed rows narrower than a byte: the fill bits of the last byte would read as
        // white rows, unless the text gives the height.
        if (width == 1 && !padded && !complete) {
            continue;
        }
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        writeFile(dir / "in.bmp", faults::bmp24(width, height));
        std::vector<std::string> args = mode;
        args.insert(args.end(), {"-q", "-o", (dir / "text.c").string(), "-p",
                                 (dir / "pic.bmp").string(), (dir / "in.bmp").string()});
        auto r = faults::runCli(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        args = {"-r", std::to_string(width), "-o", (dir / "back.bmp").string()};
        if (padded) {
            args.push_back("--pad-rows");
        }
        args.push_back((dir / "text.c").string());
        r = faults::runCli(args);
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const std::string picture = readFile(dir / "pic.bmp");
        EXPECT_EQ(readFile(dir / "back.bmp"), picture);
        // Standard output, when it is not a terminal, carries the same bitmap.
        args.erase(args.begin() + 2, args.begin() + 4);
        EXPECT_EQ(faults::runCli(args).out, picture);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Modes, RoundTrip,
    testing::Values(std::vector<std::string>{}, std::vector<std::string>{"--pad-rows"},
                    std::vector<std::string>{"--lf"}, std::vector<std::string>{"--complete"},
                    std::vector<std::string>{"--name", "logo"},
                    std::vector<std::string>{"--complete", "--pad-rows", "--lf", "-n", "x1"}));

TEST(Reverse, RefusesTextWithoutPlanesAndBadWidths) {
    faults::TempDir dir;
    writeFile(dir / "one.c", "static unsigned char a[] = {1, 2};\n");
    writeFile(dir / "short.c", "a_d[] = {1, 2}; a_l[] = {3, 4};\n");
    writeFile(dir / "byte.c", "a_d[] = {1}; a_l[] = {3};\n");
    writeFile(dir / "tall.h", "#define a_width 8\n#define a_height 3\na_d[] = {1, 2};\n"
                              "a_l[] = {3, 4};\n");
    writeFile(dir / "gb.h", "/* g.bmp: 8 x 8 pixels in four grey levels.\n * Game Boy tiles of 8 x "
                            "8 pixels, 16 bytes each: per pixel row the low bits, then the high "
                            "bits, white 0 to black 3; tiles left to right, then top to bottom. "
                            "*/\nconst unsigned char g[16] = {0};\n");
    writeFile(dir / "two.c", "a_d[] = {1}; a_l[] = {3}; b_d[] = {1, 2}; b_l[] = {3, 4};\n");
    faults::fs::create_directory(dir / "folder.c");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string error;
    } cases[] = {
        {{"-r", "8", (dir / "one.c").string()},
         1,
         (dir / "one.c").string() + ": it holds 1 array; --layout planes has two (the dark and the "
                                    "light plane)"},
        {{"-r", "17", (dir / "short.c").string()},
         1,
         (dir / "short.c").string() + ": its arrays hold 2 bytes, fewer than one row of 17 "
                                      "pixels takes"},
        {{"-r", "9", "--pad-rows", (dir / "byte.c").string()},
         1,
         (dir / "byte.c").string() + ": its arrays hold 1 byte, not a whole number of rows of 9 "
                                     "pixels padded to 2 bytes"},
        {{"-r", "8", (dir / "tall.h").string()},
         1,
         (dir / "tall.h").string() + ": its arrays hold 2 bytes, but 8 x 3 pixels in --layout "
                                     "planes take 3 bytes"},
        {{"-r", "9", (dir / "tall.h").string()},
         2,
         (dir / "tall.h").string() + ": a_width is 8, not the -r WIDTH 9"},
        // Given, a default contradicts a header as much as any other value.
        {{"-r", "8", "--layout", "planes", (dir / "gb.h").string()},
         2,
         (dir / "gb.h").string() + ": its first comment says \"Game Boy tiles of 8 x 8 pixels, 16 "
                                   "bytes each: per pixel row the low bits, then the high bits, "
                                   "white 0 to black 3; tiles left to right, then top to "
                                   "bottom.\"; --layout planes contradicts it"},
        {{"-r", "8", "-n", "c", (dir / "two.c").string()},
         1,
         (dir / "two.c").string() + ": it holds no array c_d for --layout planes (its arrays: "
                                    "a_d, a_l, b_d, b_l)"},
        {{"-r", "8", (dir / "missing.c").string()},
         1,
         (dir / "missing.c").string() + ": No such file or directory"},
        {{"-r", "8", (dir / "folder.c").string()},
         1,
         (dir / "folder.c").string() + ": is a folder"},
        {{"-r", "-3", (dir / "short.c").string()},
         2,
         "bad SIZE '-3' for -r: it is WIDTH or WIDTHxHEIGHT, each a whole number of pixels from 1 "
         "to 32767\nTry "
         "'greyplanes-cli --help' for more."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args[1]);
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), {"-o", (dir / "out.bmp").string()});
        const auto r = faults::runCli(args);
        EXPECT_EQ(r.exitCode, c.status);
        EXPECT_EQ(r.err, "greyplanes-cli: " + c.error + "\n");
        EXPECT_FALSE(faults::fs::exists(dir / "out.bmp"));
        faults::fs::remove(dir / "out.bmp");
    }
}

// One file under two names would lose what was written first, or the input itself.
TEST(FileNames, OneFileNamedTwiceIsAUsageErrorAndNothingIsWritten) {
    faults::TempDir dir;
    const std::string input = (dir / "in.bmp").string();
    const std::string picture = faults::bmp24(5, 4);
    writeFile(input, picture);
    writeFile(dir / "x.txt", "earlier");
    faults::fs::create_symlink(dir / "in.bmp", dir / "link.bmp");
    const std::vector<std::string> clashes[] = {
        {"-o", (dir / "x.txt").string(), "-p", (dir / "x.txt").string(), input},
        {"-o", (dir / "new.txt").string(), "-p", (dir / "." / "new.txt").string(), input},
        {"-o", (dir / "link.bmp").string(), input},
        {"-p", (dir / "link.bmp").string(), input},
        {"-r", "5", "-o", (dir / "." / "in.bmp").string(), input},
    };
    const auto before = faults::listFolder(dir.path());
    for (const auto& args : clashes) {
        SCOPED_TRACE(args[1]);
        const auto r = faults::runCli(args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_NE(r.err.find("are the same file; nothing was written"), std::string::npos) << r.err;
        EXPECT_EQ(readFile(dir / "x.txt"), "earlier");
        EXPECT_EQ(readFile(dir / "in.bmp"), picture);
        EXPECT_EQ(faults::listFolder(dir.path()), before);
    }
}

// Names reach the file system as the bytes given, whatever the locale's encoding says.
TEST(FileNames, NamesThatAreNotUtf8AreUsedByteForByte) {
    faults::TempDir dir;
    writeFile(dir / "plain.bmp", faults::bmp24(9, 4));
    const auto plain = faults::runCli({"-q", (dir / "plain.bmp").string()});
    ASSERT_EQ(plain.exitCode, 0) << plain.err;

    writeFile(dir / "in\xff.bmp", faults::bmp24(9, 4));
    auto r = faults::runCli({"-q", "-o", (dir / "text\xfe.c").string(), "-p",
                             (dir / "pic\xe9.bmp").string(), (dir / "in\xff.bmp").string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir / "text\xfe.c"), plain.out);
    r = faults::runCli(
        {"-r", "9", "-o", (dir / "back\xfd.bmp").string(), (dir / "text\xfe.c").string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(readFile(dir / "back\xfd.bmp"), readFile(dir / "pic\xe9.bmp"));
    EXPECT_EQ(faults::listFolder(dir.path()),
              (std::vector<std::string>{"back\xfd.bmp", "in\xff.bmp", "pic\xe9.bmp", "plain.bmp",
                                        "text\xfe.c"}));
}

// A closed standard output is reported; what was meant for it never lands in a file the
// converter opened afterwards.
TEST(StandardStreams, ClosedStandardOutputIsReportedAndNoFileGetsTheText) {
    faults::TempDir dir;
    writeFile(dir / "in.bmp", faults::bmp24(9, 4));
    const std::string input = (dir / "in.bmp").string();
    const faults::RunOptions closedOut{false, 0, {1}};

    for (const auto& args : {std::vector<std::string>{input},
                             std::vector<std::string>{"-p", (dir / "pic.bmp").string(), input},
                             std::vector<std::string>{"--version"}}) {
        SCOPED_TRACE(args.size());
        const auto r = faults::runCli(args, closedOut);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "greyplanes-cli: standard output: it is closed\n");
        EXPECT_EQ(faults::listFolder(dir.path()), std::vector<std::string>{"in.bmp"});
    }

    // With every output named, closed streams do not matter; the text is the usual one.
    const auto usual = faults::runCli({"-q", input});
    const auto r = faults::runCli(
        {"-q", "-o", (dir / "text.c").string(), "-p", (dir / "pic.bmp").string(), input},
        {false, 0, {0, 1, 2}});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(readFile(dir / "text.c"), usual.out);

    const auto back = faults::runCli({"-r", "9", (dir / "text.c").string()}, closedOut);
    EXPECT_EQ(back.exitCode, 1);
    EXPECT_EQ(back.err, "greyplanes-cli: standard output: it is closed\n");
}

} // namespace
