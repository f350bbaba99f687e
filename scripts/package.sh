#!/usr/bin/env bash
# Installs what is needed, builds greyplanes in release mode and makes its Debian package with
# CPack. Usage: scripts/package.sh [BUILD_FOLDER]   (default build-package); prints the
# package's path.
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$source/build-package}
"$source/scripts/setup.sh"
cmake -S "$source" -B "$build" -DCMAKE_BUILD_TYPE=Release -DGREYPLANES_TESTS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
(cd "$build" && cpack -G DEB >/dev/null)
ls "$build"/greyplanes_*.deb
