#include "cli/converter.h"

#include "cli/messages.h"
#include "cli/module_reader.h"
#include "conversion/output.h"
#include "conversion/stream.h"
#include "ctext/layout.h"
#include "imaging/frames.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace cli {
namespace {

// One line of status on the terminal of standard error, replaced by each new one. Once output
// has gone to standard output on a terminal (perhaps the same one), the line stays cleared:
// the C text has no final line end, so clearing after it would erase its last line. A dumb
// terminal gets no escape sequences; blanks wipe the old line instead.
class StatusLine {
  public:
    StatusLine(bool shown, std::FILE* out) : m_shown(shown), m_out(out), m_dumb(isDumbTerminal()) {}
    ~StatusLine() { clear(); }
    StatusLine(const StatusLine&) = delete;
    StatusLine& operator=(const StatusLine&) = delete;

    void show(const std::string& text) {
        if (!m_shown) {
            return;
        }
        std::string line(1, '\r');
        if (m_dumb) {
            line.append(text);
            if (text.size() < m_length) {
                line.append(m_length - text.size(), ' ').append(1, '\r').append(text);
            }
        } else {
            line.append("\033[K").append(text);
        }
        std::fwrite(line.data(), 1, line.size(), m_out);
        std::fflush(m_out);
        m_length = text.size();
    }
    void clear() {
        if (m_shown && m_length > 0) {
            std::string line(1, '\r');
            if (m_dumb) {
                line.append(m_length, ' ').append(1, '\r');
            } else {
                line.append("\033[K");
            }
            std::fwrite(line.data(), 1, line.size(), m_out);
            std::fflush(m_out);
        }
        m_length = 0;
    }
    // Before anything is written to standard output.
    void beforeStandardOutput() {
        clear();
        if (::isatty(STDOUT_FILENO)) {
            m_shown = false;
        }
    }

  private:
    static bool isDumbTerminal() {
        const char* term = std::getenv("TERM");
        return term == nullptr || std::strcmp(term, "dumb") == 0;
    }
    bool m_shown;
    std::FILE* m_out;
    bool m_dumb;
    std::size_t m_length = 0;
};

// Shows "converting: rows done / total rows", at most a few times a second.
class TerminalProgress final : public imaging::RowProgress {
  public:
    explicit TerminalProgress(StatusLine& line) : m_line(line) {}
    void reportTotal(std::int16_t rows) override { m_total = rows; }
    void reportRowsDone(std::int16_t rows) override {
        const auto now = std::chrono::steady_clock::now();
        if (rows != m_total && now - m_last < std::chrono::milliseconds(100)) {
            return;
        }
        m_last = now;
        m_line.show("converting: " + std::to_string(rows) + " / " + std::to_string(m_total) +
                    " rows");
    }
    imaging::Flow yield() override { return imaging::Flow::Continue; }

  private:
    StatusLine& m_line;
    int m_total = 0;
    std::chrono::steady_clock::time_point m_last{};
};

// A name of the command line as an output target: empty and "-" are standard output.
conversion::Target target(const std::string& name) {
    return {name == kStandardStream ? std::string() : name};
}

} // namespace

int convert(const Options& options, std::FILE* errors) {
    StatusLine status(options.progress, errors);
    auto fail = [&](const base::Error& failure) {
        status.clear();
        return report(errors, failure);
    };

    imaging::NoProgress silent;
    TerminalProgress shown(status);
    imaging::RowProgress& progress =
        options.progress ? static_cast<imaging::RowProgress&>(shown) : silent;
    conversion::ConvertOptions how{
        options.style.layout.rows, options.dither, options.tone,
        options.geometry,          options.frames, options.style.layout.mask != ctext::Mask::None,
        options.transparent};
    // One picture's text alone, into a file of its own, is written while its rows are made.
    ctext::TextStyle besideStyle = options.style;
    besideStyle.frames = options.frames;
    std::optional<conversion::TextBeside> beside;
    if (options.moreInputs.empty() && options.pictureOutput.empty() &&
        conversion::TextBeside::beside(target(options.textOutput))) {
        how.rowsMade = &beside.emplace(besideStyle, target(options.textOutput));
    }
    // An animated GIF gives its frames; as one of several INPUTs it cannot be one frame.
    imaging::FrameGrid animation;
    const auto convertOne = [&](const std::string& input) -> base::Result<imaging::Planes> {
        const bool fromStandardInput = input == kStandardStream;
        const std::string name = fromStandardInput ? std::string("standard input") : input;
        status.show("reading " + name);
        auto planes =
            fromStandardInput
                ? conversion::convertStandardInput(how, progress, readWithModule, &animation)
                : conversion::convertFile(input, how, progress, readWithModule, &animation);
        if (animation.any() && !options.moreInputs.empty()) {
            return base::Error{name, "it is an animated GIF: one of several INPUTs is one frame",
                               base::ErrorKind::Usage};
        }
        return planes;
    };
    auto converted = convertOne(options.input);
    if (const auto* failure = std::get_if<base::Error>(&converted)) {
        return fail(*failure);
    }
    ctext::TextStyle style = options.style;
    if (options.frames.any()) {
        style.frames = options.frames;
    } else if (animation.any()) {
        style.frames = animation;
    }
    if (!options.moreInputs.empty()) {
        // Several pictures of one size: the frames of a sheet of one row, each converted alone.
        std::vector<imaging::Planes> frames;
        frames.push_back(std::move(std::get<imaging::Planes>(converted)));
        const int width = frames.front().width;
        const int height = frames.front().height;
        for (const std::string& input : options.moreInputs) {
            auto next = convertOne(input);
            if (const auto* failure = std::get_if<base::Error>(&next)) {
                return fail(*failure);
            }
            const imaging::Planes& frame =
                frames.emplace_back(std::move(std::get<imaging::Planes>(next)));
            if (frame.width != width || frame.height != height) {
                return fail(base::Error{
                    input == kStandardStream ? std::string("standard input") : input,
                    "it is " + std::to_string(frame.width) + " × " + std::to_string(frame.height) +
                        " pixels, but the frames before it are " + std::to_string(width) + " × " +
                        std::to_string(height)});
            }
        }
        const imaging::FrameGrid grid{width, height, imaging::FrameOrder::Rows};
        const auto count = static_cast<int>(frames.size());
        if (static_cast<long long>(width) * count > 32767) {
            return fail(base::Error{options.style.source,
                                    std::to_string(count) + " frames " + std::to_string(width) +
                                        " pixels wide make a sheet wider than 32767 pixels"});
        }
        imaging::Planes sheet = imaging::makePlanes(width * count, height, frames.front().layout);
        if (!frames.front().mask.empty()) {
            sheet.mask.assign(sheet.planeBytes(), 0);
        }
        for (int f = 0; f < count; ++f) {
            imaging::pasteFrame(sheet, grid, f, frames[static_cast<std::size_t>(f)]);
        }
        converted = std::move(sheet);
        style.frames = grid;
    }
    const imaging::Planes& planes = std::get<imaging::Planes>(converted);
    // A picture the layout cannot hold writes neither output: a picture without its text is
    // half a result that a build script would take for a whole one.
    if (const auto refused = ctext::planesProblem(options.style.layout, planes, style.frames)) {
        return fail(base::Error{options.style.source, *refused});
    }

    if (beside && beside->written()) {
        return beside->failure() ? fail(*beside->failure()) : 0;
    }

    int exitStatus = 0;
    const auto write = [&](const std::string& name, auto&& writer) {
        const conversion::Target to = target(name);
        if (to.isStandardOutput()) {
            status.beforeStandardOutput();
        } else {
            status.show("writing " + name);
        }
        if (const auto failure = writer(to)) {
            exitStatus = fail(*failure);
        }
    };
    const std::uint32_t transparent = options.transparent
                                          ? static_cast<std::uint32_t>(*options.transparent)
                                          : conversion::kTransparentColour;
    const conversion::Target text = target(options.textOutput);
    const conversion::Target picture = target(options.pictureOutput);
    if (!options.pictureOutput.empty() && conversion::separateFiles(text, picture)) {
        status.show("writing " + options.textOutput + " and " + options.pictureOutput);
        const conversion::Written written =
            conversion::writeTextAndPicture(planes, style, text, picture, transparent);
        for (const auto& failure : {written.text, written.picture}) {
            if (failure) {
                exitStatus = fail(*failure);
            }
        }
        return exitStatus;
    }
    write(options.textOutput,
          [&](const conversion::Target& to) { return conversion::writeText(planes, style, to); });
    if (!options.pictureOutput.empty()) {
        write(options.pictureOutput, [&](const conversion::Target& to) {
            return conversion::writePicture(planes, to, transparent);
        });
    }
    return exitStatus;
}

} // namespace cli
