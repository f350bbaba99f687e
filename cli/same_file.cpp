#include "cli/same_file.h"

#include "platform/safe_save.h"

#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace cli {
namespace {

namespace fs = std::filesystem;

// What a file name stands for, to compare it with another; nothing for the things that may
// be named twice (devices, pipes, folders: writing to them fails or is harmless). A file that
// does not exist yet is its folder (device and inode, so bind mounts and links to the folder
// agree) and its name in it.
struct Identity {
    bool exists = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::string name; // in the folder, for a file that does not exist yet
    bool operator==(const Identity&) const = default;
};

// Where a name ends up after following the links of its last part, as a save does: a dangling
// link stands for its target.
fs::path followLinks(const std::string& name) {
    fs::path current = name;
    for (int hops = 0; hops < 40; ++hops) {
        std::error_code error;
        if (!fs::is_symlink(fs::symlink_status(current, error))) {
            break;
        }
        const fs::path target = fs::read_symlink(current, error);
        if (error) {
            break;
        }
        current = target.is_absolute() ? target : current.parent_path() / target;
    }
    return current;
}

std::optional<Identity> identityOf(const std::string& name) {
    struct stat st {};
    if (::stat(name.c_str(), &st) == 0) {
        if (!S_ISREG(st.st_mode)) {
            return std::nullopt;
        }
        return Identity{true, st.st_dev, st.st_ino, {}};
    }
    const fs::path target = followLinks(name);
    const fs::path folder = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    if (::stat(folder.c_str(), &st) != 0) {
        // In a folder that does not exist, nothing can be written; the names only need to differ.
        return Identity{false, 0, 0, fs::path(name).lexically_normal().string()};
    }
    return Identity{false, st.st_dev, st.st_ino, target.filename().string()};
}

} // namespace

std::optional<base::Error> sameFileProblem(const Options& options) {
    const auto usage = [](std::string reason) {
        return base::Error{{}, std::move(reason), base::ErrorKind::Usage};
    };
    struct Named {
        std::string label; // "-o FILE"
        std::string name;
    };
    // The text goes to standard output when -o is not given: a file there may clash too.
    // "-" is no file's name here: standard input or output is whatever the shell made it.
    const auto file = [](const std::string& name) {
        return name == kStandardStream ? std::string() : name;
    };
    const Named text = options.textOutput.empty()
                           ? Named{"standard output", "/dev/stdout"}
                           : Named{"-o " + options.textOutput, options.textOutput};
    const Named picture{"-p " + options.pictureOutput, file(options.pictureOutput)};
    // Each INPUT against the outputs, then the outputs against each other; two INPUTs may be one
    // file (a frame shown twice).
    std::vector<std::pair<Named, const Named*>> pairs;
    std::vector<std::string> inputs{options.input};
    inputs.insert(inputs.end(), options.moreInputs.begin(), options.moreInputs.end());
    for (const std::string& input : inputs) {
        const Named named{"INPUT " + input, file(input)};
        pairs.emplace_back(named, &text);
        pairs.emplace_back(named, &picture);
    }
    pairs.emplace_back(text, &picture);
    for (const auto& [first, second] : pairs) {
        if (first.name.empty() || second->name.empty()) {
            continue;
        }
        const auto identity = identityOf(first.name);
        if (identity && identity == identityOf(second->name)) {
            return usage(second->label + " and " + first.label +
                         " are the same file; nothing was written");
        }
    }
    // Standard output that is no regular file (a pipe, a terminal) takes the text and the
    // picture one after the other, as one stream.
    const auto toStandardOutput = [](const std::string& name) {
        return name.empty() || name == kStandardStream || platform::namesStandardOutput(name);
    };
    if (!options.pictureOutput.empty() && toStandardOutput(options.textOutput) &&
        toStandardOutput(options.pictureOutput)) {
        return usage("-p " + options.pictureOutput +
                     " and the C text cannot both go to standard output: give -o FILE");
    }
    return std::nullopt;
}

} // namespace cli
