#!/bin/sh
# Each layout's conversion of one picture to a file, alternating with the default's, ROUNDS
# rounds: one line per run, "round|options|elapsed user sys peak|bytes of text". Option sets
# after ROUNDS run instead of the list below (the default's run always comes first).
#   bench/layouts.sh CLI IN.bmp OUT.h [ROUNDS [OPTIONS...]]
cli=$1
in=$2
out=$3
rounds=${4:-5}
shift 4 2> /dev/null || shift $#
if [ $# -eq 0 ]; then
    set -- "--pad-rows" "--word 16" "--word 32" "--layout gb" \
        "--layout gb --tile-order columns" "--layout gb --tile-order 8x16" "--layout packed2" \
        "--layout nibble4 --invert" "--layout packed2 --complete --art" "--layout pages" \
        "--layout pages --bit-order msb --invert" "--layout lvgl" "--bit-order lsb --invert" \
        "--layout packed2 --bit-order lsb" "--layout nibble4 --bit-order lsb"
fi
cat "$in" > /dev/null
round=1
while [ "$round" -le "$rounds" ]; do
    for opts in "" "$@"; do
        rm -f "$out"
        # shellcheck disable=SC2086
        /usr/bin/time -f "%e s %U user %S sys %M KiB" "$cli" -q $opts -o "$out" "$in" \
            2> "$out.time"
        echo "$round|$opts|$(tail -1 "$out.time")|$(stat -c %s "$out")"
    done
    round=$((round + 1))
done
rm -f "$out" "$out.time"
