#!/usr/bin/env bash
# Installs what is missing, checks the formatting, builds, and runs every test: once in a normal
# build and once with AddressSanitizer and UndefinedBehaviorSanitizer; then runs each fuzz
# target for a minute.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")"
./tools/setup-deps.sh
jobs=$(nproc)

# Every tracked source file is formatted as .clang-format says.
git ls-files -z '*.cpp' '*.h' | xargs -0 clang-format --dry-run --Werror

started=$(date +%s)

run_suite() { # run_suite BUILD-DIR CMAKE-ARGS...
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DSOUNDPICK_FIXTURES_DIR="$PWD/build/fixtures" "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    (cd "$dir" && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j "$jobs")
}

run_suite build/release -DCMAKE_BUILD_TYPE=Release
# The sanitizer run shares the fixtures of the first run.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite build/sanitize -DCMAKE_BUILD_TYPE=Debug -DSOUNDPICK_SANITIZE=ON \
    -DSOUNDPICK_BUILD_BENCH=OFF
tools/fuzz.sh 60
echo "test.sh: all tests passed in $(($(date +%s) - started)) s"
