#!/usr/bin/env bash
# Keeping the original sound: soundpick-cli --format copy against `ffmpeg -i IN -vn -c:a copy
# OUT.m4a` on a 10-minute H.264/AAC input: median wall time of RUNS runs each (alternating the
# two programs), peak memory and CPU time, and the md5 of the audio packets of both outputs and
# of the input, which must all be the same.
# Usage: bench/copy_vs_cli.sh [BUILD_DIR]   (default build/release; RUNS=5, BENCH_SECONDS=600)
source "$(dirname "$0")/bench_common.sh"
RUNS=${RUNS:-5}

input=$(make_input "$BENCH_SECONDS")
ours_dir="$WORK/copy-ours"
tool_dir="$WORK/copy-ffmpeg"
mkdir -p "$ours_dir" "$tool_dir"
stem=$(basename "${input%.*}")
ours_out="$ours_dir/${stem}_(new).m4a"
tool_out="$tool_dir/$stem.m4a"

# The md5 of the first audio stream's packet data, as the ffmpeg tool sees it.
packet_md5() {
    ffmpeg -nostdin -v error -i "$1" -map 0:a:0 -c copy -f streamhash -hash md5 - | cut -d= -f2
}

print_load
echo "input: $input"
reset_runs ours-copy
reset_runs ffmpeg-copy
for ((i = 0; i < RUNS; i++)); do
    rm -f "$ours_out" "$tool_out"
    timed ours-copy "$CLI" --quiet --jobs 1 --format copy --output-dir "$ours_dir" "$input"
    timed ffmpeg-copy ffmpeg -nostdin -y -i "$input" -vn -c:a copy "$tool_out"
done
check_output "$ours_out" aac
check_output "$tool_out" aac
md5_in=$(packet_md5 "$input")
md5_ours=$(packet_md5 "$ours_out")
md5_tool=$(packet_md5 "$tool_out")
echo "packet md5: input $md5_in, ours $md5_ours, ffmpeg $md5_tool"
if [ "$md5_ours" != "$md5_tool" ] || [ "$md5_ours" != "$md5_in" ]; then
    echo "PACKETS DIFFER" >&2
    exit 1
fi

echo
echo "Medians of $RUNS runs, input ${BENCH_SECONDS} s"
table_header format
table_row "copy (aac into m4a)" ours-copy ffmpeg-copy
print_load
