#!/usr/bin/env bash
# Installs every Debian package that building, running, testing and benchmarking greyplanes
# needs. Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
    cmake g++ make pkg-config          # the build
    qt6-base-dev qt6-qpa-plugins libgl-dev
    libspng-dev libjpeg62-turbo-dev    # PNG and JPEG pictures decoded row by row
    libgif-dev                         # GIF pictures decoded row by row
    libgtest-dev                       # the tests
    clang libclang-rt-14-dev llvm-14   # the fuzz target, its sanitizers and their symbolizer
    xvfb xauth xdotool                 # driving the real window in a virtual X server
    clang-format
    appstream desktop-file-utils       # validating the AppStream metadata and the desktop entry
    groff-base                         # checking the manual pages
    python3 python3-numpy python3-pil  # bench/ and the benchmark baseline
    netpbm libjpeg-turbo-progs         # reference PNG and JPEG decoders for bench/ figures
    time                               # peak-memory figures
    dpkg-dev file lintian              # the Debian package: its dependencies, and its check
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

sudo=()
if [ "$(id -u)" -ne 0 ]; then
    sudo=(sudo)
fi
echo "setup: installing ${missing[*]}" >&2
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
