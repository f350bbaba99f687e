#include "cli/picture_module.h"

#include "conversion/whole_picture.h"

#include <climits>
#include <dlfcn.h>
#include <string>
#include <unistd.h>

namespace conversion {
namespace {

using Entry = void(QIODevice*, const std::string*, const ConvertOptions*, imaging::RowProgress*,
                   base::Result<imaging::Planes>*);

// The folder of the running program, links resolved.
std::string programFolder() {
    char path[PATH_MAX];
    const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) {
        return {};
    }
    const std::string program(path, static_cast<std::size_t>(length));
    return program.substr(0, program.rfind('/') + 1);
}

// The module beside the program (a build tree), else where it is installed relative to it.
Entry* loadEntry(std::string& failure) {
    const std::string folder = programFolder();
    const std::string name = "greyplanes-pictures.so";
    void* module = nullptr;
    for (const std::string& path :
         {folder + name, folder + GREYPLANES_PICTURE_MODULE_DIR + "/" + name}) {
        module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (module) {
            break;
        }
        const char* why = ::dlerror(); // the last candidate's reason is the one reported
        failure = why ? why : path + ": cannot be loaded";
    }
    if (!module) {
        return nullptr;
    }
    auto* entry = reinterpret_cast<Entry*>(::dlsym(module, GREYPLANES_PICTURE_ENTRY));
    if (!entry) {
        failure = name + " has no " GREYPLANES_PICTURE_ENTRY;
    }
    return entry;
}

} // namespace

base::Result<imaging::Planes> convertWholePicture(QIODevice& file, const std::string& name,
                                                  const ConvertOptions& options,
                                                  imaging::RowProgress& progress) {
    static std::string failure;
    static Entry* const entry = loadEntry(failure);
    if (!entry) {
        return base::Error{name, "it is not a bitmap, and the module that reads other pictures "
                                 "cannot be loaded (" +
                                     failure + ")"};
    }
    base::Result<imaging::Planes> result = base::Error{name, "it could not be read"};
    entry(&file, &name, &options, &progress, &result);
    return result;
}

} // namespace conversion
