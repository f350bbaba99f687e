// greyplanes: the desktop window that reduces a bitmap to four grey levels and writes its two
// bit planes as C arrays.
//
// greyplanes [FILE]: the window opens FILE at start, as File > Open would.

#include "window/aside.h"
#include "window/command_line.h"
#include "window/form1.h"

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>

namespace {

void setNames() {
    QCoreApplication::setApplicationName(QStringLiteral("greyplanes"));
    QCoreApplication::setApplicationVersion(window::version());
}

// Prints what the command line asked for, or its error; the exit status.
int answer(const window::CommandLine& command) {
    const QByteArray text = command.text.toLocal8Bit();
    const bool error = command.action == window::CommandLine::Action::UsageError;
    std::fputs(text.constData(), error ? stderr : stdout);
    return error ? 2 : 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        arguments << QString::fromLocal8Bit(argv[i]);
    }
    // Help and the version need no display, so they also work where no window could open.
    if (window::asksForTextOnly(arguments)) {
        QCoreApplication core(argc, argv);
        setNames();
        const window::CommandLine command = window::parseCommandLine(QCoreApplication::arguments());
        if (command.action != window::CommandLine::Action::Run) {
            return answer(command);
        }
    }

    QApplication app(argc, argv);
    setNames();
    QGuiApplication::setDesktopFileName(QStringLiteral("greyplanes"));
    // Parsed after QApplication has taken out its own options (-platform, -style, ...).
    const window::CommandLine command = window::parseCommandLine(QApplication::arguments());
    if (command.action != window::CommandLine::Action::Run) {
        return answer(command);
    }

    window::Form1 form;
    form.show();
    if (!command.file.isEmpty()) {
        // Once the event loop runs, as if the user had chosen the file in the Open dialog.
        QTimer::singleShot(0, &form, [&form, file = command.file] { form.openFile(file); });
    }
    const int status = QApplication::exec();
    // A save still running when the window closed gets a few seconds to finish, so that an
    // ordinary file is written whole. One that cannot finish (a pipe that nobody reads, a device
    // that never answers) is left behind: it owns what it writes and touches nothing of the
    // window, and it ends with the process.
    window::waitForWorkAside(std::chrono::seconds(5));
    return status;
}
