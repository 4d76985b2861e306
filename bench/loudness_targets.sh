#!/usr/bin/env bash
# Loudness normalisation as written: pink noise and tones, with the channels changed on the way
# (5.1 to stereo, stereo to mono, mono to stereo) and to lossy and lossless formats, converted by
# `soundpick-cli --json --loudness T`; each output measured by the ffmpeg tool's ebur128 filter
# beside the figure the program reported. Prints a table: target, measured, reported, true peak.
# Usage: bench/loudness_targets.sh [BUILD_DIR]
source "$(dirname "$0")/bench_common.sh"
dir="$WORK/loudness"
mkdir -p "$dir"

# name  lavfi source (8 s)
declare -A source=(
    [pink51]="anoisesrc=c=pink:r=48000:a=0.05:d=8,pan=5.1|FL=c0|FR=c0|FC=c0|LFE=c0|BL=c0|BR=c0"
    [pinkstereo]="anoisesrc=c=pink:r=44100:a=0.05:d=8,pan=stereo|FL=c0|FR=c0"
    [pinkmono]="anoisesrc=c=pink:r=44100:a=0.05:d=8"
    [tones51]="aevalsrc=0.05*sin(2*PI*220*t)|0.05*sin(2*PI*330*t)|0.05*sin(2*PI*440*t)|0.05*sin(2*PI*60*t)|0.05*sin(2*PI*550*t)|0.05*sin(2*PI*660*t):s=48000:d=8:c=5.1"
)
for name in "${!source[@]}"; do
    [ -s "$dir/$name.wav" ] || ffmpeg -nostdin -v error -y -f lavfi -i "${source[$name]}" "$dir/$name.wav"
done

measure() {
    ffmpeg -nostdin -hide_banner -i "$1" -af ebur128=peak=true -f null - 2>&1 |
        awk '/Integrated loudness:/ { i = 1 } i && /I:/ { lufs = $2 } /True peak:/ { t = 1 }
             t && /Peak:/ { peak = $2 } END { print lufs, peak }'
}

echo "| input | to | channels | target LUFS | written (tool) | reported | true peak dBTP |"
echo "|---|---|---|---:|---:|---:|---:|"
# input  format  channels
for row in "pink51 mp3 auto" "pink51 m4a stereo" "pink51 opus auto" "tones51 mp3 auto" \
    "pinkstereo mp3 mono" "pinkstereo flac mono" "pinkmono mp3 stereo" "pinkmono ogg stereo"; do
    read -r name format channels <<<"$row"
    for target in -16 -23; do
        json=$("$CLI" --json --overwrite --loudness "$target" -f "$format" -c "$channels" \
            --output-dir "$dir" "$dir/$name.wav" | tail -n 1)
        output=$(sed -n 's/.*"output":"\([^"]*\)".*/\1/p' <<<"$json")
        reported=$(sed -n 's/.*"output_lufs":\([-0-9.]*\).*/\1/p' <<<"$json")
        read -r lufs peak < <(measure "$output")
        printf '| %s | %s | %s | %s | %s | %.1f | %s |\n' "$name" "$format" "$channels" \
            "$target" "$lufs" "$reported" "$peak"
    done
done
