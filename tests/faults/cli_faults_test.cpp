// The converter on inputs it cannot read and outputs it cannot write: the exit status, the
// message with the file and the reason, and the files on disk afterwards; standard output that
// is closed or whose reader goes away; a signal in the middle of writing.

#include "faults/fault_support.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

using faults::readFile;
using faults::writeFile;
using faults::fs::path;

const std::string kEarlierText = "text from an earlier run\r\n";
const std::string kEarlierPicture = faults::bmp24(3, 2);

// The one line reported for a failing file: "greyplanes-cli: FILE: reason".
void expectReported(const std::string& err, const path& file, const std::string& reason) {
    const std::string prefix = "greyplanes-cli: " + file.string() + ": ";
    EXPECT_NE(err.find(prefix + reason), std::string::npos)
        << "expected \"" << prefix << reason << "\" in: " << err;
}

std::uint32_t le32(const std::string& bytes, std::size_t at) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
        v = (v << 8) | static_cast<unsigned char>(bytes.at(at + static_cast<std::size_t>(i)));
    }
    return v;
}

class ConverterInput : public testing::Test {
  protected:
    void SetUp() override {
        writeFile(m_text, kEarlierText);
        writeFile(m_picture, kEarlierPicture);
    }

    // The input is refused; the outputs from before are left as they were, nothing is added.
    void expectRefused(const path& input, const std::string& reason,
                       const faults::RunOptions& options = {}) {
        const auto before = faults::listFolder(m_dir.path());
        const auto r = faults::runCli(
            {"-q", "-o", m_text.string(), "-p", m_picture.string(), input.string()}, options);
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.out, "");
        expectReported(r.err, input, reason);
        // Reported once, and nothing else: decoders print nothing of their own.
        EXPECT_EQ(r.err.rfind("greyplanes-cli: ", 0), 0u) << r.err;
        EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << r.err;
        EXPECT_EQ(readFile(m_text), kEarlierText);
        EXPECT_EQ(readFile(m_picture), kEarlierPicture);
        EXPECT_EQ(faults::listFolder(m_dir.path()), before);
    }

    faults::TempDir m_dir;
    path m_text = m_dir / "planes.txt";
    path m_picture = m_dir / "planes.bmp";
};

TEST_F(ConverterInput, MissingFile) {
    expectRefused(m_dir / "missing.bmp", "No such file or directory");
}

TEST_F(ConverterInput, Folder) {
    faults::fs::create_directory(m_dir / "folder.bmp");
    expectRefused(m_dir / "folder.bmp", "is a folder");
}

TEST_F(ConverterInput, FileWithoutReadPermission) {
    const path input = m_dir / "locked.bmp";
    writeFile(input, faults::bmp24(4, 4));
    faults::fs::permissions(input, faults::fs::perms::none);
    // Root reads anything, so the converter then runs as nobody, which must be able to reach it.
    const bool asNobody = geteuid() == 0;
    if (asNobody && faults::runCli({"--version"}, {true, 0}).exitCode != 0) {
        GTEST_SKIP() << "the converter cannot be run as nobody from where it was built";
    }
    expectRefused(input, "Permission denied", {asNobody, 0});
}

// A pipe or a device has no size to check a header against; a pipe with no writer would
// block the open for ever.
TEST_F(ConverterInput, PipeOrDevice) {
    const path fifo = m_dir / "picture.pipe";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    expectRefused(fifo, "is not a regular file");
    expectRefused("/dev/zero", "is not a regular file");
}

TEST_F(ConverterInput, EmptyFile) {
    writeFile(m_dir / "empty.bmp", "");
    expectRefused(m_dir / "empty.bmp", "the file is empty");
}

TEST_F(ConverterInput, BitmapNameHoldingSomethingElse) {
    writeFile(m_dir / "notes.bmp", "Shopping list:\n- milk\n- bread\n");
    expectRefused(m_dir / "notes.bmp", "not a picture");
    // A PNG header claiming the largest extent, with no pixel data.
    writeFile(m_dir / "renamed.bmp", faults::pngHeaderOnly(32767, 32767));
    expectRefused(m_dir / "renamed.bmp",
                  "the file is truncated: the PNG data ends at row 0 of 32767");
    // Starts like a bitmap and then stops: a download cut short.
    writeFile(m_dir / "cut.bmp", faults::bmp24(64, 48).substr(0, 4000));
    expectRefused(m_dir / "cut.bmp", "the file is truncated");
}

TEST_F(ConverterInput, PictureBeyondTheLargestExtent) {
    writeFile(m_dir / "wide.bmp", faults::bmp24(32768, 1));
    expectRefused(m_dir / "wide.bmp", "the picture is too large (32768 × 1 pixels");
    writeFile(m_dir / "high.bmp", faults::bmp24(1, 32768));
    expectRefused(m_dir / "high.bmp", "the picture is too large (1 × 32768 pixels");
    // Other formats are refused from their header too.
    writeFile(m_dir / "wide.ppm", "P6\n# made by hand\n40000 10\n255\n");
    expectRefused(m_dir / "wide.ppm", "the picture is too large (40000 × 10 pixels");
}

// A PNG streams, so a small file that claims a huge picture and ends after its header takes no
// memory for it, even where memory is tight: it is refused where its data ends. The address
// sanitizer cannot run under an address-space limit, so there the largest allocation it grants
// stands for the lack of memory.
TEST_F(ConverterInput, HugePngThatEndsEarlyTakesNoMemory) {
    const std::uint64_t tight = std::uint64_t{1} << 30;
    const struct {
        const char* name;
        int width, height;
        std::uint64_t memory; // 0: no limit
        const char* reason;
    } cases[] = {
        {"huge.png", 32767, 32767, 0, "the file is truncated: the PNG data ends at row 0 of 32767"},
        {"bomb.png", 32767, 32767, tight,
         "the file is truncated: the PNG data ends at row 0 of 32767"},
    };
    // An empty chunk of pixel data after the header: without it a reader cannot tell the extent.
    const std::string noPixels("\0\0\0\0IDAT\x35\xAF\x06\x1E", 12);
    const char* sanitizer = std::getenv("ASAN_OPTIONS");
    const std::string saved = sanitizer ? sanitizer : "";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(m_dir / c.name, faults::pngHeaderOnly(c.width, c.height) + noPixels);
        faults::RunOptions limited;
        if (c.memory != 0 && faults::builtWithAddressSanitizer()) {
            ::setenv("ASAN_OPTIONS",
                     (saved + ":allocator_may_return_null=1:max_allocation_size_mb=" +
                      std::to_string(c.memory >> 21))
                         .c_str(),
                     1);
        } else {
            limited.addressLimit = c.memory;
        }
        expectRefused(m_dir / c.name, c.reason, limited);
        if (sanitizer) {
            ::setenv("ASAN_OPTIONS", saved.c_str(), 1);
        } else {
            ::unsetenv("ASAN_OPTIONS");
        }
    }
}

// Bitmaps of every kind are read past 16384 x 16384 pixels (a limit of other decoders): a
// run-length bitmap that ends at once is a white picture of that size.
TEST_F(ConverterInput, LargeRunLengthBitmapIsConverted) {
    if (faults::builtWithAddressSanitizer()) {
        GTEST_SKIP() << "a quarter of a billion pixels take too long under the sanitizers";
    }
    const path rle = m_dir / "rle.bmp";
    std::string bytes = faults::lyingBmp(16385, 16385, 8, 1, 40, 0);
    bytes += std::string("\0\1", 2); // end of picture
    writeFile(rle, bytes);
    const auto r = faults::runCli({"-q", "-o", "/dev/null", rle.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

// The largest extent is accepted in either direction (thin pictures keep the files small).
TEST(ConverterExtent, LargestExtentIsConverted) {
    faults::TempDir dir;
    for (const auto& [width, height] : {std::pair{32767, 1}, std::pair{1, 32767}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(height));
        writeFile(dir / "in.bmp", faults::bmp24(width, height));
        const auto r = faults::runCli({"-q", "-o", (dir / "out.txt").string(), "-p",
                                       (dir / "out.bmp").string(), (dir / "in.bmp").string()});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.err, "");
        const std::string text = readFile(dir / "out.txt");
        EXPECT_EQ(text.rfind("static unsigned char Untitled_d[] = {", 0), 0u);
        // Both planes whole: one byte per 8 pixels each.
        std::size_t bytes = 0;
        for (auto at = text.find("0x"); at != std::string::npos; at = text.find("0x", at + 2)) {
            ++bytes;
        }
        EXPECT_EQ(bytes, 2 * ((std::size_t{32767} + 7) / 8));
        const std::string picture = readFile(dir / "out.bmp");
        ASSERT_GE(picture.size(), 54u);
        EXPECT_EQ(le32(picture, 18), static_cast<std::uint32_t>(width));
        EXPECT_EQ(le32(picture, 22), static_cast<std::uint32_t>(height));
    }
}

class ConverterOutput : public testing::Test {
  protected:
    void SetUp() override { writeFile(m_input, faults::bmp24(256, 256)); }

    // What the converter writes for the input when nothing fails.
    std::string expectedText() {
        const auto r = faults::runCli({"-q", m_input.string()});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return r.out;
    }

    faults::CliResult convert(const path& text, const path& picture) {
        return faults::runCli(
            {"-q", "-o", text.string(), "-p", picture.string(), m_input.string()});
    }

    faults::TempDir m_dir;
    path m_input = m_dir / "in.bmp";
};

TEST_F(ConverterOutput, FullDeviceForEitherOutput) {
    const path good = m_dir / "good.txt";
    auto r = convert("/dev/full", m_dir / "good.bmp");
    EXPECT_EQ(r.exitCode, 1);
    expectReported(r.err, "/dev/full", "No space left on device");
    // The other output is still written.
    EXPECT_TRUE(faults::fs::exists(m_dir / "good.bmp"));

    r = convert(good, "/dev/full");
    EXPECT_EQ(r.exitCode, 1);
    expectReported(r.err, "/dev/full", "No space left on device");
    EXPECT_EQ(readFile(good), expectedText());
}

TEST_F(ConverterOutput, FullFileSystemLeavesExistingFilesWhole) {
    // 16 KiB: room for the earlier files, not for the new text (~150 KB) or picture (~33 KB).
    faults::SmallFileSystem small(16 * 1024);
    if (!small.mounted()) {
        GTEST_SKIP() << "cannot mount a small file system: " << small.error();
    }
    const path text = small.path() / "planes.txt";
    const path picture = small.path() / "planes.bmp";
    writeFile(text, kEarlierText);
    writeFile(picture, kEarlierPicture);

    const auto r = convert(text, picture);
    EXPECT_EQ(r.exitCode, 1);
    expectReported(r.err, text, "No space left on device");
    expectReported(r.err, picture, "No space left on device");
    EXPECT_EQ(readFile(text), kEarlierText);
    EXPECT_EQ(readFile(picture), kEarlierPicture);
    // No half-written file and no temporary file beside them.
    EXPECT_EQ(faults::listFolder(small.path()),
              (std::vector<std::string>{"planes.bmp", "planes.txt"}));
}

TEST_F(ConverterOutput, ReadOnlyFolderLeavesExistingFilesWhole) {
    path folder;
    std::optional<faults::SmallFileSystem> small;
    std::string reason;
    if (geteuid() == 0) {
        // Root writes through permission bits: only a read-only mount stops it.
        small.emplace(1 << 20);
        if (!small->mounted()) {
            GTEST_SKIP() << "cannot mount a file system to make read-only: " << small->error();
        }
        folder = small->path();
        reason = "Read-only file system";
    } else {
        folder = m_dir / "locked";
        faults::fs::create_directory(folder);
        reason = "Permission denied";
    }
    writeFile(folder / "planes.txt", kEarlierText);
    if (small) {
        if (!small->makeReadOnly()) {
            GTEST_SKIP() << "cannot remount read-only: " << small->error();
        }
    } else {
        faults::fs::permissions(folder,
                                faults::fs::perms::owner_read | faults::fs::perms::owner_exec);
    }

    const auto r = convert(folder / "planes.txt", folder / "planes.bmp");
    EXPECT_EQ(r.exitCode, 1);
    // The folder is named as the cause.
    reason = "the folder " + folder.string() + " cannot be written to (" + reason + ")";
    expectReported(r.err, folder / "planes.txt", reason);
    expectReported(r.err, folder / "planes.bmp", reason);
    EXPECT_EQ(readFile(folder / "planes.txt"), kEarlierText);
    EXPECT_EQ(faults::listFolder(folder), std::vector<std::string>{"planes.txt"});
    if (!small) {
        faults::fs::permissions(folder, faults::fs::perms::owner_all);
    }
}

TEST_F(ConverterOutput, FolderThatDoesNotExist) {
    const path missing = m_dir / "no-such-folder";
    const auto r = convert(missing / "planes.txt", missing / "planes.bmp");
    EXPECT_EQ(r.exitCode, 1);
    expectReported(r.err, missing / "planes.txt",
                   "the folder " + missing.string() + " does not exist");
    expectReported(r.err, missing / "planes.bmp",
                   "the folder " + missing.string() + " does not exist");
    EXPECT_FALSE(faults::fs::exists(missing));
}

TEST_F(ConverterOutput, NameThatIsAFolder) {
    const path folder = m_dir / "taken";
    faults::fs::create_directory(folder);
    const auto r = convert(folder, folder);
    EXPECT_EQ(r.exitCode, 1);
    expectReported(r.err, folder, "is a folder");
    EXPECT_TRUE(faults::fs::is_directory(folder));
    EXPECT_TRUE(faults::fs::is_empty(folder));
}

// Devices cannot be replaced by a renamed file, so they are written directly.
TEST_F(ConverterOutput, DevicesAreWrittenDirectly) {
    const std::string expected = expectedText();
    ASSERT_FALSE(expected.empty());
    // The child's standard output is a regular file: the text goes into it, and /dev/stdout
    // stays the link it is (a rename would put a file in its place).
    auto r = faults::runCli({"-q", "-o", "/dev/stdout", m_input.string()});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, expected);
    EXPECT_TRUE(faults::fs::is_symlink("/dev/stdout"));

    r = convert("/dev/null", "/dev/null");
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
}

// The converter started with `out` as its standard output and standard error in `err`; its
// process id.
pid_t startCli(const std::vector<std::string>& args, int out, const path& err) {
    std::vector<std::string> argv{std::getenv("GREYPLANES_CLI")};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) {
        cargv.push_back(a.data());
    }
    cargv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        const int errFd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        if (errFd < 0 || dup2(out, 1) < 0 || dup2(errFd, 2) < 0) {
            _exit(126);
        }
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    return pid;
}

int waitFor(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

// Every name of a closed standard output is refused as standard output itself is.
TEST(StandardOutput, ClosedIsRefusedByAnyOfItsNames) {
    faults::TempDir dir;
    writeFile(dir / "in.bmp", faults::bmp24(9, 4));
    const std::string input = (dir / "in.bmp").string();
    const std::string text = (dir / "text.c").string();
    for (const auto& args : {std::vector<std::string>{"-o", "/dev/stdout", input},
                             std::vector<std::string>{"-o", "/proc/self/fd/1", input},
                             std::vector<std::string>{"-o", text, "-p", "/dev/stdout", input}}) {
        SCOPED_TRACE(args[1] + " " + args[2]);
        const auto r = faults::runCli(args, {false, 0, {1}});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.err, "greyplanes-cli: standard output: it is closed\n");
        EXPECT_EQ(faults::listFolder(dir.path()), std::vector<std::string>{"in.bmp"});
    }
    // /dev/null is no name of it.
    EXPECT_EQ(faults::runCli({"-q", "-o", "/dev/null", input}, {false, 0, {1}}).exitCode, 0);
}

// A reader that goes away (| head -c 100) ends the run with status 1 and no message.
TEST(StandardOutput, ReaderThatGoesAwayEndsWithOneQuietly) {
    faults::TempDir dir;
    writeFile(dir / "in.bmp", faults::bmp24(64, 64));
    for (const std::string name : {"", "/dev/stdout"}) {
        SCOPED_TRACE(name);
        int ends[2];
        ASSERT_EQ(::pipe(ends), 0);
        ::close(ends[0]);
        std::vector<std::string> args{"-q", (dir / "in.bmp").string()};
        if (!name.empty()) {
            args.insert(args.begin(), {"-o", name});
        }
        const pid_t pid = startCli(args, ends[1], dir / "err");
        ::close(ends[1]);
        const int status = waitFor(pid);
        EXPECT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
        EXPECT_EQ(WEXITSTATUS(status), 1);
        EXPECT_EQ(readFile(dir / "err"), "");
    }
}

// SIGTERM while a large text is being written: the temporary file is removed, and the
// converter ends as killed by the signal (status 143 in a shell).
TEST(Signals, TerminationMidWriteLeavesNoTemporaryFile) {
    if (faults::builtWithAddressSanitizer()) {
        GTEST_SKIP() << "400 million pixels take too long under the sanitizers";
    }
    faults::TempDir dir;
    // A white run-length bitmap: a few bytes that make some 600 MB of text.
    writeFile(dir / "in.bmp", faults::lyingBmp(20000, 20000, 8, 1, 40, 0) + std::string("\0\1", 2));
    const int null = ::open("/dev/null", O_WRONLY);
    const pid_t pid = startCli({"-q", "-o", (dir / "out.h").string(), "-p",
                                (dir / "out.bmp").string(), (dir / "in.bmp").string()},
                               null, dir / "err");
    ::close(null);
    // Waits for the temporary file to appear, then ends the converter.
    bool writing = false;
    int status = 0;
    while (!writing && waitpid(pid, &status, WNOHANG) == 0) {
        for (const auto& name : faults::listFolder(dir.path())) {
            writing = writing || name.rfind("out.h.", 0) == 0;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(writing) << "the converter ended before it wrote: " << readFile(dir / "err");
    ::kill(pid, SIGTERM);
    status = waitFor(pid);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    EXPECT_EQ(faults::listFolder(dir.path()), (std::vector<std::string>{"err", "in.bmp"}));
}

} // namespace
