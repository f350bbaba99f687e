#include "cli/messages.h"

namespace cli {

int exitStatus(base::ErrorKind kind) {
    switch (kind) {
    case base::ErrorKind::Usage:
        return 2;
    case base::ErrorKind::Input:
    case base::ErrorKind::Memory:
    case base::ErrorKind::Quiet:
        break;
    }
    return 1;
}

int report(std::FILE* out, const base::Error& error) {
    if (error.kind != base::ErrorKind::Quiet) {
        std::string text = "greyplanes-cli: " + base::message(error) + "\n";
        if (error.kind == base::ErrorKind::Usage && error.file.empty()) {
            text += "Try 'greyplanes-cli --help' for more.\n";
        }
        std::fwrite(text.data(), 1, text.size(), out);
    }
    return exitStatus(error.kind);
}

} // namespace cli
