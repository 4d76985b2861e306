#!/usr/bin/env bash
# A library of N files (default 10,000) in Artist/Album/NN.flac folders, each album with a
# cover.jpg, converted to mp3 by soundpick-cli with -o (the tree kept) and two jobs; then the
# same command again with --update over the unchanged tree, and once more after 1 % of the inputs
# changed. Per run: wall time, the time until
# the first output exists, peak resident memory (/usr/bin/time), the most file handles open at
# once (sampled from /proc every 20 ms) and what the run converted. CPU time (user + system)
# beside the wall time: on a shared machine the wall time is mostly the wait for a processor. Inputs are hard links of one
# 0.2 s flac (8 kHz mono), so the figures show the walk, the probe and the task overhead rather
# than encoding.
# Usage: bench/library_walk.sh [BUILD-DIR [FILES]]   (BUILD-DIR holds bin/soundpick-cli; FILES
# is rounded up to whole hundreds, and stays under the file system's limit of links to one file,
# about 65,000 on ext4)
set -euo pipefail
source "$(dirname "$0")/bench_common.sh" "${1:-}"
# Whole artists of 100 tracks each.
files=$(((${2:-10000} + 99) / 100 * 100))

seed="$MEDIA/tone_0.2s.flac"
[ -s "$seed" ] || ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "sine=frequency=440:sample_rate=8000:duration=0.2" -c:a flac "$seed"
cover="$MEDIA/cover_64.jpg"
[ -s "$cover" ] || ffmpeg -nostdin -hide_banner -loglevel error -y \
    -f lavfi -i "testsrc2=size=64x64:duration=1" -frames:v 1 "$cover"

folder="$WORK/library$files"
rm -rf "$folder" && mkdir -p "$folder/in" "$folder/out"
# One artist of ten albums of ten tracks, then hard-linked copies of it.
first="$folder/in/Artist 0"
for i in $(seq 0 99); do
    album="$first/Album $((i / 10))"
    [ $((i % 10)) -eq 0 ] && mkdir -p "$album" && ln -f "$cover" "$album/cover.jpg"
    ln -f "$seed" "$album/$(printf %02d $((i % 10 + 1))).flac"
done
for artist in $(seq 1 $((files / 100 - 1))); do
    cp -al "$first" "$folder/in/Artist $artist"
done

# One run of the command with its figures as a table row labelled $1.
measure() {
    local label=$1
    shift
    local start first="" end
    touch "$folder/$label.start"
    start=$(date +%s%N)
    "$TIMER" -f "%M %U %S" -o "$folder/$label.rusage" "$CLI" -q -j 2 -o "$folder/out" \
        --report "$folder/$label.jsonl" "$@" "$folder/in" >"$folder/$label.log" 2>&1 &
    local timer_pid=$! cli_pid=""
    while [ -z "$cli_pid" ] && kill -0 "$timer_pid" 2>/dev/null; do
        cli_pid=$(pgrep -P "$timer_pid" || sleep 0.01)
    done
    # The first output this run writes, watched beside the handle count.
    (while kill -0 "$timer_pid" 2>/dev/null; do
        if [ -n "$(find "$folder/out" -name '*.mp3' -newer "$folder/$label.start" -print -quit)" ]; then
            echo $(($(date +%s%N) - start)) >"$folder/$label.first"
            break
        fi
        sleep 0.05
    done) &
    local watcher=$!
    local handles
    handles=$([ -n "$cli_pid" ] && peak_handles "$cli_pid" || echo 0)
    wait "$timer_pid" || { echo "FAILED: $label (see $folder/$label.log)" >&2; exit 1; }
    end=$(date +%s%N)
    wait "$watcher" || true
    first=$(cat "$folder/$label.first" 2>/dev/null || echo "")
    local converted upToDate
    converted=$(grep -c '"state":"finished"' "$folder/$label.jsonl" || true)
    upToDate=$(grep -c '"state":"up-to-date"' "$folder/$label.jsonl" || true)
    awk -v l="$label" -v ns=$((end - start)) -v f="$first" -v r="$(tail -n 1 "$folder/$label.rusage")" \
        -v h="$handles" -v c="$converted" -v u="$upToDate" \
        'BEGIN { split(r, m, " ");
                 printf "| %s | %.2f | %.2f | %s | %.1f | %d | %d | %d |\n", l, ns / 1e9, m[2] + m[3],
                 f == "" ? "-" : sprintf("%.2f", f / 1e9), m[1] / 1024, h, c, u }'
}

print_load
echo "$files files ($((files / 10)) albums with a cover.jpg each)"
echo "| run | wall s | CPU s | first output s | peak MB | peak handles | converted | up to date |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|"
measure first
measure update --update
# One input in a hundred replaced by a copy of its own (a new file, so the hard links of the
# others keep their time), then --update again: it converts those and passes over the rest.
find "$folder/in" -name '*.flac' | sort | awk 'NR % 100 == 0' | while read -r file; do
    cp --remove-destination "$seed" "$file"
done
measure changed --update
outputs=$(find "$folder/out" -name '*.mp3' -size +0 | wc -l)
[ "$outputs" -eq "$files" ] || { echo "FAILED: $outputs outputs of $files" >&2; exit 1; }
print_load
rm -rf "$folder"
