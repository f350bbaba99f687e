// greyplanes-cli: converts one picture to the C text of its two grey planes.

#include "cli/converter.h"

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <cstdio>
#include <unistd.h>

namespace {

constexpr const char* kUsage =
    "Usage: greyplanes-cli [options] INPUT\n"
    "Reduces the picture INPUT to four grey levels and writes its dark and light bit planes\n"
    "as the C arrays Untitled_d and Untitled_l.\n"
    "\n"
    "  -o, --output FILE    write the C text to FILE instead of standard output\n"
    "  -p, --picture FILE   also write the four-level picture to FILE as a 24-bit bitmap\n"
    "  -q, --quiet          no progress display\n"
    "  -h, --help           show this help and exit\n"
    "  -V, --version        show the version and exit\n"
    "\n"
    "Files are replaced only when completely written. Progress goes to standard error when it\n"
    "is a terminal.\n"
    "Exit status: 0 on success, 1 when a file cannot be read or written, 2 for a usage error.\n";

int usageError(const QString& message) {
    std::fprintf(stderr, "greyplanes-cli: %s\nTry 'greyplanes-cli --help' for more.\n",
                 message.toLocal8Bit().constData());
    return 2;
}

// Qt's decoders chatter on standard error about the files they refuse ("libpng error: ...",
// allocation limits); the refusal reaches the user once, as "greyplanes-cli: FILE: reason".
void quietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        std::fprintf(stderr, "greyplanes-cli: %s\n", message.toLocal8Bit().constData());
    }
}

} // namespace

int main(int argc, char* argv[]) {
    qInstallMessageHandler(quietQtMessages);
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);

    cli::Options options;
    bool quiet = false;
    bool endOfOptions = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& arg = args[i];
        auto value = [&](std::string* target) {
            if (i + 1 >= args.size()) {
                return false;
            }
            *target = QFile::encodeName(args[++i]).toStdString();
            return true;
        };
        if (endOfOptions || arg == QLatin1String("-") || !arg.startsWith(QLatin1Char('-'))) {
            if (!options.input.empty()) {
                return usageError(QStringLiteral("only one INPUT file can be given"));
            }
            options.input = QFile::encodeName(arg).toStdString();
        } else if (arg == QLatin1String("--")) {
            endOfOptions = true;
        } else if (arg == QLatin1String("-h") || arg == QLatin1String("--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (arg == QLatin1String("-V") || arg == QLatin1String("--version")) {
            std::printf("greyplanes-cli %s\n", GREYPLANES_VERSION);
            return 0;
        } else if (arg == QLatin1String("-q") || arg == QLatin1String("--quiet")) {
            quiet = true;
        } else if (arg == QLatin1String("-o") || arg == QLatin1String("--output")) {
            if (!value(&options.textOutput) || options.textOutput.empty()) {
                return usageError(QStringLiteral("%1 needs a FILE").arg(arg));
            }
        } else if (arg == QLatin1String("-p") || arg == QLatin1String("--picture")) {
            if (!value(&options.pictureOutput) || options.pictureOutput.empty()) {
                return usageError(QStringLiteral("%1 needs a FILE").arg(arg));
            }
        } else {
            return usageError(QStringLiteral("unknown option %1").arg(arg));
        }
    }
    if (options.input.empty()) {
        return usageError(QStringLiteral("no INPUT file given"));
    }
    options.progress = !quiet && isatty(STDERR_FILENO);
    options.style.source = options.input;
    return cli::convert(options, stderr);
}
