#pragma once
// The window program's command line: `greyplanes [FILE]`, --help and --version.

#include <QString>
#include <QStringList>

namespace window {

// What the command line asks for.
struct CommandLine {
    enum class Action {
        Run,        // start the window, opening `file` if it is not empty
        Help,       // print `text` on standard output and end with status 0
        Version,    // the same
        UsageError, // print `text` on standard error and end with status 2
    };
    Action action = Action::Run;
    // For Run: the picture to open at start, as an absolute name, or empty.
    QString file;
    QString text;
};

// The program's version, "MAJOR.MINOR.PATCH".
QString version();

// Reads the arguments (the program name first), with Qt's own options already taken out.
CommandLine parseCommandLine(const QStringList& arguments);

// Whether the arguments ask only for help or the version, which need no display.
bool asksForTextOnly(const QStringList& arguments);

} // namespace window
