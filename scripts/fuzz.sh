#!/usr/bin/env bash
# Builds the picture reader's fuzz target with clang and runs it for SECONDS (default 60).
#   scripts/fuzz.sh [SECONDS]
# Corpus: fuzz/corpus (generated seeds plus what the fuzzer learns; not committed).
# Findings: fuzz/artifacts. Inputs kept as regressions live in tests/data/fuzz.
set -euo pipefail

seconds=${1:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
build=${GREYPLANES_FUZZ_BUILD:-$root/build-fuzz}
corpus=$root/fuzz/corpus
artifacts=$root/fuzz/artifacts

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DGREYPLANES_FUZZ=ON -DGREYPLANES_WINDOW=OFF -DGREYPLANES_TESTS=OFF \
    -DGREYPLANES_SANITIZE=address,undefined >/dev/null
cmake --build "$build" --target read_picture_fuzzer -j2

mkdir -p "$corpus" "$artifacts" "$root/tests/data/fuzz"
python3 "$root/scripts/make_seeds.py" "$corpus"

# The regressions seed the run too, so that their neighbourhood is explored again. Only our code
# gives coverage feedback (Qt's decoders are not instrumented), so the seeds are kept and crossed
# over even when they add no coverage of ours: they are what reaches the different decoders.
# One process only (no -jobs/-workers): the machine is small and shared.
# Qt's reader may allocate the decoded picture (16 MiB at the fuzz caps) twice while converting;
# 256 MiB leaves room for that and still catches an allocation a lying header asks for.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec "$build/fuzz/read_picture_fuzzer" "$corpus" "$root/tests/data/fuzz" \
    -max_total_time="$seconds" -timeout=2 -rss_limit_mb=2048 -malloc_limit_mb=256 \
    -max_len=65536 -keep_seed=1 -cross_over_uniform_dist=1 -use_value_profile=1 \
    -print_final_stats=1 \
    -artifact_prefix="$artifacts/"
