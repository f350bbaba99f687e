#include "cli/converter.h"

#include "imaging/c_array_writer.h"
#include "imaging/plane_encoder.h"
#include "imaging/quantizer.h"
#include "surface/picture_surface.h"
#include "surface/safe_save.h"

#include <QFile>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace cli {
namespace {

// Shows "what: rows done / total" on a terminal, at most a few times a second.
class TerminalProgress final : public imaging::RowProgress {
  public:
    TerminalProgress(std::FILE* out, const char* what) : m_out(out), m_what(what) {}
    ~TerminalProgress() override {
        if (m_shown) {
            std::fprintf(m_out, "\r\033[K");
            std::fflush(m_out);
        }
    }
    void reportTotal(std::int16_t rows) override { m_total = rows; }
    void reportRowsDone(std::int16_t rows) override {
        const auto now = std::chrono::steady_clock::now();
        if (rows != m_total && now - m_last < std::chrono::milliseconds(100)) {
            return;
        }
        m_last = now;
        m_shown = true;
        std::fprintf(m_out, "\r%s: %d / %d rows", m_what, rows, m_total);
        std::fflush(m_out);
    }
    imaging::Flow yield() override { return imaging::Flow::Continue; }

  private:
    std::FILE* m_out;
    const char* m_what;
    int m_total = 0;
    bool m_shown = false;
    std::chrono::steady_clock::time_point m_last{};
};

// A one-line note on the terminal for steps that report no rows; the next line replaces it.
template <class O>
void status(const O& options, std::FILE* out, const char* what, const QString& file) {
    if (options.progress) {
        std::fprintf(out, "\r\033[K%s %s", what, file.toLocal8Bit().constData());
        std::fflush(out);
    }
}

template <class O>
void clearStatus(const O& options, std::FILE* out) {
    if (options.progress) {
        std::fprintf(out, "\r\033[K");
        std::fflush(out);
    }
}

void report(std::FILE* errors, const QString& message) {
    std::fprintf(errors, "greyplanes-cli: %s\n", message.toLocal8Bit().constData());
}

bool writeStdout(std::string_view text, QString* reason) {
    const char* p = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const std::size_t n = std::fwrite(p, 1, left, stdout);
        if (n == 0) {
            *reason = QString::fromLocal8Bit(std::strerror(errno));
            return false;
        }
        p += n;
        left -= n;
    }
    if (std::fflush(stdout) != 0) {
        *reason = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace

int convert(const Options& opts, std::FILE* errors) {
    struct {
        QString input, textOutput, pictureOutput;
        bool progress;
    } options{QFile::decodeName(opts.input.c_str()), QFile::decodeName(opts.textOutput.c_str()),
              QFile::decodeName(opts.pictureOutput.c_str()), opts.progress};
    surface::PictureSurface surface(1, 1);
    status(options, errors, "reading", options.input);
    if (const auto failure = surface.load(options.input)) {
        clearStatus(options, errors);
        report(errors, failure->message());
        return 1;
    }
    // The surface refuses pictures over 32767 pixels, so both extents fit 16 bits.
    const auto height = static_cast<std::int16_t>(surface.height());
    const auto width = static_cast<std::int16_t>(surface.width());

    imaging::NoProgress silent;
    std::optional<imaging::Planes> planes;
    {
        TerminalProgress shown(errors, "quantizing");
        imaging::RowProgress& progress =
            options.progress ? static_cast<imaging::RowProgress&>(shown) : silent;
        imaging::quantize(surface, height, width, progress);
    }
    {
        TerminalProgress shown(errors, "encoding");
        imaging::RowProgress& progress =
            options.progress ? static_cast<imaging::RowProgress&>(shown) : silent;
        planes = imaging::encodePlanes(surface, height, width, progress);
    }
    // The text goes out piece by piece: a whole text in memory would only cost fresh pages.
    int exitStatus = 0;
    if (options.textOutput.isEmpty()) {
        QString reason;
        const bool written = imaging::writeArraysTo(
            *planes, [&](std::string_view piece) { return writeStdout(piece, &reason); });
        if (!written) {
            report(errors, QStringLiteral("standard output: ") + reason);
            exitStatus = 1;
        }
    } else {
        status(options, errors, "writing", options.textOutput);
        const auto failure =
            surface::saveFile(options.textOutput, [&](QIODevice& device, QString* reason) {
                return imaging::writeArraysTo(*planes, [&](std::string_view piece) {
                    return surface::writeAll(device, piece, reason);
                });
            });
        if (failure) {
            clearStatus(options, errors);
            report(errors, failure->message());
            exitStatus = 1;
        }
    }
    planes.reset();

    if (!options.pictureOutput.isEmpty()) {
        status(options, errors, "writing", options.pictureOutput);
        if (const auto failure = surface.save(options.pictureOutput)) {
            clearStatus(options, errors);
            report(errors, failure->message());
            exitStatus = 1;
        }
    }
    clearStatus(options, errors);
    return exitStatus;
}

} // namespace cli
