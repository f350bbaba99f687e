// greyplanes-cli: converts one picture to the C text of its two grey planes, or such text back
// to the picture.

#include "cli/converter.h"
#include "cli/messages.h"
#include "cli/options.h"
#include "cli/reverse.h"
#include "cli/same_file.h"
#include "platform/safe_save.h"

#include <QCoreApplication>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

int stdoutIsClosed() {
    return cli::report(stderr, base::Error{"standard output", "it is closed"});
}

// Puts /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no file opened
// later gets a standard stream's number and receives what was meant for it. Returns whether
// standard output was closed.
bool occupyClosedStandardStreams() {
    bool stdoutClosed = false;
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // open() takes the lowest free number, which is this one. Standard output gets a
            // file of its own, so that its names (/dev/stdout) can be told from /dev/null.
            int taken = fd == STDOUT_FILENO ? ::memfd_create("closed standard output", 0) : -1;
            if (taken < 0) {
                taken = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
            }
            if (taken != fd) {
                _exit(1);
            }
            stdoutClosed = stdoutClosed || fd == STDOUT_FILENO;
        }
    }
    return stdoutClosed;
}

// Qt's decoders chatter on standard error about the files they refuse ("libpng error: ...",
// allocation limits); the refusal reaches the user once, as "greyplanes-cli: FILE: reason".
void quietQtMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) {
        cli::report(stderr, base::Error{{}, message.toLocal8Bit().toStdString()});
    }
}

} // namespace

int main(int argc, char* argv[]) {
    // Before anything opens a file.
    const bool stdoutClosed = occupyClosedStandardStreams();
    // A reader of standard output that goes away (| head) ends the run with status 1, quietly.
    std::signal(SIGPIPE, SIG_IGN);

    // The arguments as bytes: a name that is not valid in the locale's encoding still reaches
    // the file system exactly as given.
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    const cli::ParsedCommandLine parsed = cli::parseCommandLine(arguments);
    switch (parsed.request) {
    case cli::Request::UsageError:
        return cli::report(stderr, parsed.error);
    case cli::Request::Help:
        if (stdoutClosed) {
            return stdoutIsClosed();
        }
        std::fwrite(cli::usageText().data(), 1, cli::usageText().size(), stdout);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case cli::Request::Version:
        if (stdoutClosed) {
            return stdoutIsClosed();
        }
        std::printf("greyplanes-cli %s\n", GREYPLANES_VERSION);
        return std::fflush(stdout) == 0 ? 0 : 1;
    case cli::Request::Run:
        break;
    }
    cli::Options options = parsed.options;
    // Nothing is read when the result could not be written anyway.
    const bool pictureToStdout =
        options.pictureOutput == cli::kStandardStream ||
        (!options.pictureOutput.empty() && platform::namesStandardOutput(options.pictureOutput));
    if (stdoutClosed && (platform::namesStandardOutput(options.textOutput) || pictureToStdout)) {
        return stdoutIsClosed();
    }
    if (const auto clash = cli::sameFileProblem(options)) {
        return cli::report(stderr, *clash);
    }
    options.progress = options.progress && ::isatty(STDERR_FILENO);

    qInstallMessageHandler(quietQtMessages);
    QCoreApplication app(argc, argv);
    return options.reverseWidth > 0 ? cli::reverse(options, stderr) : cli::convert(options, stderr);
}
