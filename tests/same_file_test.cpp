// Which spellings of INPUT, -o (or standard output) and -p name the same file.

#include "cli/same_file.h"
#include "faults/fault_support.h"

#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

// The reason of the usage error, which names no file of its own: the reason names them.
std::optional<std::string> clash(const cli::Options& options) {
    const auto problem = cli::sameFileProblem(options);
    if (!problem) {
        return std::nullopt;
    }
    EXPECT_EQ(problem->kind, base::ErrorKind::Usage);
    EXPECT_EQ(problem->file, "");
    return problem->reason;
}

// Which pairs of names are one file. Relative names are resolved from the folder the test
// runs in, so the files live there.
TEST(SameFile, ThroughLinksAndSpellings) {
    faults::TempDir dir;
    const std::string d = dir.path().string();
    faults::writeFile(dir / "x", "x");
    faults::writeFile(dir / "y", "y");
    faults::fs::create_directory(dir / "sub");
    faults::fs::create_symlink(dir / "x", dir / "link");
    faults::fs::create_hard_link(dir / "x", dir / "hard");
    faults::fs::create_directory_symlink(dir / "sub", dir / "alias");
    faults::fs::create_symlink("sub/made", dir / "dangling");
    // The same folder through a bind mount (needs root); otherwise a folder of its own.
    faults::fs::create_directory(dir / "bound");
    const bool bound =
        ::mount((dir / "sub").c_str(), (dir / "bound").c_str(), nullptr, MS_BIND, nullptr) == 0;

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
        {d + "/dangling", d + "/sub/made", true}, // a save writes through the link
        {d + "/sub/new", d + "/bound/new", bound},
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
            EXPECT_EQ(clash(options).has_value(), same) << slot;
        }
    }

    // The relative spellings: x and ./x from the folder they are in.
    const auto here = faults::fs::current_path();
    faults::fs::current_path(dir.path());
    cli::Options options;
    options.input = "x";
    options.textOutput = "./x";
    const auto problem = clash(options);
    options.textOutput = "out.txt";
    options.pictureOutput = "../" + dir.path().filename().string() + "/out.txt";
    const auto missing = clash(options);
    // Every INPUT is one of the files; two INPUTs may be the same.
    options = {};
    options.input = "out.txt";
    options.moreInputs = {"./out.txt", "x"};
    options.textOutput = "./x";
    const auto later = clash(options);
    faults::fs::current_path(here);
    EXPECT_EQ(problem, "-o ./x and INPUT x are the same file; nothing was written");
    EXPECT_EQ(missing, "-p ../" + dir.path().filename().string() +
                           "/out.txt and -o out.txt are the same file; nothing was written");
    EXPECT_EQ(later, "-o ./x and INPUT x are the same file; nothing was written");
    if (bound) {
        ::umount2((dir / "bound").c_str(), MNT_DETACH);
    }
}

// Without -o the text goes to standard output, which may be a file named again by -p.
TEST(SameFile, StandardOutputIsOneOfTheFiles) {
    faults::TempDir dir;
    faults::writeFile(dir / "out", "");
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    const int fd = ::open((dir / "out").c_str(), O_WRONLY);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
    cli::Options options;
    options.input = (dir / "in").string();
    options.pictureOutput = (dir / "out").string();
    const auto problem = clash(options);
    options.textOutput = (dir / "text").string();
    const auto none = clash(options);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    EXPECT_EQ(problem, "-p " + options.pictureOutput +
                           " and standard output are the same file; nothing was written");
    EXPECT_EQ(none, std::nullopt);
}

// Standard output as a pipe: any name that reaches it, as -p while the text goes there too, is
// refused as -p - is; a pipe named again elsewhere is not.
TEST(SameFile, StandardOutputPipeByAnyName) {
    faults::TempDir dir;
    faults::fs::create_symlink("/proc/self/fd/1", dir / "out-link");
    const std::string link = (dir / "out-link").string();
    struct Case {
        std::string text, picture;
        bool refused;
    } cases[] = {
        {"", "/dev/stdout", true},
        {"", "/proc/self/fd/1", true},
        {"", link, true},
        {"/dev/stdout", "-", true},
        {"/proc/self/fd/1", link, true},
        {(dir / "text").string(), "/dev/stdout", false},
        {"", (dir / "picture").string(), false},
    };
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(ends[1], STDOUT_FILENO);
    std::vector<std::optional<std::string>> problems;
    for (const Case& c : cases) {
        cli::Options options;
        options.input = (dir / "in").string();
        options.textOutput = c.text;
        options.pictureOutput = c.picture;
        problems.push_back(clash(options));
    }
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(ends[0]);
    ::close(ends[1]);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].text + " | " + cases[i].picture);
        EXPECT_EQ(problems[i], cases[i].refused
                                   ? std::optional<std::string>(
                                         "-p " + cases[i].picture +
                                         " and the C text cannot both go to standard output: "
                                         "give -o FILE")
                                   : std::nullopt);
    }
}

} // namespace
