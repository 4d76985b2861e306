#!/usr/bin/env bash
# Resources of long batches: soundpick-cli converts batches of 10, 100 and 1000 short inputs
# (0.2 s flac, 8 kHz mono) to mp3 with two jobs; per batch the wall time, the peak resident
# memory (/usr/bin/time) and the most file handles open at once (sampled from /proc every
# 20 ms). Both should stay flat as the batch grows. KIND=video takes short videos instead
# (0.2 s H.264 160x120 with AAC, as mp4) and converts them to m4a, which keeps the picture.
# Usage: [KIND=video] bench/batch_resources.sh [BUILD-DIR [SIZES...]]
# (BUILD-DIR holds bin/soundpick-cli)
set -euo pipefail
source "$(dirname "$0")/bench_common.sh" "${1:-}"
shift || true
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10 100 1000)

if [ "${KIND:-audio}" = video ]; then
    seed="$MEDIA/video_0.2s.mp4"
    format=(-f m4a)
    extension=m4a
    [ -s "$seed" ] || ffmpeg -nostdin -hide_banner -loglevel error -y \
        -f lavfi -i "testsrc2=size=160x120:rate=10:duration=0.2" \
        -f lavfi -i "sine=frequency=440:sample_rate=44100:duration=0.2" \
        -c:v libx264 -preset veryfast -pix_fmt yuv420p -c:a aac -shortest "$seed"
else
    seed="$MEDIA/tone_0.2s.flac"
    format=()
    extension=mp3
    [ -s "$seed" ] || ffmpeg -nostdin -hide_banner -loglevel error -y \
        -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=0.2" -c:a flac "$seed"
fi

print_load
echo "| files | wall s | peak MB | peak handles | outputs |"
echo "|---:|---:|---:|---:|---:|"
for size in "${sizes[@]}"; do
    folder="$WORK/batch$size"
    rm -rf "$folder" && mkdir -p "$folder/in" "$folder/out"
    for i in $(seq 1 "$size"); do ln -f "$seed" "$folder/in/f$i.${seed##*.}"; done
    start=$(date +%s%N)
    "$TIMER" -f "%M" -o "$folder/rusage" "$CLI" -q -j 2 "${format[@]}" -o "$folder/out" "$folder"/in/* \
        >"$folder/log" 2>&1 &
    timer_pid=$!
    # The program is the timer's child; wait until it exists.
    cli_pid=""
    while [ -z "$cli_pid" ] && kill -0 "$timer_pid" 2>/dev/null; do
        cli_pid=$(pgrep -P "$timer_pid" || sleep 0.01)
    done
    handles=$([ -n "$cli_pid" ] && peak_handles "$cli_pid" || echo 0)
    wait "$timer_pid" || { echo "FAILED: batch of $size (see $folder/log)" >&2; exit 1; }
    end=$(date +%s%N)
    outputs=$(find "$folder/out" -name "*.$extension" -size +0 | wc -l)
    [ "$outputs" -eq "$size" ] || { echo "FAILED: $outputs outputs of $size" >&2; exit 1; }
    awk -v n="$size" -v ns=$((end - start)) -v kb="$(tail -n 1 "$folder/rusage")" \
        -v h="$handles" -v o="$outputs" \
        'BEGIN { printf "| %d | %.2f | %.1f | %d | %d |\n", n, ns / 1e9, kb / 1024, h, o }'
    rm -rf "$folder"
done
print_load
