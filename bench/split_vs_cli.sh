#!/usr/bin/env bash
# One long file on every core, as users run it: the plain `soundpick-cli -f FMT -b 128 FILE`
# (no split option: the pieces are the program's own choice, taken only where the machine's run
# queue leaves a core idle), the same with --no-split (one encoder) and with --option split=2 (two
# pieces whatever the load), against `ffmpeg -i FILE -vn -c:a CODEC -b:a 128k`, on 10- and
# 60-minute H.264/AAC inputs: median wall time of RUNS paired runs, CPU time, peak memory, the
# ratio to the tool's time, to the pair floor and to one encoder's, how many of the plain runs
# took pieces, and the machine's load (1-minute average before each run: median, lowest and
# highest). With BUSY=N, N `yes > /dev/null` run beside every run (N cores busy): with one, the
# pieces may cost at most 10 % more wall time than one encoder; with both of two cores busy
# (BUSY=2), at most 5 %. Goal on a quiet 2-core machine: ratio at most 0.60.
# The row "ffmpeg-pair" is two of the tool's runs at once, to two files: half its time is the
# pair floor, the best that two pieces of perfectly parallel work could reach on this machine,
# whose two cores slow each other down (shared caches and memory, the host's other guests).
# Usage: bench/split_vs_cli.sh [BUILD_DIR]
#   LENGTHS="600 3600" FORMATS="mp3 mp2 ac3 wma opus" BUSY="0 1 2" RUNS=5 FORCED=1 (the defaults)
#   FORCED=0 leaves out the runs with split=2; OURS_OPTIONS adds arguments to each of our runs
#   (for inputs under two minutes: OURS_OPTIONS="--option split_min_ms=0").
source "$(dirname "$0")/bench_common.sh"
RUNS=${RUNS:-5}
LENGTHS=${LENGTHS:-600 3600}
FORMATS=${FORMATS:-mp3 mp2 ac3 wma opus}
BUSY=${BUSY:-0 1 2}
FORCED=${FORCED:-1}
read -r -a ours_options <<<"${OURS_OPTIONS:-}"
ours_dir="$WORK/split-ours"
tool_dir="$WORK/split-ffmpeg"
mkdir -p "$ours_dir" "$tool_dir"

# format  ffmpeg codec  probed codec  sample rate
declare -A codec=([mp3]=libmp3lame [mp2]=mp2 [ac3]=ac3 [wma]=wmav2 [opus]=libopus)
declare -A probed=([mp3]=mp3 [mp2]=mp2 [ac3]=ac3 [wma]=wmav2 [opus]=opus)
declare -A rate=([mp3]=44100 [mp2]=44100 [ac3]=44100 [wma]=44100 [opus]=48000)

busy_pids=()
stop_busy() {
    for pid in "${busy_pids[@]}"; do
        kill "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
    done
    busy_pids=()
}
trap stop_busy EXIT

# Runs one timed command and notes the load average it started under in <label>.load.
timed_with_load() {
    cut -d' ' -f1 /proc/loadavg >>"$WORK/$1.load"
    timed "$@"
}

# "median (lowest-highest)" of the load averages the runs of a label started under.
median_load() {
    sort -g "$WORK/$1.load" |
        awk '{ v[NR] = $1 } END { printf "%s (%s-%s)", v[int(NR / 2) + 1], v[1], v[NR] }'
}

rows=()
for seconds in $LENGTHS; do
    BENCH_SECONDS=$seconds
    input=$(make_input "$seconds")
    stem=$(basename "${input%.*}")
    for busy in $BUSY; do
        for format in $FORMATS; do
            labels=("ffmpeg" "ffmpeg-pair" "ours" "ours-one")
            [ "$FORCED" = 1 ] && labels+=("ours-split2")
            for label in "${labels[@]}"; do
                reset_runs "$label-$format-$seconds-$busy"
                rm -f "$WORK/$label-$format-$seconds-$busy.load"
            done
            for ((b = 0; b < busy; b++)); do
                yes >/dev/null &
                busy_pids+=($!)
            done
            for ((i = 0; i < RUNS; i++)); do
                tool_out="$tool_dir/$stem.$format"
                ours_out="$ours_dir/${stem}_(new).$format"
                rm -f "$tool_out" "$ours_out"
                timed_with_load "ffmpeg-$format-$seconds-$busy" ffmpeg -nostdin -y -i "$input" \
                    -vn -c:a "${codec[$format]}" -b:a 128k "$tool_out"
                rm -f "$tool_out" "$tool_out.2.$format"
                timed_with_load "ffmpeg-pair-$format-$seconds-$busy" bash -c \
                    'ffmpeg -nostdin -v error -y -i "$1" -vn -c:a "$2" -b:a 128k "$3" &
                     ffmpeg -nostdin -v error -y -i "$1" -vn -c:a "$2" -b:a 128k "$4"
                     wait $! && exit' pair "$input" "${codec[$format]}" "$tool_out" \
                    "$tool_out.2.$format"
                rm -f "$tool_out" "$tool_out.2.$format"
                # Verbose: its log says whether the run took pieces.
                timed_with_load "ours-$format-$seconds-$busy" "$CLI" -v "${ours_options[@]}" \
                    -f "$format" -b 128 --output-dir "$ours_dir" "$input"
                [ "$i" -eq 0 ] && check_output "$ours_out" "${probed[$format]}" "${rate[$format]}"
                rm -f "$ours_out"
                timed_with_load "ours-one-$format-$seconds-$busy" "$CLI" --quiet --no-split \
                    "${ours_options[@]}" -f "$format" -b 128 --output-dir "$ours_dir" "$input"
                rm -f "$ours_out"
                [ "$FORCED" = 1 ] && timed_with_load "ours-split2-$format-$seconds-$busy" "$CLI" \
                    --quiet --option split=2 "${ours_options[@]}" -f "$format" -b 128 \
                    --output-dir "$ours_dir" "$input"
                rm -f "$ours_out"
            done
            stop_busy
            took=$(grep -c "encoding the sound in pieces" "$WORK/ours-$format-$seconds-$busy.log" ||
                true)
            for label in "${labels[@]}"; do
                runs="$label-$format-$seconds-$busy"
                pieces=-
                [ "$label" = ours ] && pieces="$took of $RUNS"
                rows+=("$(awk -v f="$format" -v s="$seconds" -v b="$busy" -v l="$label" \
                    -v w="$(median "$runs" 1)" -v t="$(median "ffmpeg-$format-$seconds-$busy" 1)" \
                    -v pair="$(median "ffmpeg-pair-$format-$seconds-$busy" 1)" \
                    -v one="$(median "ours-one-$format-$seconds-$busy" 1)" \
                    -v m="$(largest "$runs" 2)" -v c="$(median "$runs" 3)" -v p="$pieces" \
                    -v load="$(median_load "$runs")" 'BEGIN {
                    printf "| %s | %g min | %d | %s | %s | %.2f | %.3f | %.3f | %.3f | %.2f | %.1f | %s |",
                        f, s / 60, b, l, p, w, w / t, 2 * w / pair, w / one, c, m / 1024, load }')")
            done
            echo "$format, $seconds s, busy $busy done; $(print_load)"
        done
    done
done

echo
echo "Medians of $RUNS paired runs, $(nproc) processors; wall time over the tool's, over the pair"
echo "floor (half the ffmpeg-pair row) and over one encoder's (ours-one); load: 1-minute average"
echo "| format | input | cores busy | run | pieces taken | s | / tool | / pair floor | / one encoder | CPU s | MB | load |"
echo "|---|---|---|---|---|---:|---:|---:|---:|---:|---:|---|"
printf '%s\n' "${rows[@]}"
print_load
