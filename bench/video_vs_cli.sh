#!/usr/bin/env bash
# Formats with video: Ogg (theora + flac) and M4a (h264 + aac) from the 10-minute input with
# soundpick-cli against the ffmpeg tool with the same codecs and settings (theora at the default
# 200 kbit/s, x264 at its defaults, 16-bit flac, aac 128 kbit/s, 44.1 kHz stereo): median wall time
# of RUNS runs, peak memory, CPU time. Both let each codec take the threads it likes; the tool
# held to one thread (-threads 1 on the decoder and the encoders) is measured too, as the cost of
# coding without them.
# Usage: bench/video_vs_cli.sh [BUILD_DIR]   (default build/release; RUNS=3, BENCH_SECONDS=600)
source "$(dirname "$0")/bench_common.sh"
RUNS=${RUNS:-3}

input=$(make_input "$BENCH_SECONDS")
ours_dir="$WORK/video-ours"
tool_dir="$WORK/video-ffmpeg"
mkdir -p "$ours_dir" "$tool_dir"
stem=$(basename "${input%.*}")

# format  ffmpeg arguments after the input (commas for blanks)
formats=(
    "ogg -c:v,libtheora,-c:a,flac,-sample_fmt,s16,-ar,44100,-ac,2"
    "m4a -c:v,libx264,-c:a,aac,-ar,44100,-ac,2,-b:a,128k"
)

print_load
for entry in "${formats[@]}"; do
    read -r format tool_args <<<"$entry"
    for label in "ours-$format" "ffmpeg-$format" "ffmpeg1-$format"; do
        reset_runs "$label"
    done
    for ((i = 0; i < RUNS; i++)); do
        rm -f "$ours_dir"/* "$tool_dir"/*
        timed "ours-$format" "$CLI" --quiet --jobs 1 --format "$format" --rate 44100 \
            --channels stereo --bitrate 128 --output-dir "$ours_dir" "$input"
        timed "ffmpeg-$format" ffmpeg -nostdin -y -i "$input" ${tool_args//,/ } \
            "$tool_dir/$stem.$format"
        timed "ffmpeg1-$format" ffmpeg -nostdin -y -threads 1 -i "$input" ${tool_args//,/ } \
            -threads 1 "$tool_dir/${stem}_1.$format"
    done
    audio=flac
    [ "$format" = m4a ] && audio=aac
    for out in "$ours_dir"/* "$tool_dir"/*; do
        check_output "$out" "$audio"
        echo "    video: $(ffprobe -v error -select_streams v:0 -show_entries \
            stream=codec_name,width,height,r_frame_rate,nb_frames -of csv=p=0 "$out")"
    done
    echo "$format done; $(print_load)"
done

echo
echo "Medians of $RUNS runs, input ${BENCH_SECONDS} s"
table_header format
for entry in "${formats[@]}"; do
    read -r format _ <<<"$entry"
    table_row "$format (ffmpeg default threads)" "ours-$format" "ffmpeg-$format"
    table_row "$format (ffmpeg -threads 1)" "ours-$format" "ffmpeg1-$format"
done
print_load
