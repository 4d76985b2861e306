#!/usr/bin/env bash
# Builds the fuzz targets in build/fuzz (clang, libFuzzer, AddressSanitizer and UBSan), makes
# their seeds with the ffmpeg tool and runs each target, one after another on one core, for the
# given seconds (default 60). Exits non-zero when any target reports a fault; the input behind
# it is left in build/fuzz/artifacts/. Inputs found along the way stay in build/fuzz/corpus/.
# Usage: tools/fuzz.sh [SECONDS [TARGET...]]   targets: probe_fuzz convert_fuzz
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(probe_fuzz convert_fuzz)
tree=build/fuzz

CC=clang CXX=clang++ cmake -S . -B "$tree" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSOUNDPICK_FUZZ=ON -DSOUNDPICK_BUILD_APP=OFF -DSOUNDPICK_BUILD_TESTS=OFF \
    -DSOUNDPICK_BUILD_BENCH=OFF >/dev/null
cmake --build "$tree" -j "$(nproc)" --target "${targets[@]}"
fuzz/make_seeds.sh "$tree/seeds"

failed=0
for target in "${targets[@]}"; do
    corpus="$tree/corpus/$target"
    mkdir -p "$corpus" "$tree/artifacts"
    echo "fuzz.sh: $target for $seconds s"
    # A single input may take at most 30 s (the conversion writes a few seconds at most).
    ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
        "$tree/bin/$target" -max_total_time="$seconds" -timeout=30 -rss_limit_mb=2560 \
        -max_len=32768 -print_final_stats=1 -artifact_prefix="$tree/artifacts/$target-" \
        "$corpus" "$tree/seeds" || failed=1
done
[ $failed -eq 0 ] || { echo "fuzz.sh: a target reported a fault (see $tree/artifacts/)"; exit 1; }
echo "fuzz.sh: no fault found"
