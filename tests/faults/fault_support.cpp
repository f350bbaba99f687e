#include "fault_support.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <sstream>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace faults {
namespace {

void put16(std::string& s, std::uint32_t v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void put32(std::string& s, std::uint32_t v) {
    put16(s, v & 0xFFFF);
    put16(s, v >> 16);
}

std::string fileHeader(std::uint32_t fileSize, std::uint32_t dataOffset) {
    std::string s = "BM";
    put32(s, fileSize);
    put32(s, 0);
    put32(s, dataOffset);
    return s;
}

} // namespace

std::string bmp24(int width, int height) {
    const std::uint32_t stride = (static_cast<std::uint32_t>(width) * 3 + 3) & ~3u;
    const std::uint32_t dataSize = stride * static_cast<std::uint32_t>(height);
    std::string s = fileHeader(54 + dataSize, 54);
    put32(s, 40);
    put32(s, static_cast<std::uint32_t>(width));
    put32(s, static_cast<std::uint32_t>(height));
    put16(s, 1);
    put16(s, 24);
    put32(s, 0);
    put32(s, dataSize);
    put32(s, 2835);
    put32(s, 2835);
    put32(s, 0);
    put32(s, 0);
    for (int y = 0; y < height; ++y) {
        std::string row;
        for (int x = 0; x < width; ++x) {
            const int grey = (x * 255 / std::max(1, width - 1) + y * 64) % 256;
            row += static_cast<char>(grey);
            row += static_cast<char>(255 - grey);
            row += static_cast<char>(grey / 2);
        }
        row.resize(stride, '\0');
        s += row;
    }
    return s;
}

std::string lyingBmp(int width, int height, int bitsPerPixel, std::uint32_t compression,
                     std::uint32_t infoSize, std::size_t dataBytes) {
    const bool core = infoSize == 12;
    const std::uint32_t paletteBytes =
        bitsPerPixel <= 8 ? (1u << bitsPerPixel) * (core ? 3u : 4u) : 0u;
    const std::uint32_t masksBytes = compression == 3 && infoSize == 40 ? 12u : 0u;
    const std::uint32_t offset = 14 + infoSize + paletteBytes + masksBytes;
    std::string s = fileHeader(offset + static_cast<std::uint32_t>(dataBytes), offset);
    put32(s, infoSize);
    if (core) {
        put16(s, static_cast<std::uint32_t>(width));
        put16(s, static_cast<std::uint32_t>(height));
        put16(s, 1);
        put16(s, static_cast<std::uint32_t>(bitsPerPixel));
    } else {
        put32(s, static_cast<std::uint32_t>(width));
        put32(s, static_cast<std::uint32_t>(height));
        put16(s, 1);
        put16(s, static_cast<std::uint32_t>(bitsPerPixel));
        put32(s, compression);
        s.resize(14 + infoSize, '\0');
    }
    if (compression == 3) {
        // Bit masks for red, green and blue: after a 40-byte header, inside a larger one.
        std::string masks;
        for (const std::uint32_t m : bitsPerPixel == 16
                                         ? std::array<std::uint32_t, 3>{0xF800, 0x07E0, 0x001F}
                                         : std::array<std::uint32_t, 3>{0xFF0000, 0xFF00, 0xFF}) {
            put32(masks, m);
        }
        s.replace(14 + 40, masks.size(), masks);
    }
    s.resize(offset, '\0');
    s.append(dataBytes, '\x55');
    return s;
}

std::string pngHeaderOnly(int width, int height) {
    auto be32 = [](std::string& s, std::uint32_t v) {
        for (int shift = 24; shift >= 0; shift -= 8) {
            s += static_cast<char>((v >> shift) & 0xFF);
        }
    };
    std::string ihdr = "IHDR";
    be32(ihdr, static_cast<std::uint32_t>(width));
    be32(ihdr, static_cast<std::uint32_t>(height));
    ihdr += std::string("\x08\x02\x00\x00\x00", 5); // 8-bit RGB, no interlace
    // The chunk's CRC-32 covers its type and data.
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const char c : ihdr) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    std::string png = "\x89PNG\r\n\x1a\n";
    be32(png, 13);
    png += ihdr;
    be32(png, crc ^ 0xFFFFFFFFu);
    return png;
}

std::string greyJpeg(int width, int height, long blocksCoded) {
    auto segment = [](std::string& s, unsigned char marker, const std::string& body) {
        s += '\xFF';
        s += static_cast<char>(marker);
        const std::size_t length = body.size() + 2;
        s += static_cast<char>(length >> 8);
        s += static_cast<char>(length & 0xFF);
        s += body;
    };
    std::string jpeg = "\xFF\xD8";
    segment(jpeg, 0xDB, std::string(1, '\0') + std::string(64, '\x01')); // quantization table
    std::string frame = "\x08";                                          // 8-bit samples
    frame += static_cast<char>(height >> 8);
    frame += static_cast<char>(height & 0xFF);
    frame += static_cast<char>(width >> 8);
    frame += static_cast<char>(width & 0xFF);
    frame += std::string("\x01\x01\x11\x00", 4); // one component, 1 x 1 sampling, table 0
    segment(jpeg, 0xC0, frame);
    // One code of one bit in each table: DC difference 0, and end of block.
    const std::string oneCode = std::string("\x01") + std::string(15, '\0') + std::string(1, '\0');
    segment(jpeg, 0xC4, std::string(1, '\x00') + oneCode);
    segment(jpeg, 0xC4, std::string(1, '\x10') + oneCode);
    segment(jpeg, 0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6));
    const long blocks = static_cast<long>((width + 7) / 8) * ((height + 7) / 8);
    const long coded = blocksCoded < 0 ? blocks : blocksCoded;
    // Two zero bits a block; the last byte is padded with ones.
    jpeg.append(static_cast<std::size_t>(coded * 2 / 8), '\0');
    if (coded * 2 % 8 != 0) {
        jpeg += static_cast<char>(0xFF >> (coded * 2 % 8));
    }
    jpeg += "\xFF\xD9";
    return jpeg;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    return all.str();
}

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

std::vector<std::string> listFolder(const fs::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "greyplanes-faults-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
    }
    m_path = pattern;
    // Others may need to reach files here (a test that runs the converter as another user).
    fs::permissions(m_path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                fs::perms::others_read | fs::perms::others_exec);
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(m_path, ignored);
}

SmallFileSystem::SmallFileSystem(std::size_t bytes) {
    const std::string options = "size=" + std::to_string(bytes);
    if (::mount("tmpfs", m_dir.path().c_str(), "tmpfs", 0, options.c_str()) != 0) {
        m_error = std::strerror(errno);
        return;
    }
    m_mounted = true;
}

SmallFileSystem::~SmallFileSystem() {
    if (m_mounted) {
        ::umount2(m_dir.path().c_str(), MNT_DETACH);
    }
}

bool SmallFileSystem::makeReadOnly() {
    if (::mount(nullptr, m_dir.path().c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) != 0) {
        m_error = std::strerror(errno);
        return false;
    }
    return true;
}

CliResult runCli(const std::vector<std::string>& args, const RunOptions& options) {
    const char* cli = std::getenv("GREYPLANES_CLI");
    if (cli == nullptr) {
        throw std::runtime_error("GREYPLANES_CLI is not set");
    }
    // Output goes to files, so that a large standard output cannot block the child.
    TempDir capture;
    const fs::path outPath = capture / "stdout";
    const fs::path errPath = capture / "stderr";

    std::vector<std::string> argv{cli};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<char*> cargv;
    for (auto& a : argv) {
        cargv.push_back(a.data());
    }
    cargv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
        const int in = ::open("/dev/null", O_RDONLY);
        if (out < 0 || err < 0 || in < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 ||
            dup2(in, 0) < 0) {
            _exit(126);
        }
        for (const int fd : options.closed) {
            ::close(fd);
        }
        if (options.addressLimit != 0) {
            const rlimit limit{options.addressLimit, options.addressLimit};
            if (setrlimit(RLIMIT_AS, &limit) != 0) {
                _exit(126);
            }
        }
        if (options.asNobody && geteuid() == 0) {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
                _exit(126);
            }
        }
        execv(cargv[0], cargv.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            throw std::runtime_error("waitpid failed");
        }
    }
    CliResult result;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

bool builtWithAddressSanitizer() {
#if defined(__SANITIZE_ADDRESS__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

} // namespace faults
