#include "window/command_line.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>

namespace window {
namespace {

// The options as QCommandLineParser's helpers define them, so that both functions agree.
const QStringList kHelpNames{QStringLiteral("h"), QStringLiteral("help"), QStringLiteral("?"),
                             QStringLiteral("help-all")};
const QStringList kVersionNames{QStringLiteral("v"), QStringLiteral("version")};

QString tr(const char* text) {
    return QCoreApplication::translate("CommandLine", text);
}

} // namespace

QString version() {
    return QStringLiteral(GREYPLANES_VERSION);
}

CommandLine parseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        tr("Reduces a picture to four grey levels and writes its two bit planes as C arrays."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    parser.addPositionalArgument(QStringLiteral("file"),
                                 tr("The picture to open at start, as File > Open would."),
                                 tr("[FILE]"));

    const QString program = QStringLiteral("greyplanes");
    auto usageError = [&](const QString& message) {
        return CommandLine{CommandLine::Action::UsageError,
                           {},
                           program + QStringLiteral(": ") + message + QLatin1Char('\n') +
                               tr("Try '%1 --help' for more information.").arg(program) +
                               QLatin1Char('\n')};
    };

    if (!parser.parse(arguments)) {
        return usageError(parser.errorText());
    }
    if (parser.isSet(help) || parser.isSet(QStringLiteral("help-all"))) {
        return {CommandLine::Action::Help, {}, parser.helpText()};
    }
    if (parser.isSet(versionOption)) {
        return {CommandLine::Action::Version,
                {},
                program + QLatin1Char(' ') + version() + QLatin1Char('\n')};
    }
    const QStringList files = parser.positionalArguments();
    if (files.size() > 1) {
        return usageError(tr("one picture at most, not %1").arg(files.size()));
    }
    if (files.isEmpty()) {
        return {};
    }
    if (files.front().isEmpty()) {
        return usageError(tr("the picture's name is empty"));
    }
    // As the Open dialog gives it: absolute, so that Save Picture offers the same file.
    return {CommandLine::Action::Run, QFileInfo(files.front()).absoluteFilePath(), {}};
}

bool asksForTextOnly(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--")) {
            break;
        }
        QString name = argument;
        if (name.startsWith(QLatin1String("--"))) {
            name.remove(0, 2);
        } else if (name.startsWith(QLatin1Char('-'))) {
            name.remove(0, 1);
        } else {
            continue;
        }
        if (kHelpNames.contains(name) || kVersionNames.contains(name)) {
            return true;
        }
    }
    return false;
}

} // namespace window
