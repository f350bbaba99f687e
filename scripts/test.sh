#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
scripts/build.sh -DGREYPLANES_TESTS=ON
ctest --test-dir build --output-on-failure -j2
