#include "cli/converter.h"

#include "cli/messages.h"
#include "conversion/output.h"
#include "conversion/stream.h"

#include <chrono>

namespace cli {
namespace {

// Shows "what: rows done / total" on a terminal, at most a few times a second.
class TerminalProgress final : public imaging::RowProgress {
  public:
    TerminalProgress(std::FILE* out, const char* what) : m_out(out), m_what(what) {}
    void reportTotal(std::int16_t rows) override { m_total = rows; }
    void reportRowsDone(std::int16_t rows) override {
        const auto now = std::chrono::steady_clock::now();
        if (rows != m_total && now - m_last < std::chrono::milliseconds(100)) {
            return;
        }
        m_last = now;
        std::fprintf(m_out, "\r\033[K%s: %d / %d rows", m_what, rows, m_total);
        std::fflush(m_out);
    }
    imaging::Flow yield() override { return imaging::Flow::Continue; }

  private:
    std::FILE* m_out;
    const char* m_what;
    int m_total = 0;
    std::chrono::steady_clock::time_point m_last{};
};

// A one-line note on the terminal; the next line replaces it, an empty one clears it.
class Status {
  public:
    Status(bool shown, std::FILE* out) : m_shown(shown), m_out(out) {}
    ~Status() { show(""); }
    void show(const std::string& text) {
        if (m_shown) {
            std::fprintf(m_out, "\r\033[K%s", text.c_str());
            std::fflush(m_out);
        }
    }

  private:
    bool m_shown;
    std::FILE* m_out;
};

} // namespace

int convert(const Options& options, std::FILE* errors) {
    Status status(options.progress, errors);
    auto report = [&](const base::Error& failure) {
        status.show("");
        printError(errors, failure);
    };

    status.show("reading " + options.input);
    imaging::NoProgress silent;
    TerminalProgress shown(errors, "converting");
    imaging::RowProgress& progress =
        options.progress ? static_cast<imaging::RowProgress&>(shown) : silent;
    auto converted =
        conversion::convertFile(options.input, {options.layout, options.dither}, progress);
    if (const auto* failure = std::get_if<base::Error>(&converted)) {
        report(*failure);
        return 1;
    }
    const imaging::Planes& planes = std::get<imaging::Planes>(converted);

    int exitStatus = 0;
    status.show(options.textOutput.empty() ? std::string() : "writing " + options.textOutput);
    if (const auto failure = conversion::writeText(planes, options.style, {options.textOutput})) {
        report(*failure);
        exitStatus = 1;
    }
    if (!options.pictureOutput.empty()) {
        status.show("writing " + options.pictureOutput);
        if (const auto failure = conversion::writePicture(planes, {options.pictureOutput})) {
            report(*failure);
            exitStatus = 1;
        }
    }
    return exitStatus;
}

} // namespace cli
