#include "cli/reverse.h"

#include "cli/messages.h"
#include "conversion/output.h"
#include "conversion/reverse.h"

#include <unistd.h>

namespace cli {

int reverse(const Options& options, std::FILE* errors) {
    if (options.textOutput.empty() && ::isatty(STDOUT_FILENO)) {
        return report(errors, base::Error{{},
                                          "-r writes a bitmap; give -o FILE or redirect standard "
                                          "output",
                                          base::ErrorKind::Usage});
    }
    const conversion::ReverseOptions how{
        options.input,
        options.reverseWidth,
        options.reverseHeight > 0 ? std::optional<int>(options.reverseHeight) : std::nullopt,
        options.style.layout,
        options.layoutGiven,
        options.nameGiven ? std::optional<std::string>(options.style.name) : std::nullopt,
        options.frames};
    const auto planes = conversion::reverseFile(how);
    if (const auto* failure = std::get_if<base::Error>(&planes)) {
        return report(errors, *failure);
    }
    const std::uint32_t transparent = options.transparent
                                          ? static_cast<std::uint32_t>(*options.transparent)
                                          : conversion::kTransparentColour;
    if (const auto failure =
            conversion::writePicture(std::get<imaging::Planes>(planes),
                                     conversion::Target{options.textOutput}, transparent)) {
        return report(errors, *failure);
    }
    return 0;
}

} // namespace cli
