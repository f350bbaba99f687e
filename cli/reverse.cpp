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
    conversion::ReverseOptions how{
        options.input, options.reverseWidth, std::nullopt, options.style.layout, {}};
    how.layout.rows = options.layout;
    how.given.rows = options.layout == imaging::RowLayout::Padded;
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
