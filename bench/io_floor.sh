#!/usr/bin/env bash
# The I/O floor of one conversion: reads the input and writes two new files of the outputs'
# sizes, as fast as cat and dd can; prints the seconds it took.
#   bench/io_floor.sh INPUT TEXT_OUTPUT PICTURE_OUTPUT
set -euo pipefail
input=$1
text=$2
picture=$3
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mebibytes() { echo $((($(stat -c %s "$1") + 1048575) / 1048576)); }
start=$(date +%s.%N)
cat "$input" >/dev/null
dd if=/dev/zero of="$scratch/text" bs=1M count="$(mebibytes "$text")" status=none
dd if=/dev/zero of="$scratch/picture" bs=1M count="$(mebibytes "$picture")" status=none
end=$(date +%s.%N)
echo "$end - $start" | bc
