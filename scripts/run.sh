#!/usr/bin/env bash
# Installs what is needed, builds, shows the converter's output for the shipped sample, and
# starts the window.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh
echo "== greyplanes-cli samples/sample.bmp (first lines) =="
build/cli/greyplanes-cli samples/sample.bmp | head -n 8
echo
echo "=="
if [ -x build/window/greyplanes ]; then
    echo "Starting the window: choose File > Open and pick samples/sample.bmp, then File > Convert."
    exec build/window/greyplanes "$@"
fi
