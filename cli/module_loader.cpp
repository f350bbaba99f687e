#include "cli/module_loader.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace cli {

std::vector<std::string> moduleCandidates(const std::string& program, std::string_view name,
                                          std::string_view installedFolder) {
    if (!program.starts_with('/')) {
        return {};
    }
    const std::string folder = program.substr(0, program.rfind('/') + 1);
    return {folder + std::string(name),
            folder + std::string(installedFolder) + "/" + std::string(name)};
}

std::string ownProgram(std::string& why) {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        why = std::string("the converter cannot tell where it lies (/proc/self/exe: ") +
              (length < 0 ? std::strerror(errno) : "empty") + ")";
        return {};
    }
    return {path, static_cast<std::size_t>(length)};
}

std::variant<void*, std::string> loadModule(const std::vector<std::string>& candidates,
                                            const char* versionSymbol, int version) {
    for (const std::string& path : candidates) {
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 && (errno == ENOENT || errno == ENOTDIR)) {
            continue;
        }
        // The first that is there is the one meant: a broken one is reported, not passed over.
        void* module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) {
            // The loader's reason mostly starts with the path already.
            const char* error = ::dlerror();
            const std::string why = error ? error : "it cannot be loaded";
            return why.starts_with(path + ": ") ? why : path + ": " + why;
        }
        using VersionOf = int();
        auto* versionOf = reinterpret_cast<VersionOf*>(::dlsym(module, versionSymbol));
        std::string problem;
        if (!versionOf) {
            problem = path + ": it has no interface version (" + versionSymbol + ")";
        } else if (const int found = versionOf(); found != version) {
            problem = path + ": its interface is version " + std::to_string(found) +
                      ", this converter needs version " + std::to_string(version);
        } else {
            return module;
        }
        ::dlclose(module);
        return problem;
    }
    if (candidates.size() < 2) {
        return candidates.empty() ? "there is no place to look for it"
                                  : "it is not at " + candidates.front();
    }
    std::string places = candidates.front();
    for (std::size_t i = 1; i < candidates.size(); ++i) {
        places += (i + 1 == candidates.size() ? " nor " : ", ") + candidates[i];
    }
    return "it is at neither " + places;
}

} // namespace cli
