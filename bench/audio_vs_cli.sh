#!/usr/bin/env bash
# Audio extraction: soundpick-cli against `ffmpeg -vn` on a 10-minute H.264/AAC input, for mp3,
# aac, flac and wav at 44.1 kHz stereo (128 kbit/s for the lossy ones): median wall time of
# RUNS runs each (alternating the two programs), peak memory (largest max RSS) and CPU time.
# A first table row on a 1-second input shows the fixed start-up cost of each program.
# Usage: bench/audio_vs_cli.sh [BUILD_DIR]   (default build/release; RUNS=5, BENCH_SECONDS=600)
source "$(dirname "$0")/bench_common.sh"
RUNS=${RUNS:-5}

input=$(make_input "$BENCH_SECONDS")
short=$(make_input 1)
ours_dir="$WORK/audio-ours"
tool_dir="$WORK/audio-ffmpeg"
mkdir -p "$ours_dir" "$tool_dir"

# format  ffmpeg codec  ffmpeg extra arguments  soundpick-cli extra arguments
# Our flac and wav are 16-bit; the tool would make 24-bit flac from the decoded float samples.
formats=(
    "mp3 libmp3lame -b:a,128k -b,128"
    "aac aac -b:a,128k -b,128"
    "flac flac -sample_fmt,s16 "
    "wav pcm_s16le  "
)

# One run of each program on input $1 for format $2 into labels with suffix $3.
run_pair() {
    local in=$1 entry=$2 suffix=$3
    local format codec tool_args ours_args
    read -r format codec tool_args ours_args <<<"$entry"
    local stem
    stem=$(basename "${in%.*}")
    local ours_out="$ours_dir/${stem}_(new).$format" tool_out="$tool_dir/$stem.$format"
    rm -f "$ours_out" "$tool_out"
    timed "ours-$format$suffix" "$CLI" --quiet --jobs 1 --format "$format" --rate 44100 \
        --channels stereo ${ours_args//,/ } --output-dir "$ours_dir" "$in"
    timed "ffmpeg-$format$suffix" ffmpeg -nostdin -y -i "$in" -vn -c:a "$codec" -ar 44100 -ac 2 \
        ${tool_args//,/ } "$tool_out"
    LAST_OURS=$ours_out
    LAST_TOOL=$tool_out
}

print_load
echo "input: $input"
echo "soundpick-cli: $CLI"
echo

reset_runs ours-mp3-startup
reset_runs ffmpeg-mp3-startup
for ((i = 0; i < RUNS; i++)); do
    run_pair "$short" "${formats[0]}" -startup
done

for entry in "${formats[@]}"; do
    read -r format codec _ <<<"$entry"
    reset_runs "ours-$format"
    reset_runs "ffmpeg-$format"
    for ((i = 0; i < RUNS; i++)); do
        run_pair "$input" "$entry" ""
        if [ "$i" -eq 0 ]; then
            wanted=$codec
            [ "$format" = mp3 ] && wanted=mp3
            check_output "$LAST_OURS" "$wanted"
            check_output "$LAST_TOOL" "$wanted"
        fi
    done
    echo "$format done; $(print_load)"
done

echo
echo "Medians of $RUNS runs, input ${BENCH_SECONDS} s (start-up row: 1 s input, mp3)"
table_header format
table_row "mp3 (1 s input: start-up)" ours-mp3-startup ffmpeg-mp3-startup
for entry in "${formats[@]}"; do
    read -r format _ <<<"$entry"
    table_row "$format" "ours-$format" "ffmpeg-$format"
done
print_load
