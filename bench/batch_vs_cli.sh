#!/usr/bin/env bash
# Batch: 8 ten-minute inputs (links to one generated file under 8 names) to mp3, 44.1 kHz stereo
# 128 kbit/s, with `soundpick-cli --jobs 1` and `--jobs 2` against the ffmpeg tool converting the
# same 8 one after another (and, for reference, two at a time through xargs -P 2): wall time
# (median of RUNS), speed-up of --jobs 2 over --jobs 1, peak memory of the largest process.
# Usage: bench/batch_vs_cli.sh [BUILD_DIR]   (default build/release; RUNS=1, BENCH_SECONDS=600)
source "$(dirname "$0")/bench_common.sh"
RUNS=${RUNS:-1}
FILES=8

input=$(make_input "$BENCH_SECONDS")
in_dir="$WORK/batch-in"
ours_dir="$WORK/batch-ours"
tool_dir="$WORK/batch-ffmpeg"
mkdir -p "$in_dir" "$ours_dir" "$tool_dir"
inputs=()
for ((n = 1; n <= FILES; n++)); do
    ln -sf "$input" "$in_dir/clip$n.mp4"
    inputs+=("$in_dir/clip$n.mp4")
done

# Converts the inputs given as arguments one after another (or two at a time with -P 2).
tool_one='ffmpeg -nostdin -y -i "$1" -vn -c:a libmp3lame -ar 44100 -ac 2 -b:a 128k "$0/$(basename "${1%.*}").mp3"'

ours() {
    rm -f "$ours_dir"/*
    timed "batch-ours-j$1" "$CLI" --quiet --jobs "$1" --format mp3 --rate 44100 \
        --channels stereo --bitrate 128 --output-dir "$ours_dir" "${inputs[@]}"
}

tool() {
    rm -f "$tool_dir"/*
    timed "batch-ffmpeg-p$1" bash -c "printf '%s\0' \"\$@\" | xargs -0 -n 1 -P $1 bash -c '$tool_one' '$tool_dir'" \
        _ "${inputs[@]}"
}

print_load
for label in batch-ours-j1 batch-ours-j2 batch-ffmpeg-p1 batch-ffmpeg-p2; do
    reset_runs "$label"
done
for ((i = 0; i < RUNS; i++)); do
    ours 1
    tool 1
    ours 2
    tool 2
done
for out in "$ours_dir"/*.mp3 "$tool_dir"/*.mp3; do
    check_output "$out" mp3 >/dev/null
done
echo "checked $(ls "$ours_dir" | wc -l) + $(ls "$tool_dir" | wc -l) outputs"

row() {
    echo "| $1 | $(median "$2" 1) | $(awk -v m="$(largest "$2" 2)" 'BEGIN { printf "%.1f", m / 1024 }') | $(median "$2" 3) |"
}
echo
echo "$FILES inputs of ${BENCH_SECONDS} s to mp3, median of $RUNS"
echo "| run | wall s | peak MB (largest process) | CPU s |"
echo "|---|---:|---:|---:|"
row "soundpick-cli --jobs 1" batch-ours-j1
row "soundpick-cli --jobs 2" batch-ours-j2
row "ffmpeg, one after another" batch-ffmpeg-p1
row "ffmpeg, two at a time (xargs -P 2)" batch-ffmpeg-p2
awk -v a="$(median batch-ours-j1 1)" -v b="$(median batch-ours-j2 1)" \
    -v c="$(median batch-ffmpeg-p1 1)" 'BEGIN {
    printf "speed-up of --jobs 2 over --jobs 1: %.2fx; --jobs 1 / ffmpeg one after another: %.3f\n",
        a / b, a / c }'
print_load
