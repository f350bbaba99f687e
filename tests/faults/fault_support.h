#pragma once
// Helpers for the fault tests: bitmaps built in memory, temporary folders, small file systems
// and the converter run as a child process.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace faults {

namespace fs = std::filesystem;

// A 24-bit bottom-up bitmap whose pixels run through all four grey bands.
std::string bmp24(int width, int height);

// Only the headers of a bitmap that claims width x height at the given depth and compression,
// followed by `dataBytes` bytes of pixel data: a header that lies about how much data follows.
// infoSize 12 gives the old core header.
std::string lyingBmp(int width, int height, int bitsPerPixel, std::uint32_t compression,
                     std::uint32_t infoSize, std::size_t dataBytes);

// The signature and header of a PNG picture of width x height, 8-bit RGB, and nothing more.
std::string pngHeaderOnly(int width, int height);

// A baseline greyscale JPEG of width x height, every 8 x 8 block mid-grey, coded with one-bit
// Huffman codes: two bits a block. With `blocksCoded` below the number of blocks, the data
// stops short, as in a file cut off or one whose header lies about its size.
std::string greyJpeg(int width, int height, long blocksCoded = -1);

std::string readFile(const fs::path& path);
void writeFile(const fs::path& path, const std::string& bytes);
// The names in a folder, sorted.
std::vector<std::string> listFolder(const fs::path& folder);

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const fs::path& path() const { return m_path; }
    fs::path operator/(const std::string& name) const { return m_path / name; }

  private:
    fs::path m_path;
};

// A tmpfs of the given size mounted on a fresh folder (needs root); unmounted when done.
class SmallFileSystem {
  public:
    explicit SmallFileSystem(std::size_t bytes);
    ~SmallFileSystem();
    SmallFileSystem(const SmallFileSystem&) = delete;
    SmallFileSystem& operator=(const SmallFileSystem&) = delete;
    // False, with the reason in error(), when it could not be mounted.
    bool mounted() const { return m_mounted; }
    const std::string& error() const { return m_error; }
    const fs::path& path() const { return m_dir.path(); }
    // Remounts it read-only; false when that fails.
    bool makeReadOnly();

  private:
    TempDir m_dir;
    bool m_mounted = false;
    std::string m_error;
};

struct RunOptions {
    bool asNobody = false;          // drop root to uid/gid 65534 before running
    std::uint64_t addressLimit = 0; // RLIMIT_AS in bytes; 0 for none
    std::vector<int> closed = {};   // standard descriptors (0, 1, 2) closed when it starts
};

struct CliResult {
    int exitCode = -1; // -1 when it did not exit normally (a signal)
    std::string out;
    std::string err;
};

// Runs the converter built with the tests (GREYPLANES_CLI) with these arguments.
CliResult runCli(const std::vector<std::string>& args, const RunOptions& options = {});

// True when this program was built with the address sanitizer (so is the converter), which
// reserves terabytes of address space and cannot run under an address limit.
bool builtWithAddressSanitizer();

} // namespace faults
