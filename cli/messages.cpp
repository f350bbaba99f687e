#include "cli/messages.h"

namespace cli {

void printError(std::FILE* out, const base::Error& error) {
    if (error.reason == base::kReaderWentAway) {
        return;
    }
    const std::string text = "greyplanes-cli: " + base::message(error) + "\n";
    std::fwrite(text.data(), 1, text.size(), out);
}

} // namespace cli
