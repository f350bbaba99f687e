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

header="$work/build/greyplanes_firmware/greyplanes/tiny_1.h"
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
grep -q 'Converting images/tiny-1.bmp to greyplanes/tiny_1.h' "$work/build3.log" || {
    echo "touching tiny-1.bmp did not make tiny_1.h again:" >&2
    cat "$work/build3.log" >&2
    exit 1
}
if grep -q 'logo.h' "$work/build3.log"; then
    echo "touching tiny-1.bmp made logo.h again" >&2
    exit 1
fi
[ "$(stamp "$header")" != "$before" ]

# The hostile names: system headers' stems, stems that differ in case, one picture in two
# targets with different options, a call from a subfolder; the option sets; then the calls that
# are refused at configure, naming what they refuse.
cp -R "$source/tests/package/hostile" "$work/hostile"
for name in stdio time signal math string Logo2 LOGO2 int tiny-1; do
    cp "$source/examples/firmware/images/tiny-1.bmp" "$work/hostile/$name.bmp"
done
cp "$source/samples/sample.bmp" "$work/hostile/sample.bmp"
"$cmake" -S "$work/hostile" -B "$work/hostile-build" -G "Unix Makefiles" \
    -DCMAKE_PREFIX_PATH="$work/prefix" >"$work/hostile.log" 2>&1 &&
    "$cmake" --build "$work/hostile-build" >>"$work/hostile.log" 2>&1 &&
    "$work/hostile-build/planes" >>"$work/hostile.log" &&
    "$work/hostile-build/padded" >>"$work/hostile.log" || {
    cat "$work/hostile.log"
    exit 1
}
cli=$work/prefix/bin/greyplanes-cli
while IFS='|' read -r target pictures keywords options; do
    case $target in '#'* | '') continue ;; esac
    target=${target%% *}
    for picture in $pictures; do
        name=$(printf '%s' "${picture%.*}" | tr -c 'A-Za-z0-9_' '_')
        "$cli" --complete -q $options --name "$name" -o "$work/expected.h" -- "$work/hostile/$picture"
        made="$work/hostile-build/greyplanes_$target/greyplanes/$name.h"
        cmp "$work/expected.h" "$made" || {
            echo "$target:$keywords: $name.h is not the converter's text for$options" >&2
            diff -u "$work/expected.h" "$made" | head -n 20 >&2
            exit 1
        }
    done
done <"$source/tests/package/hostile/option_sets.txt"
# One header of several pictures as frames.
"$cli" --complete -q --mask ones --name walk -o "$work/expected.h" -- "$work/hostile/stdio.bmp" \
    "$work/hostile/time.bmp" "$work/hostile/Logo2.bmp"
cmp "$work/expected.h" "$work/hostile-build/greyplanes_walk/greyplanes/walk.h" || {
    echo "walk.h is not the converter's text for its three frames" >&2
    exit 1
}

# Each call of refused.txt stops the configure with a message that has its words.
for name in logo logo_width stdio_width GREYPLANES_time_H ''; do
    cp "$source/examples/firmware/images/tiny-1.bmp" "$work/hostile/$name.bmp"
done
mkdir "$work/hostile/im;ages" "$work/hostile/se;mi"
cp "$source/examples/firmware/images/tiny-1.bmp" "$work/hostile/im;ages/"
echo 'greyplanes_add_images(planes ../tiny-1.bmp)' >"$work/hostile/se;mi/CMakeLists.txt"
while IFS='|' read -r call words; do
    case $call in '#'* | '') continue ;; esac
    words=$(printf '%s' "$words" | sed 's/^ *//; s/ *$//')
    rm -rf "$work/refused-build"
    if "$cmake" -S "$work/hostile" -B "$work/refused-build" -DGREYPLANES_HOSTILE_CALL="$call" \
        -DCMAKE_PREFIX_PATH="$work/prefix" >"$work/refused.log" 2>&1; then
        echo "configure accepted $call" >&2
        exit 1
    fi
    # CMake wraps its messages: compared with all white space as one space.
    tr -s ' \n' '  ' <"$work/refused.log" >"$work/refused.txt"
    grep -qE "greyplanes_add_(images|frames): " "$work/refused.txt" && grep -qF "$words" "$work/refused.txt" || {
        echo "$call: no message with: $words" >&2
        cat "$work/refused.log" >&2
        exit 1
    }
done <"$source/tests/package/hostile/refused.txt"

# The package's keywords are the converter's, no more and no fewer; the converter's lists are
# the quoted words between "Keywords = " and "});".
keywords=$(sed -n '/^set(GREYPLANES_KEYWORDS/,/)$/p' "$source/cmake/greyplanesConfig.cmake" |
    sed 's/set(GREYPLANES_KEYWORDS//; s/)//' | tr -s ' \n' '\n' | grep . | sort -u)
sed -n '/Keywords = /,/^});/p' "$source/ctext/c_identifier.cpp" | grep -o '"[A-Za-z_0-9]*"' |
    tr -d '"' | sort -u >"$work/converter-keywords"
printf '%s\n' $keywords >"$work/package-keywords"
diff -u "$work/converter-keywords" "$work/package-keywords" || {
    echo "the package's keywords differ from the converter's" >&2
    exit 1
}
