#!/usr/bin/env bash
# Installs what is needed, builds greyplanes in release mode with Debian's hardening flags and
# makes its Debian package with CPack; prints the package's path.
# Usage: scripts/package.sh [BUILD_FOLDER [CMAKE_ARGUMENT...]]   (default build-package)
set -euo pipefail
source=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$source/build-package}
shift $(($# > 0 ? 1 : 0))
"$source/scripts/setup.sh"
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cmake -S "$source" -B "$build" -DCMAKE_BUILD_TYPE=Release -DGREYPLANES_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
    -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DCMAKE_MODULE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
    -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" "$@" >/dev/null
cmake --build "$build" -j"$(nproc)" >/dev/null
(cd "$build" && cpack -G DEB >cpack.log 2>&1) || {
    cat "$build/cpack.log" >&2
    exit 1
}
ls "$build"/greyplanes_*.deb
