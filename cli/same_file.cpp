#include "cli/same_file.h"

#include <cstdlib>
#include <memory>
#include <sys/stat.h>

namespace cli {
namespace {

// What a file name stands for, to compare it with another; nothing for the things that may
// be named twice (devices, pipes, folders: writing to them fails or is harmless).
struct Identity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string path; // the canonical folder and the name, for a file that does not exist yet
    bool operator==(const Identity&) const = default;
};

std::optional<Identity> identityOf(const std::string& name) {
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            return std::nullopt;
        }
        return Identity{true, st.st_dev, st.st_ino, {}};
    }
    const std::size_t slash = name.rfind('/');
    const std::string folder = slash == std::string::npos ? "."
                               : slash == 0               ? "/"
                                                          : name.substr(0, slash);
    const std::string file = slash == std::string::npos ? name : name.substr(slash + 1);
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(folder.c_str(), nullptr),
                                                           &std::free);
    // In a folder that does not exist, nothing can be written; the names only need to differ.
    return Identity{false, 0, 0, real ? std::string(real.get()) + "/" + file : name};
}

} // namespace

std::optional<std::string> sameFileProblem(const Options& options) {
    struct Named {
        const char* label;
        const std::string& name;
    };
    const Named names[] = {
        {"INPUT", options.input}, {"-o", options.textOutput}, {"-p", options.pictureOutput}};
    for (std::size_t a = 0; a < 3; ++a) {
        for (std::size_t b = a + 1; b < 3; ++b) {
            if (names[a].name.empty() || names[b].name.empty()) {
                continue;
            }
            const auto first = identityOf(names[a].name);
            if (first && first == identityOf(names[b].name)) {
                return std::string(names[b].label) + " " + names[b].name + " and " +
                       names[a].label + " " + names[a].name +
                       " are the same file; nothing was written";
            }
        }
    }
    return std::nullopt;
}

} // namespace cli
