#!/bin/sh
# Installs greyplanes into a temporary prefix and builds the firmware example against it: the
# headers are made at build time, the program draws the pictures, a second build does
# nothing, and a touched picture makes its header again.
# Arguments: cmake, the build tree, the source tree.
set -eu
cmake=$1
build=$2
source=$3
work=$(mktemp -d "${TMPDIR:-/tmp}/greyplanes-package-XXXXXX")
trap 'rm -rf "$work"' EXIT

"$cmake" --install "$build" --prefix "$work/prefix" >/dev/null
cp -R "$source/examples/firmware" "$work/example"
"$cmake" -S "$work/example" -B "$work/build" -G "Unix Makefiles" \
    -DCMAKE_PREFIX_PATH="$work/prefix" >"$work/configure.log" || {
    cat "$work/configure.log"
    exit 1
}
"$cmake" --build "$work/build" >"$work/build1.log" 2>&1 || {
    cat "$work/build1.log"
    exit 1
}
"$work/build/firmware" >"$work/output.txt"
diff -u "$source/examples/firmware/expected_output.txt" "$work/output.txt"

header="$work/build/greyplanes/tiny_1.h"
head -n 1 "$header" | grep -q 'tiny-1.bmp: 3 x 2 pixels' || {
    echo "unexpected first line of tiny_1.h:" >&2
    head -n 1 "$header" >&2
    exit 1
}
stamp() { ls --full-time "$1" | awk '{print $6, $7}'; }

before=$(stamp "$header")
"$cmake" --build "$work/build" >"$work/build2.log" 2>&1
if grep -E 'Converting|Building C object|Linking' "$work/build2.log"; then
    echo "a second build did work" >&2
    exit 1
fi
[ "$(stamp "$header")" = "$before" ] || {
    echo "a second build made tiny_1.h again" >&2
    exit 1
}

touch "$work/example/images/tiny-1.bmp"
"$cmake" --build "$work/build" >"$work/build3.log" 2>&1
grep -q 'Converting images/tiny-1.bmp to tiny_1.h' "$work/build3.log" || {
    echo "touching tiny-1.bmp did not make tiny_1.h again:" >&2
    cat "$work/build3.log" >&2
    exit 1
}
if grep -q 'logo.h' "$work/build3.log"; then
    echo "touching tiny-1.bmp made logo.h again" >&2
    exit 1
fi
[ "$(stamp "$header")" != "$before" ]
