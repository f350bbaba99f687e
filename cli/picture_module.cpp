#include "cli/picture_module.h"

#include "cli/module_loader.h"
#include "cli/module_reader.h"
#include "conversion/stream.h"

#include <dlfcn.h>
#include <string>

namespace cli {
namespace {

using Entry = void(QIODevice*, const std::string*, const conversion::ConvertOptions*,
                   imaging::RowProgress*, base::Result<imaging::Planes>*);

// The module beside the program (a build tree), else where it is installed relative to it.
Entry* loadEntry(std::string& failure) {
    const std::string program = ownProgram(failure);
    if (program.empty()) {
        return nullptr;
    }
    const auto loaded = loadModule(
        moduleCandidates(program, "greyplanes-pictures.so", GREYPLANES_PICTURE_MODULE_DIR),
        GREYPLANES_PICTURE_INTERFACE_ENTRY, GREYPLANES_PICTURE_INTERFACE);
    if (const auto* why = std::get_if<std::string>(&loaded)) {
        failure = *why;
        return nullptr;
    }
    auto* entry =
        reinterpret_cast<Entry*>(::dlsym(std::get<void*>(loaded), GREYPLANES_PICTURE_ENTRY));
    if (!entry) {
        const char* why = ::dlerror();
        failure = why ? why : "it has no " GREYPLANES_PICTURE_ENTRY;
    }
    return entry;
}

} // namespace

base::Result<imaging::Planes> readWithModule(QIODevice& file, const std::string& name,
                                             const conversion::ConvertOptions& options,
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

} // namespace cli
