#pragma once
// The batch converter's work, apart from parsing its command line.

#include <QString>
#include <cstdio>

namespace cli {

struct Options {
    QString input;
    QString textOutput;    // empty: standard output
    QString pictureOutput; // empty: no picture
    bool progress = false;
};

// Converts one picture; reports failures on `errors` as "greyplanes-cli: FILE: reason".
// Returns the exit status: 0 when everything was written, 1 when a file failed.
int convert(const Options& options, std::FILE* errors);

} // namespace cli
