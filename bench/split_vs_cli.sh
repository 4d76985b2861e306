#!/usr/bin/env bash
# One long file on several cores: soundpick-cli encoding the sound in pieces (1, 2 and all
# processors at once) and with one encoder (--no-split), against `ffmpeg -vn -c:a CODEC`, on a
# 10-minute H.264/AAC input (60 minutes with the argument `long`), to mp3 and aac at 128 kbit/s:
# median wall time of RUNS runs, peak memory (largest max RSS), CPU time, and the ratio to the
# tool's time (target: at most 0.60 on 2 processors for the formats that split).
# Usage: bench/split_vs_cli.sh [BUILD_DIR] [long]   (default build/release; RUNS=3)
if [ "${2:-}" = long ]; then
    BENCH_SECONDS=3600
fi
source "$(dirname "$0")/bench_common.sh"
RUNS=${RUNS:-3}
CORES=$(nproc)

input=$(make_input "$BENCH_SECONDS")
ours_dir="$WORK/split-ours"
tool_dir="$WORK/split-ffmpeg"
mkdir -p "$ours_dir" "$tool_dir"

# format  ffmpeg codec  probed codec
formats=("mp3 libmp3lame mp3" "aac aac aac")
# label suffix and soundpick-cli arguments (commas for spaces)
variants=("single --no-split" "pieces1 --option,split=1" "pieces2 --option,split=2")
if [ "$CORES" -gt 2 ]; then
    variants+=("pieces$CORES --option,split=$CORES")
fi

stem=$(basename "${input%.*}")
for entry in "${formats[@]}"; do
    read -r format codec probed <<<"$entry"
    reset_runs "ffmpeg-$format"
    for variant in "${variants[@]}"; do
        reset_runs "ours-$format-${variant%% *}"
    done
    for ((i = 0; i < RUNS; i++)); do
        tool_out="$tool_dir/$stem.$format"
        rm -f "$tool_out"
        timed "ffmpeg-$format" ffmpeg -nostdin -y -i "$input" -vn -c:a "$codec" -b:a 128k \
            -ar 44100 -ac 2 "$tool_out"
        for variant in "${variants[@]}"; do
            read -r label args <<<"$variant"
            ours_out="$ours_dir/${stem}_(new).$format"
            rm -f "$ours_out"
            timed "ours-$format-$label" "$CLI" --quiet --jobs 1 --format "$format" --rate 44100 \
                --channels stereo -b 128 ${args//,/ } --output-dir "$ours_dir" "$input"
            [ "$i" -eq 0 ] && check_output "$ours_out" "$probed"
        done
    done
    echo "$format done; $(print_load)"
done

echo
echo "Medians of $RUNS runs, input ${BENCH_SECONDS} s, $CORES processors; ratio: to the tool's time"
echo "| format | variant | s | ratio | MB | CPU s |"
echo "|---|---|---:|---:|---:|---:|"
for entry in "${formats[@]}"; do
    read -r format _ <<<"$entry"
    tool=$(median "ffmpeg-$format" 1)
    for label in ffmpeg "${variants[@]%% *}"; do
        runs="ours-$format-$label"
        [ "$label" = ffmpeg ] && runs="ffmpeg-$format"
        awk -v f="$format" -v l="$label" -v w="$(median "$runs" 1)" -v t="$tool" \
            -v m="$(largest "$runs" 2)" -v c="$(median "$runs" 3)" \
            'BEGIN { printf "| %s | %s | %.2f | %.3f | %.1f | %.2f |\n", f, l, w, w / t, m / 1024, c }'
    done
done
print_load
