#include "cli/reverse.h"

#include "cli/messages.h"
#include "conversion/output.h"
#include "conversion/reverse.h"

#include <unistd.h>

namespace cli {

int reverse(const Options& options, std::FILE* errors) {
    if (options.textOutput.empty() && ::isatty(STDOUT_FILENO)) {
        std::fprintf(errors, "greyplanes-cli: -r writes a bitmap; give -o FILE or redirect "
                             "standard output\nTry 'greyplanes-cli --help' for more.\n");
        return 2;
    }
    const conversion::ReverseOptions how{
        options.input,
        options.reverseWidth,
        options.reverseHeight > 0 ? std::optional<int>(options.reverseHeight) : std::nullopt,
        options.style.layout,
        options.layoutGiven,
        options.nameGiven ? std::optional<std::string>(options.style.name) : std::nullopt};
    conversion::ReverseFailure kind = conversion::ReverseFailure::Input;
    const auto planes = conversion::reverseFile(how, &kind);
    if (const auto* failure = std::get_if<base::Error>(&planes)) {
        printError(errors, *failure);
        return kind == conversion::ReverseFailure::Usage ? 2 : 1;
    }
    if (const auto failure = conversion::writePicture(std::get<imaging::Planes>(planes),
                                                      conversion::Target{options.textOutput})) {
        printError(errors, *failure);
        return 1;
    }
    return 0;
}

} // namespace cli
