#!/bin/sh
# Runs greyplanes-cli on every case folder here and compares its text, picture, standard error
# and exit status byte for byte with the expected ones; then reverses each text and compares
# the picture it gives with the one -p wrote.
#
#   run.sh CLI [--pictures]
#
# A case folder holds its picture in.bmp (or in.gif), args (the options, one a line), expected.txt (worked out by
# hand), and where they apply expected.err, status (the exit status, 0 when missing), reverse
# (the -r options that read expected.txt back) and expected.bmp. With --pictures the run
# writes expected.bmp of every case instead of comparing it: that is done by hand, after a
# change to the picture writer has been checked.
set -u
cli=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
bless=${2:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

fail() {
    echo "FAIL $case: $*"
    failed=1
}

# Runs the converter in the case folder with the lines of file $1 as options, then the words
# of $2 (paths without blanks).
run() {
    (
        cd "$here/$case" || exit 99
        set -- "$1" "$2"
        list=$1
        extra=$2
        set --
        while IFS= read -r option; do
            set -- "$@" "$option"
        done < "$list"
        # shellcheck disable=SC2086
        "$cli" "$@" $extra
    )
}

for dir in "$here"/*/; do
    case=$(basename "$dir")
    rm -f "$work"/*
    input=in.bmp
    [ -f "$dir/in.gif" ] && input=in.gif
    run "$dir/args" "-q -o $work/out.txt -p $work/out.bmp $input" 2> "$work/err"
    status=$?
    want=0
    [ -f "$dir/status" ] && want=$(cat "$dir/status")
    [ "$status" = "$want" ] || fail "exit status $status, expected $want"
    if [ -f "$dir/expected.err" ]; then
        cmp -s "$work/err" "$dir/expected.err" || fail "standard error: $(cat "$work/err")"
    elif [ -s "$work/err" ]; then
        fail "standard error: $(cat "$work/err")"
    fi
    if [ -f "$dir/expected.txt" ]; then
        cmp -s "$work/out.txt" "$dir/expected.txt" || fail "text differs"
    elif [ -e "$work/out.txt" ]; then
        fail "a text was written"
    fi
    # A complete header compiles as C and as C++.
    if grep -qx -- --complete "$dir/args"; then
        for compiler in "cc -x c -std=c99" "c++ -x c++ -std=c++17"; do
            # shellcheck disable=SC2086
            $compiler -pedantic-errors -fsyntax-only "$dir/expected.txt" 2> "$work/err" ||
                fail "does not compile with $compiler: $(cat "$work/err")"
        done
    fi
    # An lvgl picture compiles as C99 and C++20 against a stand-in for LVGL's header, and its
    # descriptor links from another file that declares it.
    if grep -qx lvgl "$dir/args"; then
        name=$(sed -n '/^-n$/{n;p;}' "$dir/args")
        name=${name:-Untitled}
        printf '#include "lvgl.h"\nLV_IMAGE_DECLARE(%s);\nint main(void) { return %s.header.w == 0; }\n' \
            "$name" "$name" > "$work/main.c"
        for language in c c++; do
            standard=-std=c99
            [ "$language" = c++ ] && standard=-std=c++20
            if ! {
                cc -x "$language" "$standard" -pedantic-errors -Wall -Werror \
                    -DLV_LVGL_H_INCLUDE_SIMPLE -I "$here/../support/lvgl" -c \
                    -o "$work/image.o" "$dir/expected.txt" 2> "$work/err" &&
                    cc -x "$language" "$standard" -I "$here/../support/lvgl" -c \
                        -o "$work/main.o" "$work/main.c" 2>> "$work/err" &&
                    c++ -o "$work/linked" "$work/image.o" "$work/main.o" 2>> "$work/err" &&
                    "$work/linked"
            }; then
                fail "does not build as $language $standard: $(cat "$work/err")"
            fi
        done
    fi
    if [ "$bless" = --pictures ] && [ -f "$work/out.bmp" ]; then
        cp "$work/out.bmp" "$dir/expected.bmp"
    elif [ -f "$dir/expected.bmp" ]; then
        cmp -s "$work/out.bmp" "$dir/expected.bmp" || fail "picture differs"
    elif [ -e "$work/out.bmp" ]; then
        fail "a picture was written"
    fi
    if [ -f "$dir/reverse" ]; then
        run "$dir/reverse" "-o $work/back.bmp expected.txt" 2> "$work/err"
        [ $? = 0 ] || fail "the way back: $(cat "$work/err")"
        cmp -s "$work/back.bmp" "$work/out.bmp" || fail "the way back gives another picture"
    fi
done
exit $failed
