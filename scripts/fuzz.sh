#!/usr/bin/env bash
# Builds the fuzz targets with clang and runs them, each for SECONDS (default 60).
#   scripts/fuzz.sh [SECONDS] [bitmap|picture|ctext|stream|gif|all]
#     bitmap   the bitmap decoder alone (bitmap_fuzzer)
#     picture  the picture reader, bitmaps and Qt's other formats (read_picture_fuzzer)
#     ctext    the C-text reader, raw text and the writer's text read back (ctext_fuzzer)
#     stream   the streamed PNG, JPEG and PNM decoders, row by row (stream_fuzzer)
#     gif      the streamed GIF decoder, its first frame and its frames composed (gif_fuzzer)
#     all      all five, one after the other (the default)
# Corpora: fuzz/corpus-bitmap, fuzz/corpus and fuzz/corpus-ctext (generated seeds plus what the
# fuzzer learns; not committed). Findings: fuzz/artifacts, and a copy in tests/data/fuzz, where
# bitmap_test, faults_test and imaging_test replay them (the C-text reader's as ctext-*); keep
# the ones that found a bug there as regressions.
set -euo pipefail

seconds=${1:-60}
target=${2:-all}
case $target in
bitmap | picture | ctext | stream | gif | all) ;;
*)
    echo "usage: scripts/fuzz.sh [SECONDS] [bitmap|picture|ctext|stream|gif|all]" >&2
    exit 2
    ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
build=${GREYPLANES_FUZZ_BUILD:-$root/build-fuzz}
artifacts=$root/fuzz/artifacts
regressions=$root/tests/data/fuzz

case $target in
bitmap) targets=(bitmap_fuzzer) ;;
picture) targets=(read_picture_fuzzer) ;;
ctext) targets=(ctext_fuzzer) ;;
stream) targets=(stream_fuzzer) ;;
gif) targets=(gif_fuzzer) ;;
all) targets=(bitmap_fuzzer read_picture_fuzzer ctext_fuzzer stream_fuzzer gif_fuzzer) ;;
esac

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DGREYPLANES_FUZZ=ON -DGREYPLANES_WINDOW=OFF -DGREYPLANES_TESTS=OFF \
    -DGREYPLANES_SANITIZE=address,undefined >/dev/null
cmake --build "$build" --target "${targets[@]}" -j2

mkdir -p "$artifacts" "$regressions"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}

# Copies what a run found into the regressions, so that bitmap_test replays it.
keep_findings() {
    local prefix=$1
    for f in "$artifacts/$prefix"*; do
        [ -f "$f" ] || continue
        local name
        name=$(basename "$f")
        if [ ! -e "$regressions/$name" ]; then
            cp "$f" "$regressions/$name"
            echo "fuzz.sh: kept $name in tests/data/fuzz" >&2
        fi
    done
    return 0
}

# One process per target (no -jobs/-workers): the machine is small and shared. The regressions
# seed each run too, so that their neighbourhood is explored again.
run_bitmap() {
    local corpus=$root/fuzz/corpus-bitmap
    mkdir -p "$corpus"
    python3 "$root/scripts/make_seeds.py" --bitmaps-only "$corpus"
    # The decoder holds a read chunk and a few rows, never the picture: 64 MiB is plenty and
    # catches any allocation a lying header could ask for.
    "$build/fuzz/bitmap_fuzzer" "$corpus" "$regressions" \
        -max_total_time="$seconds" -timeout=2 -rss_limit_mb=1024 -malloc_limit_mb=64 \
        -max_len=65536 -use_value_profile=1 -print_final_stats=1 \
        -artifact_prefix="$artifacts/bitmap-"
}

run_picture() {
    local corpus=$root/fuzz/corpus
    mkdir -p "$corpus"
    python3 "$root/scripts/make_seeds.py" "$corpus"
    # Only our code gives coverage feedback (Qt's decoders are not instrumented), so the seeds
    # are kept and crossed over even when they add no coverage of ours: they are what reaches
    # the different decoders. Qt's reader may allocate the decoded picture (16 MiB at the fuzz
    # caps) twice while converting; 256 MiB leaves room for that and still catches an
    # allocation a lying header asks for.
    "$build/fuzz/read_picture_fuzzer" "$corpus" "$regressions" \
        -max_total_time="$seconds" -timeout=2 -rss_limit_mb=2048 -malloc_limit_mb=256 \
        -max_len=65536 -keep_seed=1 -cross_over_uniform_dist=1 -use_value_profile=1 \
        -print_final_stats=1 \
        -artifact_prefix="$artifacts/picture-"
}

run_ctext() {
    local corpus=$root/fuzz/corpus-ctext
    mkdir -p "$corpus"
    # The kept C texts seed it; the others in tests/data/fuzz are pictures.
    cp "$regressions"/ctext-* "$corpus"/
    # The reader holds a buffer of 1 MiB and the arrays, a few bytes a value.
    "$build/fuzz/ctext_fuzzer" "$corpus" \
        -max_total_time="$seconds" -timeout=2 -rss_limit_mb=1024 -malloc_limit_mb=64 \
        -max_len=65536 -use_value_profile=1 -print_final_stats=1 \
        -artifact_prefix="$artifacts/ctext-"
}

run_stream() {
    local corpus=$root/fuzz/corpus-stream
    mkdir -p "$corpus"
    python3 "$root/scripts/make_seeds.py" "$corpus"
    # The decoders hold a row and their own buffers; a picture held whole is capped at 16 MiB
    # by the target, and libspng may take a chunk of up to 64 MiB a lying length claims.
    "$build/fuzz/stream_fuzzer" "$corpus" "$regressions" \
        -max_total_time="$seconds" -timeout=2 -rss_limit_mb=2048 -malloc_limit_mb=256 \
        -max_len=65536 -keep_seed=1 -use_value_profile=1 -print_final_stats=1 \
        -artifact_prefix="$artifacts/stream-"
}

run_gif() {
    local corpus=$root/fuzz/corpus-gif
    mkdir -p "$corpus"
    # The committed seeds (fuzz/seeds-gif) are small GIFs of each kind: interlaced, transparent,
    # animated with each way of undoing a frame; what the fuzzer learns goes to the corpus. The
    # decoder holds a row, or up to 16 MiB the target allows for an interlaced frame or the canvas
    # of later frames.
    "$build/fuzz/gif_fuzzer" "$corpus" "$root/fuzz/seeds-gif" \
        -max_total_time="$seconds" -timeout=2 -rss_limit_mb=1024 -malloc_limit_mb=128 \
        -max_len=65536 -keep_seed=1 -use_value_profile=1 -print_final_stats=1 \
        -artifact_prefix="$artifacts/gif-"
}

status=0
for t in "${targets[@]}"; do
    echo "== fuzzing $t for $seconds s =="
    case $t in
    bitmap_fuzzer) run_bitmap || status=$? ; keep_findings bitmap- ;;
    read_picture_fuzzer) run_picture || status=$? ; keep_findings picture- ;;
    ctext_fuzzer) run_ctext || status=$? ; keep_findings ctext- ;;
    stream_fuzzer) run_stream || status=$? ; keep_findings stream- ;;
    gif_fuzzer) run_gif || status=$? ; keep_findings gif- ;;
    esac
done
exit $status
